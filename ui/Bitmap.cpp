#include "ui/Bitmap.h"

#include "ui/Exception.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace ui {

namespace {
int DeviceBitsPerPixel() {
    WindowDc dc(nullptr);
    return dc ? ::GetDeviceCaps(dc.get(), BITSPIXEL) * ::GetDeviceCaps(dc.get(), PLANES) : 32;
}
TScreenDepthSource screenDepth = DeviceBitsPerPixel;
}  // namespace

TScreenDepthSource SetScreenDepthSource(TScreenDepthSource source) {
    return std::exchange(screenDepth, source ? source : DeviceBitsPerPixel);
}

int ScreenBitsPerPixel() {
    const int bpp = screenDepth();
    return bpp > 0 ? bpp : 32;
}

TPixelFormat PixelFormatOfBits(int bits) {
    switch (bits) {
        case 1: return pf1bit;
        case 4: return pf4bit;
        case 8: return pf8bit;
        case 15: return pf15bit;
        case 16: return pf16bit;
        case 24: return pf24bit;
        case 32: return pf32bit;
        default: return pfDevice;
    }
}

TPixelFormat ScreenPixelFormat() {
    const TPixelFormat format = PixelFormatOfBits(ScreenBitsPerPixel());
    return format == pfDevice ? pf32bit : format;
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

namespace {

// Pixels are handled as 0x00RRGGBB, rows bottom-up as in the DIB.
using namespace pixel;
inline RGBQUAD Quad(uint32_t c) {
    return RGBQUAD{static_cast<BYTE>(Blue(c)), static_cast<BYTE>(Green(c)), static_cast<BYTE>(Red(c)), 0};
}

int DibStride(int w, int bpp) { return ((w * (bpp == 15 ? 16 : bpp) + 31) / 32) * 4; }

// The fixed table of an indexed format, with the system's static colours.
std::vector<uint32_t> FormatColorTable(int bpp) {
    PALETTEENTRY pe[20] = {};
    HPALETTE stock = static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE));
    const bool statics = ::GetPaletteEntries(stock, 0, 20, pe) == 20;
    uint32_t colors[20];
    for (int i = 0; i < 20; ++i) colors[i] = Pack(pe[i].peRed, pe[i].peGreen, pe[i].peBlue);
    return FixedColorTable(bpp, statics ? colors : nullptr);
}

}  // namespace

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
        const std::vector<uint32_t> table = FormatColorTable(bpp);
        h.biClrUsed = static_cast<DWORD>(table.size());
        for (size_t i = 0; i < table.size(); ++i) info.colors[i] = Quad(table[i]);
    }
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

// ---- pixel format conversion ----

namespace {

// The pixels of an image as 0x??RRGGBB rows: a 32-bit image's own rows,
// any other's made into `store`.
TPixelRows ReadPixels(TBitmapImage& image, int w, int h, int bpp, std::vector<uint32_t>& store) {
    const int stride = DibStride(w, bpp);
    if (bpp == 32) return TPixelRows{reinterpret_cast<const uint32_t*>(image.bits), stride / 4};
    store.resize(static_cast<size_t>(w) * h);
    uint32_t* out = store.data();
    if (bpp <= 8) {
        RGBQUAD q[256] = {};
        ::GetDIBColorTable(image.Dc(), 0, 256, q);
        uint32_t table[256];
        for (int i = 0; i < 256; ++i) table[i] = Pack(q[i].rgbRed, q[i].rgbGreen, q[i].rgbBlue);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = image.bits + static_cast<size_t>(y) * stride;
            for (int x = 0; x < w; ++x) {
                int index = bpp == 8   ? row[x]
                            : bpp == 4 ? row[x >> 1] >> ((x & 1) ? 0 : 4) & 0x0F
                                       : row[x >> 3] >> (7 - (x & 7)) & 1;
                *out++ = table[index];
            }
        }
    } else if (bpp == 24) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* p = image.bits + static_cast<size_t>(y) * stride;
            for (int x = 0; x < w; ++x, p += 3) *out++ = Pack(p[2], p[1], p[0]);
        }
    } else {
        // Five and six bit channels widen as the platform widens them on the screen.
        TBitmap wide(w, h, pf32bit);
        {
            TCanvas::Lease d(wide.Canvas());
            ::BitBlt(d.get(), 0, 0, w, h, image.Dc(), 0, 0, SRCCOPY);
        }
        ::GdiFlush();
        const uint32_t* p = reinterpret_cast<const uint32_t*>(wide.ConstBits());
        for (size_t i = 0; i < store.size(); ++i) store[i] = p[i] & 0x00FFFFFF;
    }
    return TPixelRows{store.data(), w};
}

// The levels as the platform shows them on the screen, measured once.
const HighColorLevels& Levels() {
    static const HighColorLevels levels = [] {
        HighColorLevels l = WidenedHighColorLevels();
        TBitmap probe(64, 2, pf16bit);
        if (uint8_t* bits = probe.Bits()) {
            auto* row = reinterpret_cast<uint16_t*>(bits);
            for (int i = 0; i < 64; ++i)
                row[i] = static_cast<uint16_t>(std::min(i, 31) << 11 | i << 5);
            ::GdiFlush();
            for (int i = 0; i < 64; ++i) {
                COLORREF c = probe.PixelColor(i, 1);
                if (c == CLR_INVALID) break;
                if (i < 32) l.wide5[i] = GetRValue(c);
                l.wide6[i] = GetGValue(c);
            }
        }
        NarrowHighColorLevels(l);
        return l;
    }();
    return levels;
}

