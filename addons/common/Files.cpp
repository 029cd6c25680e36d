#include "addons/common/Files.h"

#include "ui/Exception.h"
#include "ui/Handles.h"
#include "ui/Strings.h"

#include <cstdio>

using namespace ui;

namespace addons {

namespace {
const wchar_t kLongPrefix[] = L"\\\\?\\";
const wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// Where the names of a canonical path begin: after "C:" or "\\server\share".
size_t RootLength(const std::wstring& path) {
    if (path.rfind(L"\\\\", 0) == 0) {
        size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos) return path.size();
        size_t share = path.find(L'\\', server + 1);
        return share == std::wstring::npos ? path.size() : share;
    }
    return path.size() >= 2 && path[1] == L':' ? 2 : 0;
}
}  // namespace

std::wstring CanonicalPath(const std::wstring& path) {
    std::wstring p = path;
    for (wchar_t& c : p)
        if (c == L'/') c = L'\\';
    if (p.rfind(kLongUncPrefix, 0) == 0)
        p = L"\\\\" + p.substr(wcslen(kLongUncPrefix));
    else if (p.rfind(kLongPrefix, 0) == 0)
        p = p.substr(wcslen(kLongPrefix));
    // Resolves "." and ".." at any length, which the prefixed form does not.
    if (DWORD need = ::GetFullPathNameW(p.c_str(), 0, nullptr, nullptr)) {
        std::wstring full(need, L'\0');
        DWORD got = ::GetFullPathNameW(p.c_str(), need, full.data(), nullptr);
        if (got && got < need) {
            full.resize(got);
            p = full;
        }
    }
    // Windows drops trailing dots and spaces of a name, except behind the
    // prefix, where they would make a name Explorer cannot remove.
    size_t root = RootLength(p);
    std::wstring out = p.substr(0, root);
    for (size_t at = root; at < p.size();) {
        size_t end = p.find(L'\\', at);
        if (end == std::wstring::npos) end = p.size();
        std::wstring name = p.substr(at, end - at);
        while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
        if (!name.empty()) out += L"\\" + name;
        at = end + 1;
    }
    if (out.size() == root && root == 2) out += L'\\';
    return out;
}

std::wstring LongPath(const std::wstring& path) {
    std::wstring p = CanonicalPath(path);
    if (p.size() < MAX_PATH - 12) return p;
    if (p.rfind(L"\\\\", 0) == 0) return kLongUncPrefix + p.substr(2);
    return kLongPrefix + p;
}

bool FolderExists(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CreateFolderTree(const std::wstring& folder) {
    std::wstring path = CanonicalPath(folder);
    if (FolderExists(path)) return;
    // The missing folders from the top down; the drive or share itself is
    // never one to create.
    const size_t root = RootLength(path);
    std::vector<std::wstring> missing;
    while (path.size() > root + 1 && !FolderExists(path)) {
        missing.push_back(path);
        size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash < root) break;
        path.resize(slash);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::CreateDirectoryW(LongPath(*it).c_str(), nullptr)) continue;
        DWORD error = ::GetLastError();
        std::string reason = SysErrorMessage(error);
        if (error == ERROR_ALREADY_EXISTS && !FolderExists(*it))
            reason = Quoted(*it) + " is a file, not a folder.";
        else if (error == ERROR_ALREADY_EXISTS)
            continue;
        throw Exception("The folder " + Quoted(folder) + " cannot be created: " + reason);
    }
}

std::wstring FileNameProblem(const std::wstring& base, const std::wstring& extension) {
    if (base.find_first_not_of(L' ') == std::wstring::npos) return L"The file name is empty.";
    const std::wstring name = base + extension;
    for (wchar_t c : name)
        if (c < 32 || wcschr(L"<>:\"/\\|?*", c))
            return L"The file name \"" + name +
                   L"\" holds a character that Windows does not allow in a file name "
                   L"(\\ / : * ? \" < > | or a control character).";
    if (base.back() == L' ' || base.back() == L'.')
        return L"The file name \"" + base + L"\" ends with a space or a dot, which Windows drops.";
    if (name.size() > 255)
        return L"The file name \"" + name + L"\" is longer than the 255 characters Windows allows.";
    // Device names stay devices whatever extension follows them; the digits
    // include 0 and the superscripts one to three.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    bool device = stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" ||
                  stem == L"CONIN$" || stem == L"CONOUT$";
    if (stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) &&
        ((stem[3] >= L'0' && stem[3] <= L'9') || stem[3] == L'\u00B9' || stem[3] == L'\u00B2' ||
         stem[3] == L'\u00B3'))
        device = true;
    if (device)
        return L"\"" + stem + L"\" is the name of a device in Windows and cannot name a file.";
    return {};
}

