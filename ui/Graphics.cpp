#include "ui/Graphics.h"

#include "ui/Exception.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <utility>

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

// ---- pixel format conversion ----

namespace {

// Pixels are handled as 0x00RRGGBB, rows bottom-up as in the DIB.
inline int Red(uint32_t c) { return static_cast<int>(c >> 16 & 0xFF); }
inline int Green(uint32_t c) { return static_cast<int>(c >> 8 & 0xFF); }
inline int Blue(uint32_t c) { return static_cast<int>(c & 0xFF); }
inline uint32_t Pack(int r, int g, int b) {
    return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
}
inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

int DibStride(int w, int bpp) { return ((w * (bpp == 15 ? 16 : bpp) + 31) / 32) * 4; }

std::vector<uint32_t> ReadPixels(TBitmapImage& image, int w, int h, int bpp) {
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    const int stride = DibStride(w, bpp);
    uint32_t* out = px.data();
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
    } else if (bpp == 24 || bpp == 32) {
        const int step = bpp / 8;
        for (int y = 0; y < h; ++y) {
            const uint8_t* p = image.bits + static_cast<size_t>(y) * stride;
            for (int x = 0; x < w; ++x, p += step) *out++ = Pack(p[2], p[1], p[0]);
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
        for (size_t i = 0; i < px.size(); ++i) px[i] = p[i] & 0x00FFFFFF;
    }
    return px;
}

// The 8-bit value of every 5- and 6-bit channel level as the platform shows
// it, and the nearest level of every 8-bit value.
struct ChannelLevels {
    uint8_t wide5[32], wide6[64], narrow5[256], narrow6[256];
};

const ChannelLevels& Levels() {
    static const ChannelLevels levels = [] {
        ChannelLevels l{};
        for (int i = 0; i < 32; ++i) l.wide5[i] = static_cast<uint8_t>(i << 3 | i >> 2);
        for (int i = 0; i < 64; ++i) l.wide6[i] = static_cast<uint8_t>(i << 2 | i >> 4);
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
        for (int v = 0; v < 256; ++v) {
            auto nearest = [v](const uint8_t* wide, int n) {
                int best = 0;
                for (int i = 1; i < n; ++i)
                    if (std::abs(wide[i] - v) < std::abs(wide[best] - v)) best = i;
                return static_cast<uint8_t>(best);
            };
            l.narrow5[v] = nearest(l.wide5, 32);
            l.narrow6[v] = nearest(l.wide6, 64);
        }
        return l;
    }();
    return levels;
}

// Every pixel mapped by pick(r, g, b, shown), which returns the code of the
// pixel and sets the colour that code shows, and stored by put(x, y, code).
// Diffusing spreads each pixel's error over the pixels still to come
// (Floyd and Steinberg's weights, alternate rows run backwards).
template <class Pick, class Put>
void Quantize(const std::vector<uint32_t>& px, int w, int h, bool diffuse, bool keepFlat, Pick pick,
              Put put) {
    uint32_t shown = 0;
    if (!diffuse) {
        for (int y = 0; y < h; ++y) {
            const uint32_t* row = px.data() + static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                const uint32_t c = row[x];
                put(x, y, pick(Red(c), Green(c), Blue(c), shown));
            }
        }
        return;
    }
    // Errors in sixteenths, one pixel of margin on either side.
    std::vector<int> cur(static_cast<size_t>(w + 2) * 3), next(cur.size());
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = px.data() + static_cast<size_t>(y) * w;
        // Off the picture counts as another colour.
        const uint32_t* above = y + 1 < h ? row + w : nullptr;
        const uint32_t* below = y > 0 ? row - w : nullptr;
        std::fill(next.begin(), next.end(), 0);
        const bool forward = y % 2 == 0;
        const int dir = forward ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = forward ? i : w - 1 - i;
            const uint32_t c = row[x];
            if (keepFlat && ((above && c == above[x]) || (below && c == below[x])) &&
                ((x > 0 && c == row[x - 1]) || (x + 1 < w && c == row[x + 1]))) {
                // In an area of one colour, its rim included: no error comes
                // in or goes out, so the area stays one colour and its edges
                // stay sharp.
                put(x, y, pick(Red(c), Green(c), Blue(c), shown));
                continue;
            }
            int* e = &cur[static_cast<size_t>(x + 1) * 3];
            const int r = Clamp255(Red(c) + ((e[0] + 8) >> 4));
            const int g = Clamp255(Green(c) + ((e[1] + 8) >> 4));
            const int b = Clamp255(Blue(c) + ((e[2] + 8) >> 4));
            put(x, y, pick(r, g, b, shown));
            const int err[3] = {r - Red(shown), g - Green(shown), b - Blue(shown)};
            int* ahead = &cur[static_cast<size_t>(x + 1 + dir) * 3];
            int* under = &next[static_cast<size_t>(x + 1) * 3];
            for (int k = 0; k < 3; ++k) {
                ahead[k] += err[k] * 7;
                under[k - 3 * dir] += err[k] * 3;
                under[k] += err[k] * 5;
                under[k + 3 * dir] += err[k];
            }
        }
        cur.swap(next);
    }
}

