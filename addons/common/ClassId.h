// Class ids written once, as the registry shows them, and read at compile
// time: the text is the value, so a comment cannot drift from it.
#pragma once

#include <windows.h>

namespace addons {

namespace detail {
constexpr unsigned HexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c - 'a' + 10;
}
constexpr unsigned long Hex(const char* text, int digits) {
    unsigned long value = 0;
    for (int i = 0; i < digits; ++i) value = value << 4 | HexDigit(text[i]);
    return value;
}
}  // namespace detail

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as a GUID.
constexpr GUID ClassId(const char (&text)[39]) {
    using detail::Hex;
    return GUID{Hex(text + 1, 8),
                static_cast<unsigned short>(Hex(text + 10, 4)),
                static_cast<unsigned short>(Hex(text + 15, 4)),
                {static_cast<unsigned char>(Hex(text + 20, 2)),
                 static_cast<unsigned char>(Hex(text + 22, 2)),
                 static_cast<unsigned char>(Hex(text + 25, 2)),
                 static_cast<unsigned char>(Hex(text + 27, 2)),
                 static_cast<unsigned char>(Hex(text + 29, 2)),
                 static_cast<unsigned char>(Hex(text + 31, 2)),
                 static_cast<unsigned char>(Hex(text + 33, 2)),
                 static_cast<unsigned char>(Hex(text + 35, 2))}};
}

}  // namespace addons

static_assert(addons::ClassId("{01234567-89AB-CDEF-0123-456789abcdef}").Data1 == 0x01234567 &&
                  addons::ClassId("{01234567-89AB-CDEF-0123-456789abcdef}").Data3 == 0xCDEF &&
                  addons::ClassId("{01234567-89AB-CDEF-0123-456789abcdef}").Data4[7] == 0xEF,
              "class ids are read as the registry writes them");
