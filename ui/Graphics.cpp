#include "ui/Graphics.h"

#include "ui/Exception.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

namespace ui {

int ScreenBitsPerPixel() {
    WindowDc dc(nullptr);
    int bpp = dc ? ::GetDeviceCaps(dc.get(), BITSPIXEL) * ::GetDeviceCaps(dc.get(), PLANES) : 32;
    return bpp > 0 ? bpp : 32;
}

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
        case pf1bit: return 1;
        case pf4bit: return 4;
        case pf8bit: return 8;
        case pf15bit: return 15;
        case pf16bit: return 16;
        case pf24bit: return 24;
        case pf32bit: return 32;
        case pfDevice: break;
    }
    return ScreenBitsPerPixel();
}

void FillDibHeader(DibHeader& info, int width, int height, int bpp) {
    std::memset(&info, 0, sizeof info);
    BITMAPINFOHEADER& h = info.header;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bpp == 15 ? 16 : bpp);
    h.biCompression = BI_RGB;
    if (bpp == 16) {
        // 5-6-5 needs explicit masks; plain 16-bit RGB is 5-5-5.
        h.biCompression = BI_BITFIELDS;
        DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(info.colors, masks, sizeof masks);
    } else if (bpp <= 8) {
        int n = 1 << bpp;
        h.biClrUsed = static_cast<DWORD>(n);
        if (bpp == 1) {
            info.colors[1] = RGBQUAD{255, 255, 255, 0};
        } else {
            PALETTEENTRY pe[20] = {};
            HPALETTE stock = static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE));
            const bool statics = ::GetPaletteEntries(stock, 0, 20, pe) == 20;
            auto quad = [](int r, int g, int b) {
                return RGBQUAD{static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r), 0};
            };
            auto fixed = [&](int i) { return quad(pe[i].peRed, pe[i].peGreen, pe[i].peBlue); };
            if (bpp == 4) {
                // The 16 standard colours: the first and last 8 of the 20 static ones.
                for (int k = 0; statics && k < 8; ++k) {
                    info.colors[k] = fixed(k);
                    info.colors[8 + k] = fixed(12 + k);
                }
            } else {
                // As in the system palette, entry i and entry 255 - i are inverse
                // colours, so that inverting pixels (a not or xor pen, a focus
                // rectangle) inverts their colours: the static colours at both
                // ends, a grey ramp and its inverse, and a 6 x 6 x 6 cube, whose
                // inverse of cube entry c is entry 215 - c.
                for (int k = 0; statics && k < 10; ++k) {
                    info.colors[k] = fixed(k);
                    info.colors[255 - k] = fixed(19 - k);
                }
                for (int k = 0; k < 10; ++k) {
                    int g = 8 + 12 * k;
                    info.colors[10 + k] = quad(g, g, g);
                    info.colors[245 - k] = quad(255 - g, 255 - g, 255 - g);
                }
                for (int c = 0; c < 216; ++c)
                    info.colors[20 + c] = quad(c / 36 * 51, c / 6 % 6 * 51, c % 6 * 51);
            }
        }
    }
}

// ---- colours and fonts ----

COLORREF ColorToRGB(TColor color) {
    if (color & clSystemColor) return ::GetSysColor(static_cast<int>(color & 0xFF));
    if (color == clDefault || color == clNone) return CLR_INVALID;
    return color & 0x00FFFFFF;
}

HBRUSH ColorBrush(TColor color) {
    if (color & clSystemColor) return ::GetSysColorBrush(static_cast<int>(color & 0xFF));
    static std::map<COLORREF, GdiObject> brushes;
    COLORREF rgb = color & 0x00FFFFFF;
    GdiObject& b = brushes[rgb];
    if (!b) {
        b.reset(::CreateSolidBrush(rgb));
        if (!b) throw Exception("Out of system resources");
    }
    return static_cast<HBRUSH>(b.get());
}

