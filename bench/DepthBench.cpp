// Colour depth conversion: how far the converted picture's colours lie from
// the original's for each way of choosing a table and mapping onto it, on a
// photograph-like and a screenshot-like picture, and what converting a 4K
// picture costs as a ratio to copying its pixels.
#include "bench/BenchTiming.h"
#include "ui/Bitmap.h"
#include "ui/Canvas.h"
#include "ui/ColorReduction.h"

#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using namespace ui;

using namespace bench;

namespace {

uint32_t Hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352d;
    x ^= x >> 15;
    x *= 0x846ca68b;
    return x ^ (x >> 16);
}

int Clamp(double v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v + 0.5); }

// Smooth colour fields, soft-edged blobs and a little sensor noise.
void MakePhoto(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf32bit);
    b.SetSize(w, h);
    auto* px = reinterpret_cast<uint32_t*>(b.Bits());
    struct Blob { double x, y, r, cr, cg, cb; };
    const Blob blobs[] = {{0.3, 0.4, 0.18, 200, 60, 40},  {0.7, 0.3, 0.12, 40, 160, 70},
                          {0.55, 0.7, 0.22, 240, 200, 80}, {0.15, 0.8, 0.1, 60, 80, 200},
                          {0.85, 0.8, 0.15, 150, 90, 170}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            double r = 110 + 70 * std::sin(u * 5.1 + v * 1.3), g = 120 + 60 * std::sin(v * 4.2 - u),
                   bl = 140 + 80 * std::cos(u * 2.3 + v * 3.7);
            for (const Blob& k : blobs) {
                const double d = std::hypot(u - k.x, (v - k.y) * h / w) / k.r;
                const double a = d < 0.8 ? 1 : d < 1.2 ? (1.2 - d) / 0.4 : 0;
                r += (k.cr - r) * a * 0.85;
                g += (k.cg - g) * a * 0.85;
                bl += (k.cb - bl) * a * 0.85;
            }
            const double n = (Hash(uint32_t(y) * 7919u + uint32_t(x)) % 17) - 8.0;
            px[size_t(y) * w + x] = uint32_t(Clamp(r + n)) << 16 | uint32_t(Clamp(g + n)) << 8 |
                                    uint32_t(Clamp(bl + n));
        }
}

