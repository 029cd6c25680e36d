// The plug-in list text, and the file of default plug-ins on a real disk.
#include "automation/ComObj.h"
#include "common/KestrixInc.h"
#include "plugins/KestrixCommUnit.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPlugin.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "ui/Strings.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <random>

using Names = std::vector<std::string>;

namespace {

// ---- Plug-in list text ---------------------------------------------------

TEST(PluginListText, IdentifiersAreJoinedWithSingleCommas) {
    Names ids = {test_plugin::PluginId('A'), test_plugin::PluginId('B'),
                 test_plugin::PluginId('C')};
    std::string text = PluginListText(ids);
    EXPECT_EQ(ids[0] + "," + ids[1] + "," + ids[2], text);
    EXPECT_EQ(ids, SplitPluginList(text));
    EXPECT_EQ("", PluginListText({}));
    EXPECT_EQ(Names{}, SplitPluginList(std::string()));
    EXPECT_EQ(Names{}, SplitPluginList(static_cast<BSTR>(nullptr)));
}

TEST(PluginListText, EmptyNamesSurviveTheRoundTrip) {
    EXPECT_EQ("\"\"", PluginListText({""}));
    EXPECT_EQ(Names{""}, SplitPluginList("\"\""));
    // Bare, a trailing empty name would be read as nothing at all.
    for (const Names& names : {Names{"a", ""}, Names{"", "a"}, Names{"", ""}, Names{"a", "", "b"}})
        EXPECT_EQ(names, SplitPluginList(PluginListText(names))) << PluginListText(names);
}

TEST(PluginListText, SpecialCharactersAreQuotedWithQuotesDoubled) {
    EXPECT_EQ("\"a b\"", PluginListText({"a b"}));
    EXPECT_EQ("\"a\"\"b\"", PluginListText({"a\"b"}));
    EXPECT_EQ("\"a,b\"", PluginListText({"a,b"}));
    EXPECT_EQ("\"a\tb\",x", PluginListText({"a\tb", "x"}));
    EXPECT_EQ("\x7F\xA0", PluginListText({"\x7F\xA0"})) << "bytes above 0x7E are no blanks";
    EXPECT_EQ("\xE9t\xE9", PluginListText({"\xE9t\xE9"}));
}

TEST(PluginListText, HostileNamesComeBackExactly) {
    const Names hostile = {" lead",      "trail ",  "\"",     "\"\"",    ",",       ",,",
                           "a\r\nb",     "\x01",    " ",      "x\"y,z w", "\xFF\x80", "\"quoted\"",
                           "{0EE13448}", std::string("a\0b", 3)};
    EXPECT_EQ(hostile, SplitPluginList(PluginListText(hostile)));

    // And any mix of the characters that matter.
    std::mt19937 random(12345);
    const char alphabet[] = {' ', '\t', '\r', '\n', '"', ',', 'a', 'Z', '{', '-', '\x01', '\xE9',
                             '\0'};
    for (int round = 0; round < 2000; ++round) {
        Names names(random() % 5);
        for (std::string& name : names) {
            name.resize(random() % 6);
            for (char& c : name) c = alphabet[random() % sizeof alphabet];
        }
        ASSERT_EQ(names, SplitPluginList(PluginListText(names))) << PluginListText(names);
    }
}

TEST(PluginListText, ReaderSplitsAtCommasAndRunsOfBlanks) {
    EXPECT_EQ((Names{"a", "b"}), SplitPluginList("a, b"));
    EXPECT_EQ((Names{"a", "b"}), SplitPluginList("  a ,\r\n b \t"));
    EXPECT_EQ((Names{"a", "b", "c"}), SplitPluginList("a b\tc"));
    EXPECT_EQ((Names{"a", "", "b"}), SplitPluginList("a,,b"));
    EXPECT_EQ((Names{"a"}), SplitPluginList("a,"));
    EXPECT_EQ((Names{"", "a"}), SplitPluginList(",a"));
    EXPECT_EQ((Names{"abc"}), SplitPluginList("\"abc"));  // unterminated quote
    EXPECT_EQ((Names{"a", "b"}), SplitPluginList("\"a\"b"));
    EXPECT_EQ((Names{"x y"}), SplitPluginList(" \"x y\" "));
}

TEST(PluginListText, ReaderTakesTheDirectorysBstr) {
    ui::Bstr text(L"{A},\"b c\"");
    EXPECT_EQ((Names{"{A}", "b c"}), SplitPluginList(text.get()));
}

// ---- "CheckedPlugins.lst" ------------------------------------------------

// In a folder whose name the code page cannot spell.
class CheckedPluginsFile : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"kestrix-checked-\u03A9\u6D4B-" +
                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  ui::WideString(testing::UnitTest::GetInstance()->current_test_info()->name());
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = folder_ + L"\\CheckedPlugins.lst";
    }
    void TearDown() override {
        for (const std::string& f : Files()) {
            std::wstring file = folder_ + L"\\" + ui::WideFromUtf8(f);
            ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(file.c_str());
        }
        ::RemoveDirectoryW(folder_.c_str());
    }
    void Write(const std::string& bytes) {
        ui::FileHandle file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                &written, nullptr));
    }
    Names Files() const {
        Names names;
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW((folder_ + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            std::string name = ui::Utf8(std::wstring(data.cFileName));
            if (name != "." && name != "..") names.push_back(name);
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
        return names;
    }
    std::wstring folder_, path_;
};

const std::string kIdA = test_plugin::PluginId('A');

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST_F(CheckedPluginsFile, MissingFileChecksNothing) {
    EXPECT_EQ(Names{}, ReadCheckedPlugins(path_));
    ::CreateDirectoryW(path_.c_str(), nullptr);  // a folder of that name is no file either
    EXPECT_EQ(Names{}, ReadCheckedPlugins(path_));
    ::RemoveDirectoryW(path_.c_str());
    EXPECT_EQ(Names{}, ReadCheckedPlugins(folder_ + L"\\no such folder\\CheckedPlugins.lst"));
}

TEST_F(CheckedPluginsFile, LinesSplitAtAnyLineBreakAndAreNotTrimmed) {
    Write("a\r\nb\nc\rd\r\n\r\n e \n\rf");
    EXPECT_EQ((Names{"a", "b", "c", "d", "", " e ", "", "f"}), ReadCheckedPlugins(path_));
    Write("only\r\n");
    EXPECT_EQ(Names{"only"}, ReadCheckedPlugins(path_));
    Write("");
    EXPECT_EQ(Names{}, ReadCheckedPlugins(path_));
}

TEST_F(CheckedPluginsFile, MatchingIgnoresCaseButNotBlanks) {
    CLSID a = test_plugin::CLSID_TestPluginA, b = test_plugin::CLSID_TestPluginB,
          c = test_plugin::CLSID_TestPluginC;
    Write(Lower(kIdA) + "\r\n " + test_plugin::PluginId('B') + "\r\n" + test_plugin::PluginId('C') +
          " \r\nnot an identifier\r\n");
    Names lines = ReadCheckedPlugins(path_);
    EXPECT_TRUE(IsPluginChecked(lines, a)) << "lower case still matches";
    EXPECT_FALSE(IsPluginChecked(lines, b)) << "a leading space does not";
    EXPECT_FALSE(IsPluginChecked(lines, c)) << "nor a trailing one";
    EXPECT_FALSE(IsPluginChecked({}, a));
}

TEST_F(CheckedPluginsFile, WriterUsesCanonicalLinesEachEndedByCrLf) {
    WriteCheckedPlugins(path_, {test_plugin::CLSID_TestPluginC, test_plugin::CLSID_TestPluginA});
    EXPECT_EQ(test_plugin::PluginId('C') + std::string("\r\n") + kIdA + "\r\n",
              test_plugin::ReadWholeFile(path_));
    EXPECT_EQ((Names{test_plugin::PluginId('C'), kIdA}), ReadCheckedPlugins(path_));

    // Nothing checked: an empty file, not a missing one.
    WriteCheckedPlugins(path_, {});
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path_.c_str()));
    EXPECT_EQ("", test_plugin::ReadWholeFile(path_));
    EXPECT_EQ(Names{"CheckedPlugins.lst"}, Files()) << "no temporary file is left behind";
}

