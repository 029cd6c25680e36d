// The version reader against DLLs built with version resources of their own,
// and against the program's file itself.
#include "about/VerInfo.h"
#include "tests/support/TestSupport.h"
#include "ui/Strings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring BinDir() {
    std::wstring s = ui::ModuleFileName(nullptr);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

std::wstring Dll(const char* name) { return BinDir() + ui::WideString(name) + L".dll"; }

TEST(VersionInfo, TranslationCodeIsEightUpperCaseHexDigits) {
    TVersionInfo unicode(Dll("ver_040904b0"));
    ASSERT_TRUE(unicode.Loaded());
    WORD lang = 0, cp = 0;
    ASSERT_TRUE(unicode.GetTranslation(lang, cp));
    EXPECT_EQ(lang, 0x0409);
    EXPECT_EQ(cp, 0x04B0);
    EXPECT_EQ(unicode.GetTranslationCode(), "040904B0");
    EXPECT_EQ(unicode.GetFileVersion(), "2.3.4.5");
    EXPECT_EQ(unicode.GetValue("CompanyName"), "Test maker");
    EXPECT_EQ(unicode.GetValue("Empty"), "");

    TVersionInfo zeros(Dll("ver_00070000"));
    EXPECT_EQ(zeros.GetTranslationCode(), "00070000");
    EXPECT_EQ(zeros.GetFileVersion(), "7.0");
}

TEST(VersionInfo, MissingEntriesReadAsEmpty) {
    TVersionInfo noFileVersion(Dll("ver_nofileversion"));
    EXPECT_EQ(noFileVersion.GetTranslationCode(), "040904E4");
    EXPECT_EQ(noFileVersion.GetFileVersion(), "");
    EXPECT_EQ(noFileVersion.GetValue("ProductName"), "No file version");
    EXPECT_EQ(noFileVersion.GetValue("productname"), "No file version");  // keys ignore case
    EXPECT_EQ(noFileVersion.GetValue(""), "");
    EXPECT_EQ(noFileVersion.GetValue("ProductName\\x"), "");

    // No translation: the path names no string table.
    TVersionInfo noTranslation(Dll("ver_notranslation"));
    EXPECT_TRUE(noTranslation.Loaded());
    WORD lang = 1, cp = 1;
    EXPECT_FALSE(noTranslation.GetTranslation(lang, cp));
    EXPECT_EQ(noTranslation.GetTranslationCode(), "");
    EXPECT_EQ(noTranslation.GetFileVersion(), "");
}

TEST(VersionInfo, OnlyTheFirstTranslationCounts) {
    TVersionInfo info(Dll("ver_twotables"));
    EXPECT_EQ(info.GetTranslationCode(), "040904E4");
    EXPECT_EQ(info.GetFileVersion(), "1.1-en");
    EXPECT_EQ(info.GetValue("Comments"), "");
}

TEST(VersionInfo, FilesWithoutVersionDataReadAsEmptyWithoutAMessage) {
    testing_support::RecordedErrors().clear();
    for (std::wstring path : {Dll("ver_none"), BinDir() + L"no such file.dll",
                              std::wstring(L"Z:\\no\\such\\folder\\x.exe"), std::wstring(),
                              BinDir() + std::wstring(400, L'a') + L".dll"}) {
        TVersionInfo info(path);
        EXPECT_FALSE(info.Loaded()) << ui::Utf8(path);
        WORD lang, cp;
        EXPECT_FALSE(info.GetTranslation(lang, cp));
        EXPECT_EQ(info.GetTranslationCode(), "");
        EXPECT_EQ(info.GetFileVersion(), "") << ui::Utf8(path);
    }
    EXPECT_TRUE(testing_support::RecordedErrors().empty());
}

// The query path holds at most 255 characters. A longer one must not be cut
// down to a shorter key that happens to exist.
TEST(VersionInfo, QueryPathsLongerThan255CharactersFindNothing) {
    TVersionInfo info(Dll("ver_longkeys"));
    const std::string key230 = "K" + std::string(229, 'x');
    EXPECT_EQ(info.GetValue(key230), "fits");
    EXPECT_EQ(info.GetValue(key230 + "y"), "");
    EXPECT_EQ(info.GetValue(std::string(5000, 'z')), "");
}

TEST(VersionInfo, TheProgramsOwnResource) {
    TVersionInfo info(BinDir() + L"kestrix.exe");
    ASSERT_TRUE(info.Loaded());
    EXPECT_EQ(info.GetTranslationCode(), "040904E4");
    EXPECT_EQ(info.GetFileVersion(), "1.0.0.26");
    EXPECT_EQ(info.GetValue("ProductVersion"), "1.0.0.0");
    for (const char* key : {"CompanyName", "FileDescription", "InternalName", "LegalCopyright",
                            "OriginalFilename", "ProductName"})
        EXPECT_NE(info.GetValue(key), "") << key;

    // The same file in a folder whose name the code page cannot spell.
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"\u03A9\u03BC\u03AD\u03B3\u03B1-\u6D4B\u8BD5-" +
                                std::to_wstring(::GetCurrentProcessId());
    const std::wstring copy = folder + L"\\kestrix.exe";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW((BinDir() + L"kestrix.exe").c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(TVersionInfo(copy).GetFileVersion(), "1.0.0.26");
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(folder.c_str());

    // The fixed part and the translation table, read without the reader.
    std::wstring path = BinDir() + L"kestrix.exe";
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), handle, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 26u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    WORD* pairs = nullptr;
    ASSERT_TRUE(::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&pairs), &len));
    EXPECT_EQ(len, 4u);  // one translation
}

}  // namespace
