#include "plugins/KestrixCommUnit.h"

#include "automation/ComObj.h"
#include "common/KestrixInc.h"
#include "plugins/PluginDirectory.h"
#include "plugins/PluginSession.h"
#include "plugins/kestrix_TLB.h"
#include "ui/Exception.h"
#include "ui/ForeignCall.h"
#include "ui/Handles.h"
#include "ui/Strings.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <charconv>

using namespace ui;

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsSeparatorFree(const std::string& name) {
    for (char c : name)
        if (IsBlank(c) || c == '"' || c == ',') return false;
    return !name.empty();
}
}  // namespace

std::string PluginListText(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) text += ',';
        const std::string& name = names[i];
        if (IsSeparatorFree(name)) {
            text += name;
            continue;
        }
        // An empty name is quoted too: bare, it would vanish at a list's end.
        text += '"';
        for (char c : name) {
            if (c == '"') text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

std::vector<std::string> SplitPluginList(const std::string& text) {
    std::vector<std::string> names;
    size_t p = 0, n = text.size();
    auto skipBlanks = [&] {
        // A NUL is no blank here: it is part of a name if anything.
        while (p < n && text[p] != '\0' && IsBlank(text[p])) ++p;
    };
    skipBlanks();
    while (p < n) {
        std::string name;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        name += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                name += text[p++];
            }
        } else {
            size_t start = p;
            while (p < n && (text[p] == '\0' || !IsBlank(text[p])) && text[p] != ',') ++p;
            name.assign(text, start, p - start);
        }
        names.push_back(std::move(name));
        skipBlanks();
        if (p < n && text[p] == ',') {
            ++p;
            skipBlanks();
        }
    }
    return names;
}

std::vector<std::string> SplitPluginList(BSTR text) {
    return SplitPluginList(automation::AnsiString(text));
}

std::wstring CheckedPluginsPath() {
    // The folder as it is, never created, and without a cut at MAX_PATH.
    CoTaskString folder;
    if (FAILED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, folder.put())) ||
        !folder)
        throw Exception("Error retreiviing AppData folder path");
    return JoinPath(folder.get(), L"CheckedPlugins.lst");
}

std::vector<std::string> ReadCheckedPlugins(const std::wstring& path) {
    std::vector<std::string> lines;
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return lines;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return lines;  // no file of that name
    }
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = ::GetLastError();
        throw Exception("Cannot open file " + Quoted(path) + ". " + SysErrorMessage(error));
    }
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF)
        throw Exception("Cannot read file " + Quoted(path) + ": it is too large");
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD done = 0, total = 0;
    while (total < text.size()) {
        if (!::ReadFile(file.get(), text.data() + total, static_cast<DWORD>(text.size() - total),
                        &done, nullptr))
            throw Exception("Cannot read file " + Quoted(path) + ". " +
                            SysErrorMessage(::GetLastError()));
        if (done == 0) break;  // shorter than it was a moment ago
        total += done;
    }
    text.resize(total);

    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text, start, i - start);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text, start, std::string::npos);
    return lines;
}

bool ParseClassId(const std::string& text, CLSID& id) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    static const char kShape[] = "{00000000-0000-0000-0000-000000000000}";
    if (text.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char want = kShape[i];
        const char c = text[i];
        // Spelled out: the runtime's character classes go through its locale.
        if (want == '0' ? !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
                        : c != want)
            return false;
    }
    // Read in place: a listing converts two of these per plug-in.
    auto hex = [&](size_t from, size_t count) {
        unsigned long long value = 0;
        std::from_chars(text.data() + from, text.data() + from + count, value, 16);
        return value;
    };
    id = CLSID{};
    id.Data1 = static_cast<unsigned long>(hex(1, 8));
    id.Data2 = static_cast<unsigned short>(hex(10, 4));
    id.Data3 = static_cast<unsigned short>(hex(15, 4));
    id.Data4[0] = static_cast<unsigned char>(hex(20, 2));
    id.Data4[1] = static_cast<unsigned char>(hex(22, 2));
    for (size_t k = 0; k < 6; ++k) id.Data4[2 + k] = static_cast<unsigned char>(hex(25 + 2 * k, 2));
    return true;
}

