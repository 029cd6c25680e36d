// The settings dialog, opened from the tray menu as a user opens it, with
// the test plug-ins registered for real.
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "settings/KestrixOptionsUnit.h"
#include "settings/SettingsStore.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "tests/support/TrayDialog.h"
#include "ui/Dpi.h"
#include "ui/Strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>

using namespace ui;
using namespace testing_support;

namespace {

const char kUncreatable[] = "{5AAAAAAA-0000-4000-8000-000000000001}";

void SetDword(const char* name, DWORD value) {
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, sizeof value);
}

// Every value of the settings key and the autorun value, type and bytes.
std::string SettingsSnapshot() {
    std::string out;
    for (auto [path, only] : {std::pair<const char*, const char*>{kSettingsKey, nullptr},
                              {kAutoRunKey, kAutoRunValue}}) {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        RegKey owner(key);
        for (DWORD i = 0;; ++i) {
            char name[256];
            BYTE data[1024];
            DWORD nameLen = sizeof name, size = sizeof data, type = 0;
            if (::RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS)
                break;
            if (only && std::string(name) != only) continue;
            out += std::string(name) + "=" + std::to_string(type) + ":" +
                   std::string(reinterpret_cast<char*>(data), size) + ";";
        }
    }
    return out;
}

void AddPluginKey(const char* id) {
    HKEY key = nullptr;
    ::RegCreateKeyA(HKEY_CURRENT_USER, (std::string(kPluginsKey) + "\\" + id).c_str(), &key);
    RegKey owner(key);
}

std::string Line(const char* id) { return std::string(id) + "\r\n"; }

class KestrixOptionsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        settings_ = std::make_unique<SavedKey>(kSettingsKey);
        autorun_ = std::make_unique<SavedKey>(kAutoRunKey);
        // As in the program: the directory is served by this process.
        KestrixObjectFactory().RegisterClassObject();
    }
    static void TearDownTestSuite() {
        KestrixObjectFactory().RevokeClassObject();
        test_plugin::RunRegsvr32(false);
        autorun_.reset();
        settings_.reset();
    }
    void SetUp() override {
        DeleteUserKey(kPluginsKey);
        ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
        test_plugin::ClearSwitches();
        for (const char* name : {"QuickMode", "MaxHistorySteps", "LeaveInClipboard", "CaptureHotkey"})
            ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name);
        ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kAutoRunKey, kAutoRunValue);
        RecordedErrors().clear();
        list_ = CheckedPluginsPath();
        savedList_ = ReadBytes(list_);
        tray_ = std::make_unique<TKestrixWnd>();
        KestrixWnd = tray_.get();
        POINT pt;
        ASSERT_TRUE(PumpUntil([&] { return TrayIconPoint(pt); }, 5000)) << "no tray window";
    }
    void TearDown() override {
        tray_.reset();
        KestrixWnd = nullptr;
        if (savedList_ == "<missing>")
            std::filesystem::remove(list_);
        else
            WriteBytes(list_, savedList_);
        test_plugin::ClearSwitches();
    }

    // Opens the dialog, runs the steps, and expects it to have closed.
    static bool Run(std::function<std::vector<Step>(TKestrixOptions&)> steps) {
        return OpenFromTray<TKestrixOptions>("Options...", KestrixOptions,
                                             [steps](TKestrixOptions& d) {
                                                 ::SetForegroundWindow(d.Handle());
                                                 std::vector<Step> all = {{[] {}, [&d] {
                                                     // On the screen, so input reaches it.
                                                     POINT p{2, 2};
                                                     ::ClientToScreen(d.Handle(), &p);
                                                     return ScreenPixel(p.x, p.y) ==
                                                            ::GetSysColor(COLOR_BTNFACE);
                                                 }}};
                                                 for (Step& s : steps(d)) all.push_back(s);
                                                 RunSteps(all);
                                             });
    }
    static Step Click(TControl& c, std::function<bool()> until = [] { return true; }) {
        return {[&c] { ClickWindow(c.Handle()); }, until, 2};
    }
    static Step Key(WORD vk, std::function<bool()> until = [] { return true; }, int retries = 0) {
        return {[vk] {
                    // The keyboard goes to the message box when one shows.
                    HWND target = FindMessageBox();
                    if (!target && KestrixOptions) target = KestrixOptions->Handle();
                    if (target) ::SetForegroundWindow(target);
                    PressKey(vk);
                },
                until, retries};
    }
    // OK, then the dialog is gone: nothing may look at it afterwards.
    static Step Ok(TKestrixOptions& d) { return {[&d] { ClickWindow(d.Button1.Handle()); }}; }

    std::filesystem::path list_;
    std::string savedList_;
    std::unique_ptr<TKestrixWnd> tray_;
    static std::unique_ptr<SavedKey> settings_, autorun_;
};
std::unique_ptr<SavedKey> KestrixOptionsTest::settings_, KestrixOptionsTest::autorun_;