// Flat window colours, borders, smoothed text and antialiased round icons.
void MakeScreenshot(TBitmap& b, int w, int h) {
    b.SetPixelFormat(pf32bit);
    b.SetSize(w, h);
    TCanvas& c = b.Canvas();
    auto fill = [&](int l, int t, int r, int bt, COLORREF col) {
        c.Brush.SetColor(col);
        c.FillRect(RECT{l, t, r, bt});
    };
    fill(0, 0, w, h, RGB(0, 99, 177));  // desktop
    const int cols = std::max(1, w / 520), rows = std::max(1, h / 380);
    for (int wy = 0; wy < rows; ++wy)
        for (int wx = 0; wx < cols; ++wx) {
            const int l = 10 + wx * 520, t = 10 + wy * 380, r = l + 500, bt = t + 360;
            fill(l - 1, t - 1, r + 1, bt + 1, RGB(112, 112, 112));
            fill(l, t, r, bt, RGB(240, 240, 240));
            fill(l, t, r, t + 30, (wx + wy) % 2 ? RGB(0, 120, 215) : RGB(255, 255, 255));
            if ((wx + wy) % 3 == 2)  // an older theme's shaded caption
                for (int x = l; x < r; ++x)
                    fill(x, t, x + 1, t + 30,
                         RGB(10 + 156 * (x - l) / 500, 36 + 166 * (x - l) / 500, 106 + 134 * (x - l) / 500));
            fill(l + 10, t + 40, r - 10, bt - 50, RGB(255, 255, 255));
            fill(l + 10, bt - 40, l + 90, bt - 12, RGB(173, 173, 173));
            fill(l + 11, bt - 39, l + 89, bt - 13, RGB(225, 225, 225));
            fill(l + 100, bt - 40, l + 180, bt - 12, RGB(0, 120, 215));
            fill(l + 101, bt - 39, l + 179, bt - 13, RGB(229, 241, 251));
            TCanvas::Lease dc(c);
            GdiFont font(::CreateFontA(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                       CLEARTYPE_QUALITY, 0, "Tahoma"));
            SelectGuard sel(dc.get(), font.get());
            ::SetBkMode(dc.get(), TRANSPARENT);
            ::SetTextColor(dc.get(), (wx + wy) % 2 ? RGB(255, 255, 255) : RGB(0, 0, 0));
            ::TextOutA(dc.get(), l + 8, t + 7, "Document - Editor", 17);
            const char* lines[] = {"The quick brown fox jumps over the lazy dog.",
                                   "Pack my box with five dozen liquor jugs, 0123456789",
                                   "Sphinx of black quartz, judge my vow!"};
            for (int i = 0; i < 14; ++i) {
                ::SetTextColor(dc.get(), i % 5 == 4 ? RGB(0, 102, 204) : RGB(30, 30, 30));
                const char* s = lines[i % 3];
                ::TextOutA(dc.get(), l + 16, t + 46 + i * 19, s, int(std::strlen(s)));
            }
            ::SetTextColor(dc.get(), RGB(0, 0, 0));
            ::TextOutA(dc.get(), l + 30, bt - 34, "OK", 2);
            ::TextOutA(dc.get(), l + 115, bt - 34, "Cancel", 6);
        }
    // A photograph shown in one of the windows.
    TBitmap photo;
    MakePhoto(photo, 200, 150);
    {
        TCanvas::Lease d(c);
        TCanvas::Lease s(photo.Canvas(), true);
        ::BitBlt(d.get(), 290, 200, 200, 150, s.get(), 0, 0, SRCCOPY);
    }
    // Round icons with edges covered in part, from 4 x 4 samples a pixel.
    ::GdiFlush();
    auto* px = reinterpret_cast<uint32_t*>(b.Bits());
    const uint32_t hues[] = {0xE81123, 0x10893E, 0xFF8C00, 0x8764B8};
    for (int i = 0; i < cols * rows * 3; ++i) {
        const double cx = 40 + (i * 173) % (w - 80), cy = 40 + (i * 97) % (h - 80), rad = 9 + i % 5;
        const uint32_t hue = hues[i % 4];
        for (int y = int(cy - rad) - 1; y <= int(cy + rad) + 1; ++y)
            for (int x = int(cx - rad) - 1; x <= int(cx + rad) + 1; ++x) {
                int in = 0;
                for (int s = 0; s < 16; ++s)
                    in += std::hypot(x + (s % 4 + 0.5) / 4 - cx, y + (s / 4 + 0.5) / 4 - cy) < rad;
                uint32_t& p = px[size_t(y) * w + x];
                auto mix = [&](int sh) {
                    return uint32_t((int(p >> sh & 255) * (16 - in) + int(hue >> sh & 255) * in + 8) / 16)
                           << sh;
                };
                p = mix(16) | mix(8) | mix(0);
            }
    }
}

// The colours a bitmap shows, as the platform draws it.
std::vector<uint32_t> Shown(TBitmap& b) {
    TBitmap out(b.Width(), b.Height(), pf32bit);
    {
        TCanvas::Lease d(out.Canvas());
        TCanvas::Lease s(b.Canvas(), true);
        ::BitBlt(d.get(), 0, 0, b.Width(), b.Height(), s.get(), 0, 0, SRCCOPY);
    }
    ::GdiFlush();
    const auto* p = reinterpret_cast<const uint32_t*>(out.ConstBits());
    std::vector<uint32_t> v(p, p + size_t(b.Width()) * b.Height());
    for (auto& c : v) c &= 0xFFFFFF;
    return v;
}

// Each channel averaged over the 5 x 5 pixels around: what the eye takes in
// from a little way off, where a dither pattern blends into its mean.
std::vector<float> Blurred(const std::vector<uint32_t>& px, int w, int h) {
    std::vector<float> out(px.size() * 3), tmp(px.size() * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) {
                float s = 0;
                int n = 0;
                for (int d = -2; d <= 2; ++d)
                    if (x + d >= 0 && x + d < w) s += px[size_t(y) * w + x + d] >> (8 * k) & 255, ++n;
                tmp[(size_t(y) * w + x) * 3 + k] = s / n;
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) {
                float s = 0;
                int n = 0;
                for (int d = -2; d <= 2; ++d)
                    if (y + d >= 0 && y + d < h) s += tmp[((size_t(y) + d) * w + x) * 3 + k], ++n;
                out[(size_t(y) * w + x) * 3 + k] = s / n;
            }
    return out;
}

