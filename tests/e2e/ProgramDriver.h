// Driving the real program from outside as a user does: the pointer, its
// windows found by class and text, and a capture through the tray icon.
#pragma once

#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
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


// A visible window of the class (and text) anywhere inside parent.
inline HWND Inside(HWND parent, const char* cls, const char* text = nullptr) {
    if (!parent) return nullptr;
    for (HWND w = ::GetWindow(parent, GW_CHILD); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
        char c[64] = {}, t[128] = {};
        ::GetClassNameA(w, c, sizeof c);
        ::GetWindowTextA(w, t, sizeof t);
        if (!::IsWindowVisible(w)) continue;
        if (std::string(c) == cls && (!text || std::string(t) == text)) return w;
        if (HWND found = Inside(w, cls, text)) return found;
    }
    return nullptr;
}

// Screen point of a window's client point.
inline POINT At(HWND w, int x, int y) {
    POINT p{x, y};
    ::ClientToScreen(w, &p);
    return p;
}
// The window find() gives, once it gives one.
inline HWND Wait(const std::function<HWND()>& find) {
    HWND w = nullptr;
    PumpUntil([&] { return (w = find()) != nullptr; }, 10000);
    return w;
}
// A press at a screen point, once the window under it holds the mouse.
inline void PressAt(POINT p) {
    MoveTo(p.x, p.y);
    MouseLeftDown(p.x, p.y);
    PumpUntil([&] {
        GUITHREADINFO gi{sizeof gi};
        return ::GetGUIThreadInfo(::GetWindowThreadProcessId(::WindowFromPoint(p), nullptr), &gi) &&
               gi.hwndCapture;
    }, 5000);
}
// Acts until done() holds, three times at most: input that reaches a
// window still waking up is lost now and then.
inline bool Retry(const std::function<void()>& act, const std::function<bool()>& done, DWORD ms = 3000) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        act();
        if (PumpUntil(done, ms)) return true;
    }
    return false;
}
// Opens a popup menu by a click at a screen point, and clicks its first or
// last line.
inline bool ChooseFromMenu(POINT at, bool last, ui::TMouseButton button = ui::mbLeft) {
    if (!Retry([at, button] { MouseClick(at.x, at.y, button); }, [] { return VisibleWindow("#32768") != nullptr; }))
        return false;
    RECT rc{};
    ::GetWindowRect(VisibleWindow("#32768"), &rc);
    MouseClick(rc.left + 20, last ? rc.bottom - 10 : rc.top + 10);
    return PumpUntil([] { return !VisibleWindow("#32768"); });
}
// Ends the program as a user would, also after a failed step: the wizard's
// Cancel, then "Exit" from the icon's menu; a killed server would stay
// registered for the tests after this one.
struct EndsProgram {
    ChildProcess& program;
    POINT icon;
    ~EndsProgram() {
        if (HWND wizard = ::FindWindowA("TAfterScreenShotWindow", nullptr)) {
            ::PostMessageA(wizard, WM_CLOSE, 0, 0);
            PumpUntil([] { return !::FindWindowA("TAfterScreenShotWindow", nullptr); });
        }
        if (program.Running()) ChooseFromMenu(icon, true, ui::mbRight);
        EXPECT_EQ(program.Wait(10000), 0);
        PumpUntil([] { return TrayWindow() == nullptr; }, 10000);
    }
};

}  // namespace testing_support