int ScreenPixelsPerInch() {
    WindowDc dc(nullptr);
    int dpi = dc ? ::GetDeviceCaps(dc.get(), LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}

GdiObject TGraphicsObject::Owned(HGDIOBJ made) {
    if (!made) throw Exception("Out of system resources");
    return GdiObject(made);
}

void TFont::Assign(const TFont& source) {
    if (&source == this) return;
    name_ = source.name_;
    height_ = source.height_;
    style_ = source.style_;
    color_ = source.color_;
    charset_ = source.charset_;
    Changed();
}

int TFont::Size() const { return -::MulDiv(height_, 72, ScreenPixelsPerInch()); }
void TFont::SetSize(int points) { SetHeight(-::MulDiv(points, ScreenPixelsPerInch(), 72)); }

void TFont::SetLogFont(const LOGFONTA& lf) {
    name_ = lf.lfFaceName;
    height_ = lf.lfHeight;
    style_ = (lf.lfWeight >= FW_BOLD ? fsBold : 0u) | (lf.lfItalic ? fsItalic : 0u) |
             (lf.lfUnderline ? fsUnderline : 0u) | (lf.lfStrikeOut ? fsStrikeOut : 0u);
    charset_ = lf.lfCharSet;
    Changed();
}

LOGFONTA TFont::LogFont() const {
    LOGFONTA lf = {};
    lf.lfHeight = height_;
    lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style_ & fsItalic) ? TRUE : FALSE;
    lf.lfUnderline = (style_ & fsUnderline) ? TRUE : FALSE;
    lf.lfStrikeOut = (style_ & fsStrikeOut) ? TRUE : FALSE;
    lf.lfCharSet = charset_;
    lstrcpynA(lf.lfFaceName, name_.c_str(), LF_FACESIZE);
    return lf;
}

HFONT TFont::Handle() const {
    return Cached<HFONT>([this] {
        LOGFONTA lf = LogFont();
        return ::CreateFontIndirectA(&lf);
    });
}

bool TFont::operator==(const TFont& o) const {
    return name_ == o.name_ && height_ == o.height_ && style_ == o.style_ &&
           color_ == o.color_ && charset_ == o.charset_;
}

// ---- pen and brush ----

void TPen::Assign(const TPen& source) {
    if (&source == this) return;
    color_ = source.color_;
    width_ = source.width_;
    style_ = source.style_;
    mode_ = source.mode_;
    Changed();
}

HPEN TPen::Handle() const {
    static const int styles[] = {PS_SOLID,      PS_DASH, PS_DOT,        PS_DASHDOT,
                                 PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
    return Cached<HPEN>([this] { return ::CreatePen(styles[style_], width_, ColorToRGB(color_)); });
}

void TBrush::Assign(const TBrush& source) {
    if (&source == this) return;
    color_ = source.color_;
    style_ = source.style_;
    Changed();
}

HBRUSH TBrush::Handle() const {
    if (style_ == bsClear) return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    return Cached<HBRUSH>([this] { return ::CreateSolidBrush(ColorToRGB(color_)); });
}

// ---- TCanvas ----

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

// ---- TBitmapCanvas ----

HDC TBitmapCanvas::AcquireForRead() {
    if (owner_.image_) return owner_.image_->Dc();
    if (!emptyDc_) {
        emptyDc_.reset(::CreateCompatibleDC(nullptr));
        if (!emptyDc_) throw Exception("Out of system resources");
    }
    return emptyDc_.get();
}

HDC TBitmapCanvas::Acquire() {
    owner_.Unshare();
    return AcquireForRead();
}

// ---- TBitmapImage ----

TBitmapImage::~TBitmapImage() {
    if (dc && old) ::SelectObject(dc.get(), old);
}

HDC TBitmapImage::Dc() {
    if (!dc) {
        dc.reset(::CreateCompatibleDC(nullptr));
        if (!dc) throw Exception("Out of system resources");
        old = ::SelectObject(dc.get(), dib.get());
    }
    return dc.get();
}

// ---- TBitmap ----

TBitmap::TBitmap() : canvas_(*this) {}

TBitmap::TBitmap(int width, int height, TPixelFormat format) : canvas_(*this) {
    Recreate(width, height, format, false);
}

TBitmap::~TBitmap() = default;

uint8_t* TBitmap::Bits() {
    Unshare();
    return image_ ? image_->bits : nullptr;
}

int TBitmap::Stride() const {
    int bpp = BitsPerPixel(format_);
    if (bpp == 15) bpp = 16;
    return ((width_ * bpp + 31) / 32) * 4;
}

void TBitmap::Recreate(int w, int h, TPixelFormat format, bool keep) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    std::shared_ptr<TBitmapImage> fresh;
    if (w > 0 && h > 0) {
        fresh = std::make_shared<TBitmapImage>();
        DibHeader info;
        FillDibHeader(info, w, h, BitsPerPixel(format));
        void* p = nullptr;
        fresh->dib.reset(::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info),
                                            DIB_RGB_COLORS, &p, nullptr, 0));
        if (!fresh->dib) throw Exception("Out of system resources");
        fresh->bits = static_cast<uint8_t*>(p);
        if (keep && image_)
            ::BitBlt(fresh->Dc(), 0, 0, std::min(w, width_), std::min(h, height_), image_->Dc(),
                     0, 0, SRCCOPY);
    }
    image_ = std::move(fresh);
    width_ = w;
    height_ = h;
    format_ = format;
}

