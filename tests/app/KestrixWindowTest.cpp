// The tray window and the capture, driven in-process with real messages
// over a known pattern on the screen.
#include "app/KestrixWindow.h"
#include "about/AboutUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "settings/KestrixOptionsUnit.h"
#include "settings/SettingsStore.h"
#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestSupport.h"
#include "ui/BitmapFile.h"
#include "ui/Dpi.h"
#include "ui/Exception.h"
#include "wizard/AfterScreenShotWindowUnit.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <windowsx.h>

#include <cstdio>
#include <filesystem>
#include <memory>

using namespace ui;
using namespace testing_support;

namespace {

void MoveCursor(int x, int y) {
    ::SetCursorPos(x, y);
    PumpUntil([&] {
        POINT p;
        ::GetCursorPos(&p);
        return p.x == x && p.y == y;
    }, 2000);
}

HWND VisibleMenuWindow() {
    HWND menu = ::FindWindowA("#32768", nullptr);
    return menu && ::IsWindowVisible(menu) ? menu : nullptr;
}

struct Handed {
    bool opened = false;
    int width = -1, height = -1;
    std::unique_ptr<TBitmap> picture;
};

class KestrixWindowTest : public ::testing::Test {
protected:
    // As in the program, the dialogs' plug-in directory is served here.
    static void SetUpTestSuite() { KestrixObjectFactory().RegisterClassObject(); }
    static void TearDownTestSuite() { KestrixObjectFactory().RevokeClassObject(); }
    void SetUp() override {
        RecordedErrors().clear();
        pattern_ = std::make_unique<PatternWindow>(0);
        wnd_ = std::make_unique<TKestrixWnd>();
        KestrixWnd = wnd_.get();
        // Let focus changes that the display still owes the last test arrive.
        Pump(300);
    }
    void TearDown() override {
        wnd_.reset();
        KestrixWnd = nullptr;
        pattern_.reset();
        TForm::CreationHook = nullptr;
        // A wizard that failed keeps its picture for the next start.
        ClearRecoveryStore();
        EXPECT_TRUE(RecordedErrors().empty()) << RecordedErrors().front();
    }

    HWND Img() { return wnd_->Image.Handle(); }

    // Starts a capture and lets the display settle. Without a window manager
    // the X focus sometimes moves away from a window shown again a moment
    // later, which rightly ends the capture: such a start is tried again.
    void StartCapture() {
        for (int attempt = 0; attempt < 4; ++attempt) {
            wnd_->TakeScreenshot();
            Pump(150);
            if (wnd_->Capturing()) return;
            pattern_->WaitShown();
        }
        FAIL() << "the capture window kept losing the focus";
    }
    void Send(UINT msg, WPARAM keys, int x, int y) {
        ::SendMessageA(Img(), msg, keys, MAKELPARAM(x, y));
    }

    // Arms a watcher that takes the handed-over picture and closes the
    // wizard, then sends the release that starts the hand-over.
    Handed Release(UINT upMsg, int x, int y) {
        Handed h;
        WhenReady([] { return AfterScreenShotWindow && AfterScreenShotWindow->Visible(); },
                  [&h] {
                      TBitmap& b = AfterScreenShotWindow->ScreenShot.Picture.Bitmap();
                      h.opened = true;
                      h.width = b.Width();
                      h.height = b.Height();
                      h.picture = std::make_unique<TBitmap>();
                      h.picture->Assign(b);
                      AfterScreenShotWindow->ModalResult = mrOk;
                  },
                  3000);
        Send(upMsg, 0, x, y);
        PumpUntil([] { return !PendingWhenReady(); }, 4000);
        // The screen needs its pattern back before the next capture.
        EXPECT_TRUE(pattern_->WaitShown());
        return h;
    }

    void ExpectIdle() {
        EXPECT_FALSE(wnd_->Capturing());
        EXPECT_FALSE(wnd_->Visible());
        EXPECT_EQ(Screen.Cursor(), crDefault);
        EXPECT_TRUE(wnd_->Image.Picture.Bitmap().Empty());
        EXPECT_EQ(AfterScreenShotWindow, nullptr);
    }

    // Counts the pixels of a picture that differ from the pattern at an
    // offset, leaving out a hole (in screen pixels).
    static int Mismatches(TBitmap& pic, int left, int top, int variant = 0, RECT hole = {}) {
        int bad = 0;
        for (int y = 0; y < pic.Height(); ++y)
            for (int x = 0; x < pic.Width(); ++x)
                if (!::PtInRect(&hole, POINT{left + x, top + y}) &&
                    pic.PixelColor(x, y) != PatternColor(left + x, top + y, variant))
                    ++bad;
        return bad;
    }

