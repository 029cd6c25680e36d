#include "ui/Graphics.h"

#include "ui/Exception.h"

#include <algorithm>
#include <cstring>

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
            // The system palette's static colours, then a colour cube.
            PALETTEENTRY pe[256] = {};
            HPALETTE stock = static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE));
            UINT got = ::GetPaletteEntries(stock, 0, 20, pe);
            int i = 0;
            for (; i < n && i < static_cast<int>(got) && (bpp == 8 || i < 16); ++i)
                info.colors[i] = RGBQUAD{pe[i].peBlue, pe[i].peGreen, pe[i].peRed, 0};
            if (bpp == 4 && got >= 20) {
                // 4-bit takes the 16 standard VGA colours (first 8, last 8 of the 20).
                for (int k = 0; k < 8; ++k)
                    info.colors[8 + k] = RGBQUAD{pe[12 + k].peBlue, pe[12 + k].peGreen,
                                                 pe[12 + k].peRed, 0};
                i = 16;
            }
            for (int r = 0; r < 6 && i < n; ++r)
                for (int g = 0; g < 6 && i < n; ++g)
                    for (int b = 0; b < 6 && i < n; ++b)
                        info.colors[i++] = RGBQUAD{static_cast<BYTE>(b * 51),
                                                   static_cast<BYTE>(g * 51),
                                                   static_cast<BYTE>(r * 51), 0};
        }
    }
}

// ---- TCanvas ----

void TCanvas::CopyRect(const RECT& dest, TCanvas& source, const RECT& src) {
    Lease d(*this);
    Lease s(source);
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
    Lease s(bitmap.Canvas());
    if (d.get() && s.get())
        ::BitBlt(d.get(), x, y, bitmap.Width(), bitmap.Height(), s.get(), 0, 0, SRCCOPY);
}

COLORREF TCanvas::Pixel(int x, int y) {
    Lease d(*this);
    return d.get() ? ::GetPixel(d.get(), x, y) : CLR_INVALID;
}

// ---- TBitmapCanvas ----

HDC TBitmapCanvas::Acquire() {
    if (!dc_) {
        dc_.reset(::CreateCompatibleDC(nullptr));
        if (!dc_) throw Exception("Out of system resources");
    }
    if (!oldBitmap_ && owner_.Handle()) oldBitmap_ = ::SelectObject(dc_.get(), owner_.Handle());
    return dc_.get();
}

void TBitmapCanvas::Detach() {
    if (dc_ && oldBitmap_) ::SelectObject(dc_.get(), oldBitmap_);
    oldBitmap_ = nullptr;
    dc_.reset();
}

// ---- TBitmap ----

TBitmap::TBitmap() : canvas_(*this) {}

TBitmap::TBitmap(int width, int height, TPixelFormat format) : canvas_(*this) {
    Recreate(width, height, format, false);
}

TBitmap::~TBitmap() { canvas_.Detach(); }

int TBitmap::Stride() const {
    int bpp = BitsPerPixel(format_);
    if (bpp == 15) bpp = 16;
    return ((width_ * bpp + 31) / 32) * 4;
}

void TBitmap::Recreate(int w, int h, TPixelFormat format, bool keep) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    GdiObject fresh;
    uint8_t* bits = nullptr;
    if (w > 0 && h > 0) {
        DibHeader info;
        FillDibHeader(info, w, h, BitsPerPixel(format));
        void* p = nullptr;
        fresh.reset(::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info),
                                       DIB_RGB_COLORS, &p, nullptr, 0));
        if (!fresh) throw Exception("Out of system resources");
        bits = static_cast<uint8_t*>(p);
        if (keep && dib_) {
            MemDc dc(::CreateCompatibleDC(nullptr));
            SelectGuard sel(dc.get(), fresh.get());
            TCanvas::Lease src(canvas_);
            ::BitBlt(dc.get(), 0, 0, std::min(w, width_), std::min(h, height_), src.get(), 0, 0,
                     SRCCOPY);
        }
    }
    canvas_.Detach();
    dib_ = std::move(fresh);
    bits_ = bits;
    width_ = w;
    height_ = h;
    format_ = format;
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
    Recreate(source.width_, source.height_, source.format_, false);
    if (bits_ && source.bits_) {
        ::GdiFlush();
        std::memcpy(bits_, source.bits_, static_cast<size_t>(Stride()) * height_);
        int bpp = BitsPerPixel(format_);
        if (bpp <= 8) {
            // Palettes may have been changed on the source.
            RGBQUAD colors[256];
            TCanvas::Lease s(const_cast<TBitmap&>(source).canvas_);
            UINT n = ::GetDIBColorTable(s.get(), 0, 256, colors);
            TCanvas::Lease d(canvas_);
            if (n) ::SetDIBColorTable(d.get(), 0, n, colors);
        }
    }
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
    if (!bits_) return true;
    DibHeader info;
    FillDibHeader(info, w, h, BitsPerPixel(format));
    MemDc dc(::CreateCompatibleDC(nullptr));
    // Same depth: the bits come over as they are, with the resource's colours.
    ::GetDIBits(dc.get(), static_cast<HBITMAP>(loaded.get()), 0, static_cast<UINT>(h), bits_,
                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    if (BitsPerPixel(format) <= 8) {
        TCanvas::Lease d(canvas_);
        ::SetDIBColorTable(d.get(), 0, 1u << BitsPerPixel(format), info.colors);
    }
    return true;
}

void TBitmap::FreeImage() { Recreate(0, 0, format_, false); }

COLORREF TBitmap::PixelColor(int x, int y) { return canvas_.Pixel(x, y); }

}  // namespace ui
