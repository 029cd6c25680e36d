// The windows on the screen as they were when it froze, with the frames the
// user saw. What the pointer points at on the frozen picture is looked up
// here, never in the live windows, which may have moved or gone since.
#pragma once

#include "ui/Handles.h"

#include <windows.h>

#include <vector>

class TWindowSnapshot {
public:
    // The shown windows over `desktop` (the virtual screen), topmost first,
    // each with its child controls; frames are clipped to the screen and
    // relative to its top-left, as the frozen picture's pixels are.
    void Take(const RECT& desktop, HWND skip);
    void Clear() { entries_.clear(); }
    // Under a point: the window first, then the control under the point
    // within it, and so on down to the deepest control.
    std::vector<RECT> ChainAt(POINT p) const;

private:
    struct Entry {
        RECT frame;
        int parent;
    };
    bool Shown(HWND wnd) const;
    RECT VisibleFrame(HWND wnd) const;
    void AddChildren(HWND wnd);

    std::vector<Entry> entries_;
    ui::Module dwmapi_;
    bool dwmapiTried_ = false;
    HRESULT(WINAPI* getAttribute_)(HWND, DWORD, void*, DWORD) = nullptr;
};
