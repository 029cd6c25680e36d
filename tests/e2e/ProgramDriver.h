// Driving the real program from outside as a user does: the pointer, its
// windows found by class and text, and a capture through the tray icon.
#pragma once

#include "tests/support/Input.h"
#include "tests/support/Processes.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

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
// A press at a screen point; true once the window under it holds the mouse.
inline bool PressAt(POINT p) {
    MoveTo(p.x, p.y);
    MouseLeftDown(p.x, p.y);
    return PumpUntil([&] {
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
// Drags on the frozen screen from `from` through `via` to `to`. The selection
// ends at the last move the program took, which a loaded machine delivers
// late: the release waits until the band's edge shows at `to`, and no longer
// at any via point outside the selection, and stays so.
inline void DragOut(POINT from, std::initializer_list<POINT> via, POINT to) {
    const int left = (std::min)(from.x, to.x), right = (std::max)(from.x, to.x);
    const int top = (std::min)(from.y, to.y), bottom = (std::max)(from.y, to.y);
    auto edge = [&](int x) {
        std::vector<COLORREF> pixels;
        for (int y = top + 1; y < bottom - 1 && pixels.size() < 24; ++y) pixels.push_back(ScreenPixel(x, y));
        return pixels;
    };
    auto edgeOf = [&](POINT p) { return p.x > from.x ? p.x - 1 : p.x; };
    std::vector<std::pair<int, std::vector<COLORREF>>> outside;
    for (POINT p : via)
        if (p.x < left || p.x > right) outside.emplace_back(edgeOf(p), edge(edgeOf(p)));
    const std::vector<COLORREF> corner = edge(edgeOf(to));
    // The press is taken once the frozen screen holds the mouse; a window
    // still waking up may lose the first.
    for (int attempt = 0; attempt < 3 && !PressAt(from); ++attempt) MouseLeftUp(from.x, from.y);
    for (POINT p : via) MoveTo(p.x, p.y);
    MoveTo(to.x, to.y);
    auto atCorner = [&] {
        if (edge(edgeOf(to)) == corner) return false;
        for (const auto& [x, pixels] : outside)
            if (edge(x) != pixels) return false;
        return true;
    };
    // A move the system echoes late can still take the band away again: the
    // band must stay at the corner for a while. A move that never arrives
    // is made again, by way of the next pixel.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD since = 0;
        if (PumpUntil([&] {
                if (!atCorner()) return since = 0, false;
                if (!since) since = ::GetTickCount();
                return ::GetTickCount() - since >= 250;
            }, 5000))
            break;
        MoveTo(to.x + 1, to.y);
        MoveTo(to.x, to.y);
    }
    MouseLeftUp(to.x, to.y);
}
// Double-clicks the tray icon and drags out the rectangle from its top-left
// corner (ending the drag elsewhere first); the wizard that opens, or null.
inline HWND CaptureSelection(const RECT& sel) {
    POINT icon;
    if (!PumpUntil([&] { return TrayIconPoint(icon); }, 20000)) return nullptr;
    // A program that has just started may not take the first double-click.
    if (!Retry([&] {
            MouseClick(icon.x, icon.y);
            MouseClick(icon.x, icon.y);
        }, [] { return VisibleWindow("TKestrixWnd") != nullptr; }, 4000))
        return nullptr;
    DragOut({sel.left, sel.top}, {{sel.left + 50, sel.top + 30}, {sel.right + 100, sel.bottom + 50}},
            {sel.right, sel.bottom});
    return Wait([] { return VisibleWindow("TAfterScreenShotWindow"); });
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
// The wizard's picture on the screen shows colour c at picture point (x, y).
inline bool PictureShows(HWND wizard, int x, int y, COLORREF c) {
    HWND image = Inside(Inside(wizard, "TScrollBox"), "TImage");
    POINT p = At(image, x, y);
    return image && ScreenPixel(p.x, p.y) == c;
}
// The wizard is active on its editor, the picture of w x h pixels centred
// in the viewport: the wizard centres it once it is active, and a point
// taken before that would miss it.
inline bool EditorReady(HWND wizard, int w, int h) {
    HWND image = Inside(Inside(wizard, "TScrollBox"), "TImage");
    if (!image || ::GetForegroundWindow() != wizard) return false;
    HWND viewport = ::GetParent(image);
    RECT view{}, pic{};
    ::GetClientRect(viewport, &view);
    ::GetWindowRect(image, &pic);
    ::MapWindowPoints(nullptr, viewport, reinterpret_cast<POINT*>(&pic), 2);
    return pic.left == view.right / 2 - w / 2 && pic.top == view.bottom / 2 - h / 2;
}
// A red stroke with the wizard's pen along row y of the picture, from x1 to
// x2 in steps of 10. The pen's press marks the picture at once, and each
// step is seen on the screen before the next: no move is merged with
// another or lost, and the stroke is made exactly once.
inline testing::AssertionResult PenStroke(HWND wizard, int y, int x1, int x2) {
    HWND bar = Inside(wizard, "ToolbarWindow32");
    HWND image = Inside(Inside(wizard, "TScrollBox"), "TImage");
    if (!bar || !image) return testing::AssertionFailure() << "no editor";
    auto at = [&](int x) { return At(image, x, y); };
    auto red = [&](int x) { return PictureShows(wizard, x, y, RGB(255, 0, 0)); };
    for (int attempt = 0; !red(x1); ++attempt) {
        if (attempt == 3) return testing::AssertionFailure() << "the pen's press was not seen";
        if (attempt) MouseLeftUp(at(x1).x, at(x1).y);
        // The pen: the second button, 22 pixels apart.
        POINT paint = At(bar, 11, 22 + 11);
        MouseClick(paint.x, paint.y);
        PressAt(at(x1));
        PumpUntil([&] { return red(x1); }, 5000);
    }
    for (int x = x1 + 10; x <= x2; x += 10) {
        MoveTo(at(x).x, at(x).y);
        if (!PumpUntil([&] { return red(x) && red(x - 5); }, 10000))
            return testing::AssertionFailure() << "the stroke to " << x << " was not seen";
    }
    MouseLeftUp(at(x2).x, at(x2).y);
    const DWORD thread = ::GetWindowThreadProcessId(image, nullptr);
    if (!PumpUntil([&] {
            GUITHREADINFO gi{sizeof gi};
            return ::GetGUIThreadInfo(thread, &gi) && !gi.hwndCapture;
        }, 10000))
        return testing::AssertionFailure() << "the stroke did not end";
    return testing::AssertionSuccess();
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