TEST_F(KestrixOptionsTest, WithoutPluginsQuickModeAsksForACheckedRowFirst) {
    DeleteUserKey(kPluginsKey);
    WriteBytes(list_, Line(test_plugin::PluginId('A')));
    int rows = -1;
    std::string message;
    bool stayedOpen = false;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        rows = d.ActionsView.Count();
        return {
            Click(d.cbQuickMode, [&d] { return d.cbQuickMode.Checked(); }),
            Click(d.Button1, [&] { return FindMessageBox(&message) != nullptr; }),
            Key(VK_RETURN, [] { return !FindMessageBox(); }),
            {[&] { stayedOpen = d.Visible() && d.ModalResult == mrNone; }},
            Click(d.cbQuickMode, [&d] { return !d.cbQuickMode.Checked(); }),
            Ok(d),
        };
    }));
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(message, "For QuickMode you will check some plugins for automatic activation.");
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(ReadBytes(list_), "");
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(KestrixOptionsTest, QuickModeWithOnlyACheckedRowWithoutDataAsksForARowFirst) {
    WriteBytes(list_, "");
    std::string message;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        // As a row whose identifiers did not convert: nothing of it is written.
        d.ActionsView.Item(0).Data.reset();
        d.ActionsView.Item(0).SetChecked(true);
        return {
            Click(d.cbQuickMode, [&d] { return d.cbQuickMode.Checked(); }),
            Click(d.Button1, [&] { return FindMessageBox(&message) != nullptr; }),
            Key(VK_RETURN, [] { return !FindMessageBox(); }),
            {[&d] { d.Close(); }},
        };
    }));
    EXPECT_EQ(message, "For QuickMode you will check some plugins for automatic activation.");
    EXPECT_FALSE(WizardReadSettings().QuickMode);
}