    // A click after hovering and turning the wheel (in notches, towards the
    // user when positive) at one point; the hover frame shows at `edge`.
    Handed Click(POINT at, std::initializer_list<int> notches = {}, POINT edge = {-1, -1}) {
        MoveCursor(at.x, at.y);
        StartCapture();
        Send(WM_MOUSEMOVE, 0, at.x, at.y);
        if (edge.x >= 0)
            EXPECT_TRUE(PumpUntil([&] {
                return ScreenPixel(edge.x, edge.y) !=
                       wnd_->Image.Picture.Bitmap().PixelColor(edge.x, edge.y);
            }, 3000)) << "no frame on the screen";
        for (int n : notches)
            ::SendMessageA(wnd_->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, -n * WHEEL_DELTA),
                           MAKELPARAM(at.x, at.y));
        Send(WM_LBUTTONDOWN, MK_LBUTTON, at.x, at.y);
        Send(WM_MOUSEMOVE, MK_LBUTTON, at.x + 1, at.y);
        return Release(WM_LBUTTONUP, at.x + 1, at.y);
    }

    std::unique_ptr<PatternWindow> pattern_;
    std::unique_ptr<TKestrixWnd> wnd_;
};

TEST_F(KestrixWindowTest, CreationInstallsTheIconRecordAndShowsNothing) {
    const NotifyIconData88& d = wnd_->IconData();
    EXPECT_EQ(d.cbSize, 88u);
    EXPECT_EQ(d.uID, 0u);
    EXPECT_EQ(d.uFlags, 7u);
    EXPECT_EQ(d.uCallbackMessage, 45140u);
    EXPECT_STREQ(d.szTip, "Kestrix");
    EXPECT_NE(d.hIcon, nullptr);
    ASSERT_TRUE(::IsWindow(d.hWnd));
    EXPECT_FALSE(::IsWindowVisible(d.hWnd));
    EXPECT_FALSE(wnd_->Visible());
    // The icon is there: the shell knows it.
    NotifyIconData88 probe = d;
    EXPECT_TRUE(::Shell_NotifyIconA(NIM_MODIFY, reinterpret_cast<NOTIFYICONDATAA*>(&probe)));

    HMENU menu = wnd_->TrayMenu.Handle();
    ASSERT_EQ(::GetMenuItemCount(menu), 5);
    const char* captions[] = {"Get Screenshot!", "", "Options...", "About...", "Exit"};
    for (int i = 0; i < 5; ++i) {
        char text[64] = {};
        ::GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, captions[i]);
    }
    EXPECT_EQ(::GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
    EXPECT_EQ(::GetMenuDefaultItem(menu, TRUE, 0), 0u);
}

TEST_F(KestrixWindowTest, TheWindowsMenuItemsStayItsOwnAsTheMenuGrows) {
    for (int i = 0; i < 100; ++i) wnd_->TrayMenu.Add({"More"});
    EXPECT_EQ(&wnd_->TrayMenu.Items(0), &wnd_->GetScreenshot1);
    EXPECT_EQ(&wnd_->TrayMenu.Items(4), &wnd_->Exit1);
    wnd_->Options1.SetEnabled(false);
    EXPECT_EQ(::GetMenuState(wnd_->TrayMenu.Handle(), 2, MF_BYPOSITION) & MF_GRAYED,
              UINT(MF_GRAYED));
    EXPECT_EQ(wnd_->About1.Caption(), "About...");
}

