#include "common/KestrixInc.h"

#include <windows.h>

std::string Trim(const std::string& s) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t first = 0, last = s.size();
    while (first < last && blank(s[first])) ++first;
    while (last > first && blank(s[last - 1])) --last;
    return s.substr(first, last - first);
}

namespace {
// Whether the last character (not byte: the second byte of a double-byte
// character can be 0x5C) is a backslash.
bool EndsWithBackslash(const std::string& path) {
    if (path.empty()) return false;
    const char* begin = path.c_str();
    const char* end = begin + path.size();
    const char* last = ::CharPrevA(begin, end);
    return end - last == 1 && *last == '\\';
}
}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    std::string result = Trim(folder);
    if (!EndsWithBackslash(result)) result += '\\';
    return result + Trim(name);
}
