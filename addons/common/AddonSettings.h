// An add-on's own per-user settings: HKCU\Software\Orvane\Kestrix\Addons\<name>.
// Reads fall back to a default; strings are wide, so that a folder the code
// page cannot spell is kept whole.
#pragma once

#include "ui/Handles.h"

#include <string>

namespace addons {

class TAddonKey {
public:
    // Opens the key for reading, or creates it for writing (raising when
    // that fails).
    TAddonKey(const std::string& addonName, bool write);
    std::wstring ReadString(const wchar_t* name, const std::wstring& def) const;
    DWORD ReadNumber(const wchar_t* name, DWORD def) const;
    void WriteString(const wchar_t* name, const std::wstring& value);
    void WriteNumber(const wchar_t* name, DWORD value);

private:
    ui::RegKey key_;
    std::string path_;
};

}  // namespace addons
