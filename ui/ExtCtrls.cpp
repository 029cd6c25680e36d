#include "ui/ExtCtrls.h"

namespace ui {

namespace {
void Line(HDC dc, int x0, int y0, int x1, int y1, int sysColor) {
    RECT r{x0, y0, x1, y1};
    ::FillRect(dc, &r, ::GetSysColorBrush(sysColor));
}
}  // namespace

TBevel::TBevel(TForm& parent, int left, int top, int width, int height, TBevelShape shape,
               TBevelStyle style)
    : TCustomControl(parent, "TBevel", left, top, width, height), Shape(shape), Style(style) {}

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

}  // namespace ui
