// Bitmaps and canvases: a DIB section with a pixel format, and the drawing
// surface over a bitmap or a window.
#pragma once

#include "ui/Handles.h"

#include <objidl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <memory>
#include <vector>

// The canvas has a TextOut of its own; the ANSI call is named in full.
#undef TextOut

namespace ui {

// A colour: an RGB value, or a system colour (the top bit set, the low byte
// the GetSysColor index) that follows the user's scheme.
using TColor = COLORREF;
constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clMaroon = RGB(128, 0, 0);
constexpr TColor clGreen = RGB(0, 128, 0);
constexpr TColor clOlive = RGB(128, 128, 0);
constexpr TColor clNavy = RGB(0, 0, 128);
constexpr TColor clPurple = RGB(128, 0, 128);
constexpr TColor clTeal = RGB(0, 128, 128);
constexpr TColor clGray = RGB(128, 128, 128);
constexpr TColor clSilver = RGB(192, 192, 192);
constexpr TColor clRed = RGB(255, 0, 0);
constexpr TColor clLime = RGB(0, 255, 0);
constexpr TColor clYellow = RGB(255, 255, 0);
constexpr TColor clBlue = RGB(0, 0, 255);
constexpr TColor clFuchsia = RGB(255, 0, 255);
constexpr TColor clAqua = RGB(0, 255, 255);
constexpr TColor clWhite = RGB(255, 255, 255);
constexpr TColor clSystemColor = 0x80000000u;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clInfoBk = clSystemColor | COLOR_INFOBK;
constexpr TColor clInfoText = clSystemColor | COLOR_INFOTEXT;
constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
constexpr TColor clHotLight = clSystemColor | COLOR_HOTLIGHT;
constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
// "Not set": take the parent's.
constexpr TColor clDefault = 0x20000000u;
constexpr TColor clNone = 0x1FFFFFFFu;

// The RGB value a colour stands for now.
COLORREF ColorToRGB(TColor color);
// A brush of the colour, cached for the process (system colours use the
// system's brushes); never deleted by the caller.
HBRUSH ColorBrush(TColor color);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// A logical font description with its GDI font made on demand. Height is in
// pixels (negative: character height, as LOGFONT); Size is in points.
// A pen, brush or font: a description with its GDI object made on demand
// and dropped at every change.
class TGraphicsObject {
public:
    // Called after every change.
    std::function<void()> OnChange;

protected:
    TGraphicsObject() = default;
    ~TGraphicsObject() = default;
    template <class T>
    void Set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    void Changed() {
        handle_.reset();
        if (OnChange) OnChange();
    }
    // The GDI object, made by make() when there is none.
    template <class H, class F>
    H Cached(F make) const {
        if (!handle_) handle_ = Owned(make());
        return static_cast<H>(handle_.get());
    }
    mutable GdiObject handle_;

private:
    // Raises the program's error for an object that could not be made.
    static GdiObject Owned(HGDIOBJ made);
};

class TFont : public TGraphicsObject {
public:
    TFont() = default;
    TFont(const char* name, int height, TFontStyles style = 0) : name_(name), height_(height),
                                                                 style_(style) {}
    TFont(const TFont& o) { Assign(o); }
    TFont& operator=(const TFont& o) { Assign(o); return *this; }
    void Assign(const TFont& source);

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { Set(name_, name); }
    int Height() const { return height_; }
    void SetHeight(int height) { Set(height_, height); }
    // Points at the screen's logical DPI.
    int Size() const;
    void SetSize(int points);
    TColor Color() const { return color_; }
    void SetColor(TColor color) { Set(color_, color); }
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles style) { Set(style_, style); }
    BYTE Charset() const { return charset_; }
    void SetCharset(BYTE charset) { Set(charset_, charset); }

    // Takes name, height, style and charset from a LOGFONT; the colour stays.
    void SetLogFont(const LOGFONTA& lf);
    LOGFONTA LogFont() const;
    // The GDI font, valid until the next change; the font owns it.
    HFONT Handle() const;

