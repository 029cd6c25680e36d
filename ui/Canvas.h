// The canvas: the drawing surface over a bitmap, a window or a borrowed DC,
// with its pen, brush and font.
#pragma once

#include "ui/Graphics.h"

#include <string>

// The canvas has a TextOut of its own; the ANSI call is named in full.
#undef TextOut

namespace ui {

class TBitmap;

// A drawing surface with its pen, brush and font. Subclasses decide where
// the DC comes from; every operation takes it, with the tools it needs
// selected, for its own duration only, so a cached or borrowed DC never
// keeps one of our GDI objects.
class TCanvas {
public:
    TCanvas() = default;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    virtual ~TCanvas() = default;

    TPen Pen;
    TBrush Brush;
    TFont Font;

    // The colour at a point (CLR_INVALID outside), and setting one pixel.
    TColor Pixels(int x, int y);
    void SetPixels(int x, int y, TColor color);
    POINT PenPos() const { return penPos_; }
    void MoveTo(int x, int y) { penPos_ = POINT{x, y}; }
    // A line from the pen position, leaving out the end point, which
    // becomes the pen position.
    void LineTo(int x, int y);
    // Outline with the pen, inside with the brush; the corners in any order.
    void Rectangle(int x1, int y1, int x2, int y2);
    void Rectangle(const RECT& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
    void Ellipse(int x1, int y1, int x2, int y2);
    void Ellipse(const RECT& r) { Ellipse(r.left, r.top, r.right, r.bottom); }
    void FillRect(const RECT& rect);
    // Text in the font's colour with the top-left of its cell at (x, y), on
    // the brush colour, or on what is there when the brush is clear.
    void TextOut(int x, int y, const std::string& text);
    SIZE TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }
    void CopyRect(const RECT& dest, TCanvas& source, const RECT& src);
    void DrawFocusRect(const RECT& rect);
    void Draw(int x, int y, TBitmap& bitmap);

    // The DC for one operation; released by the lease. A lease for reading
    // only (the source of a copy) leaves pictures shared.
    class Lease {
    public:
        explicit Lease(TCanvas& c, bool readOnly = false)
            : c_(c), dc_(readOnly ? c.AcquireForRead() : c.Acquire()) {}
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { c_.Unacquire(dc_); }
        HDC get() const noexcept { return dc_; }

    private:
        TCanvas& c_;
        HDC dc_;
    };

protected:
    virtual HDC Acquire() = 0;
    virtual HDC AcquireForRead() { return Acquire(); }
    virtual void Unacquire(HDC) {}

private:
    class Drawing;
    POINT penPos_{0, 0};
};

// Canvas over a DC that its caller owns for the time being, such as the
// one a paint handler gets, so that custom-painted controls draw with the
// same tools.
class TDcCanvas : public TCanvas {
public:
    explicit TDcCanvas(HDC dc = nullptr) : dc_(dc) {}
    HDC Handle() const { return dc_; }
    void SetHandle(HDC dc) { dc_ = dc; }

protected:
    HDC Acquire() override { return dc_; }

private:
    HDC dc_;
};

// Canvas of a window. The window DC is kept between operations, since a
// rubber band step is two of them and taking a DC costs more than drawing,
// and given back after each message the application dispatches.
class TWindowCanvas : public TCanvas {
public:
    explicit TWindowCanvas(HWND wnd = nullptr) : wnd_(wnd) {}
    ~TWindowCanvas() override;
    void SetWindow(HWND wnd);
    void FreeHandle();
    // Gives back every window canvas's DC.
    static void FreeDeviceContexts();

protected:
    HDC Acquire() override;

private:
    HWND wnd_;
    HDC dc_ = nullptr;
};

}  // namespace ui
