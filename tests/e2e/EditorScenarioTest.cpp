// The editor as a user meets it: the real program started, a capture made
// through the tray icon, a stroke drawn with the real mouse, Ctrl+Z, "1 bit",
// and the picture left in the clipboard.
#include "settings/SettingsStore.h"
#include "tests/e2e/ProgramDriver.h"
#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestSupport.h"
#include "ui/Clipbrd.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace ui;
using namespace testing_support;

namespace {

TEST(EditorScenario, AStrokeUndoneThenOneBitLeavesAOneBitPictureInTheClipboard) {
    SavedKey settings(kSettingsKey);
    for (auto [name, value] : {std::pair{"MaxHistorySteps", 10}, {"QuickMode", 0}, {"LeaveInClipboard", 0}})
        ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, REG_DWORD, &value, 4);
    ClearRecoveryStore();
    ASSERT_EQ(TrayWindow(), nullptr) << "another program shows a tray icon";
    PatternWindow pattern(0, 60, false);
    ChildProcess program("\"" + BinPath("kestrix.exe") + "\"");
    POINT icon;
    ASSERT_TRUE(PumpUntil([&] { return TrayIconPoint(icon); }, 20000));
    EndsProgram ends{program, icon};

    // Capture 200 x 150 pixels from (300, 300).
    ASSERT_TRUE(Retry([&] {
        MouseClick(icon.x, icon.y);
        MouseClick(icon.x, icon.y);
    }, [] { return VisibleWindow("TKestrixWnd") != nullptr; }, 8000));
    DragOut({300, 300}, {{400, 400}}, {500, 450});
    HWND wizard = Wait([] { return VisibleWindow("TAfterScreenShotWindow"); });
    ASSERT_NE(wizard, nullptr);
    HWND image = Wait([&] { return Inside(Inside(wizard, "TScrollBox"), "TImage"); });
    HWND bar = Inside(wizard, "ToolbarWindow32");
    ASSERT_TRUE(image && bar);
    auto shows = [&](int x, int y, COLORREF c) {
        POINT p = At(image, x, y);
        return ScreenPixel(p.x, p.y) == c;
    };
    // Waits are long: on a loaded machine the wizard takes its time.
    ASSERT_TRUE(PumpUntil([&] { return EditorReady(wizard, 200, 150) && shows(10, 10, PatternColor(310, 310)); },
                          15000))
        << "active " << (::GetForegroundWindow() == wizard) << ", centred " << EditorReady(wizard, 200, 150)
        << ", shown " << shows(10, 10, PatternColor(310, 310));

    ASSERT_TRUE(PenStroke(wizard, 40, 20, 150));
    // Ctrl+Z takes it away.
    ASSERT_TRUE(Retry([] { PressKeys({VK_CONTROL, 'Z'}); }, [&] {
        return shows(80, 40, PatternColor(380, 340)) && shows(20, 40, PatternColor(320, 340));
    }));

    // "1 bit", the first item of the settings button's menu.
    ASSERT_TRUE(ChooseFromMenu(At(bar, 11, 6 * 22 + 11), false));

    // Skip to the end, tick the clipboard box and close.
    ClickWindow(Inside(wizard, "Button", "Next  >"));
    ClickWindow(Wait([&] { return Inside(wizard, "Static", "Skip"); }));
    HWND box = Wait([&] { return Inside(wizard, "Button", "Leave screen-shot in Clipboard"); });
    ClickWindow(box);
    ASSERT_TRUE(PumpUntil([&] { return ::SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }));
    ClickWindow(Inside(wizard, "Button", "Close"));
    ASSERT_TRUE(PumpUntil([] { return !::FindWindowA("TAfterScreenShotWindow", nullptr); }));

    // The captured picture at one bit, as the program's conversion makes it.
    TBitmap expected(200, 150, pf32bit), got;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) expected.Canvas().SetPixels(x, y, PatternColor(300 + x, 300 + y));
    expected.SetPixelFormat(pf1bit);
    ASSERT_TRUE(Clipboard().GetBitmap(got));
    EXPECT_EQ(got.PixelFormat(), pf1bit);
    ASSERT_EQ(got.Width(), 200);
    ASSERT_EQ(got.Height(), 150);
    int differ = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) differ += got.PixelColor(x, y) != expected.PixelColor(x, y);
    EXPECT_EQ(differ, 0);

}

}  // namespace