// A set of at most 256 colours, each with its table index.
class ColorSet {
public:
    ColorSet() { std::fill(std::begin(keys_), std::end(keys_), kFree); }
    // False when the colour is new and the set is full.
    bool Add(uint32_t c, size_t limit) {
        size_t i = Slot(c);
        if (keys_[i] == c) return true;
        if (colors.size() >= limit) return false;
        keys_[i] = c;
        index_[i] = static_cast<uint8_t>(colors.size());
        colors.push_back(c);
        return true;
    }
    int IndexOf(uint32_t c) const { return index_[Slot(c)]; }

    std::vector<uint32_t> colors;

private:
    static constexpr size_t kSize = 1024;
    size_t Slot(uint32_t c) const {
        size_t i = (c * 2654435761u) >> 22;
        while (keys_[i] != c && keys_[i] != kFree) i = (i + 1) & (kSize - 1);
        return i;
    }
    static constexpr uint32_t kFree = 0xFFFFFFFFu;
    uint32_t keys_[kSize];
    uint8_t index_[kSize] = {};
};

// The nearest table entry of a colour (in RGB distance). The colour cube is
// cut into cells of 8 x 8 x 8; each cell remembers, once asked, the entries
// that can be nearest to some colour in it, so a look-up tries only those.
class NearestEntry {
public:
    explicit NearestEntry(const std::vector<uint32_t>& table)
        : table_(table), first_(32768), count_(32768, kUnknown) {}

    int operator()(int r, int g, int b) {
        const int cell = (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
        if (count_[cell] == kUnknown) Fill(cell);
        const uint8_t* c = candidates_.data() + first_[cell];
        const uint8_t* end = c + count_[cell];
        int best = *c, bestDist = 1 << 30;
        for (; c != end; ++c) {
            const uint32_t e = table_[*c];
            const int dr = Red(e) - r, dg = Green(e) - g, db = Blue(e) - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDist) bestDist = d, best = *c;
        }
        return best;
    }
    uint32_t Color(int index) const { return table_[index]; }

private:
    void Fill(int cell) {
        const int lo[3] = {(cell >> 10) << 3, (cell >> 5 & 31) << 3, (cell & 31) << 3};
        std::vector<int> nearDist(table_.size());
        int bound = 1 << 30;
        for (size_t i = 0; i < table_.size(); ++i) {
            const int v[3] = {Red(table_[i]), Green(table_[i]), Blue(table_[i])};
            int dmin = 0, dmax = 0;
            for (int k = 0; k < 3; ++k) {
                const int below = lo[k] - v[k], above = v[k] - (lo[k] + 7);
                const int out = std::max({below, above, 0});
                const int apart = std::max(std::abs(v[k] - lo[k]), std::abs(v[k] - lo[k] - 7));
                dmin += out * out;
                dmax += apart * apart;
            }
            nearDist[i] = dmin;
            bound = std::min(bound, dmax);
        }
        const size_t start = candidates_.size();
        for (size_t i = 0; i < table_.size(); ++i)
            if (nearDist[i] <= bound &&
                std::find(table_.begin(), table_.begin() + i, table_[i]) == table_.begin() + i)
                candidates_.push_back(static_cast<uint8_t>(i));
        first_[cell] = static_cast<uint32_t>(start);
        count_[cell] = static_cast<uint16_t>(candidates_.size() - start);
    }

