#include "ui/Strings.h"

namespace ui {

std::wstring WideString(const std::string& s) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string AnsiString(const wchar_t* s, int length) {
    if (!s || length <= 0) return {};
    int n = ::WideCharToMultiByte(CP_ACP, 0, s, length, nullptr, 0, nullptr, nullptr);
    std::string a(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, s, length, a.data(), n, nullptr, nullptr);
    return a;
}

std::string AnsiString(BSTR s) { return AnsiString(s, static_cast<int>(::SysStringLen(s))); }

}  // namespace ui
