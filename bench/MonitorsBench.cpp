// A capture of a desktop of several monitors against bare blits of its
// virtual screen; scripts/bench.sh runs it on a display of two monitors.
// Prints ratios.
#include "bench/BenchTiming.h"
#include "bench/ScreenBlit.h"
#include "app/KestrixWindow.h"
#include "tests/support/TestSupport.h"

#include <cstdio>

using namespace ui;
using namespace testing_support;
using namespace bench;

int main() {
    ::SetProcessDPIAware();
    Application.SetTitle("Kestrix");
    Application.OnException = [](const std::string& text) { std::printf("error: %s\n", text.c_str()); };
    const RECT desktop = Screen.DesktopRect();
    const int w = desktop.right - desktop.left, h = desktop.bottom - desktop.top;
    std::printf("virtual screen (%ld, %ld) %dx%d on %u monitors\n", desktop.left, desktop.top, w, h,
                static_cast<unsigned>(Screen.MonitorRects().size()));

    TKestrixWnd wnd;
    HWND target = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, desktop.left, desktop.top, w,
                                    h, nullptr, nullptr, nullptr, nullptr);
    HWND shown = ::CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, desktop.left, desktop.top, w, h,
                                   nullptr, nullptr, nullptr, nullptr);
    Pump(200);
    Runs toBlit, toBlitAndBack, toBlitAndShow;
    // Each step starts once what the one before sent has reached the display.
    for (int i = 0; i < 15; ++i) {
        SettleDisplay();
        const double blit = BareBlit(desktop, nullptr);
        SettleDisplay();
        const double blitAndBack = BareBlit(desktop, target);
        SettleDisplay();
        const double blitAndShow = BareBlitAndShow(desktop, shown);
        SettleDisplay();
        const double capture = Once([&] {
            wnd.TakeScreenshot();
            ::GdiFlush();
        });
        ::PostMessageA(wnd.Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PumpUntil([&] { return !wnd.Capturing(); }, 3000);
        toBlit.Add(capture, blit);
        toBlitAndBack.Add(capture, blitAndBack);
        toBlitAndShow.Add(capture, blitAndShow);
    }
    ::DestroyWindow(shown);
    ::DestroyWindow(target);
    std::printf("capture of the whole desktop: TakeScreenshot %.2f ms, bare blit %.2f ms, bare blit "
                "and back %.2f ms, bare blit shown in a window %.2f ms (medians)\n",
                toBlit.Cost() * 1e3, toBlit.Base() * 1e3, toBlitAndBack.Base() * 1e3, toBlitAndShow.Base() * 1e3);
    // A capture shows what it blitted in a window it shows, so its baseline
    // does both, as the capture key's does. On this display, showing a
    // window of the whole desktop costs as much again as the paint: a blit
    // painted back onto a window already shown leaves that out.
    Report("desktop-capture/blit-and-show", "ratio capture / bare blit of the virtual screen, shown",
           toBlitAndShow.Ratio(), 1.3);
    Report("", "ratio capture / bare blit and back onto a window already shown", toBlitAndBack.Ratio());
    Report("", "ratio capture / bare blit alone", toBlit.Ratio());
    return 0;
}