TEST_F(KestrixOptionsTest, ListsWhatCanBeCreatedAndSavesTheCheckedRowsUpperCase) {
    // Not a plug-in: its status fails, so it is simply missing.
    AddPluginKey(test_plugin::kNotAPluginId);
    std::string lowerA = test_plugin::PluginId('A');
    for (char& c : lowerA) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    WriteBytes(list_, lowerA + "\r\n" + Line("{11111111-2222-3333-4444-555555555555}"));
    SetDword("QuickMode", 0);
    SetDword("MaxHistorySteps", 10);
    std::vector<std::string> names, descriptions;
    std::vector<bool> checks;
    std::string steps;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        for (int i = 0; i < d.ActionsView.Count(); ++i) {
            names.push_back(d.ActionsView.Item(i).Caption());
            descriptions.push_back(d.ActionsView.Item(i).SubItem(0));
            checks.push_back(d.ActionsView.Item(i).Checked());
        }
        steps = d.seBufferSteps.Text();
        return {
            Click(d.cbQuickMode, [&d] { return d.cbQuickMode.Checked(); }),
            {[&d] { d.seBufferSteps.SetText("-5"); }},
            Ok(d),
        };
    }));
    // The registry lists its keys sorted: C, A, then B.
    EXPECT_EQ(names, (std::vector<std::string>{"Test plug-in C", "Test plug-in A", "Test plug-in B"}));
    EXPECT_EQ(descriptions[1], "Kestrix test plug-in A");
    EXPECT_EQ(checks, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(steps, "10");
    EXPECT_EQ(ReadBytes(list_), Line(test_plugin::PluginId('A')));
    TWizardSettings stored = WizardReadSettings();
    EXPECT_TRUE(stored.QuickMode);
    EXPECT_EQ(stored.MaxHistorySteps, -5);
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(KestrixOptionsTest, APluginThatCannotBeCreatedOrAProgIdIsNamedAndTheRestListedAndRead) {
    SetDword("QuickMode", 1);
    SetDword("MaxHistorySteps", 7);
    AddPluginKey(kUncreatable);
    std::vector<std::string> names;
    bool quick = true;
    std::string steps;
    auto look = [&](TKestrixOptions& d) -> std::vector<Step> {
        names.clear();
        for (int i = 0; i < d.ActionsView.Count(); ++i) {
            names.push_back(d.ActionsView.Item(i).Caption());
            EXPECT_FALSE(d.ActionsView.Item(i).Checked());
        }
        quick = d.cbQuickMode.Checked();
        steps = d.seBufferSteps.Text();
        return {{[&d] { d.Close(); }}};
    };
    ASSERT_TRUE(Run(look));
    EXPECT_EQ(names, (std::vector<std::string>{"Test plug-in C", "Test plug-in A", "Test plug-in B"}));
    EXPECT_TRUE(quick);
    EXPECT_EQ(steps, "7");
    ASSERT_EQ(RecordedErrors().size(), 1u);
    EXPECT_NE(RecordedErrors()[0].find(kUncreatable), std::string::npos) << RecordedErrors()[0];

    // A ProgID where the options class belongs: the row stays, without data.
    DeleteUserKey(std::string(kPluginsKey) + "\\" + kUncreatable);
    test_plugin::SetSwitchText('A', "OptionsObjectName", "KestrixTest.OptionsA");
    RecordedErrors().clear();
    ASSERT_TRUE(Run(look));
    EXPECT_EQ(names, (std::vector<std::string>{"Test plug-in C", "Test plug-in A", "Test plug-in B"}));
    ASSERT_EQ(RecordedErrors().size(), 1u);
    EXPECT_NE(RecordedErrors()[0].find("KestrixTest.OptionsA"), std::string::npos)
        << RecordedErrors()[0];
    RecordedErrors().clear();
}

TEST_F(KestrixOptionsTest, AnUndoFieldThatIsNoNumberStoresZero) {
    for (const char* text : {"", "-", "1.5"}) {
        SetDword("MaxHistorySteps", 3);
        ASSERT_TRUE(Run([text](TKestrixOptions& d) -> std::vector<Step> {
            return {{[&d, text] { d.seBufferSteps.SetText(text); }}, Ok(d)};
        }));
        EXPECT_EQ(WizardReadSettings().MaxHistorySteps, 0) << '"' << text << '"';
    }
}

TEST_F(KestrixOptionsTest, CancelEscapeAndTheCloseBoxSaveNothing) {
    SetDword("QuickMode", 0);
    SetDword("MaxHistorySteps", 4);
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kAutoRunKey, kAutoRunValue);
    WriteBytes(list_, Line(test_plugin::PluginId('B')) + "trailing text without a line end");
    const std::string registry = SettingsSnapshot(), file = ReadBytes(list_);
    auto changeAll = [](TKestrixOptions& d) {
        d.cbQuickMode.SetChecked(true);
        d.cbStartWithWindows.SetChecked(true);
        d.seBufferSteps.SetText("99");
        d.CaptureKeyField.SetHotKey(MAKEWORD('K', HOTKEYF_ALT));
        for (int i = 0; i < d.ActionsView.Count(); ++i)
            d.ActionsView.Item(i).SetChecked(!d.ActionsView.Item(i).Checked());
    };
    std::vector<std::function<Step(TKestrixOptions&)>> closers = {
        [](TKestrixOptions& d) { return Click(d.Button2); },
        [](TKestrixOptions&) { return Key(VK_ESCAPE); },
        [](TKestrixOptions& d) { return Step{[&d] { ::PostMessageA(d.Handle(), WM_CLOSE, 0, 0); }}; },
    };
    for (auto& closer : closers) {
        ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
            return {{[&d, changeAll] { changeAll(d); }}, closer(d)};
        }));
        EXPECT_EQ(SettingsSnapshot(), registry);
        EXPECT_EQ(ReadBytes(list_), file);
    }
    EXPECT_TRUE(RecordedErrors().empty());
}

