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

// A visible window of the class (and text) anywhere inside parent.
HWND Inside(HWND parent, const char* cls, const char* text = nullptr) {
    if (!parent) return nullptr;
    for (HWND w = ::GetWindow(parent, GW_CHILD); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
        char c[64] = {}, t[128] = {};
        ::GetClassNameA(w, c, sizeof c);
        ::GetWindowTextA(w, t, sizeof t);
        if (!::IsWindowVisible(w)) continue;
        if (std::string(c) == cls && (!text || std::string(t) == text)) return w;
        if (HWND found = Inside(w, cls, text)) return found;
    }
    return nullptr;
}

// Screen point of a window's client point.
POINT At(HWND w, int x, int y) {
    POINT p{x, y};
    ::ClientToScreen(w, &p);
    return p;
}
// The window find() gives, once it gives one.
HWND Wait(const std::function<HWND()>& find) {
    HWND w = nullptr;
    PumpUntil([&] { return (w = find()) != nullptr; }, 10000);
    return w;
}
// A press at a screen point, once the window under it holds the mouse.
void PressAt(POINT p) {
    MoveTo(p.x, p.y);
    MouseLeftDown(p.x, p.y);
    PumpUntil([&] {
        GUITHREADINFO gi{sizeof gi};
        return ::GetGUIThreadInfo(::GetWindowThreadProcessId(::WindowFromPoint(p), nullptr), &gi) &&
               gi.hwndCapture;
    }, 5000);
}
// Acts until done() holds, three times at most: input that reaches a
// window still waking up is lost now and then.
bool Retry(const std::function<void()>& act, const std::function<bool()>& done, DWORD ms = 3000) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        act();
        if (PumpUntil(done, ms)) return true;
    }
    return false;
}
// Opens a popup menu by a click at a screen point, and clicks its first or
// last line.
bool ChooseFromMenu(POINT at, bool last, TMouseButton button = mbLeft) {
    if (!Retry([at, button] { MouseClick(at.x, at.y, button); }, [] { return VisibleWindow("#32768") != nullptr; }))
        return false;
    RECT rc{};
    ::GetWindowRect(VisibleWindow("#32768"), &rc);
    MouseClick(rc.left + 20, last ? rc.bottom - 10 : rc.top + 10);
    return PumpUntil([] { return !VisibleWindow("#32768"); });
}
// Ends the program as a user would, also after a failed step: the wizard's
// Cancel, then "Exit" from the icon's menu; a killed server would stay
// registered for the tests after this one.
struct EndsProgram {
    ChildProcess& program;
    POINT icon;
    ~EndsProgram() {
        if (HWND wizard = ::FindWindowA("TAfterScreenShotWindow", nullptr)) {
            ::PostMessageA(wizard, WM_CLOSE, 0, 0);
            PumpUntil([] { return !::FindWindowA("TAfterScreenShotWindow", nullptr); });
        }
        if (program.Running()) ChooseFromMenu(icon, true, mbRight);
        EXPECT_EQ(program.Wait(10000), 0);
        PumpUntil([] { return TrayWindow() == nullptr; }, 10000);
    }
};

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
    ASSERT_TRUE(Retry([] {
        PressAt({300, 300});
        MoveTo(400, 400);
        MoveTo(500, 450);
        MouseLeftUp(500, 450);
    }, [] { return VisibleWindow("TAfterScreenShotWindow") != nullptr; }));
    HWND wizard = Wait([] { return VisibleWindow("TAfterScreenShotWindow"); });
    ASSERT_NE(wizard, nullptr);
    HWND image = Wait([&] { return Inside(Inside(wizard, "TScrollBox"), "TImage"); });
    HWND bar = Inside(wizard, "ToolbarWindow32");
    ASSERT_TRUE(image && bar);
    auto shows = [&](int x, int y, COLORREF c) {
        POINT p = At(image, x, y);
        return ScreenPixel(p.x, p.y) == c;
    };
    ASSERT_TRUE(PumpUntil([&] { return shows(10, 10, PatternColor(310, 310)) && ::GetForegroundWindow() == wizard; }));

    // The pen (second button, 22 pixels apart), and a stroke.
    ASSERT_TRUE(Retry([&] {
        POINT paint = At(bar, 11, 22 + 11);
        MouseClick(paint.x, paint.y);
        PressAt(At(image, 20, 40));
        for (int x = 20; x <= 150; x += 10) MoveTo(At(image, x, 40).x, At(image, x, 40).y);
        MouseLeftUp(At(image, 150, 40).x, At(image, 150, 40).y);
    }, [&] { return shows(80, 40, clRed) && shows(150, 40, clRed); }));
    // Ctrl+Z takes it away (again, should the stroke have been made twice).
    ASSERT_TRUE(Retry([] { PressKeys({VK_CONTROL, 'Z'}); },
                      [&] { return shows(80, 40, PatternColor(380, 340)); }));

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
