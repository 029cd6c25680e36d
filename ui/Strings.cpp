#include "ui/Strings.h"

#include <vector>

namespace ui {

namespace {
std::wstring ToWide(UINT codePage, const std::string& s) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string FromWide(UINT codePage, const wchar_t* s, int length) {
    if (!s || length <= 0) return {};
    int n = ::WideCharToMultiByte(codePage, 0, s, length, nullptr, 0, nullptr, nullptr);
    std::string a(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, s, length, a.data(), n, nullptr, nullptr);
    return a;
}
}  // namespace

std::wstring WideString(const std::string& s) { return ToWide(CP_ACP, s); }

std::string AnsiString(const wchar_t* s, int length) { return FromWide(CP_ACP, s, length); }

std::string AnsiString(BSTR s) { return AnsiString(s, static_cast<int>(::SysStringLen(s))); }

std::string Utf8(const std::wstring& s) {
    return FromWide(CP_UTF8, s.data(), static_cast<int>(s.size()));
}

std::string Utf8(const wchar_t* s, int length) { return FromWide(CP_UTF8, s, length); }

std::wstring WideFromUtf8(const std::string& s) { return ToWide(CP_UTF8, s); }

std::wstring ModuleFileName(HMODULE module) {
    // A path is at most 32767 characters; the buffer grows until it fits,
    // since a cut-off path names another file.
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameW(module, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::wstring();
        if (n < buf.size()) return std::wstring(buf.data(), n);
        if (buf.size() > 32768) return std::wstring();
        buf.resize(buf.size() * 2);
    }
}

std::wstring ProgramCommand(const std::wstring& path) {
    if (path.find(L' ') == std::wstring::npos || path.front() == L'"') return path;
    return L"\"" + path + L"\"";
}

char AnsiChar(wchar_t c) {
    char out[4] = {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, &c, 1, out, sizeof out, nullptr, nullptr);
    return n == 1 ? out[0] : '?';
}

wchar_t WideChar(char c) {
    wchar_t out = 0;
    return ::MultiByteToWideChar(CP_ACP, 0, &c, 1, &out, 1) == 1 ? out
                                                                 : static_cast<unsigned char>(c);
}

}  // namespace ui