CLSID StringToClassId(const std::string& text) {
    CLSID id;
    if (!ParseClassId(text, id))
        throw EOleSysError("\"" + text + "\" is not a class identifier: " +
                               SysErrorMessage(static_cast<DWORD>(CO_E_CLASSSTRING)),
                           CO_E_CLASSSTRING);
    return id;
}

bool IsPluginChecked(const std::vector<std::string>& lines, const CLSID& pluginId) {
    if (lines.empty()) return false;
    const std::string id = automation::GuidToString(pluginId);
    // An identifier is braces, dashes, digits and A to F: ignoring their
    // case needs no locale, whose comparison costs more than the rest of a
    // listed plug-in.
    auto same = [](char a, char b) { return a == b || (a >= 'a' && a <= 'f' && a - 'a' + 'A' == b); };
    for (const std::string& line : lines)
        if (line.size() == id.size() && std::equal(line.begin(), line.end(), id.begin(), same))
            return true;
    return false;
}

void WriteCheckedPlugins(const std::wstring& path, const std::vector<CLSID>& pluginIds) {
    std::string text;
    for (const CLSID& id : pluginIds) text += automation::GuidToString(id) + "\r\n";

    auto fail = [&](DWORD error) {
        throw Exception("Cannot write file " + Quoted(path) + ". " + SysErrorMessage(error));
    };
    // A list the user made read-only stays as it is (a rename would not ask).
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        fail(ERROR_ACCESS_DENIED);

    size_t slash = path.find_last_of(L'\\');
    std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
    wchar_t temp[MAX_PATH + 16] = {};
    if (!::GetTempFileNameW(folder.c_str(), L"kcp", 0, temp)) fail(::GetLastError());

    // Removes the temporary file unless it has become the list.
    ScopeExit tempFile([&] { ::DeleteFileW(temp); });

    {
        FileHandle file(::CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) fail(::GetLastError());
        DWORD written = 0;
        if (!text.empty() &&
            (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                          nullptr) ||
             written != text.size()))
            fail(::GetLastError());
        if (!::FlushFileBuffers(file.get())) fail(::GetLastError());
    }
    if (!::MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(::GetLastError());
    tempFile.Release();
}

namespace {
// Longer than any name or description a list can show.
constexpr UINT kMaxPluginString = 1u << 20;

// A string a plug-in returned that is no string of the system's allocator.
class ENotAString : public Exception {
public:
    ENotAString() : Exception("It returned a string that is not a BSTR.") {}
};

// Reads and frees a string a plug-in returned; runs inside the plug-in's
// fault frame, where a pointer that is no string faults as the plug-in's
// own. One whose length and end do not agree is left unfreed: the
// allocator must never see it.
std::wstring TakePluginString(BSTR& s) {
    BSTR p = std::exchange(s, nullptr);
    if (!p) return {};
    const UINT length = ::SysStringLen(p);
    if (length > kMaxPluginString || p[length] != L'\0') throw ENotAString();
    std::wstring text(p, length);
    ::SysFreeString(p);
    return text;
}
}  // namespace

