// The file-name pattern of the Save-to-file add-on: fields in braces that
// are filled in when a picture is saved.
#pragma once

#include <windows.h>

#include <string>

namespace save_to_file {

// {date} 2026-12-08, {time} 14-05-09, {year} {month} {day} {hour} {minute}
// {second}, {counter} 001 (the add-on's own running number). Anything else
// stays as written.
std::wstring ExpandPattern(const std::wstring& pattern, const SYSTEMTIME& time, DWORD counter);
bool UsesCounter(const std::wstring& pattern);

inline constexpr wchar_t kPatternFields[] =
    L"Fields: {date} {time} {year} {month} {day} {hour} {minute} {second} {counter}";

}  // namespace save_to_file
