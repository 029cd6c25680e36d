#include "ui/ExtCtrls.h"

namespace ui {

namespace {
const char kBevelClass[] = "TBevel";

const char* RegisterBevelClass() {
    static bool done = false;
    if (!done) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = kBevelClass;
        ::RegisterClassA(&wc);
        done = true;
    }
    return kBevelClass;
}

void Line(HDC dc, int x0, int y0, int x1, int y1, int sysColor) {
    RECT r{x0, y0, x1, y1};
    ::FillRect(dc, &r, ::GetSysColorBrush(sysColor));
}
}  // namespace

TBevel::TBevel(TForm& parent, int left, int top, int width, int height, TBevelShape shape,
               TBevelStyle style)
    : TControl(parent, RegisterBevelClass(), "", 0, 0, left, top, width, height),
      Shape(shape),
      Style(style) {
    Subclass();
}

void TBevel::Paint(HDC dc) {
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    ::FillRect(dc, &rc, ::GetSysColorBrush(COLOR_BTNFACE));
    const int w = rc.right, h = rc.bottom;
    // A sunken line is shadow then light; a raised one the other way round.
    const int first = Style == bsLowered ? COLOR_BTNSHADOW : COLOR_BTNHIGHLIGHT;
    const int second = Style == bsLowered ? COLOR_BTNHIGHLIGHT : COLOR_BTNSHADOW;
    switch (Shape) {
        case bsTopLine:
            Line(dc, 0, 0, w, 1, first);
            Line(dc, 0, 1, w, 2, second);
            break;
        case bsBottomLine:
            Line(dc, 0, h - 2, w, h - 1, first);
            Line(dc, 0, h - 1, w, h, second);
            break;
        case bsLeftLine:
            Line(dc, 0, 0, 1, h, first);
            Line(dc, 1, 0, 2, h, second);
            break;
        case bsRightLine:
            Line(dc, w - 2, 0, w - 1, h, first);
            Line(dc, w - 1, 0, w, h, second);
            break;
        case bsBox: {
            // Upper and left edges in the first colour, the others in the second.
            Line(dc, 0, 0, w, 1, first);
            Line(dc, 0, 0, 1, h, first);
            Line(dc, 0, h - 1, w, h, second);
            Line(dc, w - 1, 0, w, h, second);
            break;
        }
        case bsFrame: {
            RECT outer{0, 0, w - 1, h - 1}, inner{1, 1, w, h};
            ::FrameRect(dc, &inner, ::GetSysColorBrush(second));
            ::FrameRect(dc, &outer, ::GetSysColorBrush(first));
            break;
        }
        case bsSpacer:
            break;
    }
}

bool TBevel::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
        case WM_ERASEBKGND:
            result = 1;
            return true;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(wnd_, &ps);
            struct End {
                HWND w;
                PAINTSTRUCT& ps;
                ~End() { ::EndPaint(w, &ps); }
            } end{wnd_, ps};
            Paint(dc);
            result = 0;
            return true;
        }
        default:
            return TControl::HandleMessage(msg, wp, lp, result);
    }
}

}  // namespace ui