    bool operator==(const TFont& o) const;

private:
    std::string name_ = "MS Sans Serif";
    int height_ = -11;
    TFontStyles style_ = 0;
    TColor color_ = clWindowText;
    BYTE charset_ = DEFAULT_CHARSET;
};

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
// The screen's logical pixels per inch (96 unless the user scaled).
int ScreenPixelsPerInch();

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
// How the pen combines with the pixels under it (the raster operations).
enum TPenMode {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};

class TPen : public TGraphicsObject {
public:
    TPen() = default;
    TPen(const TPen& o) { Assign(o); }
    TPen& operator=(const TPen& o) { Assign(o); return *this; }
    void Assign(const TPen& source);

    TColor Color() const { return color_; }
    void SetColor(TColor color) { Set(color_, color); }
    int Width() const { return width_; }
    void SetWidth(int width) { Set(width_, width); }
    TPenStyle Style() const { return style_; }
    void SetStyle(TPenStyle style) { Set(style_, style); }
    TPenMode Mode() const { return mode_; }
    void SetMode(TPenMode mode) { Set(mode_, mode); }
    // The GDI pen, valid until the next change; the pen owns it.
    HPEN Handle() const;

private:
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = psSolid;
    TPenMode mode_ = pmCopy;
};

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TGraphicsObject {
public:
    TBrush() = default;
    TBrush(const TBrush& o) { Assign(o); }
    TBrush& operator=(const TBrush& o) { Assign(o); return *this; }
    void Assign(const TBrush& source);

    TColor Color() const { return color_; }
    void SetColor(TColor color) { Set(color_, color); }
    TBrushStyle Style() const { return style_; }
    void SetStyle(TBrushStyle style) { Set(style_, style); }
    // The GDI brush (the stock hollow brush when clear), valid until the
    // next change; the brush owns it.
    HBRUSH Handle() const;

private:
    TColor color_ = clWhite;
    TBrushStyle style_ = bsSolid;
};

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
    void Draw(int x, int y, class TBitmap& bitmap);

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

    GdiObject dib;
    uint8_t* bits = nullptr;
    MemDc dc;
    HGDIOBJ old = nullptr;
};

// How a picture is re-encoded in a format that holds fewer colours than it
// has.
struct TColorReduction {
    // A table of the picture's own colours when they fit, else one made for
    // them; or the format's fixed table.
    bool adaptive = true;
    // Each pixel's rounding error goes on to its neighbours, so gradients
    // keep their shades instead of turning into bands.
    bool diffuse = true;
    // Except inside areas of one colour, which would turn to grain.
    bool keepFlatAreas = true;
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
    HBITMAP Handle() const { return image_ ? static_cast<HBITMAP>(image_->dib.get()) : nullptr; }
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
// The same for a bitmap as it is, with its own colour table; the size of
// the header with what follows it, where a packed DIB's pixels start.
size_t DescribeDib(TBitmap& bitmap, DibHeader& info);
// Hands a complete bitmap file ("BM" header, info header, masks or colour
// table, pixel rows) of the bitmap at its own pixel format to `write`, in
// three pieces, the pixels straight from the bitmap.
using TBitmapFileWriter = std::function<void(const void* data, size_t size)>;
void WriteBitmapFile(TBitmap& bitmap, const TBitmapFileWriter& write);
// The same into a stream at its current position. Raises EOleSysError when
// the stream refuses.
void SaveBitmapToStream(TBitmap& bitmap, IStream* stream);
// Reads a bitmap file as WriteBitmapFile makes them, at its own pixel
// format and colours; raises, naming the file, for anything else.
void LoadBitmapFile(const std::wstring& path, TBitmap& bitmap);
// A new stream over global memory that holds the bitmap file, positioned at
// its start and freed with its last reference.
ComPtr<IStream> BitmapFileStream(TBitmap& bitmap);

}  // namespace ui
