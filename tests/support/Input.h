// Real user input for tests: mouse and keys through SendInput, and the
// notification-area icon as Wine shows it without a tray host.
#pragma once

#include "ui/Controls.h"

#include <windows.h>

namespace testing_support {

void MouseMoveTo(int x, int y);
// Press and release at a screen point.
void MouseClick(int x, int y, ui::TMouseButton button = ui::mbLeft);
// Click in the middle of a window.
void ClickWindow(HWND wnd, ui::TMouseButton button = ui::mbLeft);
// The left button pressed, or released, at a screen point: for holding it.
void MousePress(int x, int y);
void MouseRelease(int x, int y);
// Press and release one key.
void PressKey(WORD vk);

// Wine's own tray window, while it shows any icon; null otherwise.
HWND TrayWindow();

// The screen point at the middle of a notification icon (index 0 is the
// first shown); false when there is no tray window.
bool TrayIconPoint(POINT& pt, int index = 0);

// The open popup menu's item whose text is caption: its screen rectangle.
bool OpenMenuItemRect(HMENU menu, const char* caption, RECT& rc);

}  // namespace testing_support
