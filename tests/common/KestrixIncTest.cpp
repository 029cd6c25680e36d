#include "common/KestrixInc.h"

#include <gtest/gtest.h>

namespace {

TEST(JoinPath, AddsOneBackslashBetweenFolderAndName) {
    EXPECT_EQ("C:\\Users\\me\\AppData\\CheckedPlugins.lst",
              JoinPath("C:\\Users\\me\\AppData", "CheckedPlugins.lst"));
    EXPECT_EQ("C:\\Users\\me\\AppData\\CheckedPlugins.lst",
              JoinPath("C:\\Users\\me\\AppData\\", "CheckedPlugins.lst"));
    EXPECT_EQ("C:\\x.lst", JoinPath("C:\\", "x.lst"));
    EXPECT_EQ("\\\\server\\share\\x", JoinPath("\\\\server\\share", "x"));
}

TEST(JoinPath, TrimsSpacesAndControlCharactersOfBothParts) {
    EXPECT_EQ("C:\\dir\\name.lst", JoinPath("  C:\\dir\t", "\r\n name.lst \x01"));
    // Trimmed first, so a backslash hidden behind blanks still counts.
    EXPECT_EQ("C:\\dir\\name", JoinPath("C:\\dir\\  ", "name"));
    // Inner blanks stay.
    EXPECT_EQ("C:\\my dir\\a b", JoinPath("C:\\my dir", "a b"));
}

TEST(JoinPath, AnEmptyFolderGivesARootedName) { EXPECT_EQ("\\name", JoinPath(" ", "name")); }

TEST(Trim, RemovesOnlyTheEnds) {
    EXPECT_EQ("", Trim(""));
    EXPECT_EQ("", Trim(" \t\r\n"));
    EXPECT_EQ("a \t b \x7F", Trim("\x1F a \t b \x7F \x01")) << "DEL is no control character here";
    EXPECT_EQ("\xE9", Trim(" \xE9 ")) << "bytes above 0x7F are kept";
}

}  // namespace
