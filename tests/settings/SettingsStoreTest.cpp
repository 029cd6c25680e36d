// The settings sequences against the real registry of the test prefix.
// HKEY_CURRENT_USER is redirected to a scratch key for each test, so the
// prefix's own settings are never touched.
#include "settings/SettingsStore.h"
#include "tests/support/RegistryScope.h"
#include "ui/Exception.h"
#include "ui/Handles.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using ui::RegKey;

namespace {

const char kChildScratchVar[] = "KESTRIX_SETTINGS_SCRATCH";

std::string ScratchPath() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string("Software\\KestrixTests\\") + info->test_suite_name() + "." + info->name() +
           "." + std::to_string(::GetCurrentProcessId());
}

// Gives a key a DACL from its SDDL text.
void SetDacl(HKEY key, const char* sddl) {
    EXPECT_TRUE(testing_support::SetKeyDacl(key, sddl));
}

class SettingsStore : public testing::Test {
protected:
    void SetUp() override {
        path_ = ScratchPath();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        ASSERT_EQ(::RegCreateKeyA(HKEY_CURRENT_USER, path_.c_str(), scratch_.put()), ERROR_SUCCESS);
        ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, scratch_.get()), ERROR_SUCCESS);
    }
    void TearDown() override {
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        for (const std::string& k : locked_) {
            RegKey key;
            if (::RegOpenKeyA(scratch_.get(), k.c_str(), key.put()) == ERROR_SUCCESS)
                SetDacl(key.get(), "D:(A;;KA;;;WD)");
        }
        scratch_.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KestrixTests");  // when it is empty
    }

    RegKey Create(const char* sub) {
        RegKey key;
        EXPECT_EQ(::RegCreateKeyA(scratch_.get(), sub, key.put()), ERROR_SUCCESS) << sub;
        return key;
    }
    RegKey Settings() { return Create(kSettingsKey); }
    RegKey Run() { return Create(kAutoRunKey); }
    // Leaves a key readable only, until the test ends.
    void MakeReadOnly(const char* sub) {
        RegKey key = Create(sub);
        SetDacl(key.get(), "D:P(A;;KR;;;WD)");
        locked_.push_back(sub);
    }
    bool KeyExists(const char* sub) {
        RegKey key;
        return ::RegOpenKeyA(scratch_.get(), sub, key.put()) == ERROR_SUCCESS;
    }
    DWORD ValueCount(const char* sub) {
        RegKey key;
        if (::RegOpenKeyA(scratch_.get(), sub, key.put()) != ERROR_SUCCESS) return 0;
        DWORD values = 0;
        ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr);
        return values;
    }
    static void SetRaw(HKEY key, const char* name, DWORD type, const std::vector<BYTE>& data) {
        ASSERT_EQ(::RegSetValueExA(key, name, 0, type, data.empty() ? nullptr : data.data(),
                                   static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    static void SetDword(HKEY key, const char* name, uint32_t v) {
        SetRaw(key, name, REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)});
    }
    static void SetString(HKEY key, const char* name, const char* text) {
        ASSERT_EQ(::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                   static_cast<DWORD>(strlen(text) + 1)),
                  ERROR_SUCCESS);
    }
    // A stored number must be a 4-byte REG_DWORD.
    static void ExpectDword(HKEY key, const char* name, uint32_t expected) {
        DWORD type = 0, size = 16;
        BYTE buf[16] = {};
        ASSERT_EQ(::RegQueryValueExA(key, name, nullptr, &type, buf, &size), ERROR_SUCCESS) << name;
        EXPECT_EQ(type, DWORD(REG_DWORD)) << name;
        ASSERT_EQ(size, 4u) << name;
        uint32_t v;
        memcpy(&v, buf, 4);
        EXPECT_EQ(v, expected) << name;
    }
    static std::wstring ReadString(HKEY key, const wchar_t* name) {
        wchar_t buf[2048] = {};
        DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
        if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size))
            return L"<absent>";
        EXPECT_EQ(type, DWORD(REG_SZ));
        return std::wstring(buf);
    }

    std::string path_;
    RegKey scratch_;
    std::vector<std::string> locked_;
};

template <class F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const ui::Exception& e) {
        return e.Message();
    }
    return "<no error>";
}