    static constexpr uint16_t kUnknown = 0xFFFF;
    std::vector<uint32_t> table_;
    std::vector<uint32_t> first_;
    std::vector<uint16_t> count_;
    std::vector<uint8_t> candidates_;
};

// A table of up to n colours for a picture. On a histogram of 32 levels a
// channel, the box of colours with the largest squared error is cut in two
// at the median of its most spread channel until there are n boxes; their
// means are then refined by a few rounds of moving each colour to the mean
// of the pixels nearest it. A colour that more than half of those pixels
// have exactly takes the place of their mean, so that the flat areas of a
// screenshot keep their colour.
std::vector<uint32_t> AdaptiveTable(const std::vector<uint32_t>& px, int n) {
    constexpr int kBins = 32768;
    auto binOf = [](uint32_t c) { return (c >> 9 & 0x7C00) | (c >> 6 & 0x3E0) | (c >> 3 & 0x1F); };
    std::vector<uint32_t> count(kBins), mode(kBins), votes(kBins);
    std::vector<uint64_t> sum(kBins * 3);
    for (uint32_t c : px) {
        const uint32_t i = binOf(c);
        ++count[i];
        sum[i * 3] += static_cast<uint32_t>(Red(c));
        sum[i * 3 + 1] += static_cast<uint32_t>(Green(c));
        sum[i * 3 + 2] += static_cast<uint32_t>(Blue(c));
        // The bin's most common colour, if one has more than half (a
        // majority vote), counted exactly below.
        if (votes[i] == 0) mode[i] = c;
        if (mode[i] == c)
            ++votes[i];
        else
            --votes[i];
    }
    std::fill(votes.begin(), votes.end(), 0);
    for (uint32_t c : px) {
        const uint32_t i = binOf(c);
        votes[i] += mode[i] == c;
    }
    // The occupied bins as points (their mean colour) weighted by their pixels.
    struct Point {
        double w, c[3];
        uint32_t mode;
        double modeCount;
    };
    std::vector<Point> points;
    for (int i = 0; i < kBins; ++i)
        if (count[i] > 0) {
            const double w = count[i];
            points.push_back({w,
                              {static_cast<double>(sum[i * 3]) / w,
                               static_cast<double>(sum[i * 3 + 1]) / w,
                               static_cast<double>(sum[i * 3 + 2]) / w},
                              mode[i],
                              static_cast<double>(votes[i])});
        }

    struct Box {
        size_t begin, end;
        double w, mean[3], sse[3];
    };
    auto measure = [&](size_t begin, size_t end) {
        Box box{begin, end, 0, {0, 0, 0}, {0, 0, 0}};
        double s[3] = {0, 0, 0}, q[3] = {0, 0, 0};
        for (size_t i = begin; i < end; ++i)
            for (int k = 0; k < 3; ++k) {
                s[k] += points[i].w * points[i].c[k];
                q[k] += points[i].w * points[i].c[k] * points[i].c[k];
            }
        for (size_t i = begin; i < end; ++i) box.w += points[i].w;
        for (int k = 0; k < 3; ++k) {
            box.mean[k] = box.w > 0 ? s[k] / box.w : 0;
            box.sse[k] = box.w > 0 ? q[k] - s[k] * s[k] / box.w : 0;
        }
        return box;
    };
    std::vector<Box> boxes{measure(0, points.size())};
    while (static_cast<int>(boxes.size()) < n) {
        size_t pick = boxes.size();
        double worst = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const double e = boxes[i].sse[0] + boxes[i].sse[1] + boxes[i].sse[2];
            if (boxes[i].end - boxes[i].begin > 1 && e > worst) worst = e, pick = i;
        }
        if (pick == boxes.size()) break;
        Box box = boxes[pick];
        const int axis = box.sse[0] >= box.sse[1] && box.sse[0] >= box.sse[2] ? 0
                         : box.sse[1] >= box.sse[2]                         ? 1
                                                                            : 2;
        std::sort(points.begin() + box.begin, points.begin() + box.end,
                  [axis](const Point& a, const Point& b) { return a.c[axis] < b.c[axis]; });
        size_t cut = box.begin + 1;
        double below = points[box.begin].w;
        while (cut < box.end - 1 && below + points[cut].w <= box.w / 2) below += points[cut++].w;
        boxes[pick] = measure(box.begin, cut);
        boxes.push_back(measure(cut, box.end));
    }
    std::vector<std::array<double, 3>> means;
    for (const Box& b : boxes) means.push_back({b.mean[0], b.mean[1], b.mean[2]});
    auto nearest = [&](const Point& p) {
        size_t best = 0;
        double bestDist = 1e300;
        for (size_t j = 0; j < means.size(); ++j) {
            const double dr = means[j][0] - p.c[0], dg = means[j][1] - p.c[1],
                         db = means[j][2] - p.c[2];
            const double d = dr * dr + dg * dg + db * db;
            if (d < bestDist) bestDist = d, best = j;
        }
        return best;
    };
    for (int round = 0; round < 4; ++round) {
        std::vector<std::array<double, 4>> acc(means.size(), {0, 0, 0, 0});
        for (const Point& p : points) {
            const size_t j = nearest(p);
            for (int k = 0; k < 3; ++k) acc[j][k] += p.w * p.c[k];
            acc[j][3] += p.w;
        }
        for (size_t j = 0; j < means.size(); ++j)
            if (acc[j][3] > 0)
                for (int k = 0; k < 3; ++k) means[j][k] = acc[j][k] / acc[j][3];
    }
    std::vector<uint32_t> table;
    for (const auto& m : means)
        table.push_back(Pack(Clamp255(static_cast<int>(m[0] + 0.5)),
                             Clamp255(static_cast<int>(m[1] + 0.5)),
                             Clamp255(static_cast<int>(m[2] + 0.5))));
    std::vector<double> weight(means.size()), modeCount(means.size());
    std::vector<uint32_t> modeOf(means.size());
    for (const Point& p : points) {
        const size_t j = nearest(p);
        weight[j] += p.w;
        if (p.modeCount > modeCount[j]) modeCount[j] = p.modeCount, modeOf[j] = p.mode;
    }
    for (size_t j = 0; j < means.size(); ++j)
        if (modeCount[j] * 2 > weight[j]) table[j] = modeOf[j];
    return table;
}