TEST_F(CheckedPluginsFile, RewritingAShorterListLeavesNoTail) {
    Write(std::string(5000, 'x'));
    WriteCheckedPlugins(path_, {test_plugin::CLSID_TestPluginB});
    EXPECT_EQ(test_plugin::PluginId('B') + std::string("\r\n"), test_plugin::ReadWholeFile(path_));
}

TEST_F(CheckedPluginsFile, AFailedWriteKeepsTheOldList) {
    const std::string old = kIdA + "\r\n";
    Write(old);
    ASSERT_TRUE(::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_THROW(WriteCheckedPlugins(path_, {test_plugin::CLSID_TestPluginB}), ui::Exception);
    EXPECT_EQ(old, test_plugin::ReadWholeFile(path_));
    EXPECT_EQ(Names{"CheckedPlugins.lst"}, Files()) << "no temporary file is left behind";
    ::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);

    // The new list written, and then it cannot take the old one's place.
    ::DeleteFileW(path_.c_str());
    ASSERT_TRUE(::CreateDirectoryW(path_.c_str(), nullptr));
    EXPECT_THROW(WriteCheckedPlugins(path_, {test_plugin::CLSID_TestPluginB}), ui::Exception);
    EXPECT_EQ(Names{"CheckedPlugins.lst"}, Files()) << "no temporary file is left behind";
    ::RemoveDirectoryW(path_.c_str());

    // A folder that is not there: an error that names the path, and
    // nothing made.
    std::wstring nowhere = folder_ + L"\\missing\\CheckedPlugins.lst";
    try {
        WriteCheckedPlugins(nowhere, {test_plugin::CLSID_TestPluginB});
        ADD_FAILURE() << "no error";
    } catch (const ui::Exception& e) {
        EXPECT_NE(std::string::npos, e.Message().find(ui::Utf8(nowhere))) << e.Message();
    }
}

