// Bitmaps and canvases: a DIB section with a pixel format, and the drawing
// surface over a bitmap or a window.
#pragma once

#include "ui/Handles.h"

#include <cstdint>
#include <vector>

namespace ui {

// Colours under their library names.
constexpr COLORREF clBlack = RGB(0, 0, 0);
constexpr COLORREF clWhite = RGB(255, 255, 255);
constexpr COLORREF clBlue = RGB(0, 0, 255);

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of a format; pfDevice is the screen's depth.
int BitsPerPixel(TPixelFormat format);
int ScreenBitsPerPixel();

// A drawing surface. Subclasses decide where the DC comes from; every
// operation takes it for its own duration only.
class TCanvas {
public:
    virtual ~TCanvas() = default;

    void CopyRect(const RECT& dest, TCanvas& source, const RECT& src);
    void DrawFocusRect(const RECT& rect);
    void Draw(int x, int y, class TBitmap& bitmap);
    COLORREF Pixel(int x, int y);

    // The DC for one operation; released by the lease.
    class Lease {
    public:
        explicit Lease(TCanvas& c) : c_(c), dc_(c.Acquire()) {}
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
    virtual void Unacquire(HDC) {}
};

// Canvas of a window: a fresh window DC per operation, so nothing is held
// while idle.
class TWindowCanvas : public TCanvas {
public:
    explicit TWindowCanvas(HWND wnd = nullptr) : wnd_(wnd) {}
    void SetWindow(HWND wnd) { wnd_ = wnd; }

protected:
    HDC Acquire() override { return ::GetDC(wnd_); }
    void Unacquire(HDC dc) override { if (dc) ::ReleaseDC(wnd_, dc); }

private:
    HWND wnd_;
};

class TBitmap;

// Canvas of a bitmap: one memory DC with the bitmap selected, made on first use.
class TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap& owner) : owner_(owner) {}
    ~TBitmapCanvas() override { Detach(); }
    // Drops the DC, putting the DC's own bitmap back first.
    void Detach();

protected:
    HDC Acquire() override;

private:
    friend class TBitmap;
    TBitmap& owner_;
    MemDc dc_;
    HGDIOBJ oldBitmap_ = nullptr;
};

class TBitmap {
public:
    TBitmap();
    TBitmap(int width, int height, TPixelFormat format = pfDevice);
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap();

    int Width() const { return width_; }
    int Height() const { return height_; }
    TPixelFormat PixelFormat() const { return format_; }
    bool Empty() const { return width_ <= 0 || height_ <= 0; }

    // Resizing keeps the part of the picture that still fits.
    void SetWidth(int w) { SetSize(w, height_); }
    void SetHeight(int h) { SetSize(width_, h); }
    void SetSize(int w, int h);
    void SetPixelFormat(TPixelFormat format);

    TCanvas& Canvas() { return canvas_; }
    HBITMAP Handle() const { return static_cast<HBITMAP>(dib_.get()); }
    // Pixel rows, bottom-up as in a DIB; null when empty.
    uint8_t* Bits() const { return bits_; }
    int Stride() const;

    void Assign(const TBitmap& source);
    // Takes the pixel format, colours and pixels of a bitmap resource;
    // false (and unchanged) when the module has no such bitmap.
    bool LoadFromResourceName(HINSTANCE instance, const char* name);
    // Drops the pixel data; the bitmap is empty afterwards.
    void FreeImage();

    // Where the pixel at (x, y) lives, for tests and conversions.
    COLORREF PixelColor(int x, int y);

private:
    friend class TBitmapCanvas;
    void Recreate(int w, int h, TPixelFormat format, bool keep);

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pfDevice;
    GdiObject dib_;
    uint8_t* bits_ = nullptr;
    TBitmapCanvas canvas_;
};

// The header, masks and colour table that describe a DIB of the given format.
struct DibHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};
void FillDibHeader(DibHeader& info, int width, int height, int bpp);

}  // namespace ui