TEST_F(KestrixWindowTest, TheIconComesBackWhenTheTaskbarIsCreatedAgain) {
    NotifyIconData88 probe = wnd_->IconData();
    auto shown = [&] {
        return ::Shell_NotifyIconA(NIM_MODIFY, reinterpret_cast<NOTIFYICONDATAA*>(&probe)) != FALSE;
    };
    const UINT taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
    // The shell still has the icon: adding it again fails, and that failure
    // is no error of the program's.
    ::SendMessageA(wnd_->IconData().hWnd, taskbarCreated, 0, 0);
    EXPECT_TRUE(shown());
    // A new shell without it: it comes back.
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, reinterpret_cast<NOTIFYICONDATAA*>(&probe)));
    EXPECT_FALSE(shown());
    ::SendMessageA(wnd_->IconData().hWnd, taskbarCreated, 0, 0);
    EXPECT_TRUE(shown());
    // Without an icon the program runs on: a capture still starts.
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, reinterpret_cast<NOTIFYICONDATAA*>(&probe)));
    ::SendMessageA(wnd_->IconData().hWnd, WM_TRAYICON, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(wnd_->Capturing());
    ::PostMessageA(wnd_->Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    EXPECT_TRUE(PumpUntil([&] { return !wnd_->Capturing(); }));
}

TEST_F(KestrixWindowTest, OnlyDoubleClickAndRightReleaseAct) {
    HWND tray = wnd_->IconData().hWnd;
    bool menuSeen = false;
    const LPARAM inert[] = {WM_MOUSEMOVE,     WM_LBUTTONDOWN, WM_LBUTTONUP,
                            WM_RBUTTONDOWN,   WM_RBUTTONDBLCLK, WM_MBUTTONDOWN,
                            WM_MBUTTONUP,     WM_MBUTTONDBLCLK};
    for (LPARAM lp : inert) {
        WhenReady([] { return VisibleMenuWindow() != nullptr; },
                  [&] { menuSeen = true; ::EndMenu(); }, 200);
        ::SendMessageA(tray, WM_TRAYICON, 0, lp);
        PumpUntil([] { return !PendingWhenReady(); }, 1000);
        EXPECT_FALSE(menuSeen) << lp;
        EXPECT_FALSE(wnd_->Capturing()) << lp;
    }
    // The right message number matters, and only lParam does.
    ::SendMessageA(tray, WM_TRAYICON + 1, 0, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(wnd_->Capturing());
    ::SendMessageA(tray, WM_TRAYICON, 7, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(wnd_->Capturing());
    EXPECT_TRUE(wnd_->Visible());
    EXPECT_EQ(Screen.Cursor(), crCross);
    RECT rc;
    ::GetWindowRect(wnd_->Handle(), &rc);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 0);
    EXPECT_EQ(rc.right, Screen.Width());
    EXPECT_EQ(rc.bottom, Screen.Height());
    ::PostMessageA(wnd_->Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(PumpUntil([&] { return !wnd_->Capturing(); }));
    ExpectIdle();
}

TEST_F(KestrixWindowTest, RightReleaseOpensTheMenuAtTheCursor) {
    MoveCursor(400, 300);
    RECT menuRect{-1, -1, -1, -1};
    WhenReady([] { return VisibleMenuWindow() != nullptr; },
              [&] {
                  ::GetWindowRect(VisibleMenuWindow(), &menuRect);
                  ::EndMenu();
              },
              3000);
    ::SendMessageA(wnd_->IconData().hWnd, WM_TRAYICON, 0, WM_RBUTTONUP);
    PumpUntil([] { return !PendingWhenReady(); }, 4000);
    EXPECT_EQ(menuRect.left, 400);
    EXPECT_EQ(menuRect.top, 300);
    EXPECT_FALSE(wnd_->Capturing());
}

TEST_F(KestrixWindowTest, DragInEveryDirectionHandsOverTheSameRectangle) {
    // From (310, 220) to (410, 270) and the three mirrored drags (away from
    // the shell's tray window in the top-left corner).
    const POINT drags[][2] = {{{310, 220}, {410, 270}},
                              {{410, 220}, {310, 270}},
                              {{310, 270}, {410, 220}},
                              {{410, 270}, {310, 220}}};
    for (const auto& d : drags) {
        // Moves the system reports from the real pointer land on the corner too.
        MoveCursor(d[1].x, d[1].y);
        StartCapture();
        ASSERT_TRUE(wnd_->Capturing());
        Send(WM_LBUTTONDOWN, MK_LBUTTON, d[0].x, d[0].y);
        Send(WM_MOUSEMOVE, MK_LBUTTON, 300, 400);
        Send(WM_MOUSEMOVE, MK_LBUTTON, d[1].x, d[1].y);
        // The rubber band is on the screen...
        EXPECT_TRUE(PumpUntil([] {
            int banded = 0;
            for (int x = 310; x <= 410; ++x)
                if (ScreenPixel(x, 220) != PatternColor(x, 220)) ++banded;
            return banded > 20;
        }, 3000));
        // ...and the band of the move before is gone without a trace.
        EXPECT_TRUE(PumpUntil([] {
            for (int y = 280; y <= 402; ++y)
                for (int x = 298; x <= 302; ++x)
                    if (ScreenPixel(x, y) != PatternColor(x, y)) return false;
            return true;
        }, 3000));
        // ...but not in the picture; the release point does not count.
        Handed h = Release(WM_LBUTTONUP, 900, 900);
        ASSERT_TRUE(h.opened);
        EXPECT_EQ(h.width, 100);
        EXPECT_EQ(h.height, 50);
        EXPECT_EQ(h.picture->PixelFormat(), ScreenPixelFormat());
        EXPECT_EQ(Mismatches(*h.picture, 310, 220), 0);
        ExpectIdle();
    }
}

// The wizard takes its DPI from the monitor that holds the selection; its
// picture stays centred there and after a move to another DPI.
TEST_F(KestrixWindowTest, TheWizardOpensAtTheDpiOfTheSelectionsMonitorWithThePictureCentred) {
    std::vector<HMONITOR> asked;
    MonitorDpiSource = [&asked](HMONITOR m) {
        asked.push_back(m);
        return 144;
    };
    ScopeExit reset([] { MonitorDpiSource = nullptr; });
    MoveCursor(410, 270);
    StartCapture();
    ASSERT_TRUE(wnd_->Capturing());
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 310, 220);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 410, 270);
    int ppi = 0;
    RECT client96{};
    // The picture's distance from the centre of its viewport.
    std::vector<int> offCentre;
    auto centring = [&offCentre](TAfterScreenShotWindow& w) {
        offCentre.push_back(2 * w.ScreenShot.Left() + w.ScreenShot.Width() -
                            w.ScrollBox.ClientWidth());
        offCentre.push_back(2 * w.ScreenShot.Top() + w.ScreenShot.Height() -
                            w.ScrollBox.ClientHeight());
    };
    WhenReady([] { return AfterScreenShotWindow && AfterScreenShotWindow->Visible(); },
              [&] {
                  TAfterScreenShotWindow& w = *AfterScreenShotWindow;
                  ppi = w.PixelsPerInch();
                  centring(w);
                  // Moved to a monitor of 96 DPI, as Windows tells it.
                  RECT suggested{};
                  ::GetWindowRect(w.Handle(), &suggested);
                  ::SendMessageA(w.Handle(), WM_DPICHANGED, MAKEWPARAM(96, 96),
                                 reinterpret_cast<LPARAM>(&suggested));
                  ::GetClientRect(w.Handle(), &client96);
                  centring(w);
                  w.ModalResult = mrOk;
              },
              3000);
    Send(WM_LBUTTONUP, 0, 410, 270);
    PumpUntil([] { return !PendingWhenReady(); }, 4000);
    EXPECT_TRUE(pattern_->WaitShown());
    EXPECT_EQ(ppi, 144);
    EXPECT_EQ(client96.right, 542);
    EXPECT_EQ(client96.bottom, 306);
    for (int off : offCentre) EXPECT_LE(std::abs(off), 1);
    ASSERT_EQ(offCentre.size(), 4u);
    const HMONITOR selection = ::MonitorFromPoint(POINT{360, 245}, MONITOR_DEFAULTTONEAREST);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back(), selection);
    ExpectIdle();
}

