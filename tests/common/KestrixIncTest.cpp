#include "common/KestrixInc.h"

#include <gtest/gtest.h>

namespace {

TEST(JoinPath, AddsOneBackslashBetweenFolderAndName) {
    EXPECT_EQ(L"C:\\Users\\me\\AppData\\CheckedPlugins.lst",
              JoinPath(L"C:\\Users\\me\\AppData", L"CheckedPlugins.lst"));
    EXPECT_EQ(L"C:\\Users\\me\\AppData\\CheckedPlugins.lst",
              JoinPath(L"C:\\Users\\me\\AppData\\", L"CheckedPlugins.lst"));
    EXPECT_EQ(L"C:\\x.lst", JoinPath(L"C:\\", L"x.lst"));
    EXPECT_EQ(L"\\\\server\\share\\x", JoinPath(L"\\\\server\\share", L"x"));
    // Characters of any code page, the last one included.
    EXPECT_EQ(L"C:\\\u03A9\u03BC\u03AD\u03B3\u03B1-\u6D4B\u8BD5\\x",
              JoinPath(L"C:\\\u03A9\u03BC\u03AD\u03B3\u03B1-\u6D4B\u8BD5", L"x"));
}

TEST(JoinPath, TrimsSpacesAndControlCharactersOfBothParts) {
    EXPECT_EQ(L"C:\\dir\\name.lst", JoinPath(L"  C:\\dir\t", L"\r\n name.lst \x01"));
    // Trimmed first, so a backslash hidden behind blanks still counts.
    EXPECT_EQ(L"C:\\dir\\name", JoinPath(L"C:\\dir\\  ", L"name"));
    // Inner blanks stay.
    EXPECT_EQ(L"C:\\my dir\\a b", JoinPath(L"C:\\my dir", L"a b"));
}

TEST(JoinPath, AnEmptyFolderGivesARootedName) { EXPECT_EQ(L"\\name", JoinPath(L" ", L"name")); }

TEST(Trim, RemovesOnlyTheEnds) {
    EXPECT_EQ(L"", Trim(L""));
    EXPECT_EQ(L"", Trim(L" \t\r\n"));
    EXPECT_EQ(L"a \t b \x7F", Trim(L"\x1F a \t b \x7F \x01")) << "DEL is no control character here";
    EXPECT_EQ(L"\xE9", Trim(L" \xE9 ")) << "characters above 0x7F are kept";
}

}  // namespace

TEST(NormalizedRect, OrdersTheCornersOfEitherDiagonal) {
    const RECT r = NormalizedRect(9, 2, -3, 7);
    EXPECT_EQ(r.left, -3);
    EXPECT_EQ(r.top, 2);
    EXPECT_EQ(RectWidth(r), 12);
    EXPECT_EQ(RectHeight(r), 5);
}
