// The editor as a user meets it: the real program started, a capture made
// through the tray icon, a stroke drawn with the real mouse, Ctrl+Z, "1 bit",
// and the picture left in the clipboard.
#include "settings/SettingsStore.h"
#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestSupport.h"
#include "ui/Clipbrd.h"

#include <gtest/gtest.h>

#include <string>

using namespace ui;
using namespace testing_support;

namespace {

void MoveTo(int x, int y) {
    MouseMoveTo(x, y);
    PumpUntil([&] {
        POINT p;
        ::GetCursorPos(&p);
        return p.x == x && p.y == y;
    }, 2000);
}

HWND VisibleWindow(const char* cls) {
    HWND w = ::FindWindowA(cls, nullptr);
    return w && ::IsWindowVisible(w) ? w : nullptr;
}

// A visible window of the class (and text) anywhere inside parent.
HWND Inside(HWND parent, const char* cls, const char* text = nullptr) {
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

// The middle of the tool bar's button at a position: 23 x 22 pixels each,
// one under the other.
POINT ToolButton(HWND bar, int index) { return At(bar, 11, index * 22 + 11); }

TEST(EditorScenario, AStrokeUndoneThenOneBitLeavesAOneBitPictureInTheClipboard) {
    SavedKey settings(kSettingsKey);
    DWORD ten = 10, off = 0;
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "MaxHistorySteps", REG_DWORD, &ten, 4);
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "QuickMode", REG_DWORD, &off, 4);
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "LeaveInClipboard", REG_DWORD, &off, 4);
    ASSERT_EQ(TrayWindow(), nullptr) << "another program shows a tray icon";
    PatternWindow pattern(0, 60, false);
    ChildProcess program("\"" + BinPath("kestrix.exe") + "\"");
    ASSERT_TRUE(PumpUntil([] { return TrayWindow() != nullptr; }, 20000));
    POINT icon;
    ASSERT_TRUE(TrayIconPoint(icon));

    // Capture 200 x 150 pixels from (300, 300).
    MouseClick(icon.x, icon.y);
    Pump(60);
    MouseClick(icon.x, icon.y);
    ASSERT_TRUE(PumpUntil([] { return VisibleWindow("TKestrixWnd") != nullptr; }, 10000));
    Pump(300);
    MoveTo(300, 300);
    MouseLeftDown(300, 300);
    Pump(50);
    MoveTo(400, 400);
    MoveTo(500, 450);
    Pump(50);
    MouseLeftUp(500, 450);
    HWND wizard = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (wizard = VisibleWindow("TAfterScreenShotWindow")) != nullptr; },
                          10000));
    HWND image = nullptr, bar = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        HWND viewport = Inside(wizard, "TScrollBox");
        image = viewport ? Inside(viewport, "TImage") : nullptr;
        bar = Inside(wizard, "ToolbarWindow32");
        RECT r{};
        if (image) ::GetWindowRect(image, &r);
        return image && bar && r.right - r.left == 200;
    }, 10000));
    EXPECT_TRUE(PumpUntil([&] { return ::GetForegroundWindow() == wizard; }));
    auto shows = [&](int x, int y, COLORREF c) {
        POINT p = At(image, x, y);
        return ScreenPixel(p.x, p.y) == c;
    };
    ASSERT_TRUE(PumpUntil([&] { return shows(10, 10, PatternColor(310, 310)); }));

    // The pen, and a stroke across the picture.
    POINT paint = ToolButton(bar, 1);
    MouseClick(paint.x, paint.y);
    Pump(100);
    POINT a = At(image, 20, 40), b = At(image, 150, 40);
    MoveTo(a.x, a.y);
    MouseLeftDown(a.x, a.y);
    for (int x = a.x; x <= b.x; x += 10) MoveTo(x, a.y);
    MoveTo(b.x, b.y);
    MouseLeftUp(b.x, b.y);
    ASSERT_TRUE(PumpUntil([&] { return shows(80, 40, RGB(255, 0, 0)) && shows(150, 40, RGB(255, 0, 0)); }));

    // Ctrl+Z takes it away.
    PressKeys({VK_CONTROL, 'Z'});
    ASSERT_TRUE(PumpUntil([&] { return shows(80, 40, PatternColor(380, 340)); }));

    // "1 bit", the first item of the menu at the settings button.
    POINT settingsButton = ToolButton(bar, 6);
    MouseClick(settingsButton.x, settingsButton.y);
    HWND menu = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (menu = VisibleWindow("#32768")) != nullptr; }, 5000));
    RECT rc;
    ::GetWindowRect(menu, &rc);
    Pump(100);
    MouseClick(rc.left + 20, rc.top + 10);
    ASSERT_TRUE(PumpUntil([&] { return !VisibleWindow("#32768"); }));

    // Skip to the end, tick the clipboard box and close.
    HWND next = Inside(wizard, "Button", "Next  >");
    ASSERT_NE(next, nullptr);
    ClickWindow(next);
    HWND skip = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (skip = Inside(wizard, "Static", "Skip")) != nullptr; }, 5000));
    ClickWindow(skip);
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        return (box = Inside(wizard, "Button", "Leave screen-shot in Clipboard")) != nullptr;
    }, 5000));
    ClickWindow(box);
    ASSERT_TRUE(PumpUntil([&] { return ::SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000));
    HWND close = Inside(wizard, "Button", "Close");
    ASSERT_NE(close, nullptr);
    ClickWindow(close);
    ASSERT_TRUE(PumpUntil([] { return ::FindWindowA("TAfterScreenShotWindow", nullptr) == nullptr; }, 5000));

    // The captured picture at one bit, as the program's conversion makes it.
    TBitmap expected(200, 150, pf32bit);
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) expected.Canvas().SetPixels(x, y, PatternColor(300 + x, 300 + y));
    expected.SetPixelFormat(pf1bit);
    TBitmap got;
    ASSERT_TRUE(Clipboard().GetBitmap(got));
    EXPECT_EQ(got.PixelFormat(), pf1bit);
    ASSERT_EQ(got.Width(), 200);
    ASSERT_EQ(got.Height(), 150);
    int differ = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) differ += got.PixelColor(x, y) != expected.PixelColor(x, y);
    EXPECT_EQ(differ, 0);

    // "Exit", the last item of the icon's menu.
    MouseClick(icon.x, icon.y, mbRight);
    ASSERT_TRUE(PumpUntil([&] { return (menu = VisibleWindow("#32768")) != nullptr; }, 5000));
    ::GetWindowRect(menu, &rc);
    Pump(100);
    MouseClick(rc.left + 20, rc.bottom - 10);
    EXPECT_TRUE(PumpUntil([] { return TrayWindow() == nullptr; }, 10000));
}

}  // namespace