// The system's focus border for the scope (not saved for the user).
class FocusBorder {
public:
    explicit FocusBorder(UINT size) {
        ::SystemParametersInfoA(SPI_GETFOCUSBORDERWIDTH, 0, &width_, 0);
        ::SystemParametersInfoA(SPI_GETFOCUSBORDERHEIGHT, 0, &height_, 0);
        Set(size, size);
    }
    ~FocusBorder() { Set(width_, height_); }

private:
    static void Set(UINT width, UINT height) {
        ::SystemParametersInfoA(SPI_SETFOCUSBORDERWIDTH, 0, reinterpret_cast<void*>(width), 0);
        ::SystemParametersInfoA(SPI_SETFOCUSBORDERHEIGHT, 0, reinterpret_cast<void*>(height), 0);
    }
    UINT width_ = 1, height_ = 1;
};

TEST_F(KestrixWindowTest, TheBandLeavesNoTraceWhateverTheFocusBorder) {
    const RECT old{300, 200, 420, 300};
    for (int border : {1, 4}) {
        FocusBorder scope(border);
        StartCapture();
        Send(WM_LBUTTONDOWN, MK_LBUTTON, old.left, old.top);
        Send(WM_MOUSEMOVE, MK_LBUTTON, old.right, old.bottom);
        // The band as the system draws it at that border (Wine draws one
        // pixel whatever the setting): every pixel within the border.
        {
            WindowDc dc(wnd_->Handle());
            RECT inner = old;
            ::InflateRect(&inner, -border, -border);
            GdiRegion band(::CreateRectRgnIndirect(&old)), hole(::CreateRectRgnIndirect(&inner));
            ::CombineRgn(band.get(), band.get(), hole.get(), RGN_DIFF);
            ::FillRgn(dc.get(), band.get(), static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        }
        ASSERT_TRUE(PumpUntil([&] { return ScreenPixel(old.right - border, 250) == 0; }, 3000));
        // Moving on erases its right and bottom edges, which the new band
        // does not touch.
        Send(WM_MOUSEMOVE, MK_LBUTTON, 360, 250);
        auto traces = [&] {
            int n = 0;
            for (int y = old.top; y < old.bottom; ++y)
                for (int x = old.left; x < old.right; ++x)
                    if ((x >= old.right - border || y >= old.bottom - border) &&
                        ScreenPixel(x, y) != PatternColor(x, y))
                        ++n;
            return n;
        };
        EXPECT_TRUE(PumpUntil([&] { return traces() == 0; }, 3000))
            << traces() << " pixels left at a focus border of " << border;
        ::PostMessageA(wnd_->Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        ASSERT_TRUE(PumpUntil([&] { return !wnd_->Capturing(); }));
        pattern_->WaitShown();
    }
}

TEST_F(KestrixWindowTest, AnyButtonSelectsAndDegenerateDragsHandOverEmptyPictures) {
    struct Case {
        UINT down, up;
        POINT from, to;
        int w, h;
    } cases[] = {
        {WM_RBUTTONDOWN, WM_RBUTTONUP, {200, 100}, {260, 140}, 60, 40},
        {WM_MBUTTONDOWN, WM_MBUTTONUP, {260, 140}, {200, 100}, 60, 40},
        {WM_LBUTTONDOWN, WM_LBUTTONUP, {50, 50}, {90, 50}, 40, 0},
        {WM_LBUTTONDOWN, WM_LBUTTONUP, {50, 50}, {50, 80}, 0, 30},
    };
    for (const Case& c : cases) {
        StartCapture();
        Send(c.down, 0, c.from.x, c.from.y);
        if (c.to.x != c.from.x || c.to.y != c.from.y) Send(WM_MOUSEMOVE, 0, c.to.x, c.to.y);
        Handed h = Release(c.up, c.from.x, c.from.y);
        ASSERT_TRUE(h.opened);
        EXPECT_EQ(h.width, c.w);
        EXPECT_EQ(h.height, c.h);
        if (c.w && c.h) {
            EXPECT_EQ(Mismatches(*h.picture, std::min(c.from.x, c.to.x),
                                 std::min(c.from.y, c.to.y)), 0);
        }
        ExpectIdle();
    }
    // A drag that comes back to its start is a point again.
    StartCapture();
    Send(WM_LBUTTONDOWN, 0, 70, 70);
    Send(WM_MOUSEMOVE, 0, 170, 120);
    Send(WM_MOUSEMOVE, 0, 70, 70);
    Handed h = Release(WM_LBUTTONUP, 170, 120);
    EXPECT_EQ(h.width, 0);
    EXPECT_EQ(h.height, 0);
    // A click is no point any more: it hands over the window under it,
    // here the pattern over the whole screen.
    StartCapture();
    Send(WM_LBUTTONDOWN, 0, 50, 50);
    h = Release(WM_LBUTTONUP, 50, 50);
    EXPECT_EQ(h.width, Screen.Width());
    EXPECT_EQ(h.height, Screen.Height());
}

TEST_F(KestrixWindowTest, AClickHandsOverTheWindowUnderItPastSeeThroughOnes) {
    // The pattern under all: the window that the closing wizard activates
    // stays below the one clicked.
    pattern_ = std::make_unique<PatternWindow>(0, 0, false);
    const RECT area{300, 200, 600, 330};
    PatternWindow target(area, 1, true);
    Handed h = Click({380, 260}, {}, {area.left + 1, 260});
    ASSERT_TRUE(h.opened);
    EXPECT_EQ(h.width, 300);
    EXPECT_EQ(h.height, 130);
    EXPECT_EQ(Mismatches(*h.picture, area.left, area.top, 1), 0) << "the frame is not in it";
    // Over it a window faded out entirely and one the pointer goes through;
    // without a compositor the display may still show them.
    const RECT above{360, 240, 400, 280};
    auto make = [&](DWORD ex) {
        HWND w = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_NOACTIVATE | ex, "STATIC", "", WS_POPUP,
                                   above.left, above.top, 40, 40, nullptr, nullptr, nullptr, nullptr);
        if (ex & WS_EX_LAYERED) ::SetLayeredWindowAttributes(w, 0, 0, LWA_ALPHA);
        ::ShowWindow(w, SW_SHOWNOACTIVATE);
        return Window(w);
    };
    Window faded = make(WS_EX_LAYERED), through = make(WS_EX_TRANSPARENT);
    h = Click({380, 260});
    EXPECT_EQ(h.width, 300);
    EXPECT_EQ(h.height, 130);
    EXPECT_EQ(Mismatches(*h.picture, area.left, area.top, 1, above), 0);
}

TEST_F(KestrixWindowTest, TheWheelWalksDownToTheControlUnderThePointerAndBackUp) {
    pattern_ = std::make_unique<PatternWindow>(0, 0, false);
    const RECT area{300, 200, 600, 330};
    PatternWindow target(area, 1, true);
    const RECT control{340, 230, 400, 270};
    // The pattern must not paint over its control when it is shown again.
    ::SetWindowLongPtrA(target.Handle(), GWL_STYLE,
                        ::GetWindowLongPtrA(target.Handle(), GWL_STYLE) | WS_CLIPCHILDREN);
    Window child(::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 40, 30,
                                   60, 40, target.Handle(), nullptr, nullptr, nullptr));
    ASSERT_TRUE(PumpUntil(
        [&] { return ScreenPixel(control.left, control.top) != PatternColor(340, 230, 1); }));
    const COLORREF black = ScreenPixel(control.left, control.top);
    Handed h = Click({360, 250}, {1, 1});
    ASSERT_TRUE(h.opened);
    EXPECT_EQ(h.width, 60);
    EXPECT_EQ(h.height, 40);
    // All of it the control's colour, none of the pattern around it.
    int other = 0;
    for (int y = 0; y < h.height; ++y)
        for (int x = 0; x < h.width; ++x)
            if (h.picture->PixelColor(x, y) != black) ++other;
    EXPECT_EQ(other, 0);
    h = Click({360, 250}, {1, -1});
    EXPECT_EQ(h.width, 300);
    EXPECT_EQ(h.height, 130);
    EXPECT_EQ(Mismatches(*h.picture, area.left, area.top, 1, control), 0);
}

