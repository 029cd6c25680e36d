// The picture survives what ends a run or a plug-in, seen from outside: the
// real program with the test plug-ins, a plug-in that faults or ends the
// process, "Exit" with the wizard open, and the next start.
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "settings/SettingsStore.h"
#include "tests/e2e/ProgramDriver.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "ui/Clipbrd.h"

#include <gtest/gtest.h>
#include <commctrl.h>

using namespace ui;
using namespace testing_support;

namespace {

const char kStale[] = "{0000ACC0-0000-4000-8000-00000000ACC0}";

// The program's message box, once it shows: its text; then closed with OK.
std::string AnswerMessage() {
    HWND box = Wait([] { return VisibleWindow("#32770", "Kestrix"); });
    if (!box) return "<none>";
    char text[1024] = {};
    ::GetWindowTextA(::GetDlgItem(box, 0xFFFF), text, sizeof text);
    Retry([box] { ClickWindow(Inside(box, "Button", "OK")); }, [box] { return !::IsWindow(box) || !::IsWindowVisible(box); });
    return text;
}

// The options page of a test plug-in has been given its plug-in.
bool PageShown(char letter) {
    const std::string page = std::string(1, letter) + " options";
    for (const std::string& l : test_plugin::LogLines())
        if (l.rfind(page, 0) == 0 && l.find("SetPlugin") != std::string::npos) return true;
    return false;
}

class RecoveryScenario : public testing::Test {
protected:
    void SetUp() override {
        ClearRecoveryStore();
        for (auto [name, value] : {std::pair{"MaxHistorySteps", 10}, {"QuickMode", 0}, {"LeaveInClipboard", 1}})
            ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, 4);
        DeleteUserKey(kPluginsKey);
        ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
        DeleteUserKey(std::string(kPluginsKey) + "\\" + test_plugin::PluginId('C'));
        test_plugin::ClearSwitches();
        test_plugin::ClearLog();
        list_ = CheckedPluginsPath();
        savedList_ = ReadBytes(list_);
        WriteBytes(list_, std::string(test_plugin::PluginId('A')) + "\r\n" + test_plugin::PluginId('B') + "\r\n");
    }
    void TearDown() override {
        test_plugin::ClearSwitches();
        test_plugin::RunRegsvr32(false);
        DeleteUserKey(kPluginsKey);
        if (savedList_ == "<missing>")
            std::filesystem::remove(list_);
        else
            WriteBytes(list_, savedList_);
        ClearRecoveryStore();
    }
    // Starts the program and waits for its icon.
    std::unique_ptr<ChildProcess> Start() {
        auto program = std::make_unique<ChildProcess>("\"" + BinPath("kestrix.exe") + "\"");
        EXPECT_TRUE(PumpUntil([&] { return TrayIconPoint(icon_); }, 20000));
        return program;
    }
    // A capture of 200 x 150 pixels at (300, 300) through the icon.
    HWND Capture() {
        if (!Retry([&] {
                MouseClick(icon_.x, icon_.y);
                MouseClick(icon_.x, icon_.y);
            }, [] { return VisibleWindow("TKestrixWnd") != nullptr; }, 8000))
            return nullptr;
        DragOut({300, 300}, {{400, 400}}, {500, 450});
        return Wait([] { return VisibleWindow("TAfterScreenShotWindow"); });
    }
    static bool Shows(HWND wizard, int x, int y, COLORREF c) { return PictureShows(wizard, x, y, c); }
    static bool Next(HWND wizard) {
        return Retry([wizard] { ClickWindow(Inside(wizard, "Button", "Next  >")); }, [] { return true; });
    }
    // Clicks a button of the wizard once it is there.
    static void Press(HWND wizard, const char* text) {
        HWND b = Wait([&] { return Inside(wizard, "Button", text); });
        ASSERT_NE(b, nullptr) << text;
        ClickWindow(b);
    }

    POINT icon_{};
    SavedKey settings_{kSettingsKey};
    PatternWindow pattern_{0, 60, false};
    std::filesystem::path list_;
    std::string savedList_;
};

TEST_F(RecoveryScenario, AStaleKeyAndAFaultingPluginLeaveTheOthersWorkingAndThePictureWhole) {
    {
        RegKey stale;
        ::RegCreateKeyA(HKEY_CURRENT_USER, (std::string(kPluginsKey) + "\\" + kStale).c_str(), stale.put());
    }
    test_plugin::SetSwitch('A', "ExecuteCrash", 1);
    auto program = Start();
    EndsProgram ends{*program, icon_};
    HWND wizard = Capture();
    ASSERT_NE(wizard, nullptr);
    // One message names the stale key; both working plug-ins stay listed.
    EXPECT_NE(AnswerMessage().find(kStale), std::string::npos);
    ASSERT_TRUE(PumpUntil([&] { return Shows(wizard, 10, 10, PatternColor(310, 310)); }));
    Press(wizard, "Next  >");
    HWND list = Wait([&] { return Inside(wizard, "SysListView32"); });
    ASSERT_TRUE(PumpUntil([&] { return ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2; }));
    Press(wizard, "Next  >");
    ASSERT_TRUE(PumpUntil([] { return PageShown('A'); }));
    Press(wizard, "Next  >");
    // A's Execute faults: the program says so and goes on with the picture.
    const std::string fault = AnswerMessage();
    EXPECT_NE(fault.find("The plug-in \"Test plug-in A\" stopped working (access violation at 0x"), std::string::npos)
        << fault;
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(wizard); }));
    Press(wizard, "Next  >");
    ASSERT_TRUE(PumpUntil([] { return PageShown('B'); }));
    Press(wizard, "Next  >");
    Press(wizard, "Close");
    ASSERT_TRUE(PumpUntil([] { return !::FindWindowA("TAfterScreenShotWindow", nullptr); }));
    TBitmap got;
    ASSERT_TRUE(Clipboard().GetBitmap(got));
    ASSERT_EQ(got.Width(), 200);
    EXPECT_EQ(got.PixelColor(10, 10), PatternColor(310, 310));
    EXPECT_EQ(got.PixelColor(199, 149), PatternColor(499, 449));
    DWORD leave = 0, size = sizeof leave;
    ::RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "LeaveInClipboard", RRF_RT_DWORD, nullptr, &leave, &size);
    EXPECT_EQ(leave, 1u);
    DeleteUserKey(std::string(kPluginsKey) + "\\" + kStale);
}