TEST_F(CheckedPluginsFile, AFileThatCannotBeOpenedRaises) {
    Write(kIdA + "\r\n");
    ui::FileHandle lock(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);
    try {
        ReadCheckedPlugins(path_);
        ADD_FAILURE() << "no error";
    } catch (const ui::Exception& e) {
        EXPECT_NE(std::string::npos, e.Message().find(ui::Utf8(path_))) << e.Message();
    }
}

TEST_F(CheckedPluginsFile, BinaryContentIsReadWithoutLoss) {
    std::string bytes;
    std::mt19937 random(7);
    for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(random() & 0xFF);
    bytes += "\r\n" + kIdA + "\r\n";
    bytes += std::string("\0\0\0", 3) + test_plugin::PluginId('B') + "\n";
    Write(bytes);
    Names lines = ReadCheckedPlugins(path_);
    size_t total = 0;
    for (const std::string& line : lines) total += line.size();
    size_t breaks = 0;
    for (char c : bytes) breaks += c == '\r' || c == '\n';
    EXPECT_GE(total + breaks, bytes.size()) << "every byte is in a line or a line break";
    EXPECT_TRUE(IsPluginChecked(lines, test_plugin::CLSID_TestPluginA));
    EXPECT_FALSE(IsPluginChecked(lines, test_plugin::CLSID_TestPluginB))
        << "NULs are part of the line";
}

TEST_F(CheckedPluginsFile, TenMegabytesAreRead) {
    std::string bytes;
    bytes.reserve(10 << 20);
    while (bytes.size() < (10u << 20)) bytes += "{11111111-2222-3333-4444-555555555555}\r\n";
    bytes += Lower(test_plugin::PluginId('C'));  // last line, no line break
    Write(bytes);
    Names lines = ReadCheckedPlugins(path_);
    EXPECT_EQ(bytes.size() / 40 + 1, lines.size());
    EXPECT_TRUE(IsPluginChecked(lines, test_plugin::CLSID_TestPluginC));
    EXPECT_FALSE(IsPluginChecked(lines, test_plugin::CLSID_TestPluginA));
}

// ---- Where the file lives -----------------------------------------------

TEST(CheckedPluginsPath, IsDirectlyInTheApplicationDataFolder) {
    wchar_t appData[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathW(nullptr, appData, CSIDL_APPDATA, FALSE));
    std::wstring path = CheckedPluginsPath();
    EXPECT_EQ(JoinPath(appData, L"CheckedPlugins.lst"), path);
    EXPECT_EQ(std::wstring(appData) + L"\\CheckedPlugins.lst", path);
    EXPECT_EQ(std::wstring::npos, path.find(L"\\\\"));
}

TEST(CheckedPluginsPath, NoApplicationDataFolderIsAnError) {
    testing_support::RedirectedKey user(HKEY_CURRENT_USER);
    ui::RegKey folders;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExA(HKEY_CURRENT_USER,
                                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell "
                                "Folders",
                                0, nullptr, 0, KEY_WRITE, nullptr, folders.put(), nullptr));
    const char nowhere[] = "Q:\\no such drive\\AppData";
    ::RegSetValueExA(folders.get(), "AppData", 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE*>(nowhere), sizeof nowhere);
    char probe[MAX_PATH] = {};
    if (::SHGetSpecialFolderPathA(nullptr, probe, CSIDL_APPDATA, FALSE))
        GTEST_SKIP() << "the shell reports " << probe << " all the same";
    try {
        CheckedPluginsPath();
        ADD_FAILURE() << "no error";
    } catch (const ui::Exception& e) {
        EXPECT_EQ("Error retreiviing AppData folder path", e.Message());
    }
}

}  // namespace
