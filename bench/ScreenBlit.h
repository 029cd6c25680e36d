// The baseline of the capture benchmarks: a bare blit of a rectangle of the
// screen into a bitmap and, given a window, back onto it, as a capture shows
// its frozen copy.
#pragma once

#include "bench/BenchTiming.h"
#include "ui/Handles.h"

#include <windows.h>

namespace bench {

inline double BareBlit(const RECT& area, HWND target) {
    const int w = area.right - area.left, h = area.bottom - area.top;
    const double t0 = Now();
    {
        ui::WindowDc screen(nullptr);
        ui::GdiBitmap bmp(::CreateCompatibleBitmap(screen.get(), w, h));
        ui::MemDc mem(::CreateCompatibleDC(screen.get()));
        ui::SelectGuard sel(mem.get(), bmp.get());
        ::BitBlt(mem.get(), 0, 0, w, h, screen.get(), area.left, area.top, SRCCOPY);
        if (target) {
            ui::WindowDc dc(target);
            ::BitBlt(dc.get(), 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
        }
        ::GdiFlush();
    }
    return Now() - t0;
}

}  // namespace bench
