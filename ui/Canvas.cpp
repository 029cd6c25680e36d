#include "ui/Canvas.h"

#include "ui/Bitmap.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace ui {

// The DC of one drawing operation with the tools it uses selected; they are
// deselected again before the lease ends.
class TCanvas::Drawing {
public:
    enum : unsigned { kPen = 1, kBrush = 2, kFont = 4 };
    Drawing(TCanvas& c, unsigned tools) : lease_(c) {
        HDC dc = lease_.get();
        if (!dc) return;
        if (tools & kPen) {
            pen_.emplace(dc, c.Pen.Handle());
            ::SetROP2(dc, kRop2[c.Pen.Mode()]);
        }
        if (tools & kBrush) brush_.emplace(dc, c.Brush.Handle());
        if (tools & kFont) {
            font_.emplace(dc, c.Font.Handle());
            ::SetTextColor(dc, ColorToRGB(c.Font.Color()));
            ::SetBkColor(dc, ColorToRGB(c.Brush.Color()));
            ::SetBkMode(dc, c.Brush.Style() == bsClear ? TRANSPARENT : OPAQUE);
        }
    }
    HDC get() const { return lease_.get(); }

private:
    static constexpr int kRop2[] = {R2_BLACK,       R2_WHITE,       R2_NOP,        R2_NOT,
                                    R2_COPYPEN,     R2_NOTCOPYPEN,  R2_MERGEPENNOT, R2_MASKPENNOT,
                                    R2_MERGENOTPEN, R2_MASKNOTPEN,  R2_MERGEPEN,    R2_NOTMERGEPEN,
                                    R2_MASKPEN,     R2_NOTMASKPEN,  R2_XORPEN,      R2_NOTXORPEN};
    Lease lease_;
    std::optional<SelectGuard> pen_, brush_, font_;
};

TColor TCanvas::Pixels(int x, int y) {
    Lease d(*this, true);
    return d.get() ? ::GetPixel(d.get(), x, y) : CLR_INVALID;
}

void TCanvas::SetPixels(int x, int y, TColor color) {
    Lease d(*this);
    if (!d.get()) return;
    // Some GDIs apply the last raster operation to single pixels too.
    ::SetROP2(d.get(), R2_COPYPEN);
    ::SetPixel(d.get(), x, y, ColorToRGB(color));
}

void TCanvas::LineTo(int x, int y) {
    Drawing d(*this, Drawing::kPen);
    if (d.get()) {
        ::MoveToEx(d.get(), penPos_.x, penPos_.y, nullptr);
        ::LineTo(d.get(), x, y);
    }
    penPos_ = POINT{x, y};
}

namespace {
RECT Normalized(int x1, int y1, int x2, int y2) {
    return RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}
}  // namespace

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    Drawing d(*this, Drawing::kPen | Drawing::kBrush);
    RECT r = Normalized(x1, y1, x2, y2);
    if (d.get()) ::Rectangle(d.get(), r.left, r.top, r.right, r.bottom);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
    Drawing d(*this, Drawing::kPen | Drawing::kBrush);
    RECT r = Normalized(x1, y1, x2, y2);
    if (d.get()) ::Ellipse(d.get(), r.left, r.top, r.right, r.bottom);
}

void TCanvas::FillRect(const RECT& rect) {
    Drawing d(*this, 0);
    if (d.get()) ::FillRect(d.get(), &rect, Brush.Handle());
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    Drawing d(*this, Drawing::kFont);
    if (d.get()) ::TextOutA(d.get(), x, y, text.data(), static_cast<int>(text.size()));
}

SIZE TCanvas::TextExtent(const std::string& text) {
    SIZE size{0, 0};
    {
        // Measuring changes nothing: a shared picture stays shared.
        Lease lease(*this, true);
        if (!lease.get()) return size;
        SelectGuard font(lease.get(), Font.Handle());
        ::GetTextExtentPoint32A(lease.get(), text.data(), static_cast<int>(text.size()), &size);
    }
    return size;
}

void TCanvas::CopyRect(const RECT& dest, TCanvas& source, const RECT& src) {
    Lease d(*this);
    Lease s(source, true);
    if (!d.get() || !s.get()) return;
    int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    int sw = src.right - src.left, sh = src.bottom - src.top;
    if (dw == sw && dh == sh)
        ::BitBlt(d.get(), dest.left, dest.top, dw, dh, s.get(), src.left, src.top, SRCCOPY);
    else
        ::StretchBlt(d.get(), dest.left, dest.top, dw, dh, s.get(), src.left, src.top, sw, sh,
                     SRCCOPY);
}

void TCanvas::DrawFocusRect(const RECT& rect) {
    Lease d(*this);
    if (d.get()) ::DrawFocusRect(d.get(), &rect);
}

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
    if (bitmap.Empty()) return;
    Lease d(*this);
    Lease s(bitmap.Canvas(), true);
    if (d.get() && s.get())
        ::BitBlt(d.get(), x, y, bitmap.Width(), bitmap.Height(), s.get(), 0, 0, SRCCOPY);
}

// ---- TWindowCanvas ----

namespace {
std::vector<TWindowCanvas*>& HeldCanvases() {
    static std::vector<TWindowCanvas*> held;
    return held;
}
}  // namespace

TWindowCanvas::~TWindowCanvas() { FreeHandle(); }

void TWindowCanvas::SetWindow(HWND wnd) {
    FreeHandle();
    wnd_ = wnd;
}

HDC TWindowCanvas::Acquire() {
    if (!dc_) {
        dc_ = ::GetDC(wnd_);
        if (dc_) HeldCanvases().push_back(this);
    }
    return dc_;
}

void TWindowCanvas::FreeHandle() {
    if (!dc_) return;
    ::ReleaseDC(wnd_, dc_);
    dc_ = nullptr;
    auto& held = HeldCanvases();
    held.erase(std::remove(held.begin(), held.end(), this), held.end());
}

void TWindowCanvas::FreeDeviceContexts() {
    while (!HeldCanvases().empty()) HeldCanvases().back()->FreeHandle();
}

}  // namespace ui
