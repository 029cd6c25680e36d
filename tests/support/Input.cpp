#include "tests/support/Input.h"

#include <cstring>

namespace testing_support {

namespace {
void SendMouse(DWORD flags, int x, int y) {
    INPUT in = {};
    in.type = INPUT_MOUSE;
    int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    in.mi.dx = static_cast<LONG>((x * 65535LL + (w - 1) / 2) / (w - 1));
    in.mi.dy = static_cast<LONG>((y * 65535LL + (h - 1) / 2) / (h - 1));
    in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in, sizeof in);
}
}  // namespace

void MouseMoveTo(int x, int y) { SendMouse(MOUSEEVENTF_MOVE, x, y); }

void MouseClick(int x, int y, ui::TMouseButton button) {
    DWORD down = MOUSEEVENTF_LEFTDOWN, up = MOUSEEVENTF_LEFTUP;
    if (button == ui::mbRight) down = MOUSEEVENTF_RIGHTDOWN, up = MOUSEEVENTF_RIGHTUP;
    if (button == ui::mbMiddle) down = MOUSEEVENTF_MIDDLEDOWN, up = MOUSEEVENTF_MIDDLEUP;
    SendMouse(MOUSEEVENTF_MOVE, x, y);
    SendMouse(down | MOUSEEVENTF_MOVE, x, y);
    SendMouse(up | MOUSEEVENTF_MOVE, x, y);
}

void ClickWindow(HWND wnd, ui::TMouseButton button) {
    RECT rc{};
    ::GetWindowRect(wnd, &rc);
    MouseClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2, button);
}

void MousePress(int x, int y) { SendMouse(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE, x, y); }

void MouseRelease(int x, int y) { SendMouse(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE, x, y); }

void PressKey(WORD vk) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[0].ki.wScan = in[1].ki.wScan = static_cast<WORD>(::MapVirtualKeyA(vk, 0));
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof in[0]);
}

HWND TrayWindow() {
    HWND w = ::FindWindowA("__winex11_standalone_tray", nullptr);
    return w && ::IsWindowVisible(w) ? w : nullptr;
}

bool TrayIconPoint(POINT& pt, int index) {
    HWND tray = ::FindWindowA("__winex11_standalone_tray", nullptr);
    if (!tray) return false;
    // Icons sit in 20-pixel cells from the client area's left edge.
    pt = POINT{10 + 20 * index, 10};
    return ::ClientToScreen(tray, &pt) != FALSE;
}

bool OpenMenuItemRect(HMENU menu, const char* caption, RECT& rc) {
    HWND popup = ::FindWindowA("#32768", nullptr);
    if (!popup || !::IsWindowVisible(popup)) return false;
    int n = ::GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i) {
        char text[128] = {};
        ::GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        if (std::strcmp(text, caption) == 0) return ::GetMenuItemRect(nullptr, menu, i, &rc) != FALSE;
    }
    return false;
}

}  // namespace testing_support