TEST_F(KestrixWindowTest, EscapeAndDeactivationEndTheCaptureWithoutAWizard) {
    // Esc while frozen, Esc in the middle of a drag.
    for (bool dragging : {false, true}) {
        StartCapture();
        if (dragging) {
            Send(WM_LBUTTONDOWN, MK_LBUTTON, 100, 100);
            Send(WM_MOUSEMOVE, MK_LBUTTON, 200, 200);
        }
        ::PostMessageA(wnd_->Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        ASSERT_TRUE(PumpUntil([&] { return !wnd_->Capturing(); })) << dragging;
        ExpectIdle();
        // A late release changes nothing.
        Handed h = Release(WM_LBUTTONUP, 200, 200);
        EXPECT_FALSE(h.opened);
        ExpectIdle();
    }
    // Another key does nothing.
    StartCapture();
    ::PostMessageA(wnd_->Handle(), WM_CHAR, 'a', 0);
    Pump(100);
    EXPECT_TRUE(wnd_->Capturing());

    // Activating another window ends it the same way.
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 100, 100);
    HWND other = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "other", WS_POPUP | WS_VISIBLE, 500,
                                   500, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ::SetForegroundWindow(other);
    ::SetActiveWindow(other);
    EXPECT_TRUE(PumpUntil([&] { return !wnd_->Capturing(); }));
    ExpectIdle();
    Handed h = Release(WM_LBUTTONUP, 300, 300);
    EXPECT_FALSE(h.opened);
    ::DestroyWindow(other);
}

