#include "wizard/RecoveryStore.h"

#include "common/KestrixInc.h"
#include "ui/BitmapFile.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <vector>

using namespace ui;

namespace {
const wchar_t kPicture[] = L".bmp";
const wchar_t kCall[] = L".call";
const wchar_t kTemp[] = L".tmp";
const wchar_t kAside[] = L".unreadable";
const wchar_t kOpened[] = L".opened";
const wchar_t kLive[] = L".live";

bool EndsWith(const std::wstring& s, const wchar_t* tail) {
    const size_t n = std::wcslen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::wstring WithoutExtension(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    const size_t slash = path.find_last_of(L'\\');
    return dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)
               ? path
               : path.substr(0, dot);
}

[[noreturn]] void Fail(const std::wstring& path, DWORD error) {
    throw Exception("The picture could not be kept in " + Quoted(path) + ". " +
                    SysErrorMessage(error));
}

// Creates the folder and those above it that are missing.
void CreateFolders(const std::wstring& folder) {
    if (::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return;
    const size_t slash = folder.find_last_of(L'\\');
    if (::GetLastError() != ERROR_PATH_NOT_FOUND || slash == std::wstring::npos) Fail(folder, ::GetLastError());
    CreateFolders(folder.substr(0, slash));
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        Fail(folder, ::GetLastError());
}
}  // namespace

std::wstring RecoveryFolder() {
    CoTaskString folder;
    if (FAILED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, folder.put())) || !folder)
        throw Exception("Error retreiviing AppData folder path");
    return JoinPath(JoinPath(folder.get(), L"Kestrix"), L"Recovery");
}

namespace {
// The user's SID as text: one claim per user, also where several users
// share a session (a program run as another user).
std::wstring UserSid() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return L"";
    KernelHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return L"";
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return L"";
    std::wstring sid = text;
    ::LocalFree(text);
    return sid;
}
}  // namespace

bool ClaimRecoveryStore() {
    // Held until the process ends, however it ends.
    static const bool first = [] {
        const std::wstring name = L"Local\\Kestrix.RecoveryStore." + UserSid();
        HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
        return mutex && ::GetLastError() != ERROR_ALREADY_EXISTS;
    }();
    return first;
}

std::unique_ptr<TRecoveryEntry> TRecoveryEntry::Create() {
    static LONG counter = 0;
    SYSTEMTIME t{};
    ::GetSystemTime(&t);
    wchar_t name[96];
    std::swprintf(name, sizeof name / sizeof name[0], L"Picture-%04u%02u%02u-%02u%02u%02u-%lu-%ld.bmp",
                  t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<long>(::InterlockedIncrement(&counter)));
    return std::make_unique<TRecoveryEntry>(JoinPath(RecoveryFolder(), name));
}

// One copy on its way to disk: the pixels as they were when it was begun.
struct TRecoveryEntry::Write {
    TBitmap pixels;
    std::string head;
    const void* bits = nullptr;
    size_t size = 0;
    std::wstring temp, target;
    DWORD error = 0;
    const std::wstring* failed = nullptr;

    void Run() noexcept {
        FileHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) return Fail(temp, file);
        auto put = [&](const void* p, size_t n) {
            DWORD written = 0;
            if (!::WriteFile(file.get(), p, static_cast<DWORD>(n), &written, nullptr)) return false;
            if (written != n) ::SetLastError(ERROR_DISK_FULL);
            return written == n;
        };
        if (!put(head.data(), head.size()) || !put(bits, size) || !::FlushFileBuffers(file.get()))
            return Fail(temp, file);
        file.reset();
        if (!::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return Fail(target, file);
    }
    // What was written of a copy that failed half-way goes, once closed.
    void Fail(const std::wstring& path, FileHandle& file) noexcept {
        error = ::GetLastError();
        failed = &path;
        file.reset();
        ::DeleteFileW(temp.c_str());
    }
};