struct Quality {
    double error, seen, flatNoise;
};

// Mean Euclidean RGB distance per pixel, the same after the 5 x 5 blur, and
// the share of pixels inside flat areas (3 x 3 of one colour) that the
// conversion left not flat.
Quality Measure(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int w, int h) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int dr = int(a[i] >> 16 & 255) - int(b[i] >> 16 & 255);
        const int dg = int(a[i] >> 8 & 255) - int(b[i] >> 8 & 255);
        const int db = int(a[i] & 255) - int(b[i] & 255);
        sum += std::sqrt(double(dr * dr + dg * dg + db * db));
    }
    const std::vector<float> ba = Blurred(a, w, h), bb = Blurred(b, w, h);
    double seen = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = 0;
        for (int k = 0; k < 3; ++k) d += (ba[i * 3 + k] - bb[i * 3 + k]) * (ba[i * 3 + k] - bb[i * 3 + k]);
        seen += std::sqrt(d);
    }
    auto flat = [&](const std::vector<uint32_t>& p, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (p[size_t(y + dy) * w + x + dx] != p[size_t(y) * w + x]) return false;
        return true;
    };
    size_t flats = 0, broken = 0;
    for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x)
            if (flat(a, x, y)) {
                ++flats;
                broken += !flat(b, x, y);
            }
    return {sum / a.size(), seen / a.size(), flats ? 100.0 * broken / flats : 0};
}

// The conversion the program did before: a blit into a bitmap of the
// format's fixed table, the platform mapping each colour to its nearest.
HRESULT ByBlit(TBitmap& src, TBitmap& dst, TPixelFormat f) {
    dst.SetPixelFormat(f);
    dst.SetSize(src.Width(), src.Height());
    TCanvas::Lease d(dst.Canvas());
    TCanvas::Lease s(src.Canvas(), true);
    return ::BitBlt(d.get(), 0, 0, src.Width(), src.Height(), s.get(), 0, 0, SRCCOPY) ? S_OK : E_FAIL;
}

HRESULT ByConversion(TBitmap& src, TBitmap& dst, TPixelFormat f, TColorReduction how) {
    dst.Assign(src);
    dst.SetPixelFormat(f, how);
    return S_OK;
}

ComPtr<IWICImagingFactory> factory;

// The platform's imaging component: a fixed table (ours, so that only the
// mapping differs) or one it makes for the picture, with or without its
// error diffusion; at 15 and 16 bits its plain converter.
HRESULT ByImaging(TBitmap& src, TBitmap& dst, TPixelFormat f, bool adaptive, bool diffuse) {
    HRESULT hr = S_OK;
    if (!factory && FAILED(hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr,
                                                   CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                                   factory.put_void())))
        return hr;
    const int w = src.Width(), h = src.Height(), bpp = BitsPerPixel(f);
    ComPtr<IWICBitmap> bitmap;
    if (FAILED(hr = factory->CreateBitmapFromMemory(w, h, GUID_WICPixelFormat32bppBGR, src.Stride(),
                                                    src.Stride() * h,
                                                    const_cast<BYTE*>(src.ConstBits()), bitmap.put())))
        return hr;
    ComPtr<IWICPalette> palette;
    WICPixelFormatGUID target = bpp == 15 ? GUID_WICPixelFormat16bppBGR555
                                : bpp == 16 ? GUID_WICPixelFormat16bppBGR565
                                : bpp == 1  ? GUID_WICPixelFormat1bppIndexed
                                : bpp == 4  ? GUID_WICPixelFormat4bppIndexed
                                            : GUID_WICPixelFormat8bppIndexed;
    if (bpp <= 8) {
        if (FAILED(hr = factory->CreatePalette(palette.put()))) return hr;
        if (adaptive) {
            hr = palette->InitializeFromBitmap(bitmap.get(), 1u << bpp, FALSE);
        } else {
            DibHeader info;
            FillDibHeader(info, 1, 1, bpp);
            WICColor colors[256];
            for (int i = 0; i < (1 << bpp); ++i)
                colors[i] = 0xFF000000u | info.colors[i].rgbRed << 16 | info.colors[i].rgbGreen << 8 |
                            info.colors[i].rgbBlue;
            hr = palette->InitializeCustom(colors, 1u << bpp);
        }
        if (FAILED(hr)) return hr;
    }
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(hr = factory->CreateFormatConverter(converter.put())) ||
        FAILED(hr = converter->Initialize(
                   bitmap.get(), target,
                   diffuse ? WICBitmapDitherTypeErrorDiffusion : WICBitmapDitherTypeNone,
                   palette.get(), 0.0, WICBitmapPaletteTypeCustom)))
        return hr;
    dst.SetPixelFormat(f);
    dst.SetSize(w, h);
    if (FAILED(hr = converter->CopyPixels(nullptr, dst.Stride(), dst.Stride() * h, dst.Bits())))
        return hr;
    if (palette) {
        WICColor colors[256];
        UINT n = 0;
        if (FAILED(hr = palette->GetColors(256, colors, &n))) return hr;
        RGBQUAD q[256];
        for (UINT i = 0; i < n; ++i)
            q[i] = RGBQUAD{BYTE(colors[i]), BYTE(colors[i] >> 8), BYTE(colors[i] >> 16), 0};
        TCanvas::Lease d(dst.Canvas());
        ::SetDIBColorTable(d.get(), 0, n, q);
    }
    return S_OK;
}