TEST_F(KestrixWindowTest, EveryCaptureShowsAFreshCopyOfTheScreen) {
    StartCapture();
    EXPECT_EQ(wnd_->Image.Picture.Bitmap().PixelColor(300, 300), PatternColor(300, 300, 0));
    ::PostMessageA(wnd_->Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(PumpUntil([&] { return !wnd_->Capturing(); }));
    pattern_->WaitShown();

    pattern_->SetVariant(1);
    StartCapture();
    Send(WM_LBUTTONDOWN, 0, 300, 300);
    Send(WM_MOUSEMOVE, 0, 340, 330);
    // What the frozen window shows on the screen is the new pattern.
    EXPECT_EQ(ScreenPixel(500, 500), PatternColor(500, 500, 1));
    Handed h = Release(WM_LBUTTONUP, 0, 0);
    ASSERT_TRUE(h.opened);
    EXPECT_EQ(Mismatches(*h.picture, 300, 300, 1), 0);

    // After a hand-over too; and the capture window is not in the copy.
    pattern_->SetVariant(0);
    StartCapture();
    TBitmap& frozen = wnd_->Image.Picture.Bitmap();
    int bad = 0;
    for (int y = 0; y < Screen.Height(); y += 97)
        for (int x = 0; x < Screen.Width(); x += 89)
            if ((x > 200 || y > 60) && frozen.PixelColor(x, y) != PatternColor(x, y, 0)) ++bad;
    EXPECT_EQ(bad, 0);
    ::PostMessageA(wnd_->Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ASSERT_TRUE(PumpUntil([&] { return !wnd_->Capturing(); }));
}

TEST_F(KestrixWindowTest, FiftyCapturesLeakNoHandles) {
    auto cycle = [&](int i) {
        StartCapture();
        Send(WM_LBUTTONDOWN, 0, 10 + i, 10);
        Send(WM_MOUSEMOVE, 0, 60 + i, 70);
        if (i % 2) {
            Release(WM_LBUTTONUP, 0, 0);
        } else {
            ::PostMessageA(wnd_->Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PumpUntil([&] { return !wnd_->Capturing(); });
            pattern_->WaitShown();
        }
    };
    cycle(1);
    cycle(2);
    DWORD gdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    DWORD user = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    DWORD handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    // Wine counts no GUI objects; a leaked screen copy shows in memory.
    long rss = ProcessRssKb();
    for (int i = 0; i < 50; ++i) cycle(i);
    std::printf("GDI objects %lu, user objects %lu, handles %lu before the 50 captures\n",
                gdi, user, handles);
    DWORD handlesAfter = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
    EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), gdi);
    EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS), user);
    EXPECT_EQ(handlesAfter, handles);
    if (rss > 0) EXPECT_LT(ProcessRssKb() - rss, 20 * 1024);
    ExpectIdle();
}

TEST_F(KestrixWindowTest, TheEndOfTheSessionKeepsThePictureOfAnOpenWizardOnDisk) {
    StartCapture();
    std::filesystem::path kept;
    WhenReady([] { return AfterScreenShotWindow && AfterScreenShotWindow->Visible(); },
              [&] {
                  ::SendMessageA(wnd_->Handle(), WM_ENDSESSION, TRUE, 0);
                  for (const auto& f : std::filesystem::directory_iterator(RecoveryStorePath()))
                      if (f.path().extension() == ".bmp") kept = f.path();
                  AfterScreenShotWindow->ModalResult = mrOk;
              });
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 100, 120);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 140, 150);
    Send(WM_LBUTTONUP, 0, 140, 150);
    ASSERT_TRUE(PumpUntil([] { return !PendingWhenReady(); }, 4000));
    // The copy stays after the wizard, for the start after the session.
    ASSERT_FALSE(kept.empty());
    ASSERT_TRUE(std::filesystem::exists(kept));
    TBitmap picture;
    LoadBitmapFile(kept.wstring(), picture);
    EXPECT_EQ(picture.Width(), 40);
    EXPECT_EQ(picture.Height(), 30);
    EXPECT_EQ(Mismatches(picture, 100, 120), 0);
    EXPECT_TRUE(pattern_->WaitShown());
}