namespace {
// A name is held by a file or folder there, or by a file pending deletion,
// which Windows answers with access denied.
bool NameTaken(const std::wstring& path) {
    if (::GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = ::GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_DELETE_PENDING ||
           error == ERROR_SHARING_VIOLATION;
}

std::wstring RandomPart() {
    GUID guid = {};
    if (FAILED(::CoCreateGuid(&guid))) {
        static volatile LONG sequence = 0;
        guid.Data1 = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
        guid.Data2 = static_cast<WORD>(::InterlockedIncrement(&sequence));
    }
    wchar_t text[16];
    std::swprintf(text, 16, L"%08lX%04X", static_cast<unsigned long>(guid.Data1), guid.Data2);
    return text;
}

// A new file of a name nobody else has in the folder, opened for writing;
// removed unless kept, and always closed before that.
class TempFile {
public:
    TempFile(const std::wstring& prefix, const std::wstring& folder) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::wstring path = prefix + L"~kestrix-" + RandomPart() + L".tmp";
            file_.reset(::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file_) {
                path_ = path;
                return;
            }
            DWORD error = ::GetLastError();
            bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                         (error == ERROR_ACCESS_DENIED && NameTaken(path));
            if (!taken)
                throw Exception("Cannot write to the folder " + Quoted(folder) + ": " +
                                SysErrorMessage(error));
        }
        throw Exception("Cannot find a free temporary name in the folder " + Quoted(folder));
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        file_.reset();
        if (!path_.empty()) ::DeleteFileW(LongPath(path_).c_str());
    }
    HANDLE Handle() const { return file_.get(); }
    void Close() { file_.reset(); }
    const std::wstring& Path() const { return path_; }
    void Keep() { path_.clear(); }

private:
    FileHandle file_;
    std::wstring path_;
};
}  // namespace

std::wstring WriteNewFile(const std::wstring& folder, const std::wstring& base,
                          const std::wstring& extension, const std::vector<BYTE>& bytes) {
    std::wstring problem = FileNameProblem(base, extension);
    if (!problem.empty()) throw Exception(Utf8(problem));
    CreateFolderTree(folder);
    std::wstring prefix = CanonicalPath(folder);
    if (prefix.back() != L'\\') prefix += L'\\';

    TempFile temp(prefix, folder);
    DWORD written = 0;
    if (!::WriteFile(temp.Handle(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size() || !::FlushFileBuffers(temp.Handle())) {
        DWORD error = ::GetLastError();
        throw Exception("Cannot write the picture into the folder " + Quoted(folder) + ": " +
                        SysErrorMessage(error ? error : ERROR_WRITE_FAULT));
    }
    temp.Close();

    int denied = 0;
    for (int n = 1; n < 100000; ++n) {
        std::wstring name = base + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"");
        if (n > 1) {
            problem = FileNameProblem(name, extension);
            if (!problem.empty())
                throw Exception("A file named " + Quoted(base + extension) +
                                " exists already, and with a number added: " + Utf8(problem));
        }
        std::wstring path = prefix + name + extension;
        if (::MoveFileExW(LongPath(temp.Path()).c_str(), LongPath(path).c_str(),
                          MOVEFILE_WRITE_THROUGH)) {
            temp.Keep();
            return path;
        }
        DWORD error = ::GetLastError();
        // Access denied for a name that is taken (a folder of that name, a
        // file in use or pending deletion) means the next name; for a free
        // one it is the folder's answer.
        bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ||
                     (error == ERROR_ACCESS_DENIED && NameTaken(path) && ++denied < 1000);
        if (!taken)
            throw Exception("Cannot save the picture as " + Quoted(path) + ": " +
                            SysErrorMessage(error));
    }
    throw Exception("Cannot find a free file name for " + Quoted(prefix + base + extension));
}

}  // namespace addons
