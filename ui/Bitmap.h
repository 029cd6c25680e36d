// The bitmap: a DIB section with a pixel format, its pixels shared between
// copies until one of them changes.
#pragma once

#include "ui/Canvas.h"
#include "ui/ColorReduction.h"

#include <cstdint>
#include <memory>

namespace ui {

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of a format; pfDevice is the screen's depth.
int BitsPerPixel(TPixelFormat format);
int ScreenBitsPerPixel();
// Where the screen's depth is read; tests put another in place. Gives back
// the one it replaces.
using TScreenDepthSource = int (*)();
TScreenDepthSource SetScreenDepthSource(TScreenDepthSource source);
// The format of a number of bits per pixel; pfDevice for a number that
// is none of the formats'.
TPixelFormat PixelFormatOfBits(int bits);
// The format of the screen's depth now. A bitmap made "at the device's
// depth" takes it once, when its pixels are made, and keeps it.
TPixelFormat ScreenPixelFormat();

class TBitmap;

// Canvas of a bitmap: the memory DC of the bitmap's pixels.
class TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap& owner) : owner_(owner) {}

protected:
    HDC Acquire() override;
    HDC AcquireForRead() override;

private:
    TBitmap& owner_;
    MemDc emptyDc_;  // drawing on an empty bitmap does nothing
};

// The pixels of one or more bitmaps assigned from each other, with the
// memory DC they are selected into; a bitmap about to change gets pixels of
// its own first, so assigning a screen-sized picture costs no copy.
struct TBitmapImage {
    TBitmapImage() = default;
    TBitmapImage(const TBitmapImage&) = delete;
    TBitmapImage& operator=(const TBitmapImage&) = delete;
    ~TBitmapImage();
    HDC Dc();

    GdiBitmap dib;
    uint8_t* bits = nullptr;
    MemDc dc;
    HGDIOBJ old = nullptr;
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
    // Re-encodes every pixel: onto a table made for the picture, its error
    // diffused outside areas of one colour, or at 15 and 16 bits to each
    // channel's nearest level. Size and any assigned copy stay as they are.
    void SetPixelFormat(TPixelFormat format);
    void SetPixelFormat(TPixelFormat format, const TColorReduction& how);

    TCanvas& Canvas() { return canvas_; }
    HBITMAP Handle() const { return image_ ? image_->dib.get() : nullptr; }
    // Pixel rows, bottom-up as in a DIB, to change them; null when empty.
    uint8_t* Bits();
    // The same, to read them.
    const uint8_t* ConstBits() const { return image_ ? image_->bits : nullptr; }
    int Stride() const;

    void Assign(const TBitmap& source);
    // Gives the bitmap pixels of its own now, when it shares them with an
    // assigned copy, instead of at its next change; raises when there is no
    // memory for them, leaving the two sharing. A spare bitmap of the same
    // size and format whose pixels are its own lends them instead of a new
    // allocation, and is empty afterwards.
    void OwnPixels(TBitmap* spare = nullptr);
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
    // Gives this bitmap pixels of its own before they change.
    void Unshare();
    // Copies pixels and colour table of the shared image into this one's.
    void CopyImage(const TBitmapImage& from);

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pfDevice;
    std::shared_ptr<TBitmapImage> image_;
    TBitmapCanvas canvas_;
};

// The header, masks and colour table that describe a DIB of the given format.
struct DibHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};
void FillDibHeader(DibHeader& info, int width, int height, int bpp);

}  // namespace ui