TEST_F(KestrixWindowTest, TheEndOfTheSessionWhileTheWizardIsBeingMadeKeepsThePictureSilently) {
    StartCapture();
    TBitmap kept;
    TForm::CreationHook = [&](TForm& f) {
        if (!dynamic_cast<TAfterScreenShotWindow*>(&f)) return;
        ::SendMessageA(wnd_->Handle(), WM_ENDSESSION, TRUE, 0);
        for (const auto& e : std::filesystem::directory_iterator(RecoveryStorePath()))
            if (e.path().extension() == ".bmp") LoadBitmapFile(e.path().wstring(), kept);
    };
    WhenReady([] { return AfterScreenShotWindow && AfterScreenShotWindow->Visible(); },
              [] { AfterScreenShotWindow->ModalResult = mrOk; });
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 100, 120);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 140, 150);
    Send(WM_LBUTTONUP, 0, 140, 150);
    ASSERT_TRUE(PumpUntil([] { return !PendingWhenReady(); }, 4000));
    TForm::CreationHook = nullptr;
    EXPECT_EQ(kept.Width(), 40);
    EXPECT_EQ(Mismatches(kept, 100, 120), 0);
    EXPECT_TRUE(RecordedErrors().empty());
    EXPECT_TRUE(pattern_->WaitShown());
}

// The copy is written once the wizard is on screen, whether or not any
// plug-in is ever called.
TEST_F(KestrixWindowTest, ThePictureIsOnDiskOnceTheWizardIsUp) {
    StartCapture();
    TBitmap picture;
    WhenReady([] { return AfterScreenShotWindow && !AfterScreenShotWindow->Timer.Enabled(); },
              [&] {
                  for (const auto& f : std::filesystem::directory_iterator(RecoveryStorePath()))
                      if (f.path().extension() == ".bmp") LoadBitmapFile(f.path().wstring(), picture);
                  AfterScreenShotWindow->ModalResult = mrOk;
              });
    Send(WM_LBUTTONDOWN, MK_LBUTTON, 60, 70);
    Send(WM_MOUSEMOVE, MK_LBUTTON, 110, 90);
    Send(WM_LBUTTONUP, 0, 110, 90);
    ASSERT_TRUE(PumpUntil([] { return !PendingWhenReady(); }, 4000));
    EXPECT_EQ(picture.Width(), 50);
    EXPECT_EQ(picture.Height(), 20);
    EXPECT_EQ(Mismatches(picture, 60, 70), 0);
    EXPECT_TRUE(pattern_->WaitShown());
}

TEST_F(KestrixWindowTest, AKeptPictureThatCannotBeReadIsMovedAsideWithAMessage) {
    std::filesystem::create_directories(RecoveryStorePath());
    const std::filesystem::path damaged = RecoveryStorePath() / "Picture-20260101-000000-1-1.bmp";
    WriteBytes(damaged, "BM not a picture");
    ::SendMessageA(wnd_->IconData().hWnd, WM_BRINGBACK, 0, 0);
    ASSERT_EQ(RecordedErrors().size(), 1u);
    EXPECT_NE(RecordedErrors()[0].find("It was moved to"), std::string::npos) << RecordedErrors()[0];
    EXPECT_FALSE(std::filesystem::exists(damaged));
    EXPECT_EQ(ReadBytes(damaged.string() + ".unreadable"), "BM not a picture");
    EXPECT_EQ(AfterScreenShotWindow, nullptr);
    RecordedErrors().clear();
}

TEST_F(KestrixWindowTest, APictureThatAnotherRunningInstanceHoldsIsLeftAlone) {
    std::unique_ptr<TRecoveryEntry> live = TRecoveryEntry::Create();
    TBitmap picture(8, 8);
    live->Save(picture);
    ::SendMessageA(wnd_->IconData().hWnd, WM_BRINGBACK, 0, 0);
    EXPECT_EQ(AfterScreenShotWindow, nullptr);
    EXPECT_TRUE(RecordedErrors().empty());
    EXPECT_TRUE(std::filesystem::exists(live->PicturePath()));
    live->Remove();
}

TEST_F(KestrixWindowTest, AFailingDialogIsDestroyedAndTheErrorShown) {
    // The wizard and the about window fail as they are shown.
    TForm::CreationHook = [](TForm& f) {
        f.OnShow = [] { throw Exception("Show failed"); };
    };
    StartCapture();
    Send(WM_LBUTTONDOWN, 0, 10, 10);
    Send(WM_MOUSEMOVE, 0, 20, 20);
    Send(WM_LBUTTONUP, 0, 20, 20);
    EXPECT_EQ(AfterScreenShotWindow, nullptr);
    EXPECT_EQ(::FindWindowA("TAfterScreenShotWindow", nullptr), nullptr);
    // Shown from the loop, once the mouse message is done.
    PumpUntil([&] { return !RecordedErrors().empty(); }, 2000);
    ASSERT_EQ(RecordedErrors().size(), 1u);
    EXPECT_EQ(RecordedErrors()[0], "Show failed");
    PumpUntil([&] { return !wnd_->Capturing(); }, 2000);
    ExpectIdle();

    RecordedErrors().clear();

    // Menu handlers let the error pass on to the handler of the menu's message.
    EXPECT_THROW(wnd_->About1Click(), Exception);
    EXPECT_EQ(AboutWindow, nullptr);
    EXPECT_EQ(::FindWindowA("TAboutWindow", nullptr), nullptr);
    EXPECT_THROW(wnd_->Options1Click(), Exception);
    EXPECT_EQ(KestrixOptions, nullptr);
    EXPECT_EQ(::FindWindowA("TKestrixOptions", nullptr), nullptr);
}

