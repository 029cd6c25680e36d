// Small helpers shared by the program's units.
#pragma once

#include <windows.h>

#include <string>

// folder + '\' + name, both trimmed of spaces and control characters; no
// second backslash when the folder already ends with one. Paths are wide
// and whole: a folder name the code page cannot spell stays as it is.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// s without leading and trailing spaces and control characters.
std::wstring Trim(const std::wstring& s);

// The rectangle spanned by two corners given in any order.
RECT NormalizedRect(int x1, int y1, int x2, int y2);
inline int RectWidth(const RECT& r) { return r.right - r.left; }
inline int RectHeight(const RECT& r) { return r.bottom - r.top; }