std::vector<uint32_t> FixedTable(int bpp) {
    DibHeader info;
    FillDibHeader(info, 1, 1, bpp);
    std::vector<uint32_t> table;
    for (int i = 0; i < (1 << bpp); ++i)
        table.push_back(Pack(info.colors[i].rgbRed, info.colors[i].rgbGreen, info.colors[i].rgbBlue));
    return table;
}

// Fills the table up to n entries with the fixed table's colours it lacks,
// so that a pen colour drawn later still finds its like.
void CompleteTable(std::vector<uint32_t>& table, int bpp) {
    const size_t n = size_t{1} << bpp;
    for (uint32_t c : FixedTable(bpp))
        if (table.size() < n && std::find(table.begin(), table.end(), c) == table.end())
            table.push_back(c);
    while (table.size() < n) table.push_back(table.empty() ? 0 : table.back());
}

void WriteIndexed(TBitmapImage& image, int w, int h, int bpp, const std::vector<uint32_t>& px,
                  const TColorReduction& how) {
    const int stride = DibStride(w, bpp);
    std::memset(image.bits, 0, static_cast<size_t>(stride) * h);
    auto put = [&](int x, int y, int index) {
        uint8_t* row = image.bits + static_cast<size_t>(y) * stride;
        if (bpp == 8)
            row[x] = static_cast<uint8_t>(index);
        else if (bpp == 4)
            row[x >> 1] |= static_cast<uint8_t>(index << ((x & 1) ? 0 : 4));
        else
            row[x >> 3] |= static_cast<uint8_t>(index << (7 - (x & 7)));
    };
    const size_t n = size_t{1} << bpp;
    std::vector<uint32_t> table;
    // A picture with no more colours than the table holds keeps every one.
    auto few = std::make_unique<ColorSet>();
    bool fits = how.adaptive;
    for (size_t i = 0; fits && i < px.size(); ++i)
        if (i == 0 || px[i] != px[i - 1]) fits = few->Add(px[i], n);
    if (fits) {
        table = few->colors;
        CompleteTable(table, bpp);
        Quantize(px, w, h, false, false,
                 [&](int r, int g, int b, uint32_t& shown) {
                     shown = Pack(r, g, b);
                     return few->IndexOf(shown);
                 },
                 put);
    } else {
        table = how.adaptive ? AdaptiveTable(px, static_cast<int>(n)) : FixedTable(bpp);
        CompleteTable(table, bpp);
        NearestEntry nearest(table);
        Quantize(px, w, h, how.diffuse, how.keepFlatAreas,
                 [&](int r, int g, int b, uint32_t& shown) {
                     const int i = nearest(r, g, b);
                     shown = nearest.Color(i);
                     return i;
                 },
                 put);
    }
    RGBQUAD quads[256];
    for (size_t i = 0; i < n; ++i)
        quads[i] = RGBQUAD{static_cast<BYTE>(Blue(table[i])), static_cast<BYTE>(Green(table[i])),
                           static_cast<BYTE>(Red(table[i])), 0};
    ::SetDIBColorTable(image.Dc(), 0, static_cast<UINT>(n), quads);
}

