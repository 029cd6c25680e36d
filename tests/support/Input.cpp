#include "tests/support/Input.h"

#include <cstring>
#include <vector>

namespace testing_support {

namespace {
void SendMouse(DWORD flags, int x, int y) {
    INPUT in = {};
    in.type = INPUT_MOUSE;
    // On the virtual screen, so that every monitor can be reached.
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN), top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int w = ::GetSystemMetrics(SM_CXVIRTUALSCREEN), h = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    in.mi.dx = static_cast<LONG>(((x - left) * 65535LL + (w - 1) / 2) / (w - 1));
    in.mi.dy = static_cast<LONG>(((y - top) * 65535LL + (h - 1) / 2) / (h - 1));
    in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
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

void MouseLeftDown(int x, int y) { SendMouse(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE, x, y); }
void MouseLeftUp(int x, int y) { SendMouse(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE, x, y); }

void ClickWindow(HWND wnd, ui::TMouseButton button) {
    RECT rc{};
    ::GetWindowRect(wnd, &rc);
    MouseClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2, button);
}

void PressKey(WORD vk) { PressKeys({vk}); }

void PressKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> in(keys.size() * 2);
    size_t i = 0;
    for (WORD vk : keys) {
        INPUT& down = in[i];
        INPUT& up = in[in.size() - 1 - i];
        down.type = up.type = INPUT_KEYBOARD;
        down.ki.wVk = up.ki.wVk = vk;
        down.ki.wScan = up.ki.wScan = static_cast<WORD>(::MapVirtualKeyA(vk, 0));
        up.ki.dwFlags = KEYEVENTF_KEYUP;
        ++i;
    }
    ::SendInput(static_cast<UINT>(in.size()), in.data(), sizeof in[0]);
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
