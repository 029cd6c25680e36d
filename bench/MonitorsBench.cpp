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
    Pump(200);
    Runs toBlit, toBlitAndBack;
    for (int i = 0; i < 15; ++i) {
        const double blit = BareBlit(desktop, nullptr);
        const double blitAndBack = BareBlit(desktop, target);
        // What the blit painted back reaches the display first, not during
        // the capture's own blit.
        Pump(50);
        const double capture = Once([&] {
            wnd.TakeScreenshot();
            ::GdiFlush();
        });
        ::PostMessageA(wnd.Handle(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PumpUntil([&] { return !wnd.Capturing(); }, 3000);
        Pump(50);
        toBlit.Add(capture, blit);
        toBlitAndBack.Add(capture, blitAndBack);
    }
    ::DestroyWindow(target);
    std::printf("capture of the whole desktop: TakeScreenshot %.2f ms, bare blit %.2f ms, bare blit "
                "and back %.2f ms (medians)\n",
                toBlit.Cost() * 1e3, toBlit.Base() * 1e3, toBlitAndBack.Base() * 1e3);
    // Bounded as the single-monitor capture is: a capture shows what it
    // blitted, so its baseline paints the copy back too.
    Report("desktop-capture/bare-blit", "ratio capture / bare blit of the virtual screen and back",
           toBlitAndBack.Ratio(), 1.3);
    Report("", "ratio capture / bare blit alone", toBlit.Ratio());
    return 0;
}
