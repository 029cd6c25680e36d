#include "tests/support/Processes.h"

#include "tests/support/TestSupport.h"
#include "ui/Strings.h"

#include <tlhelp32.h>

#include <fstream>
#include <sstream>

namespace testing_support {

std::string BinPath(const std::string& file) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.find_last_of('\\') + 1) + file;
}

ChildProcess::ChildProcess(const std::string& commandLine)
    : ChildProcess(ui::WideString(commandLine)) {}

ChildProcess::ChildProcess(const std::wstring& commandLine) {
    char dir[MAX_PATH] = {}, name[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, dir);
    ::GetTempFileNameA(dir, "kcp", 0, name);
    outputPath_ = name;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    ui::FileHandle out(::CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out.get();
    si.hStdError = out.get();
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine;
    if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                         nullptr, &si, &pi)) {
        process_.reset(pi.hProcess);
        ::CloseHandle(pi.hThread);
        pid_ = pi.dwProcessId;
    }
}

ChildProcess::~ChildProcess() {
    if (process_) {
        Kill();
        process_.reset();
    }
    if (!outputPath_.empty()) ::DeleteFileA(outputPath_.c_str());
}

int ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_ || ::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return static_cast<int>(code);
}

bool ChildProcess::Running() const {
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() {
    if (Running()) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }
}

std::string ChildProcess::Output() const {
    std::ifstream in(outputPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<DWORD> ProcessIdsNamed(const std::string& exeName) {
    std::vector<DWORD> ids;
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry))
        if (::lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0) ids.push_back(entry.th32ProcessID);
    return ids;
}

namespace {
struct WindowSearch {
    DWORD pid;
    const char* className;
    bool visibleOnly;
    HWND found;
};
BOOL CALLBACK FindWindowOf(HWND wnd, LPARAM lp) noexcept {
    auto* s = reinterpret_cast<WindowSearch*>(lp);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(wnd, &owner);
    char cls[64] = {};
    ::GetClassNameA(wnd, cls, sizeof cls);
    if (owner == s->pid && ::lstrcmpA(cls, s->className) == 0 &&
        (!s->visibleOnly || ::IsWindowVisible(wnd))) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND WindowOfProcess(DWORD pid, const char* className, bool visibleOnly) {
    WindowSearch search{pid, className, visibleOnly, nullptr};
    ::EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND MessageBoxOf(DWORD pid, DWORD timeoutMs) {
    HWND box = nullptr;
    PumpUntil([&] { return (box = WindowOfProcess(pid, "#32770", true)) != nullptr; }, timeoutMs);
    return box;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {}, caption[1024] = {};
        ::GetClassNameW(child, cls, 32);
        ::GetWindowTextW(child, caption, 1024);
        if (::lstrcmpiW(cls, L"Static") == 0) text += caption;
    }
    return text;
}

}  // namespace testing_support
