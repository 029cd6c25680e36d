#include "ui/Dpi.h"

#include "ui/Graphics.h"

namespace ui {

std::function<int(HMONITOR)> MonitorDpiSource;

namespace {

template <class F>
F User32Function(const char* name) {
    HMODULE user32 = ::GetModuleHandleA("user32.dll");
    return user32 ? reinterpret_cast<F>(::GetProcAddress(user32, name)) : nullptr;
}

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

GetDpiForMonitorFn DpiForMonitorFunction() {
    // From System32 only; Windows 7 has no shcore at all. Never freed: it
    // stays for the life of the process (and no module of ours may free a
    // library while it is being unloaded).
    static const HMODULE shcore =
        ::LoadLibraryExA("shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    static const auto fn = shcore ? reinterpret_cast<GetDpiForMonitorFn>(
                                        ::GetProcAddress(shcore, "GetDpiForMonitor"))
                                  : nullptr;
    return fn;
}

}  // namespace

int SystemMonitorDpi(HMONITOR monitor) {
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    UINT x = 0, y = 0;
    auto fn = DpiForMonitorFunction();
    if (fn && monitor && SUCCEEDED(fn(monitor, kEffectiveDpi, &x, &y)) && y > 0)
        return static_cast<int>(y);
    return ScreenPixelsPerInch();
}

int MonitorDpi(HMONITOR monitor) {
    const int dpi = MonitorDpiSource ? MonitorDpiSource(monitor) : SystemMonitorDpi(monitor);
    return dpi >= 24 && dpi <= 2400 ? dpi : 96;
}

RECT MonitorWorkArea(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor && ::GetMonitorInfoA(monitor, &info)) return info.rcWork;
    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

HMONITOR PrimaryMonitor() { return ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY); }

HMONITOR TrayMonitor() {
    if (HWND tray = ::FindWindowA("Shell_TrayWnd", nullptr))
        return ::MonitorFromWindow(tray, MONITOR_DEFAULTTOPRIMARY);
    POINT cursor{};
    if (::GetCursorPos(&cursor)) return ::MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
    return PrimaryMonitor();
}

int WindowDpi(HWND wnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto forWindow = User32Function<Fn>("GetDpiForWindow");
    const int dpi = forWindow && wnd ? static_cast<int>(forWindow(wnd)) : 0;
    return dpi > 0 ? dpi : ScreenPixelsPerInch();
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
    using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto forDpi = User32Function<Fn>("AdjustWindowRectExForDpi");
    if (forDpi && forDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) return;
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

void EnableNonClientScaling(HWND wnd) {
    using Fn = BOOL(WINAPI*)(HWND);
    static const auto enable = User32Function<Fn>("EnableNonClientDpiScaling");
    if (enable) enable(wnd);
}

}  // namespace ui