struct Candidate {
    const char* name;
    std::function<HRESULT(TBitmap&, TBitmap&, TPixelFormat)> convert;
    bool tablesOnly;
};

std::function<HRESULT(TBitmap&, TBitmap&, TPixelFormat)> Ours(bool adaptive, bool diffuse,
                                                                bool keepFlat) {
    return [=](TBitmap& s, TBitmap& d, TPixelFormat f) {
        return ByConversion(s, d, f, {adaptive, diffuse, keepFlat});
    };
}

std::function<HRESULT(TBitmap&, TBitmap&, TPixelFormat)> Imaging(bool adaptive, bool diffuse) {
    return [=](TBitmap& s, TBitmap& d, TPixelFormat f) {
        return ByImaging(s, d, f, adaptive, diffuse);
    };
}

void QualityTable(TBitmap& photo, TBitmap& screen) {
    const Candidate candidates[] = {
        {"GDI blit, fixed table (before)", ByBlit, false},
        {"fixed table, nearest", Ours(false, false, false), true},
        {"fixed table, diffused", Ours(false, true, false), true},
        {"own table, nearest", Ours(true, false, false), false},
        {"own table, diffused", Ours(true, true, false), false},
        {"own table, diffused but flat areas", Ours(true, true, true), false},
        {"WIC fixed table", Imaging(false, false), false},
        {"WIC fixed table, diffusion", Imaging(false, true), true},
        {"WIC adaptive table", Imaging(true, false), true},
        {"WIC adaptive table, diffusion", Imaging(true, true), true},
        {"* SetPixelFormat (chosen)",
         [](TBitmap& s, TBitmap& d, TPixelFormat f) {
             d.Assign(s);
             d.SetPixelFormat(f);
             return S_OK;
         },
         false},
    };
    const std::vector<uint32_t> photoPx = Shown(photo), screenPx = Shown(screen);
    auto distinct = [](std::vector<uint32_t> v) {
        std::sort(v.begin(), v.end());
        return std::unique(v.begin(), v.end()) - v.begin();
    };
    std::printf("quality at %dx%d (photograph-like: %d colours, screenshot-like: %d colours)\n"
                "  err: mean Euclidean RGB distance per pixel (0-441); seen: the same with both "
                "pictures blurred 5x5;\n  noise: %% of the screenshot's flat 3x3 areas no longer "
                "flat. At 15/16 bits 'table' means nothing: rows differ in diffusion only.\n",
                photo.Width(), photo.Height(), int(distinct(photoPx)), int(distinct(screenPx)));
    std::printf("%-5s %-36s %7s %7s %7s %7s %7s\n", "bits", "candidate", "photo", "seen",
                "screen", "seen", "noise%");
    for (TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit}) {
        for (const Candidate& c : candidates) {
            if (c.tablesOnly && BitsPerPixel(f) > 8) continue;
            TBitmap a, b;
            HRESULT hr = c.convert(photo, a, f);
            if (SUCCEEDED(hr)) hr = c.convert(screen, b, f);
            if (FAILED(hr)) {
                std::printf("%-5d %-36s fails: 0x%08lX\n", BitsPerPixel(f), c.name,
                            static_cast<unsigned long>(hr));
                continue;
            }
            const Quality p = Measure(photoPx, Shown(a), photo.Width(), photo.Height());
            const Quality s = Measure(screenPx, Shown(b), screen.Width(), screen.Height());
            std::printf("%-5d %-36s %7.2f %7.2f %7.2f %7.2f %7.2f\n", BitsPerPixel(f), c.name,
                        p.error, p.seen, s.error, s.seen, s.flatNoise);
        }
    }
}

