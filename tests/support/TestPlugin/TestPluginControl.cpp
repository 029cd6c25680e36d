#include "tests/support/TestPlugin/TestPluginControl.h"

#include "ui/Handles.h"
#include "ui/Strings.h"

namespace test_plugin {

namespace {
std::string TempPath(const std::string& name) {
    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}
}  // namespace

std::string DllPath() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + kDllName;
}

int RunRegsvr32(bool install) {
    std::string command =
        std::string("regsvr32.exe /s ") + (install ? "" : "/u ") + "\"" + DllPath() + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &si, &pi))
        return -1;
    ui::KernelHandle process(pi.hProcess), thread(pi.hThread);
    if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

void SetSwitch(char letter, const std::string& name, DWORD value) {
    ui::RegKey key;
    std::string path = std::string(kSwitchesKey) + "\\" + letter;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                      key.put(), nullptr);
    ::RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
}

void SetSwitchText(char letter, const std::string& name, const std::string& value) {
    ui::RegKey key;
    std::string path = std::string(kSwitchesKey) + "\\" + letter;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                      key.put(), nullptr);
    ::RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
}

void ClearSwitches() { ::RegDeleteTreeA(HKEY_CURRENT_USER, kSwitchesKey); }

std::string LogPath() { return TempPath("KestrixTestPlugin.log"); }

std::string ReadWholeFile(const std::string& path) {
    return ReadWholeFile(ui::WideString(path));
}

std::string ReadWholeFile(const std::wstring& path) {
    ui::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    if (!file) return text;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got)
        text.append(buffer, got);
    return text;
}

std::vector<std::string> LogLines() {
    std::string text = ReadWholeFile(LogPath());
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void ClearLog() { ::DeleteFileA(LogPath().c_str()); }

std::string ExecuteFile(char letter) {
    return TempPath(std::string("KestrixTestPlugin") + letter + ".bmp");
}

HRESULT CanUnloadNow() {
    HMODULE module = ::GetModuleHandleA(kDllName);
    if (!module) return E_UNEXPECTED;
    using Fn = HRESULT(STDAPICALLTYPE*)();
    auto fn = reinterpret_cast<Fn>(::GetProcAddress(module, "DllCanUnloadNow"));
    return fn ? fn() : E_UNEXPECTED;
}

}  // namespace test_plugin