TEST_F(KestrixOptionsTest, TheKeyboardWalksTheTabOrderAndSpaceTogglesAndEnterSaves) {
    DeleteUserKey(std::string(kPluginsKey) + "\\" + test_plugin::PluginId('B'));
    DeleteUserKey(std::string(kPluginsKey) + "\\" + test_plugin::PluginId('C'));
    SetDword("QuickMode", 0);
    WriteBytes(list_, "");
    std::vector<std::string> walk;
    auto focusName = [] {
        TControl* c = TControl::FromHandle(::GetFocus());
        return c ? c->Name() : std::string("?");
    };
    EXPECT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        walk.push_back(focusName());
        std::vector<Step> steps;
        for (int i = 0; i < 7; ++i)
            steps.push_back(Key(VK_TAB, [&walk, focusName] {
                if (focusName() == walk.back()) return false;
                walk.push_back(focusName());
                return true;
            }, i == 0 ? 2 : 0));
        // Back on Cancel: Shift+Tab to the capture key, the spin field, then the list.
        steps.push_back({[] {
            INPUT in[4] = {};
            for (auto& i : in) i.type = INPUT_KEYBOARD;
            in[0].ki.wVk = VK_SHIFT;
            in[1].ki.wVk = in[2].ki.wVk = VK_TAB;
            in[2].ki.dwFlags = KEYEVENTF_KEYUP;
            in[3].ki.wVk = VK_SHIFT;
            in[3].ki.dwFlags = KEYEVENTF_KEYUP;
            for (int i = 0; i < 3; ++i) ::SendInput(4, in, sizeof in[0]);
        }, [&d] { return d.ActionsView.Focused(); }});
        steps.push_back({[&d] { d.ActionsView.Item(0).SetSelected(true); }});
        steps.push_back(Key(VK_SPACE, [&d] { return d.ActionsView.Item(0).Checked(); }));
        steps.push_back({[&d] { d.cbQuickMode.SetFocus(); }});
        steps.push_back(Key(VK_SPACE, [&d] { return d.cbQuickMode.Checked(); }));
        steps.push_back(Key(VK_RETURN));
        return steps;
    }));
    EXPECT_EQ(walk, (std::vector<std::string>{"Button2", "Button1", "cbStartWithWindows",
                                              "cbQuickMode", "ActionsView", "seBufferSteps",
                                              "CaptureKeyField", "Button2"}));
    EXPECT_TRUE(WizardReadSettings().QuickMode) << "Enter is OK";
    EXPECT_EQ(ReadBytes(list_), Line(test_plugin::PluginId('A')));
}

