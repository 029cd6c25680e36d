// The whole program, started as a user starts it and driven through the
// real notification icon with real mouse input.
#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace ui;
using namespace testing_support;

namespace {

// Moves the real pointer and waits until the system has it there.
void MoveTo(int x, int y) {
    MouseMoveTo(x, y);
    PumpUntil([&] {
        POINT p;
        ::GetCursorPos(&p);
        return p.x == x && p.y == y;
    }, 2000);
}

void Button(DWORD flags) {
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    ::SendInput(1, &in, sizeof in);
}

HWND VisibleWindow(const char* cls, const char* title = nullptr) {
    HWND w = ::FindWindowA(cls, title);
    return w && ::IsWindowVisible(w) ? w : nullptr;
}

struct ProcessWindows {
    DWORD pid;
    int visible = 0;
};
BOOL CALLBACK CountVisible(HWND w, LPARAM lp) {
    auto* p = reinterpret_cast<ProcessWindows*>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    if (pid == p->pid && ::IsWindowVisible(w)) ++p->visible;
    return TRUE;
}

class WholeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TrayWindow(), nullptr) << "another program shows a tray icon";
        std::string cmd = "\"" + BinPath("kestrix.exe") + "\"";
        STARTUPINFOA si = {sizeof si};
        ASSERT_TRUE(::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &si, &pi_));
        process_.reset(pi_.hProcess);
        thread_.reset(pi_.hThread);
    }
    void TearDown() override {
        if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), 5000);
        }
    }
    int VisibleWindowsOfProgram() {
        ProcessWindows p{pi_.dwProcessId};
        ::EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&p));
        return p.visible;
    }

    PROCESS_INFORMATION pi_ = {};
    KernelHandle process_, thread_;
};

TEST_F(WholeProgram, CaptureThroughTheTrayIconThenExit) {
    PatternWindow pattern(0, 60, false);
    ASSERT_TRUE(PumpUntil([] { return TrayWindow() != nullptr; }, 20000));
    Pump(300);
    EXPECT_EQ(VisibleWindowsOfProgram(), 0);
    POINT icon;
    ASSERT_TRUE(TrayIconPoint(icon));

    // Double-click the icon: the frozen screen comes up.
    MouseClick(icon.x, icon.y);
    Pump(60);
    MouseClick(icon.x, icon.y);
    HWND capture = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (capture = VisibleWindow("TKestrixWnd")) != nullptr; },
                          10000));
    RECT rc;
    ::GetWindowRect(capture, &rc);
    EXPECT_EQ(rc.right - rc.left, ::GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(rc.bottom - rc.top, ::GetSystemMetrics(SM_CYSCREEN));
    Pump(300);

    // Drag out 200 x 150 pixels from (300, 300), ending somewhere else.
    MoveTo(300, 300);
    Button(MOUSEEVENTF_LEFTDOWN);
    Pump(50);
    MoveTo(350, 330);
    MoveTo(600, 500);
    MoveTo(500, 450);
    Pump(50);
    Button(MOUSEEVENTF_LEFTUP);
    HWND wizard = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] { return (wizard = VisibleWindow("TAfterScreenShotWindow")) != nullptr; }, 10000));
    EXPECT_EQ(VisibleWindow("TKestrixWnd"), nullptr);

    // The hand-over window shows exactly the selected picture.
    HWND image = ::FindWindowExA(wizard, nullptr, "TImage", nullptr);
    ASSERT_NE(image, nullptr);
    POINT org{0, 0};
    ::ClientToScreen(image, &org);
    auto shown = [&] {
        return ScreenPixel(org.x, org.y) == PatternColor(300, 300) &&
               ScreenPixel(org.x + 199, org.y + 149) == PatternColor(499, 449);
    };
    EXPECT_TRUE(PumpUntil(shown, 5000));
    int bad = 0;
    for (int y = 0; y < 150; y += 7)
        for (int x = 0; x < 200; x += 3)
            if (ScreenPixel(org.x + x, org.y + y) != PatternColor(300 + x, 300 + y)) ++bad;
    EXPECT_EQ(bad, 0);
    EXPECT_NE(ScreenPixel(org.x + 200, org.y + 10), PatternColor(500, 310));
    EXPECT_NE(ScreenPixel(org.x + 10, org.y + 150), PatternColor(310, 450));

    // Close it with its button.
    HWND close = ::FindWindowExA(wizard, nullptr, "Button", "Close");
    ASSERT_NE(close, nullptr);
    ClickWindow(close);
    ASSERT_TRUE(PumpUntil([] { return ::FindWindowA("TAfterScreenShotWindow", nullptr) == nullptr; },
                          5000));
    Pump(200);
    EXPECT_EQ(VisibleWindowsOfProgram(), 0);

    // Right-click the icon and choose "Exit", the menu's last item.
    MouseClick(icon.x, icon.y, mbRight);
    HWND menu = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (menu = VisibleWindow("#32768")) != nullptr; }, 5000));
    ::GetWindowRect(menu, &rc);
    EXPECT_EQ(rc.left, icon.x);
    EXPECT_EQ(rc.top, icon.y);
    Pump(100);
    MouseClick(rc.left + 20, rc.bottom - 10);
    EXPECT_EQ(::WaitForSingleObject(process_.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(process_.get(), &code);
    EXPECT_EQ(code, 0u);
    // The icon went with it: the shell's tray has nothing left to show.
    EXPECT_TRUE(PumpUntil([] { return TrayWindow() == nullptr; }, 5000));
}

}  // namespace