TRecoveryEntry::TRecoveryEntry(std::wstring picturePath) : picture_(std::move(picturePath)) {
    // Deleted by the system once this process lets go, however it ends.
    const std::wstring live = WithoutExtension(picture_) + kLive;
    const size_t slash = picture_.find_last_of(L'\\');
    try {
        CreateFolders(picture_.substr(0, slash));
    } catch (const Exception&) {
        return;  // Save says why
    }
    live_.reset(::CreateFileW(live.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

TRecoveryEntry::~TRecoveryEntry() = default;

void TRecoveryEntry::Save(TBitmap& picture) {
    BeginSave(picture);
    FinishSave();
}

void TRecoveryEntry::BeginSave(TBitmap& picture) {
    // A copy not yet written gives way to these newer pixels.
    write_.reset();
    const size_t slash = picture_.find_last_of(L'\\');
    CreateFolders(picture_.substr(0, slash));
    auto write = std::make_unique<Write>();
    write->pixels.Assign(picture);
    int piece = 0;
    WriteBitmapFile(write->pixels, [&](const void* p, size_t n) {
        if (piece++ < 2) {
            write->head.append(static_cast<const char*>(p), n);
        } else {
            write->bits = p;
            write->size = n;
        }
    });
    write->temp = WithoutExtension(picture_) + kTemp;
    write->target = picture_;
    write_ = std::move(write);
}

void TRecoveryEntry::FinishSave() {
    if (!write_) return;
    const std::unique_ptr<Write> done = std::move(write_);
    done->Run();
    if (done->failed) Fail(*done->failed, done->error);
}

void TRecoveryEntry::NoteCall(const std::string& plugin, const std::string& id, const char* call) {
    // Nothing under way and nothing noted: no file to touch.
    if (plugin.empty() && !noted_) return;
    if (!call_) {
        const std::wstring path = WithoutExtension(picture_) + kCall;
        call_.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!call_) return;  // the picture is what matters; the note is a courtesy
    }
    // Kept by the system for as long as the process lives or dies: no flush.
    const std::string text = plugin.empty() ? std::string() : plugin + "\n" + call + "\n" + id + "\n";
    DWORD written = 0;
    LARGE_INTEGER start{};
    ::SetFilePointerEx(call_.get(), start, nullptr, FILE_BEGIN);
    if (!text.empty()) ::WriteFile(call_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::SetEndOfFile(call_.get());
    noted_ = !plugin.empty();
}

int TRecoveryEntry::MarkOpening() {
    const std::wstring path = WithoutExtension(picture_) + kOpened;
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fail(path, ::GetLastError());
    char count = 0;
    DWORD done = 0;
    if (!::ReadFile(file.get(), &count, 1, &done, nullptr) || done != 1) count = 0;
    const char next = static_cast<char>(count < 100 ? count + 1 : count);
    LARGE_INTEGER start{};
    ::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);
    // On disk before the picture opens: the opening may not come back.
    if (!::WriteFile(file.get(), &next, 1, &done, nullptr) || done != 1 || !::FlushFileBuffers(file.get()))
        Fail(path, ::GetLastError());
    return count;
}

void TRecoveryEntry::ClearOpenings() noexcept {
    ::DeleteFileW((WithoutExtension(picture_) + kOpened).c_str());
}

void TRecoveryEntry::Remove() noexcept {
    write_.reset();
    call_.reset();
    ::DeleteFileW((WithoutExtension(picture_) + kOpened).c_str());
    ::DeleteFileW((WithoutExtension(picture_) + kCall).c_str());
    ::DeleteFileW(picture_.c_str());
}

std::vector<TKeptPicture> KeptPictures() {
    std::vector<TKeptPicture> kept;
    std::wstring folder;
    try {
        folder = RecoveryFolder();
    } catch (const Exception&) {
        return kept;
    }
    WIN32_FIND_DATAW found{};
    std::vector<std::wstring> names;
    {
        FindHandle search(::FindFirstFileW(JoinPath(folder, L"Picture-*").c_str(), &found));
        if (!search) return kept;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
        } while (::FindNextFileW(search.get(), &found));
    }
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        const std::wstring path = JoinPath(folder, name);
        const std::wstring picturePath = WithoutExtension(path) + kPicture;
        if (EndsWith(name, kLive)) continue;
        if (EndsWith(name, kTemp) ||
            ((EndsWith(name, kCall) || EndsWith(name, kOpened)) &&
             ::GetFileAttributesW(picturePath.c_str()) == INVALID_FILE_ATTRIBUTES)) {
            // A write that never finished (the last whole copy, if any, is
            // beside it), or the note of a picture that never reached disk.
            ::DeleteFileW(path.c_str());
            continue;
        }
        if (!EndsWith(name, kPicture)) continue;
        // A picture whose instance still runs is that instance's.
        if (::GetFileAttributesW((WithoutExtension(path) + kLive).c_str()) != INVALID_FILE_ATTRIBUTES &&
            !::DeleteFileW((WithoutExtension(path) + kLive).c_str()))
            continue;
        TKeptPicture picture{path, {}, {}, {}, 0};
        FileHandle call(::CreateFileW((WithoutExtension(path) + kCall).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        char text[512];
        DWORD read = 0;
        if (call && ::ReadFile(call.get(), text, sizeof text - 1, &read, nullptr)) {
            const std::string note(text, read);
            const size_t line = note.find('\n');
            if (line != std::string::npos) {
                picture.Plugin = note.substr(0, line);
                const size_t second = note.find('\n', line + 1);
                picture.Call = note.substr(line + 1, second - line - 1);
                if (second != std::string::npos)
                    picture.PluginId = note.substr(second + 1, note.find('\n', second + 1) - second - 1);
            }
        }
        FileHandle opened(::CreateFileW((WithoutExtension(path) + kOpened).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        char count = 0;
        if (opened && ::ReadFile(opened.get(), &count, 1, &read, nullptr) && read == 1)
            picture.Openings = count;
        kept.push_back(std::move(picture));
    }
    return kept;
}

std::wstring SetKeptPictureAside(const std::wstring& path) {
    std::wstring aside = path + kAside;
    for (int n = 2; ::GetFileAttributesW(aside.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
        aside = path + L"." + std::to_wstring(n) + kAside;
    if (!::MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH))
        throw Exception("The picture " + Quoted(path) + " could not be moved aside. " +
                        SysErrorMessage(::GetLastError()));
    ::DeleteFileW((WithoutExtension(path) + kCall).c_str());
    ::DeleteFileW((WithoutExtension(path) + kOpened).c_str());
    return aside;
}