TEST_F(KestrixOptionsTest, ACaptureKeyChosenHereReplacesPrintScreenAtOnceAndAfterARestart) {
    const WORD ctrlShiftF9 = MAKEWORD(VK_F9, HOTKEYF_CONTROL | HOTKEYF_SHIFT);
    WORD shown = 0;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        shown = d.CaptureKeyField.HotKey();
        return {
            Click(d.CaptureKeyField, [&d] { return d.CaptureKeyField.Focused(); }),
            {[] { PressKeys({VK_CONTROL, VK_SHIFT, VK_F9}); },
             [&d, ctrlShiftF9] { return d.CaptureKeyField.HotKey() == ctrlShiftF9; }, 2},
            Ok(d),
        };
    }));
    EXPECT_EQ(shown, VK_SNAPSHOT);
    DWORD stored = 0, size = sizeof stored;
    ::RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "CaptureHotkey", RRF_RT_REG_DWORD, nullptr,
                   &stored, &size);
    EXPECT_EQ(stored, 0x378u);
    // Print Screen is let go at once, and the new key captures.
    EXPECT_TRUE(::RegisterHotKey(nullptr, 9, 0, VK_SNAPSHOT));
    ::UnregisterHotKey(nullptr, 9);
    for (int start = 0; start < 2; ++start) {
        PressKeys({VK_CONTROL, VK_SHIFT, VK_F9});
        EXPECT_TRUE(PumpUntil([&] { return tray_->Capturing(); }, 5000)) << "start " << start;
        tray_->EndCapture();
        // The program started again holds the stored key.
        tray_.reset();
        tray_ = std::make_unique<TKestrixWnd>();
        KestrixWnd = tray_.get();
    }
    EXPECT_EQ(tray_->BalloonsShown(), 0);

    // Windows hands Print Screen to a window as a release alone.
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        return {
            Click(d.CaptureKeyField, [&d] { return d.CaptureKeyField.Focused(); }),
            {[] {
                 INPUT up{INPUT_KEYBOARD};
                 up.ki.wVk = VK_SNAPSHOT;
                 up.ki.dwFlags = KEYEVENTF_KEYUP;
                 ::SendInput(1, &up, sizeof up);
             },
             [&d] { return d.CaptureKeyField.HotKey() == VK_SNAPSHOT; }, 2},
            Ok(d),
        };
    }));
    EXPECT_EQ(ReadCaptureHotkey(), VK_SNAPSHOT);
}

TEST_F(KestrixOptionsTest, ABareLetterIsRefusedAsCaptureKeyButPauseAloneIsTaken) {
    SetDword("CaptureHotkey", 'A');
    const WORD ctrlAltA = MAKEWORD('A', HOTKEYF_CONTROL | HOTKEYF_ALT);
    WORD shown = 0;
    std::string message;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        shown = d.CaptureKeyField.HotKey();
        return {
            Click(d.Button1, [&] { return FindMessageBox(&message) != nullptr; }),
            Key(VK_RETURN, [] { return !FindMessageBox(); }),
            Click(d.CaptureKeyField, [&d] { return d.CaptureKeyField.Focused(); }),
            {[] { PressKey('A'); },
             [&d, ctrlAltA] { return d.CaptureKeyField.HotKey() == ctrlAltA; }, 2},
            {[] { PressKeys({VK_SHIFT, 'B'}); },
             [&d] { return d.CaptureKeyField.HotKey() == MAKEWORD('B', HOTKEYF_CONTROL | HOTKEYF_ALT); }},
            {[] { PressKey(VK_PAUSE); }, [&d] { return d.CaptureKeyField.HotKey() == VK_PAUSE; }, 2},
            Ok(d),
        };
    }));
    EXPECT_EQ(shown, 'A') << "the stored key is shown as it is";
    EXPECT_EQ(message, "The capture key needs Ctrl or Alt: only Print Screen, Pause and F1 to F24 "
                       "can start a capture alone.");
    EXPECT_EQ(ReadCaptureHotkey(), VK_PAUSE);
}

