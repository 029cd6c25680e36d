#include "common/KestrixInc.h"

#include <algorithm>

std::wstring Trim(const std::wstring& s) {
    auto blank = [](wchar_t c) { return c <= L' '; };
    size_t first = 0, last = s.size();
    while (first < last && blank(s[first])) ++first;
    while (last > first && blank(s[last - 1])) --last;
    return s.substr(first, last - first);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    std::wstring result = Trim(folder);
    if (result.empty() || result.back() != L'\\') result += L'\\';
    return result + Trim(name);
}

RECT NormalizedRect(int x1, int y1, int x2, int y2) {
    return RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}