TEST_F(KestrixWindowTest, DialogsAreFreshInstancesAndOneAtATime) {
    // A tray request while a dialog is open brings it forward instead.
    TAboutWindow* first = nullptr;
    WhenReady([] { return AboutWindow && AboutWindow->Visible(); },
              [&] {
                  first = AboutWindow;
                  wnd_->GetScreenshot1Click();
                  ::SendMessageA(wnd_->IconData().hWnd, WM_TRAYICON, 0, WM_LBUTTONDBLCLK);
                  wnd_->Options1Click();
                  EXPECT_FALSE(wnd_->Capturing());
                  EXPECT_EQ(KestrixOptions, nullptr);
                  AboutWindow->btnClose.Click();
              });
    wnd_->About1Click();
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(AboutWindow, nullptr);
    EXPECT_EQ(::FindWindowA("TAboutWindow", nullptr), nullptr);

    WhenReady([] { return KestrixOptions && KestrixOptions->Visible(); },
              [&] { KestrixOptions->Close(); });
    wnd_->Options1Click();
    EXPECT_EQ(KestrixOptions, nullptr);
    EXPECT_EQ(::FindWindowA("TKestrixOptions", nullptr), nullptr);
}

// Holds Print Screen from a process of its own until it is ended.
TEST(CaptureKeyHolder, DISABLED_HoldPrintScreen) {
    ASSERT_TRUE(::RegisterHotKey(nullptr, 1, 0, VK_SNAPSHOT));
    std::printf("held\n");
    std::fflush(stdout);
    MSG m;
    while (::GetMessageA(&m, nullptr, 0, 0) > 0) {
    }
}

TEST_F(KestrixWindowTest, AKeyHeldElsewhereIsToldOnceAndTheDoubleClickStillCaptures) {
    // The window made for the test holds the key itself; the pattern would
    // hide the icon from the mouse.
    wnd_.reset();
    pattern_.reset();
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ChildProcess holder(std::string("\"") + self +
                        "\" --gtest_also_run_disabled_tests"
                        " --gtest_filter=CaptureKeyHolder.DISABLED_HoldPrintScreen");
    ASSERT_TRUE(PumpUntil([&] { return holder.Output().find("held") != std::string::npos; }, 20000))
        << holder.Output();
    wnd_ = std::make_unique<TKestrixWnd>();
    KestrixWnd = wnd_.get();
    const NOTIFYICONDATAA& b = wnd_->BalloonData();
    EXPECT_EQ(wnd_->BalloonsShown(), 1);
    EXPECT_EQ(b.cbSize, 488u);
    EXPECT_EQ(b.uFlags, UINT(NIF_INFO));
    const std::string text = b.szInfo;
    EXPECT_NE(text.find("Another program holds Print Screen"), std::string::npos) << text;
    EXPECT_NE(text.find("another capture key in Settings"), std::string::npos) << text;
    // The same key tried again is no news.
    wnd_->ApplyCaptureKey();
    EXPECT_EQ(wnd_->BalloonsShown(), 1);

    POINT icon;
    ASSERT_TRUE(PumpUntil([&] { return TrayIconPoint(icon); }, 5000));
    MouseClick(icon.x, icon.y);
    MouseClick(icon.x, icon.y);
    EXPECT_TRUE(PumpUntil([&] { return wnd_->Capturing(); }, 5000));
    wnd_->EndCapture();
}

TEST_F(KestrixWindowTest, PrintScreenKeptForWindowsSnippingIsTold) {
    SavedKey keyboard("Control Panel\\Keyboard");
    const DWORD on = 1;
    ::RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Keyboard",
                      "PrintScreenKeyForSnippingEnabled", REG_DWORD, &on, sizeof on);
    wnd_.reset();
    wnd_ = std::make_unique<TKestrixWnd>();
    KestrixWnd = wnd_.get();
    EXPECT_EQ(wnd_->BalloonsShown(), 1);
    const std::string text = wnd_->BalloonData().szInfo;
    EXPECT_NE(text.find("Windows keeps Print Screen for its own screen snipping"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Turn that off"), std::string::npos) << text;
}

TEST_F(KestrixWindowTest, AStoredBareLetterIsNotHeldAndIsToldOnce) {
    SavedKey settings(kSettingsKey);
    const DWORD bareA = 'A';
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "CaptureHotkey", REG_DWORD, &bareA,
                      sizeof bareA);
    wnd_.reset();
    wnd_ = std::make_unique<TKestrixWnd>();
    KestrixWnd = wnd_.get();
    EXPECT_EQ(wnd_->BalloonsShown(), 1);
    const std::string text = wnd_->BalloonData().szInfo;
    EXPECT_NE(text.find("A alone would capture whenever it is typed"), std::string::npos) << text;
    EXPECT_TRUE(::RegisterHotKey(nullptr, 9, 0, 'A')) << "the letter is free for others";
    ::UnregisterHotKey(nullptr, 9);
    wnd_->ApplyCaptureKey();
    EXPECT_EQ(wnd_->BalloonsShown(), 1);
}

}  // namespace
