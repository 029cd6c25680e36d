// Text in the program's 8-bit code page or in UTF-8 to and from UTF-16, and
// the file names the system hands out in full.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace ui {

std::wstring WideString(const std::string& s);
std::string AnsiString(const wchar_t* s, int length);
std::string AnsiString(BSTR s);
// One character between UTF-16 and the code page; '?' where the code page
// has no single byte for it.
char AnsiChar(wchar_t c);
wchar_t WideChar(char c);

// UTF-8 carries the program's messages, so that a path the code page
// cannot spell still reaches the user whole.
std::string Utf8(const std::wstring& s);
std::string Utf8(const wchar_t* s, int length);
std::wstring WideFromUtf8(const std::string& s);

// The full path of a module's file (null: the program's own), however long;
// empty when the system cannot tell.
std::wstring ModuleFileName(HMODULE module);

// The command line that starts a program file: quoted when the path holds
// a space, since the system would otherwise try its first words as a
// program of their own.
std::wstring ProgramCommand(const std::wstring& path);

}  // namespace ui