TEST_F(RecoveryScenario, APictureOutlivesAPluginThatEndsTheProcessAndAnExitWithTheWizardOpen) {
    WriteBytes(list_, std::string(test_plugin::PluginId('A')) + "\r\n");
    test_plugin::SetSwitch('A', "ExecuteCrash", 2);
    auto program = Start();
    HWND wizard = Capture();
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return EditorReady(wizard, 200, 150) && Shows(wizard, 10, 10, PatternColor(310, 310)); },
                          15000));
    // A stroke with the pen, then on to the plug-in, whose Execute ends it all.
    ASSERT_TRUE(PenStroke(wizard, 40, 20, 150));
    Press(wizard, "Next  >");
    ASSERT_TRUE(PumpUntil([&] { return Inside(wizard, "SysListView32") != nullptr; }));
    Press(wizard, "Next  >");
    ASSERT_TRUE(PumpUntil([] { return PageShown('A'); }));
    Press(wizard, "Next  >");
    EXPECT_EQ(program->Wait(20000), 3);
    test_plugin::ClearSwitches();

    // The next start says what happened and opens the edited picture.
    PumpUntil([] { return TrayWindow() == nullptr; }, 10000);
    program = Start();
    const std::string told = AnswerMessage();
    EXPECT_NE(told.find("while the plug-in \"Test plug-in A\" was running"), std::string::npos) << told;
    wizard = Wait([] { return VisibleWindow("TAfterScreenShotWindow"); });
    ASSERT_NE(wizard, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return Shows(wizard, 80, 40, clRed) && Shows(wizard, 10, 10, PatternColor(310, 310)); }));

    // "Exit" from the icon's menu with the wizard open keeps it for the next start...
    ASSERT_TRUE(ChooseFromMenu(icon_, true, mbRight));
    EXPECT_EQ(program->Wait(10000), 0);
    PumpUntil([] { return TrayWindow() == nullptr; }, 10000);
    program = Start();
    EXPECT_NE(AnswerMessage().find("ended unexpectedly"), std::string::npos);
    wizard = Wait([] { return VisibleWindow("TAfterScreenShotWindow"); });
    ASSERT_NE(wizard, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return Shows(wizard, 80, 40, clRed); }));
    // ...and Cancel lets it go: the start after that opens nothing.
    Press(wizard, "Cancel");
    ASSERT_TRUE(PumpUntil([] { return !::FindWindowA("TAfterScreenShotWindow", nullptr); }));
    ASSERT_TRUE(ChooseFromMenu(icon_, true, mbRight));
    EXPECT_EQ(program->Wait(10000), 0);
    PumpUntil([] { return TrayWindow() == nullptr; }, 10000);
    program = Start();
    EndsProgram ends{*program, icon_};
    Pump(2000);
    EXPECT_EQ(VisibleWindow("#32770", "Kestrix"), nullptr);
    EXPECT_EQ(VisibleWindow("TAfterScreenShotWindow"), nullptr);
}

// A plug-in that ends the process as the wizard lists it: the start after
// that meets the same end, the one after that leaves the plug-in out.
TEST_F(RecoveryScenario, APluginThatEndsEveryListingIsLeftOutAndThePictureStillOpens) {
    test_plugin::SetSwitch('A', "GetPluginInfoCrash", 2);
    auto program = Start();
    Capture();
    EXPECT_EQ(program->Wait(20000), 3);
    PumpUntil([] { return TrayWindow() == nullptr; }, 10000);
    program = Start();
    EXPECT_NE(AnswerMessage().find("ended unexpectedly"), std::string::npos);
    EXPECT_EQ(program->Wait(20000), 3);
    PumpUntil([] { return TrayWindow() == nullptr; }, 10000);
    program = Start();
    EndsProgram ends{*program, icon_};
    EXPECT_NE(AnswerMessage().find("ended unexpectedly"), std::string::npos);
    const std::string left = AnswerMessage();
    EXPECT_NE(left.find(test_plugin::PluginId('A')), std::string::npos) << left;
    EXPECT_NE(left.find("GetPluginInfo"), std::string::npos) << left;
    HWND wizard = Wait([] { return VisibleWindow("TAfterScreenShotWindow"); });
    ASSERT_NE(wizard, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return Shows(wizard, 10, 10, PatternColor(310, 310)); }));
    // B alone is listed.
    Press(wizard, "Next  >");
    HWND list = Wait([&] { return Inside(wizard, "SysListView32"); });
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 1; }));
    Press(wizard, "Cancel");
    ASSERT_TRUE(PumpUntil([] { return !::FindWindowA("TAfterScreenShotWindow", nullptr); }));
}

}  // namespace
