#include "addons/SaveToFile/FileNamePattern.h"

#include <cwctype>
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

std::wstring FileNameProblem(const std::wstring& name) {
    if (name.find_first_not_of(L' ') == std::wstring::npos) return L"The file name is empty.";
    for (wchar_t c : name)
        if (c < 32 || wcschr(L"<>:\"/\\|?*", c))
            return L"The file name \"" + name +
                   L"\" holds a character that Windows does not allow in a file name "
                   L"(\\ / : * ? \" < > | or a control character).";
    if (name.back() == L' ' || name.back() == L'.')
        return L"The file name \"" + name + L"\" ends with a space or a dot, which Windows drops.";
    if (name.size() > 255)
        return L"The file name is longer than the 255 characters Windows allows.";
    // Device names stay devices whatever extension follows them.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    bool device = false;
    for (const wchar_t* d : devices) device = device || stem == d;
    if (stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) &&
        stem[3] >= L'1' && stem[3] <= L'9')
        device = true;
    if (device)
        return L"\"" + stem + L"\" is the name of a device in Windows and cannot name a file.";
    return {};
}

}  // namespace save_to_file