void WritePixels(TBitmapImage& image, int w, int h, int bpp, const std::vector<uint32_t>& px,
                 const TColorReduction& how) {
    const int stride = DibStride(w, bpp);
    if (bpp <= 8) {
        WriteIndexed(image, w, h, bpp, px, how);
    } else if (bpp == 24 || bpp == 32) {
        const int step = bpp / 8;
        const uint32_t* in = px.data();
        for (int y = 0; y < h; ++y) {
            uint8_t* p = image.bits + static_cast<size_t>(y) * stride;
            if (bpp == 32) {
                std::memcpy(p, in, static_cast<size_t>(w) * 4);
                in += w;
                continue;
            }
            for (int x = 0; x < w; ++x, p += step) {
                const uint32_t c = *in++;
                p[0] = static_cast<uint8_t>(Blue(c));
                p[1] = static_cast<uint8_t>(Green(c));
                p[2] = static_cast<uint8_t>(Red(c));
            }
        }
    } else {
        const ChannelLevels& l = Levels();
        const bool six = bpp == 16;
        auto put = [&](int x, int y, int code) {
            reinterpret_cast<uint16_t*>(image.bits + static_cast<size_t>(y) * stride)[x] =
                static_cast<uint16_t>(code);
        };
        Quantize(px, w, h, how.diffuse, how.keepFlatAreas,
                 [&](int r, int g, int b, uint32_t& shown) {
                     const int cr = l.narrow5[r], cb = l.narrow5[b];
                     const int cg = six ? l.narrow6[g] : l.narrow5[g];
                     shown = Pack(l.wide5[cr], six ? l.wide6[cg] : l.wide5[cg], l.wide5[cb]);
                     return six ? cr << 11 | cg << 5 | cb : cr << 10 | cg << 5 | cb;
                 },
                 put);
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
        std::vector<uint32_t> pixels = ReadPixels(*old, w, h, BitsPerPixel(was));
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

void WriteBitmapFile(TBitmap& bitmap, const TBitmapFileWriter& write) {
    if (bitmap.Empty()) throw Exception("Cannot save an empty picture");
    DibHeader info;
    const size_t head = DescribeDib(bitmap, info);
    const size_t pixels = info.header.biSizeImage;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = static_cast<DWORD>(sizeof file + head);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels);
    write(&file, sizeof file);
    write(&info, head);
    ::GdiFlush();
    write(bitmap.ConstBits(), pixels);
}

void SaveBitmapToStream(TBitmap& bitmap, IStream* stream) {
    if (bitmap.Empty()) throw Exception("Cannot save an empty picture");
    // One allocation for the whole file: a memory stream grown write by
    // write would copy the picture again.
    ULARGE_INTEGER pos{}, size{};
    LARGE_INTEGER zero{};
    OleCheck(stream->Seek(zero, STREAM_SEEK_CUR, &pos), "Cannot write the picture");
    DibHeader info;
    size.QuadPart = pos.QuadPart + sizeof(BITMAPFILEHEADER) + DescribeDib(bitmap, info) +
                    info.header.biSizeImage;
    OleCheck(stream->SetSize(size), "Cannot write the picture");
    WriteBitmapFile(bitmap, [&](const void* p, size_t n) {
        ULONG done = 0;
        OleCheck(stream->Write(p, static_cast<ULONG>(n), &done), "Cannot write the picture");
        if (done != n) OleCheck(STG_E_MEDIUMFULL, "Cannot write the picture");
    });
}

void LoadBitmapFile(const std::wstring& path, TBitmap& bitmap) {
    const std::string what = "Cannot read the picture " + Quoted(path);
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw Exception(what + ". " + SysErrorMessage(::GetLastError()));
    auto read = [&](void* p, size_t n) {
        DWORD done = 0;
        if (!::ReadFile(file.get(), p, static_cast<DWORD>(n), &done, nullptr))
            throw Exception(what + ". " + SysErrorMessage(::GetLastError()));
        if (done != n) throw Exception(what + ": the file is cut short");
    };
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) throw Exception(what + ". " + SysErrorMessage(::GetLastError()));
    BITMAPFILEHEADER fh{};
    DibHeader info{};
    if (size.QuadPart < static_cast<LONGLONG>(sizeof fh + sizeof info.header))
        throw Exception(what + ": it is no bitmap file");
    read(&fh, sizeof fh);
    read(&info.header, sizeof info.header);
    const BITMAPINFOHEADER& h = info.header;
    // Only the forms this program writes: anything else is damage.
    TPixelFormat format = pfDevice;
    switch (h.biBitCount) {
        case 1: format = pf1bit; break;
        case 4: format = pf4bit; break;
        case 8: format = pf8bit; break;
        case 16: format = h.biCompression == BI_BITFIELDS ? pf16bit : pf15bit; break;
        case 24: format = pf24bit; break;
        case 32: format = pf32bit; break;
        default: break;
    }
    const bool bitfields = h.biCompression == BI_BITFIELDS;
    const DWORD colors = h.biBitCount <= 8 ? (h.biClrUsed ? h.biClrUsed : 1u << h.biBitCount) : 0;
    const long long width = h.biWidth, height = h.biHeight;
    if (fh.bfType != 0x4D42 || h.biSize != sizeof h || h.biPlanes != 1 || format == pfDevice ||
        (h.biCompression != BI_RGB && !(bitfields && h.biBitCount == 16)) || width <= 0 ||
        height <= 0 || width > 0x7FFF || height > 0x7FFF || colors > (1u << (h.biBitCount & 15)))
        throw Exception(what + ": it is no picture of this program");
    const long long stride = ((width * (h.biBitCount) + 31) / 32) * 4;
    const long long head = sizeof fh + sizeof h + (bitfields ? 12 : 0) + 4LL * colors;
    if (fh.bfOffBits != head || size.QuadPart < head + stride * height)
        throw Exception(what + ": the file is cut short");
    if (bitfields) {
        DWORD masks[3];
        read(masks, sizeof masks);
        if (masks[0] != 0xF800 || masks[1] != 0x07E0 || masks[2] != 0x001F)
            throw Exception(what + ": it is no picture of this program");
    }
    if (colors) read(info.colors, colors * sizeof(RGBQUAD));
    TBitmap loaded(static_cast<int>(width), static_cast<int>(height), format);
    read(loaded.Bits(), static_cast<size_t>(stride * height));
    if (colors) {
        TCanvas::Lease dc(loaded.Canvas());
        ::SetDIBColorTable(dc.get(), 0, colors, info.colors);
    }
    bitmap.Assign(loaded);
}

ComPtr<IStream> BitmapFileStream(TBitmap& bitmap) {
    // Memory streams must be over movable memory to grow.
    GlobalMem block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10));
    if (!block) throw Exception("Out of memory");
    ComPtr<IStream> stream;
    OleCheck(::CreateStreamOnHGlobal(block.get(), TRUE, stream.put()),
             "Cannot create the picture stream");
    block.release();
    ULARGE_INTEGER empty{};
    OleCheck(stream->SetSize(empty), "Cannot create the picture stream");
    SaveBitmapToStream(bitmap, stream.get());
    LARGE_INTEGER start{};
    OleCheck(stream->Seek(start, STREAM_SEEK_SET, nullptr), "Cannot write the picture");
    return stream;
}

}  // namespace ui
