// Monitors and their DPI. The functions Windows 7 lacks are looked up at
// run time; without them every monitor has the system DPI.
#pragma once

#include <windows.h>

#include <functional>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace ui {

// Gives a monitor's DPI. Replaceable, so that a system with one DPI can
// show what a monitor of another does; empty means the system's answer.
extern std::function<int(HMONITOR)> MonitorDpiSource;

// The monitor's DPI through the source (96 for an answer that makes no sense).
int MonitorDpi(HMONITOR monitor);
// The system's own answer: the monitor's effective DPI where Windows keeps
// one per monitor, else the system DPI.
int SystemMonitorDpi(HMONITOR monitor);

RECT MonitorWorkArea(HMONITOR monitor);
HMONITOR PrimaryMonitor();
// The monitor of the notification area, else the cursor's (the tray icon
// was just clicked there), else the primary.
HMONITOR TrayMonitor();

// The DPI Windows gives the window, else the system DPI.
int WindowDpi(HWND wnd);

// AdjustWindowRectEx with the frame of the given DPI where Windows has it.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);
// Lets a per-monitor (v1) window's caption and frame follow its DPI; the
// v2 awareness does this itself. Called while the window is created.
void EnableNonClientScaling(HWND wnd);

}  // namespace ui