void SpeedTable() {
    const int w = 3840, h = 2160;
    TBitmap photo, screen;
    MakePhoto(photo, w, h);
    MakeScreenshot(screen, w, h);
    // As a capture makes them: in the screen's format.
    photo.SetPixelFormat(pfDevice);
    screen.SetPixelFormat(pfDevice);
    std::vector<uint8_t> copy(size_t(photo.Stride()) * h);
    auto memcpyOf = [&] {
        return Best(3, [&] { std::memcpy(copy.data(), photo.ConstBits(), copy.size()); });
    };
    const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};
    // A run: a memcpy of the picture (best of 3), then each conversion once.
    std::vector<Runs> onPhoto(std::size(formats)), onScreen(std::size(formats));
    for (int run = 0; run < kRuns; ++run) {
        const double m = memcpyOf();
        for (size_t k = 0; k < std::size(formats); ++k)
            for (TBitmap* src : {&photo, &screen}) {
                TBitmap b;
                b.Assign(*src);
                const double t = Once([&] {
                    b.SetPixelFormat(formats[k]);
                    ::GdiFlush();
                });
                (src == &photo ? onPhoto : onScreen)[k].Add(t, m);
            }
    }
    std::printf("speed of %dx%d: converting from the screen's format, ratio to a memcpy of the picture "
                "(%.2f ms, median)\n", w, h, onPhoto[0].Base() * 1e3);
    for (size_t k = 0; k < std::size(formats); ++k) {
        const int bits = BitsPerPixel(formats[k]);
        std::printf("%2d bit: photo %7.1f ms, screenshot %7.1f ms (medians)\n", bits,
                    onPhoto[k].Cost() * 1e3, onScreen[k].Cost() * 1e3);
        // The bound is on the indexed formats, which a user waits for.
        const double bound = bits <= 8 ? 50 : NAN;
        const std::string name = "depth-" + std::to_string(bits) + "bit-";
        Report((name + "photo/memcpy").c_str(), "photo in memcpys", onPhoto[k].Ratio(), bound);
        Report((name + "screenshot/memcpy").c_str(), "screenshot in memcpys", onScreen[k].Ratio(), bound);
    }
    // From an indexed picture back up, which reads through its table.
    TBitmap indexed;
    indexed.Assign(photo);
    indexed.SetPixelFormat(pf8bit);
    const Runs up = bench::Measure(kRuns, [&](int) {
        const double m = memcpyOf();
        TBitmap b;
        b.Assign(indexed);
        return std::pair{Once([&] { b.SetPixelFormat(pf32bit); }), m};
    });
    std::printf(" 8 -> 32 bit: %.1f ms (median)\n", up.Cost() * 1e3);
    Report("", "in memcpys", up.Ratio());
    // The imaging component's own 8 bits, for comparison.
    TBitmap flat, out;
    flat.Assign(photo);
    flat.SetPixelFormat(pf32bit);
    bool failed = false;
    const Runs wic = bench::Measure(kRuns, [&](int) {
        const double m = memcpyOf();
        return std::pair{Once([&] { failed = FAILED(ByImaging(flat, out, pf8bit, true, true)) || failed; }), m};
    });
    if (failed) return;
    std::printf(" 8 bit by WIC (adaptive table): photo %.1f ms (median)\n", wic.Cost() * 1e3);
    Report("", "in memcpys", wic.Ratio());
}

}  // namespace

int main() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        TBitmap photo, screen;
        MakePhoto(photo, 1024, 768);
        MakeScreenshot(screen, 1024, 768);
        QualityTable(photo, screen);
        SpeedTable();
    }
    factory.reset();
    ::CoUninitialize();
    return 0;
}