TEST_F(SettingsStore, FirstRunCreatesTheKeyEmptyAndUsesTheFallbacks) {
    Run();
    ASSERT_FALSE(KeyExists(kSettingsKey));
    TWizardSettings w = WizardReadSettings();
    EXPECT_FALSE(w.QuickMode);
    EXPECT_EQ(w.MaxHistorySteps, 10);
    EXPECT_FALSE(w.LeaveInClipboard);
    EXPECT_TRUE(KeyExists(kSettingsKey));
    EXPECT_EQ(ValueCount(kSettingsKey), 0u);

    ::RegDeleteTreeA(scratch_.get(), "Software\\Orvane");
    TDialogSettings d{true, 99, true};
    DialogReadSettings(d);
    EXPECT_FALSE(d.QuickMode);
    EXPECT_EQ(d.MaxHistorySteps, 10);
    EXPECT_FALSE(d.StartWithWindows);
    EXPECT_TRUE(KeyExists(kSettingsKey));
    EXPECT_EQ(ValueCount(kSettingsKey), 0u);
    EXPECT_EQ(ValueCount(kAutoRunKey), 0u);
}

TEST_F(SettingsStore, OnOffValuesCountOnlyTheirLowestByte) {
    RegKey key = Settings();
    Run();
    struct Case { uint32_t stored; bool on; } cases[] = {
        {0, false}, {1, true}, {2, true}, {255, true}, {256, false}, {0x01000000, false},
        {0xFFFFFF00, false}, {0xFFFFFFFF, true},
    };
    for (const Case& c : cases) {
        SetDword(key.get(), "QuickMode", c.stored);
        SetDword(key.get(), "LeaveInClipboard", c.stored);
        TWizardSettings w = WizardReadSettings();
        EXPECT_EQ(w.QuickMode, c.on) << c.stored;
        EXPECT_EQ(w.LeaveInClipboard, c.on) << c.stored;
        TDialogSettings d;
        DialogReadSettings(d);
        EXPECT_EQ(d.QuickMode, c.on) << c.stored;
    }
    // 2 reads as on and the dialog's OK writes it back as 1.
    SetDword(key.get(), "QuickMode", 2);
    TDialogSettings d;
    DialogReadSettings(d);
    DialogWriteSettings(d);
    ExpectDword(key.get(), "QuickMode", 1);
    WizardWriteSettings(true);
    ExpectDword(key.get(), "LeaveInClipboard", 1);
    WizardWriteSettings(false);
    ExpectDword(key.get(), "LeaveInClipboard", 0);
}

