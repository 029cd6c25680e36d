#include "ui/ExtCtrls.h"

#include "ui/Exception.h"

namespace ui {

namespace {
void Line(HDC dc, int x0, int y0, int x1, int y1, int sysColor) {
    RECT r{x0, y0, x1, y1};
    ::FillRect(dc, &r, ::GetSysColorBrush(sysColor));
}
}  // namespace

TBevel::TBevel(TWinControl& parent, const TControlLayout& layout)
    : TCustomControl(parent, layout, "TBevel") {
    CaptureMouse = false;
}

void TBevel::Paint(HDC dc) {
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    ::FillRect(dc, &rc, ColorBrush(Color()));
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
        case bsBox:
            // Upper and left edges in the first colour, the others in the second.
            Line(dc, 0, 0, w, 1, first);
            Line(dc, 0, 0, 1, h, first);
            Line(dc, 0, h - 1, w, h, second);
            Line(dc, w - 1, 0, w, h, second);
            break;
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

// ---- TShape ----

TShape::TShape(TWinControl& parent, const TControlLayout& layout)
    : TCustomControl(parent, layout, "TShape") {}

void TShape::SetBrushColor(TColor color) {
    brush_ = color;
    Invalidate();
}

void TShape::SetPenColor(TColor color) {
    pen_ = color;
    Invalidate();
}

void TShape::Paint(HDC dc) {
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    ::FillRect(dc, &rc, ColorBrush(Color()));
    int w = rc.right, h = rc.bottom;
    int x = 0, y = 0;
    if (Shape == stSquare) {
        const int side = std::min(w, h);
        x = (w - side) / 2;
        y = (h - side) / 2;
        w = h = side;
    }
    GdiPen pen(::CreatePen(PS_SOLID, 1, ColorToRGB(pen_)));
    if (!pen) throw Exception("Out of system resources");
    SelectGuard p(dc, pen.get());
    SelectGuard b(dc, ColorBrush(brush_));
    if (Shape == stEllipse)
        ::Ellipse(dc, x, y, x + w, y + h);
    else
        ::Rectangle(dc, x, y, x + w, y + h);
}

// ---- TPanel, TScrollBox, TPage ----

TPanel::TPanel(TWinControl& parent, const TControlLayout& layout, const char* className,
               DWORD exStyle)
    : TCustomControl(parent, layout, className, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT | exStyle) {
    CaptureMouse = false;
}

TPanel::TPanel(TWinControl& parent, const TControlLayout& layout)
    : TPanel(parent, layout, "TPanel", 0) {
    if (layout.Options & loNoBorder) BevelOuter = bvNone;
}

void TPanel::Paint(HDC dc) {
    RECT rc;
    ::GetClientRect(wnd_, &rc);
    ::FillRect(dc, &rc, ColorBrush(Color()));
    if (BevelOuter != bvNone)
        ::DrawEdge(dc, &rc, BevelOuter == bvRaised ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
    std::string text = Caption();
    if (!text.empty()) {
        SelectGuard f(dc, Font().Handle());
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ColorToRGB(Font().Color()));
        ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rc,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

TScrollBox::TScrollBox(TWinControl& parent, const TControlLayout& layout)
    : TPanel(parent, layout, "TScrollBox",
             (layout.Options & loNoBorder) ? 0u : DWORD(WS_EX_CLIENTEDGE)) {
    BevelOuter = bvNone;
    // A drag that starts beside the picture stays the viewport's: the
    // release must not reach the picture as one of its own.
    CaptureMouse = true;
}

TPage::TPage(TWinControl& parent, const TControlLayout& layout)
    : TPanel(parent, layout, "TPage", 0) {
    BevelOuter = bvNone;
    SetAlign(alClient);
    // The first page of a notebook shows; every later one waits.
    if (auto* book = dynamic_cast<TNotebook*>(&parent)) {
        if (book->PageCount() > 0) Hide();
    }
}

// ---- TNotebook ----

TNotebook::TNotebook(TWinControl& parent, const TControlLayout& layout)
    : TPanel(parent, layout, "TNotebook", 0) {
    BevelOuter = bvNone;
}

int TNotebook::PageCount() const {
    int n = 0;
    for (const auto& c : Controls())
        if (dynamic_cast<TPage*>(c.get())) ++n;
    return n;
}

TPage* TNotebook::Page(int index) const {
    int n = 0;
    for (const auto& c : Controls())
        if (auto* p = dynamic_cast<TPage*>(c.get()))
            if (n++ == index) return p;
    return nullptr;
}

void TNotebook::SetPageIndex(int index) {
    TPage* page = Page(index);
    if (!page) throw Exception("Page index out of range");
    if (index == pageIndex_) return;
    pageIndex_ = index;
    page->SetBounds(0, 0, ClientWidth(), ClientHeight());
    ::ShowWindow(page->Handle(), SW_SHOW);
    for (int i = 0; TPage* p = Page(i); ++i)
        if (p != page) {
            // The focus must not stay in a hidden page.
            if (::IsChild(p->Handle(), ::GetFocus())) ::SetFocus(Handle());
            ::ShowWindow(p->Handle(), SW_HIDE);
        }
    if (OnPageChanged) OnPageChanged(this);
}

std::string TNotebook::ActivePage() const {
    TPage* p = Page(pageIndex_);
    return p ? p->Name() : std::string();
}

void TNotebook::SetActivePage(const std::string& name) {
    for (int i = 0; TPage* p = Page(i); ++i)
        if (p->Name() == name) {
            SetPageIndex(i);
            return;
        }
    throw Exception("No page " + name);
}

void TNotebook::Realign() {
    // Every page fills the notebook, shown or not.
    for (int i = 0; TPage* p = Page(i); ++i) p->SetBounds(0, 0, ClientWidth(), ClientHeight());
    if (pageIndex_ < 0 && PageCount() > 0) pageIndex_ = 0;
}

}  // namespace ui
