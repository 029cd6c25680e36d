#include "addons/SaveToFile/FileNamePattern.h"

#include <cstdio>

namespace save_to_file {

namespace {
std::wstring Digits(unsigned value, int width) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%0*u", width, value);
    return text;
}
}  // namespace

std::wstring ExpandPattern(const std::wstring& pattern, const SYSTEMTIME& t, DWORD counter) {
    struct Field {
        const wchar_t* name;
        std::wstring value;
    };
    const Field fields[] = {
        {L"{date}", Digits(t.wYear, 4) + L"-" + Digits(t.wMonth, 2) + L"-" + Digits(t.wDay, 2)},
        {L"{time}", Digits(t.wHour, 2) + L"-" + Digits(t.wMinute, 2) + L"-" + Digits(t.wSecond, 2)},
        {L"{year}", Digits(t.wYear, 4)},     {L"{month}", Digits(t.wMonth, 2)},
        {L"{day}", Digits(t.wDay, 2)},       {L"{hour}", Digits(t.wHour, 2)},
        {L"{minute}", Digits(t.wMinute, 2)}, {L"{second}", Digits(t.wSecond, 2)},
        {L"{counter}", Digits(counter, 3)},
    };
    std::wstring out;
    for (size_t i = 0; i < pattern.size();) {
        bool matched = false;
        if (pattern[i] == L'{')
            for (const Field& f : fields)
                if (pattern.compare(i, wcslen(f.name), f.name) == 0) {
                    out += f.value;
                    i += wcslen(f.name);
                    matched = true;
                    break;
                }
        if (!matched) out += pattern[i++];
    }
    return out;
}

bool UsesCounter(const std::wstring& pattern) {
    return pattern.find(L"{counter}") != std::wstring::npos;
}

}  // namespace save_to_file
