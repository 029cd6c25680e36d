// Text in the program's 8-bit code page to and from UTF-16.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace ui {

std::wstring WideString(const std::string& s);
std::string AnsiString(const wchar_t* s, int length);
std::string AnsiString(BSTR s);

}  // namespace ui
