#include "ui/Exception.h"

#include "ui/Handles.h"
#include "ui/Strings.h"

#include <cstdio>

namespace ui {

std::string Quoted(const std::wstring& text) {
    std::string quoted(1, '"');
    quoted += Utf8(text);
    quoted += '"';
    return quoted;
}

std::string SysErrorMessage(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (n && text) {
        result = Utf8(std::wstring(text, n));
        while (!result.empty() && (result.back() == '\r' || result.back() == '\n' ||
                                   result.back() == ' ' || result.back() == '.'))
            result.pop_back();
    }
    if (text) ::LocalFree(text);
    if (result.empty()) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "Error 0x%08lX", static_cast<unsigned long>(code));
        result = buf;
    }
    return result;
}

namespace {
std::string ErrorInfoText() {
    ComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.put()) != S_OK || !info) return {};
    Bstr desc;
    if (FAILED(info->GetDescription(desc.put())) || !desc.get()) return {};
    return Utf8(desc.get(), static_cast<int>(desc.Length()));
}
}  // namespace

HRESULT OleCheck(HRESULT hr, const std::string& what) {
    if (FAILED(hr)) {
        std::string text = ErrorInfoText();
        if (text.empty()) text = SysErrorMessage(static_cast<DWORD>(hr));
        throw EOleSysError(what + ". " + text, hr);
    }
    return hr;
}

void RaiseLastOSError() {
    DWORD code = ::GetLastError();
    throw Exception("System Error.  Code: " + std::to_string(code) + ".\r\n" +
                    SysErrorMessage(code));
}

}  // namespace ui