// What the capture-key field draws, from the metafile it paints itself into.
int CALLBACK CollectText(HDC, HANDLETABLE*, const ENHMETARECORD* r, int, LPARAM out) {
    const auto* t = reinterpret_cast<const EMREXTTEXTOUTW*>(r);
    if (r->iType == EMR_EXTTEXTOUTW)
        *reinterpret_cast<std::string*>(out) += Utf8(reinterpret_cast<const wchar_t*>(
            reinterpret_cast<const BYTE*>(r) + t->emrtext.offString), int(t->emrtext.nChars));
    return 1;
}
std::string FieldText(HWND field) {
    HDC dc = ::CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    ::SendMessageA(field, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    HENHMETAFILE picture = ::CloseEnhMetaFile(dc);
    std::string text;
    ::EnumEnhMetaFile(nullptr, picture, CollectText, &text, nullptr);
    ::DeleteEnhMetaFile(picture);
    return text;
}

TEST_F(KestrixOptionsTest, TheCaptureKeyFieldNamesExtendedKeysNotTheirKeypadTwins) {
    // X's names under Wine; none stored is Print Screen.
    const std::pair<WORD, const char*> keys[] = {
        {0, "Print"}, {MAKEWORD(VK_INSERT, HOTKEYF_CONTROL | HOTKEYF_ALT), "Control + Alt + Insert"},
        {MAKEWORD(VK_HOME, HOTKEYF_ALT), "Alt + Home"}};
    for (auto [stored, name] : keys) {
        if (stored) SetDword("CaptureHotkey", stored);
        std::string shown;
        ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
            shown = FieldText(d.CaptureKeyField.Handle());
            return {Ok(d)};
        }));
        EXPECT_EQ(shown, name);
        EXPECT_EQ(ReadCaptureHotkey(), stored ? stored : VK_SNAPSHOT) << name;
    }
}

TEST_F(KestrixOptionsTest, AWiderFontWrapsTheUndoLabelAndLeavesTheFieldWhereItIs) {
    RECT field{}, label{};
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        d.Label2.Font().SetHeight(-16);
        field = d.seBufferSteps.BoundsRect(), label = d.Label2.BoundsRect();
        return {{[&d] { d.Close(); }}};
    }));
    EXPECT_EQ(field.left, 443);
    EXPECT_LE(label.right, 439);
    EXPECT_GE(label.bottom - label.top, 32) << "two lines";
}

// The client area and control positions, as the child run reports them.
std::string LayoutReport(TKestrixOptions& d) {
    std::ostringstream out;
    RECT rc;
    ::GetClientRect(d.Handle(), &rc);
    out << "client " << rc.right << "x" << rc.bottom;
    for (TControl* c : std::initializer_list<TControl*>{
             &d.seBufferSteps, &d.Button2, &d.ActionsView, &d.cbStartWithWindows, &d.cbQuickMode,
             &d.CaptureKeyLabel, &d.CaptureKeyField, &d.Label2, &d.Bevel1, &d.Label1, &d.Button1}) {
        RECT b = c->BoundsRect();
        out << " " << c->Name() << " " << b.left << "," << b.top << "," << b.right - b.left << "x"
            << b.bottom - b.top;
    }
    return out.str();
}

const char kLayout96[] =
    "client 493x291 seBufferSteps 443,4,40x22 Button2 412,260,75x25 ActionsView 6,71,478x178"
    " cbStartWithWindows 6,7,197x17 cbQuickMode 6,27,199x17 CaptureKeyLabel 210,8,60x13"
    " CaptureKeyField 210,23,128x20 Label2 345,9,87x13 Bevel1 8,49,474x2 Label1 7,56,73x13"
    " Button1 334,260,75x25";
const char kLayout144[] =
    "client 740x437 seBufferSteps 665,6,60x33 Button2 618,390,113x38 ActionsView 9,107,717x267"
    " cbStartWithWindows 9,11,296x26 cbQuickMode 9,41,299x26 CaptureKeyLabel 315,12,89x20"
    " CaptureKeyField 315,35,192x30 Label2 518,14,132x20 Bevel1 12,74,711x3 Label1 11,84,110x20"
    " Button1 501,390,113x38";

