#include "addons/common/AddonSettings.h"

#include "ui/Exception.h"

using namespace ui;

namespace addons {

TAddonKey::TAddonKey(const std::string& addonName, bool write)
    : path_("Software\\Orvane\\Kestrix\\Addons\\" + addonName) {
    if (!write) {
        ::RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, key_.put());
        return;
    }
    LONG rc = ::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                KEY_READ | KEY_WRITE, nullptr, key_.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        throw Exception("Cannot open the registry key HKEY_CURRENT_USER\\" + path_ + ": " +
                        SysErrorMessage(static_cast<DWORD>(rc)));
}

std::wstring TAddonKey::ReadString(const wchar_t* name, const std::wstring& def) const {
    DWORD type = 0, size = 0;
    if (!key_ || ::RegQueryValueExW(key_.get(), name, nullptr, &type, nullptr, &size) !=
                     ERROR_SUCCESS ||
        type != REG_SZ)
        return def;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key_.get(), name, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
        return def;
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

DWORD TAddonKey::ReadNumber(const wchar_t* name, DWORD def) const {
    DWORD type = 0, value = 0, size = sizeof value;
    if (!key_ || ::RegQueryValueExW(key_.get(), name, nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return def;
    return value;
}

void TAddonKey::WriteString(const wchar_t* name, const std::wstring& value) {
    LONG rc = ::RegSetValueExW(key_.get(), name, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS)
        throw Exception("Cannot write the registry value " + Quoted(name) + " under " + path_ +
                        ": " + SysErrorMessage(static_cast<DWORD>(rc)));
}

void TAddonKey::WriteNumber(const wchar_t* name, DWORD value) {
    LONG rc = ::RegSetValueExW(key_.get(), name, 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (rc != ERROR_SUCCESS)
        throw Exception("Cannot write the registry value " + Quoted(name) + " under " + path_ +
                        ": " + SysErrorMessage(static_cast<DWORD>(rc)));
}

}  // namespace addons
