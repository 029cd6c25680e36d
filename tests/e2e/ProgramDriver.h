// Driving the real program from outside as a user does: the pointer, its
// windows found by class and text, and a capture through the tray icon.
#pragma once

#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"

#include <string>

namespace testing_support {

// Moves the real pointer and waits until the system has it there.
inline void MoveTo(int x, int y) {
    MouseMoveTo(x, y);
    PumpUntil([&] {
        POINT p;
        ::GetCursorPos(&p);
        return p.x == x && p.y == y;
    }, 2000);
}

inline void Button(DWORD flags) {
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    ::SendInput(1, &in, sizeof in);
}

inline HWND VisibleWindow(const char* cls, const char* title = nullptr) {
    HWND w = ::FindWindowA(cls, title);
    return w && ::IsWindowVisible(w) ? w : nullptr;
}

struct Descendant {
    const char* cls;
    const char* text;
    HWND found = nullptr;
};
inline BOOL CALLBACK MatchDescendant(HWND w, LPARAM lp) noexcept {
    auto* d = reinterpret_cast<Descendant*>(lp);
    char cls[64] = {}, text[128] = {};
    ::GetClassNameA(w, cls, sizeof cls);
    ::GetWindowTextA(w, text, sizeof text);
    if (std::string(cls) == d->cls && (!d->text || std::string(text) == d->text)) {
        d->found = w;
        return FALSE;
    }
    return TRUE;
}
// A window of the class (and text) anywhere below parent.
inline HWND FindDescendant(HWND parent, const char* cls, const char* text = nullptr) {
    Descendant d{cls, text};
    ::EnumChildWindows(parent, MatchDescendant, reinterpret_cast<LPARAM>(&d));
    return d.found;
}
inline bool IsShown(HWND w) { return w && ::IsWindowVisible(w); }

// Double-clicks the tray icon and drags out the rectangle from its top-left
// corner (ending the drag elsewhere first); the wizard that opens, or null.
inline HWND CaptureSelection(const RECT& sel) {
    POINT icon;
    if (!PumpUntil([&] { return TrayIconPoint(icon); }, 20000)) return nullptr;
    // A program that has just started may not take the first double-click.
    bool frozen = false;
    for (int attempt = 0; attempt < 3 && !frozen; ++attempt) {
        Pump(300);
        MouseClick(icon.x, icon.y);
        Pump(60);
        MouseClick(icon.x, icon.y);
        frozen = PumpUntil([] { return VisibleWindow("TKestrixWnd") != nullptr; }, 4000);
    }
    if (!frozen) return nullptr;
    Pump(300);
    MoveTo(sel.left, sel.top);
    Button(MOUSEEVENTF_LEFTDOWN);
    Pump(50);
    MoveTo(sel.left + 50, sel.top + 30);
    MoveTo(sel.right + 100, sel.bottom + 50);
    MoveTo(sel.right, sel.bottom);
    Pump(50);
    Button(MOUSEEVENTF_LEFTUP);
    HWND wizard = nullptr;
    PumpUntil([&] { return (wizard = VisibleWindow("TAfterScreenShotWindow")) != nullptr; }, 10000);
    return wizard;
}

}  // namespace testing_support
