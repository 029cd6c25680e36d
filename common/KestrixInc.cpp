#include "common/KestrixInc.h"

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
