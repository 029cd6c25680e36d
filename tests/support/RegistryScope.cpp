#include "tests/support/RegistryScope.h"

#include "ui/Strings.h"

#include <sddl.h>

#include <atomic>

namespace testing_support {

namespace {
std::string UniqueKeyPath(const char* kind) {
    static std::atomic<int> counter{0};
    return std::string("Software\\KestrixTests\\") + kind + "-" +
           std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
}
}  // namespace

void DeleteUserKey(const std::string& path) { ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()); }

RedirectedKey::RedirectedKey(HKEY predefined)
    : predefined_(predefined), path_(UniqueKeyPath("redirect")) {
    ui::RegKey key;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr);
    ::RegOverridePredefKey(predefined_, key.get());
}

RedirectedKey::~RedirectedKey() {
    ::RegOverridePredefKey(predefined_, nullptr);
    DeleteUserKey(path_);
}

SavedKey::SavedKey(const std::string& path) : path_(path), backup_(UniqueKeyPath("saved")) {
    ui::RegKey source;
    existed_ = ::RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, source.put()) ==
               ERROR_SUCCESS;
    if (!existed_) return;
    ui::RegKey backup;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, backup_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      backup.put(), nullptr);
    ::RegCopyTreeA(source.get(), nullptr, backup.get());
}

SavedKey::~SavedKey() {
    DeleteUserKey(path_);
    if (!existed_) return;
    ui::RegKey backup, target;
    ::RegOpenKeyExA(HKEY_CURRENT_USER, backup_.c_str(), 0, KEY_READ, backup.put());
    ::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      target.put(), nullptr);
    if (backup && target) ::RegCopyTreeA(backup.get(), nullptr, target.get());
    DeleteUserKey(backup_);
}

std::string RegistryString(HKEY root, const std::string& path, const char* name) {
    char value[1024] = {};
    DWORD size = sizeof value;
    return ::RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) ==
                   ERROR_SUCCESS
               ? value
               : "<missing>";
}

std::wstring RegistryPath(HKEY root, const std::string& path, const char* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    return ::RegGetValueW(root, ui::WideString(path).c_str(),
                          name ? ui::WideString(name).c_str() : nullptr, RRF_RT_REG_SZ, nullptr,
                          value, &size) == ERROR_SUCCESS
               ? value
               : L"<missing>";
}

bool KeyExists(HKEY root, const std::string& path) {
    ui::RegKey key;
    return ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool SetKeyDacl(HKEY key, const char* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd,
                                                                nullptr))
        return false;
    ui::ScopeExit free([sd] { ::LocalFree(sd); });
    return ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
}

bool SetKeyDacl(HKEY root, const std::string& path, const char* sddl, bool create) {
    ui::RegKey key;
    LONG rc = create ? ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0,
                                         READ_CONTROL | WRITE_DAC, nullptr, key.put(), nullptr)
                     : ::RegOpenKeyExA(root, path.c_str(), 0, READ_CONTROL | WRITE_DAC, key.put());
    return rc == ERROR_SUCCESS && SetKeyDacl(key.get(), sddl);
}

}  // namespace testing_support