TEST_F(KestrixOptionsTest, LaidOutInTheTablesPixelsAt96AndScaledAt144Dpi) {
    std::string here;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        here = LayoutReport(d);
        return {{[&d] { d.Close(); }}};
    }));
    EXPECT_EQ(here, kLayout96);

    // A new process reads the system DPI when it starts; its tray icon
    // must be the only one.
    tray_.reset();
    KestrixWnd = nullptr;
    SavedKey desktop("Control Panel\\Desktop");
    DWORD dpi = 144;
    ::RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &dpi,
                      sizeof dpi);
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ChildProcess child(std::string("\"") + self +
                       "\" --gtest_also_run_disabled_tests"
                       " --gtest_filter=KestrixOptionsTest.DISABLED_ReportLayout");
    ASSERT_EQ(child.Wait(60000), 0) << child.Output();
    EXPECT_NE(child.Output().find(std::string("layout: ") + kLayout144), std::string::npos)
        << child.Output();
}

// Run by the test above in a process of its own.
TEST_F(KestrixOptionsTest, DISABLED_ReportLayout) {
    std::string report;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        report = LayoutReport(d);
        return {{[&d] { d.Close(); }}};
    }));
    std::printf("layout: %s\n", report.c_str());
}

// What the DPI source answers, and the monitors it was asked about.
struct FakeMonitorDpi {
    explicit FakeMonitorDpi(int value) : dpi(value) {
        MonitorDpiSource = [this](HMONITOR m) {
            asked.push_back(m);
            return dpi;
        };
    }
    ~FakeMonitorDpi() { MonitorDpiSource = nullptr; }
    int dpi;
    std::vector<HMONITOR> asked;
};

TEST_F(KestrixOptionsTest, OpensAtTheDpiOfTheTraysMonitorCentredOnItsWorkArea) {
    FakeMonitorDpi source(144);
    std::string layout;
    RECT window{};
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        layout = LayoutReport(d);
        ::GetWindowRect(d.Handle(), &window);
        return {{[&d] { d.Close(); }}};
    }));
    EXPECT_EQ(layout, kLayout144);
    // The menu was just used at the tray icon: its monitor is the one.
    POINT icon;
    ASSERT_TRUE(TrayIconPoint(icon));
    const HMONITOR tray = ::MonitorFromPoint(icon, MONITOR_DEFAULTTOPRIMARY);
    ASSERT_FALSE(source.asked.empty());
    EXPECT_EQ(source.asked.back(), tray);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ::GetMonitorInfoA(tray, &info);
    EXPECT_NEAR(window.left + window.right, info.rcWork.left + info.rcWork.right, 1);
    EXPECT_NEAR(window.top + window.bottom, info.rcWork.top + info.rcWork.bottom, 1);
}

// Windows asks the size a form wants at the new DPI, then tells it the DPI
// and the rectangle to take; under Wine the source answers as the monitor
// would and the test sends what Windows sends.
TEST_F(KestrixOptionsTest, MovedToAMonitorOf144DpiLaysOutAsAt144AndBackAsAt96) {
    FakeMonitorDpi source(96);
    std::vector<std::string> seen;
    auto moveTo = [&](TKestrixOptions& d, int dpi, POINT corner) {
        source.dpi = dpi;
        SIZE size{};
        ::SendMessageA(d.Handle(), WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size));
        RECT suggested{corner.x, corner.y, corner.x + size.cx, corner.y + size.cy};
        ::SendMessageA(d.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
        RECT now{};
        ::GetWindowRect(d.Handle(), &now);
        std::ostringstream out;
        out << LayoutReport(d) << " at " << now.left << "," << now.top << " font "
            << d.Font().Height() << " column " << d.ActionsView.ColumnWidth(0);
        seen.push_back(out.str());
    };
    int column96 = 0;
    ASSERT_TRUE(Run([&](TKestrixOptions& d) -> std::vector<Step> {
        column96 = d.ActionsView.ColumnWidth(0);
        return {{[&] { moveTo(d, 144, {40, 30}); }},
                {[&] { moveTo(d, 96, {100, 90}); }},
                {[&d] { d.Close(); }}};
    }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::string(kLayout144) + " at 40,30 font -17 column " +
                           std::to_string(::MulDiv(column96, 3, 2)));
    EXPECT_EQ(seen[1], std::string(kLayout96) + " at 100,90 font -11 column " +
                           std::to_string(column96));
}

}  // namespace