TEST_F(SettingsStore, UndoStepsAreSignedAndUnchecked) {
    RegKey key = Settings();
    Run();
    for (int32_t v : {0, -1, -5, INT32_MIN, INT32_MAX, 1000000}) {
        TDialogSettings d{false, v, false};
        DialogWriteSettings(d);
        ExpectDword(key.get(), "MaxHistorySteps", static_cast<uint32_t>(v));
        EXPECT_EQ(WizardReadSettings().MaxHistorySteps, v);
        TDialogSettings back;
        DialogReadSettings(back);
        EXPECT_EQ(back.MaxHistorySteps, v);
    }
    // Too long for four bytes: the fallback, and the value stays as it was.
    SetString(key.get(), "MaxHistorySteps", "12345");
    EXPECT_EQ(WizardReadSettings().MaxHistorySteps, 10);
    SetString(key.get(), "MaxHistorySteps", "a much longer text than four bytes");
    TDialogSettings d;
    DialogReadSettings(d);
    EXPECT_EQ(d.MaxHistorySteps, 10);
    DWORD type = 0;
    ASSERT_EQ(::RegQueryValueExA(key.get(), "MaxHistorySteps", nullptr, &type, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
}

// Values of every type and of 0 to 8 bytes and longer: up to four bytes are
// taken as they are (upper bytes zero), longer ones give the fallback, and a
// read never changes anything.
TEST_F(SettingsStore, ReadsIgnoreTheTypeAndTakeAtMostFourBytes) {
    RegKey key = Settings();
    Run();
    const DWORD types[] = {REG_NONE, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_QWORD,
                           REG_RESOURCE_LIST, 0x7777};
    std::vector<size_t> sizes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 64, 70000};
    for (DWORD type : types) {
        for (size_t size : sizes) {
            for (BYTE first : {BYTE(0), BYTE(1)}) {
                std::vector<BYTE> data(size);
                for (size_t i = 0; i < size; ++i) data[i] = static_cast<BYTE>(first + i);
                for (const char* name : {"QuickMode", "MaxHistorySteps", "LeaveInClipboard"})
                    SetRaw(key.get(), name, type, data);
                uint32_t low = 0;
                for (size_t i = 0; i < size && i < 4; ++i) low |= uint32_t(data[i]) << (8 * i);
                const bool fits = size <= 4;
                SCOPED_TRACE("type " + std::to_string(type) + " size " + std::to_string(size) +
                             " first " + std::to_string(first));
                TWizardSettings w = WizardReadSettings();
                EXPECT_EQ(w.MaxHistorySteps, fits ? static_cast<int32_t>(low) : 10);
                EXPECT_EQ(w.QuickMode, fits && size > 0 && first != 0);
                EXPECT_EQ(w.LeaveInClipboard, fits && size > 0 && first != 0);
                TDialogSettings d;
                DialogReadSettings(d);
                EXPECT_EQ(d.MaxHistorySteps, w.MaxHistorySteps);
                EXPECT_EQ(d.QuickMode, w.QuickMode);
                DWORD t = 0, n = 0;
                ASSERT_EQ(::RegQueryValueExA(key.get(), "QuickMode", nullptr, &t, nullptr, &n),
                          ERROR_SUCCESS);
                EXPECT_EQ(t, type);
                EXPECT_EQ(n, size);
            }
        }
    }
    // Strings are read the same way; short ones are their bytes.
    SetString(key.get(), "MaxHistorySteps", "7");
    EXPECT_EQ(WizardReadSettings().MaxHistorySteps, '7');
    SetString(key.get(), "QuickMode", "");
    EXPECT_FALSE(WizardReadSettings().QuickMode);
    SetString(key.get(), "QuickMode", "on and on");
    EXPECT_FALSE(WizardReadSettings().QuickMode);
}

TEST_F(SettingsStore, AutoRunIsThePresenceOfTheValue) {
    RegKey run = Run();
    SetString(run.get(), "Kestrix", "C:\\elsewhere\\other.exe");
    TDialogSettings d;
    DialogReadSettings(d);
    EXPECT_TRUE(d.StartWithWindows);

    // OK with the box checked replaces the data with this program.
    DialogWriteSettings(d);
    EXPECT_EQ(ReadString(run.get(), L"Kestrix"), AutoRunCommand(ProgramFileName()));

    d.StartWithWindows = false;
    DialogWriteSettings(d);
    EXPECT_EQ(ReadString(run.get(), L"Kestrix"), L"<absent>");
    TDialogSettings again{false, 0, true};
    DialogReadSettings(again);
    EXPECT_FALSE(again.StartWithWindows);

    // Unchecked with nothing there succeeds silently; other entries are left alone.
    SetString(run.get(), "Other", "x.exe");
    EXPECT_NO_THROW(DialogWriteSettings(d));
    EXPECT_EQ(ReadString(run.get(), L"Other"), L"x.exe");
}

TEST_F(SettingsStore, AutoRunPathIsQuotedOnlyWhenItHoldsASpace) {
    EXPECT_EQ(AutoRunCommand(L"C:\\Kestrix\\kestrix.exe"), L"C:\\Kestrix\\kestrix.exe");
    EXPECT_EQ(AutoRunCommand(L"C:\\Program Files\\Kestrix\\kestrix.exe"),
              L"\"C:\\Program Files\\Kestrix\\kestrix.exe\"");
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(ProgramFileName(), self);
}

TEST_F(SettingsStore, MissingAutoRunKeyFailsBothDialogSequencesAfterTheSettings) {
    RegKey key = Settings();
    SetDword(key.get(), "QuickMode", 1);
    SetDword(key.get(), "MaxHistorySteps", 4);
    ASSERT_FALSE(KeyExists(kAutoRunKey));

    TDialogSettings d{false, 0, false};
    EXPECT_EQ(MessageOf([&] { DialogReadSettings(d); }), "Error opening AutoRun registry key");
    EXPECT_TRUE(d.QuickMode);
    EXPECT_EQ(d.MaxHistorySteps, 4);
    EXPECT_FALSE(d.StartWithWindows);

    TDialogSettings w{false, -3, true};
    EXPECT_EQ(MessageOf([&] { DialogWriteSettings(w); }), "Error opening AutoRun registry key");
    ExpectDword(key.get(), "QuickMode", 0);
    ExpectDword(key.get(), "MaxHistorySteps", static_cast<uint32_t>(-3));
    EXPECT_FALSE(KeyExists(kAutoRunKey));  // never created
    w.StartWithWindows = false;
    EXPECT_EQ(MessageOf([&] { DialogWriteSettings(w); }), "Error opening AutoRun registry key");

    // The wizard does not need it.
    EXPECT_EQ(WizardReadSettings().MaxHistorySteps, -3);
    EXPECT_NO_THROW(WizardWriteSettings(true));
}

TEST_F(SettingsStore, SettingsKeyThatCannotBeOpenedOrCreated) {
    Run();
    // Under a volatile key only volatile keys can be made, so the settings
    // key can be neither opened nor created.
    HKEY raw = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(scratch_.get(), "Software\\Orvane", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    RegKey hold(raw);
    const std::string expected = "Error opening general registry key";
    EXPECT_EQ(MessageOf([] { WizardReadSettings(); }), expected);
    EXPECT_EQ(MessageOf([] { WizardWriteSettings(true); }), expected);
    TDialogSettings d{true, 7, true};
    EXPECT_EQ(MessageOf([&] { DialogReadSettings(d); }), expected);
    EXPECT_TRUE(d.QuickMode);  // untouched
    EXPECT_EQ(d.MaxHistorySteps, 7);
    EXPECT_EQ(MessageOf([&] { DialogWriteSettings(d); }), expected);
    EXPECT_EQ(ValueCount(kAutoRunKey), 0u);
}

TEST_F(SettingsStore, WriteFailuresNameTheirValueAndKeepWhatWasWritten) {
    {
        RegKey key = Settings();
        SetDword(key.get(), "QuickMode", 1);
        SetDword(key.get(), "MaxHistorySteps", 6);
        SetDword(key.get(), "LeaveInClipboard", 1);
    }
    RegKey run = Run();
    MakeReadOnly(kSettingsKey);
    EXPECT_EQ(MessageOf([] { WizardWriteSettings(false); }),
              "Error write LeaveInClipboard registry value");
    TDialogSettings d{false, 2, true};
    EXPECT_EQ(MessageOf([&] { DialogWriteSettings(d); }), "Error write QuickMode registry value");
    EXPECT_EQ(ValueCount(kAutoRunKey), 0u);  // stopped before the autorun key
    // Reading a key that cannot be written still works.
    TWizardSettings w = WizardReadSettings();
    EXPECT_TRUE(w.QuickMode);
    EXPECT_EQ(w.MaxHistorySteps, 6);
    EXPECT_TRUE(w.LeaveInClipboard);
}

TEST_F(SettingsStore, ReadOnlyAutoRunKeyFailsTheWriteButNotTheDelete) {
    RegKey key = Settings();
    MakeReadOnly(kAutoRunKey);
    TDialogSettings d{true, 12, true};
    EXPECT_EQ(MessageOf([&] { DialogWriteSettings(d); }), "Error write AutoRun value");
    ExpectDword(key.get(), "QuickMode", 1);
    ExpectDword(key.get(), "MaxHistorySteps", 12);
    d.StartWithWindows = false;
    EXPECT_NO_THROW(DialogWriteSettings(d));
    TDialogSettings back;
    EXPECT_NO_THROW(DialogReadSettings(back));
    EXPECT_FALSE(back.StartWithWindows);
}

// The autorun value written by a copy of this program that runs from a
// folder whose name has a space and a character outside the ANSI code page.
TEST_F(SettingsStore, AutoRunValueOfAProgramInAFolderWithASpace) {
    Run();
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring dir = std::wstring(temp) + L"Kestrix T\u00e9st \u03a9";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring exe = dir + L"\\settings copy.exe";
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(::CopyFileW(self, exe.c_str(), FALSE));

    std::string scratch = path_;
    ::SetEnvironmentVariableA(kChildScratchVar, scratch.c_str());
    std::wstring cmd = L"\"" + exe +
                       L"\" --gtest_also_run_disabled_tests "
                       L"--gtest_filter=AutoRunChild.DISABLED_WriteFromHere";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &si, &pi));
    ui::KernelHandle process(pi.hProcess), thread(pi.hThread);
    ::SetEnvironmentVariableA(kChildScratchVar, nullptr);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);

    RegKey run = Run();
    EXPECT_EQ(ReadString(run.get(), L"Kestrix"), L"\"" + exe + L"\"");
    TDialogSettings d;
    DialogReadSettings(d);
    EXPECT_TRUE(d.StartWithWindows);

    ::DeleteFileW(exe.c_str());
    ::RemoveDirectoryW(dir.c_str());
}

// Run only as the child of the test above.
TEST(AutoRunChild, DISABLED_WriteFromHere) {
    const char* scratch = std::getenv(kChildScratchVar);
    if (!scratch) GTEST_SKIP() << "only as a child";
    RegKey key;
    ASSERT_EQ(::RegOpenKeyA(HKEY_CURRENT_USER, scratch, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, key.get()), ERROR_SUCCESS);
    TDialogSettings d{false, 10, true};
    EXPECT_NO_THROW(DialogWriteSettings(d));
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
}

}  // namespace