void WritePixels(TBitmapImage& image, int w, int h, int bpp, TPixelRows px,
                 const TColorReduction& how) {
    const int stride = DibStride(w, bpp);
    if (bpp <= 8) {
        const std::vector<uint32_t> table =
            ReduceToIndexed(px, w, h, bpp, FormatColorTable(bpp), how, image.bits, stride);
        RGBQUAD quads[256];
        for (size_t i = 0; i < table.size(); ++i) quads[i] = Quad(table[i]);
        ::SetDIBColorTable(image.Dc(), 0, static_cast<UINT>(table.size()), quads);
    } else if (bpp == 24 || bpp == 32) {
        for (int y = 0; y < h; ++y) {
            const uint32_t* in = px[y];
            uint8_t* p = image.bits + static_cast<size_t>(y) * stride;
            if (bpp == 32) {
                // Without the spare byte a pixel read in place may have.
                for (int x = 0; x < w; ++x) reinterpret_cast<uint32_t*>(p)[x] = in[x] & 0x00FFFFFF;
                continue;
            }
            for (int x = 0; x < w; ++x, p += 3) {
                const uint32_t c = in[x];
                p[0] = static_cast<uint8_t>(Blue(c));
                p[1] = static_cast<uint8_t>(Green(c));
                p[2] = static_cast<uint8_t>(Red(c));
            }
        }
    } else {
        ReduceToHighColor(px, w, h, bpp, Levels(), how, image.bits, stride);
    }
}

}  // namespace

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
    // Pixels are laid out at one depth for good: reading the screen's depth
    // again later (it may have changed) would misread them.
    if (format == pfDevice && w > 0 && h > 0) format = ScreenPixelFormat();
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
    CopyImage(*shared);
}

void TBitmap::CopyImage(const TBitmapImage& from) {
    ::GdiFlush();
    std::memcpy(image_->bits, from.bits, static_cast<size_t>(Stride()) * height_);
    if (BitsPerPixel(format_) <= 8) {
        RGBQUAD colors[256];
        UINT n = ::GetDIBColorTable(const_cast<TBitmapImage&>(from).Dc(), 0, 256, colors);
        if (n) ::SetDIBColorTable(image_->Dc(), 0, n, colors);
    }
}

void TBitmap::OwnPixels(TBitmap* spare) {
    if (!image_ || image_.use_count() == 1) return;
    // Pixels already in place cost no allocation and no first touch of
    // fresh pages: only the copy.
    if (spare && spare != this && spare->image_ && spare->image_.use_count() == 1 &&
        spare->width_ == width_ && spare->height_ == height_ && spare->format_ == format_) {
        const std::shared_ptr<TBitmapImage> shared = image_;
        image_ = std::move(spare->image_);
        spare->FreeImage();
        CopyImage(*shared);
        return;
    }
    Unshare();
}

void TBitmap::SetSize(int w, int h) {
    if (w == width_ && h == height_) return;
    Recreate(w, h, format_, true);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    // At 15 and 16 bits every pixel takes its nearest level: diffusing
    // would take out faint bands, but each pixel would lie further from its
    // colour, also in pictures that came from a table of colours.
    TColorReduction how;
    how.diffuse = BitsPerPixel(format) <= 8;
    SetPixelFormat(format, how);
}

void TBitmap::SetPixelFormat(TPixelFormat format, const TColorReduction& how) {
    if (format == format_) return;
    if (!image_) {
        Recreate(width_, height_, format, false);
        return;
    }
    const int w = width_, h = height_;
    const TPixelFormat was = format_;
    // Kept for a failure, and for any picture assigned from this one.
    const std::shared_ptr<TBitmapImage> old = image_;
    ::GdiFlush();
    try {
        std::vector<uint32_t> store;
        const TPixelRows pixels = ReadPixels(*old, w, h, BitsPerPixel(was), store);
        Recreate(w, h, format, false);
        WritePixels(*image_, w, h, BitsPerPixel(format), pixels, how);
    } catch (...) {
        // A picture that could not be converted stays as it was.
        image_ = old;
        format_ = was;
        try {
            throw;
        } catch (const std::bad_alloc&) {
            throw Exception("Out of system resources");
        }
    }
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
    GdiBitmap loaded(static_cast<HBITMAP>(
        ::LoadImageA(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
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
    ::GetDIBits(dc.get(), loaded.get(), 0, static_cast<UINT>(h), image_->bits,
                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    if (BitsPerPixel(format) <= 8) {
        TCanvas::Lease d(canvas_);
        ::SetDIBColorTable(d.get(), 0, 1u << BitsPerPixel(format), info.colors);
    }
    return true;
}

void TBitmap::FreeImage() { Recreate(0, 0, format_, false); }

COLORREF TBitmap::PixelColor(int x, int y) { return canvas_.Pixels(x, y); }
}  // namespace ui