void ListPlugin(const std::string& id, const std::vector<std::string>& checked, PluginListing& listing,
                const PluginCallNote& note, const PluginInfoTrace& trace) {
    CLSID pluginId;
    const bool parsed = ParseClassId(id, pluginId);
    std::string who = id;
    auto tell = [&](const char* call) {
        if (note) note(who, id, call);
    };
    try {
        // A plug-in that faults is never called again, not even to be
        // released: its references are dropped unreleased.
        ComPtr<IKestrixPlugin> plugin;
        std::wstring name, description, optionsName;
        try {
            tell("GetPlugin");
            // A key that is no identifier gets the directory's own word on it.
            const HRESULT hr = ForeignCall([&] {
                return parsed ? plugin_directory::CreatePlugin(pluginId, id, plugin)
                              : plugin_directory::CreatePlugin(WideString(id), plugin);
            });
            if (FAILED(hr)) return;
            tell("GetPluginInfo");
            ForeignCall([&] {
                try {
                    BSTR n = nullptr, d = nullptr, o = nullptr;
                    HRESULT result = S_OK;
                    const HRESULT status = plugin->GetPluginInfo(&n, &d, &o, &result);
                    name = TakePluginString(n);
                    description = TakePluginString(d);
                    optionsName = TakePluginString(o);
                    if (trace) trace(Utf8(name.data(), static_cast<int>(name.size())),
                                     Utf8(description.data(), static_cast<int>(description.size())),
                                     Utf8(optionsName.data(), static_cast<int>(optionsName.size())), status, result);
                    automation::OleCheckCall(status, plugin.get(), IID_IKestrixPlugin);
                } catch (const ENotAString&) {
                    throw;
                } catch (...) {
                    // The instance goes on a failure too, inside the frame.
                    plugin.reset();
                    throw;
                }
                plugin.reset();
            });
        } catch (const EForeignFault& fault) {
            plugin.Detach();
            NotePluginFault();
            throw Exception("It stopped working (" + std::string(fault.what()) + ").");
        } catch (const ENotAString&) {
            plugin.Detach();
            NotePluginFault();
            throw;
        }
        if (!name.empty()) who = Utf8(name.data(), static_cast<int>(name.size()));
        ListedPlugin& listed = listing.plugins.emplace_back();
        listed.name = AnsiString(name.data(), static_cast<int>(name.size()));
        listed.description = AnsiString(description.data(), static_cast<int>(description.size()));
        auto entry = std::make_shared<PluginEntry>();
        entry->PluginId = parsed ? pluginId : StringToClassId(id);
        entry->OptionsClassId =
            StringToClassId(AnsiString(optionsName.data(), static_cast<int>(optionsName.size())));
        listed.entry = std::move(entry);
        // New rows are unchecked.
        listed.checked = IsPluginChecked(checked, listed.entry->PluginId);
    } catch (const std::exception& e) {
        listing.failures.push_back({who, e.what()});
    }
}

PluginListing LoadPluginEntries(const PluginCallNote& note, const PluginSkip& skip) {
    PluginListing listing;
    std::vector<std::string> checked;
    try {
        checked = ReadCheckedPlugins(CheckedPluginsPath());
    } catch (const std::exception& e) {
        // Without the defaults every plug-in starts unchecked; the list
        // itself is still worth having.
        listing.failures.push_back({"", e.what()});
    }
    // Said once, not for every plug-in.
    if (ForeignCallsStopped()) {
        listing.failures.push_back({"", EForeignCallsStopped().what()});
        return listing;
    }
    std::vector<std::string> ids;
    try {
        plugin_directory::ReadPluginIds(ids);
    } catch (...) {
        // What was read before the failure is listed all the same.
    }
    for (const std::string& id : ids) {
        if (PluginFailure left; skip && skip(id, left)) {
            if (!left.Reason.empty()) listing.failures.push_back(std::move(left));
            continue;
        }
        ListPlugin(id, checked, listing, note);
    }
    return listing;
}

std::string PluginFailuresMessage(const std::vector<PluginFailure>& failures) {
    std::string text, plugins;
    int count = 0;
    for (const PluginFailure& f : failures) {
        if (f.Plugin.empty()) {
            text += (text.empty() ? "" : "\n\n") + f.Reason;
        } else {
            // A reason that names the plug-in already says whose it is.
            plugins += "\n\n" + (f.Reason.find(f.Plugin) != std::string::npos
                                       ? f.Reason
                                       : "\"" + f.Plugin + "\": " + f.Reason);
            ++count;
        }
    }
    if (count)
        text = (count == 1 ? "A plug-in was left out of the list:" : "These plug-ins were left out of the list:") +
               plugins + (text.empty() ? "" : "\n\n" + text);
    return text;
}