void TBitmap::Unshare() {
    if (!image_ || image_.use_count() == 1) return;
    std::shared_ptr<TBitmapImage> shared = image_;
    Recreate(width_, height_, format_, false);
    ::GdiFlush();
    std::memcpy(image_->bits, shared->bits, static_cast<size_t>(Stride()) * height_);
    if (BitsPerPixel(format_) <= 8) {
        RGBQUAD colors[256];
        UINT n = ::GetDIBColorTable(shared->Dc(), 0, 256, colors);
        if (n) ::SetDIBColorTable(image_->Dc(), 0, n, colors);
    }
}

void TBitmap::SetSize(int w, int h) {
    if (w == width_ && h == height_) return;
    Recreate(w, h, format_, true);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == format_) return;
    Recreate(width_, height_, format, true);
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    ::GdiFlush();
    image_ = source.image_;
    width_ = source.width_;
    height_ = source.height_;
    format_ = source.format_;
}

bool TBitmap::LoadFromResourceName(HINSTANCE instance, const char* name) {
    GdiObject loaded(::LoadImageA(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!loaded) return false;
    DIBSECTION ds{};
    if (::GetObjectA(loaded.get(), sizeof ds, &ds) != sizeof ds) return false;
    TPixelFormat format = pf24bit;
    switch (ds.dsBmih.biBitCount) {
        case 1: format = pf1bit; break;
        case 4: format = pf4bit; break;
        case 8: format = pf8bit; break;
        case 16:
            format = ds.dsBmih.biCompression == BI_BITFIELDS && ds.dsBitfields[1] == 0x07E0
                         ? pf16bit
                         : pf15bit;
            break;
        case 32: format = pf32bit; break;
        default: break;
    }
    const int w = ds.dsBm.bmWidth, h = ds.dsBm.bmHeight;
    Recreate(w, h, format, false);
    if (!image_) return true;
    DibHeader info;
    FillDibHeader(info, w, h, BitsPerPixel(format));
    MemDc dc(::CreateCompatibleDC(nullptr));
    // Same depth: the bits come over as they are, with the resource's colours.
    ::GetDIBits(dc.get(), static_cast<HBITMAP>(loaded.get()), 0, static_cast<UINT>(h), image_->bits,
                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    if (BitsPerPixel(format) <= 8) {
        TCanvas::Lease d(canvas_);
        ::SetDIBColorTable(d.get(), 0, 1u << BitsPerPixel(format), info.colors);
    }
    return true;
}

void TBitmap::FreeImage() { Recreate(0, 0, format_, false); }

COLORREF TBitmap::PixelColor(int x, int y) { return canvas_.Pixels(x, y); }

size_t DescribeDib(TBitmap& bitmap, DibHeader& info) {
    const int bpp = BitsPerPixel(bitmap.PixelFormat());
    FillDibHeader(info, bitmap.Width(), bitmap.Height(), bpp);
    if (bpp <= 8 && !bitmap.Empty()) {
        TCanvas::Lease dc(bitmap.Canvas(), true);
        info.header.biClrUsed = ::GetDIBColorTable(dc.get(), 0, 256, info.colors);
    }
    info.header.biSizeImage = static_cast<DWORD>(static_cast<size_t>(bitmap.Stride()) * bitmap.Height());
    size_t extra = info.header.biCompression == BI_BITFIELDS ? 3 * sizeof(DWORD) : 0;
    if (bpp <= 8) extra += info.header.biClrUsed * sizeof(RGBQUAD);
    return sizeof info.header + extra;
}

void SaveBitmapToStream(TBitmap& bitmap, IStream* stream) {
    if (bitmap.Empty()) throw Exception("Cannot save an empty picture");
    DibHeader info;
    const size_t head = DescribeDib(bitmap, info);
    const size_t pixels = info.header.biSizeImage;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = static_cast<DWORD>(sizeof file + head);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels);
    // One allocation for the whole file: a memory stream grown write by
    // write would copy the picture again.
    ULARGE_INTEGER pos{}, size{};
    LARGE_INTEGER zero{};
    OleCheck(stream->Seek(zero, STREAM_SEEK_CUR, &pos), "Cannot write the picture");
    size.QuadPart = pos.QuadPart + file.bfSize;
    OleCheck(stream->SetSize(size), "Cannot write the picture");
    auto write = [&](const void* p, size_t n) {
        ULONG done = 0;
        OleCheck(stream->Write(p, static_cast<ULONG>(n), &done), "Cannot write the picture");
        if (done != n) OleCheck(STG_E_MEDIUMFULL, "Cannot write the picture");
    };
    write(&file, sizeof file);
    write(&info, head);
    ::GdiFlush();
    write(bitmap.ConstBits(), pixels);
}

}  // namespace ui

