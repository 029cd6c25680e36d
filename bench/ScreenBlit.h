// The baselines of the capture benchmarks: a bare blit of a rectangle of the
// screen into a bitmap and, given a window, back onto it, as a capture shows
// its frozen copy; or back onto a hidden window shown for it, as a capture
// must show one.
#pragma once

#include "bench/BenchTiming.h"
#include "tests/support/TestSupport.h"
#include "ui/Handles.h"

#include <windows.h>

namespace bench {

// Lets what earlier steps sent to the display reach it before a step is
// timed: messages are handled, and reading a pixel of the screen waits for
// the display to have done everything asked of it so far.
inline void SettleDisplay() {
    testing_support::Pump(50);
    ui::WindowDc screen(nullptr);
    ::GetPixel(screen.get(), 0, 0);
}

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

// The window is hidden again after the clock has stopped.
inline double BareBlitAndShow(const RECT& area, HWND hidden) {
    const int w = area.right - area.left, h = area.bottom - area.top;
    const double t = Once([&] {
        ui::WindowDc screen(nullptr);
        ui::GdiBitmap bmp(::CreateCompatibleBitmap(screen.get(), w, h));
        ui::MemDc mem(::CreateCompatibleDC(screen.get()));
        ui::SelectGuard sel(mem.get(), bmp.get());
        ::BitBlt(mem.get(), 0, 0, w, h, screen.get(), area.left, area.top, SRCCOPY);
        ::ShowWindow(hidden, SW_SHOW);
        ui::WindowDc dc(hidden);
        ::BitBlt(dc.get(), 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
        ::GdiFlush();
    });
    ::ShowWindow(hidden, SW_HIDE);
    return t;
}

}  // namespace bench
