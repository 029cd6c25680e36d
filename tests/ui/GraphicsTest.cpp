// Bitmaps: assigned pictures stay independent however they are shared
// underneath, and resizing keeps what still fits.
#include "ui/Bitmap.h"
#include "ui/BitmapFile.h"
#include "ui/Canvas.h"
#include "ui/ColorReduction.h"
#include "ui/Graphics.h"

#include "tests/support/TestSupport.h"
#include "ui/Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace ui;
using namespace testing_support;

namespace {

void Fill(TBitmap& b, COLORREF c) {
    TCanvas::Lease dc(b.Canvas());
    HBRUSH brush = ::CreateSolidBrush(c);
    GdiObject owner(brush);
    RECT r{0, 0, b.Width(), b.Height()};
    ::FillRect(dc.get(), &r, brush);
}

TEST(Bitmap, AssignedCopiesChangeIndependently) {
    TBitmap a(40, 30, pf32bit);
    Fill(a, RGB(10, 20, 30));
    TBitmap b;
    b.Assign(a);
    EXPECT_EQ(b.Width(), 40);
    EXPECT_EQ(b.Height(), 30);
    EXPECT_EQ(b.PixelFormat(), pf32bit);
    EXPECT_EQ(b.PixelColor(5, 5), RGB(10, 20, 30));

    // Drawing into either one leaves the other as it was.
    Fill(b, RGB(200, 0, 0));
    EXPECT_EQ(a.PixelColor(5, 5), RGB(10, 20, 30));
    EXPECT_EQ(b.PixelColor(5, 5), RGB(200, 0, 0));
    TBitmap c;
    c.Assign(a);
    Fill(a, RGB(0, 0, 250));
    EXPECT_EQ(c.PixelColor(39, 29), RGB(10, 20, 30));
    c.Bits()[0] = 0xFF;  // through the pixel rows too
    EXPECT_EQ(a.PixelColor(0, 29), RGB(0, 0, 250));

    // Dropping one picture leaves the other.
    a.FreeImage();
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(a.Handle(), nullptr);
    EXPECT_EQ(b.PixelColor(5, 5), RGB(200, 0, 0));
}

TEST(Bitmap, ResizingKeepsTheTopLeftAndEmptySizesAreHarmless) {
    TBitmap a(20, 20, pf24bit);
    Fill(a, RGB(1, 2, 3));
    TBitmap shared;
    shared.Assign(a);
    a.SetSize(30, 10);
    EXPECT_EQ(a.PixelColor(19, 9), RGB(1, 2, 3));
    EXPECT_EQ(shared.Width(), 20);
    EXPECT_EQ(shared.PixelColor(19, 19), RGB(1, 2, 3));

    a.SetSize(0, 0);
    EXPECT_TRUE(a.Empty());
    Fill(a, RGB(9, 9, 9));  // nothing to draw on, no failure
    a.SetSize(-5, 7);
    EXPECT_EQ(a.Width(), 0);
    TBitmap b;
    b.Assign(a);
    EXPECT_TRUE(b.Empty());
}

TEST(Bitmap, EveryPixelFormatHasItsDepth) {
    const std::pair<TPixelFormat, int> formats[] = {{pf1bit, 1},   {pf4bit, 4},   {pf8bit, 8},
                                                    {pf15bit, 16}, {pf16bit, 16}, {pf24bit, 24},
                                                    {pf32bit, 32}};
    for (auto [format, bpp] : formats) {
        TBitmap b(13, 3, format);
        DIBSECTION ds{};
        ASSERT_EQ(::GetObjectA(b.Handle(), sizeof ds, &ds), int(sizeof ds)) << bpp;
        EXPECT_EQ(ds.dsBmih.biBitCount, bpp);
        EXPECT_EQ(b.Stride(), ((13 * bpp + 31) / 32) * 4);
        Fill(b, RGB(255, 255, 255));
        EXPECT_EQ(b.PixelColor(12, 2), RGB(255, 255, 255)) << bpp;
    }
    EXPECT_EQ(BitsPerPixel(pfDevice), ScreenBitsPerPixel());
}

}  // namespace

// ---- canvas ----

namespace {

const TPixelFormat kFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

// The colours of an indexed bitmap's table; empty for the others.
std::vector<COLORREF> ColorTable(TBitmap& b) {
    TCanvas::Lease dc(b.Canvas(), true);
    RGBQUAD q[256];
    UINT n = ::GetDIBColorTable(dc.get(), 0, 256, q);
    std::vector<COLORREF> table;
    for (UINT i = 0; i < n; ++i) table.push_back(RGB(q[i].rgbRed, q[i].rgbGreen, q[i].rgbBlue));
    return table;
}

// How many pixels of the area have the colour.
int Count(TBitmap& b, const RECT& r, COLORREF c) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += b.PixelColor(x, y) == c;
    return n;
}

TBitmap& WhiteBitmap(TBitmap& b) {
    b.Canvas().Brush.SetColor(clWhite);
    b.Canvas().FillRect(RECT{0, 0, b.Width(), b.Height()});
    return b;
}

}  // namespace

TEST(Bitmap, APictureMadeAtTheScreensDepthKeepsItWhenTheScreenChanges) {
    SetScreenDepthSource([] { return 32; });
    TBitmap b(21, 5);
    SetScreenDepthSource([] { return 16; });
    EXPECT_EQ(b.PixelFormat(), pf32bit);
    EXPECT_EQ(b.Stride(), 84);
    TBitmap copy;
    copy.Assign(b);
    copy.OwnPixels();
    EXPECT_EQ(copy.PixelFormat(), pf32bit);
    ComPtr<IStream> stream = BitmapFileStream(b);
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, 14u + 40u + 84u * 5u);
    SetScreenDepthSource(nullptr);
}

TEST(BitmapFile, EveryFormatComesBackAsWrittenAndAnythingElseIsRefused) {
    const std::wstring path = std::filesystem::temp_directory_path().wstring() + L"\\kestrix-file-test.bmp";
    auto save = [&](TBitmap& b) {
        std::ofstream out(std::filesystem::path(path), std::ios::binary);
        WriteBitmapFile(b, [&](const void* p, size_t n) { out.write(static_cast<const char*>(p), n); });
    };
    for (TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        TBitmap b(13, 7, pf24bit);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 13; ++x) b.Canvas().SetPixels(x, y, static_cast<TColor>(RGB(x * 19, y * 37, (x * y) * 5)));
        b.SetPixelFormat(f);
        save(b);
        TBitmap loaded;
        LoadBitmapFile(path, loaded);
        ASSERT_EQ(loaded.PixelFormat(), f);
        ASSERT_EQ(loaded.Width(), 13);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 13; ++x) ASSERT_EQ(loaded.PixelColor(x, y), b.PixelColor(x, y)) << f;
    }
    // Cut short, or a depth this program never writes.
    std::string bytes = ReadBytes(path);
    WriteBytes(path, bytes.substr(0, bytes.size() - 1));
    TBitmap refused;
    EXPECT_THROW(LoadBitmapFile(path, refused), Exception);
    bytes[28] = 7;
    WriteBytes(path, bytes);
    EXPECT_THROW(LoadBitmapFile(path, refused), Exception);
    EXPECT_TRUE(refused.Empty());
    std::filesystem::remove(std::filesystem::path(path));
}

TEST(Canvas, DrawsWithItsPenAndBrushOnEveryPixelFormat) {
    for (TPixelFormat format : kFormats) {
        SCOPED_TRACE(BitsPerPixel(format));
        TBitmap b(40, 30, format);
        TCanvas& c = WhiteBitmap(b).Canvas();
        // A line leaves out its end point, which becomes the pen position.
        c.MoveTo(2, 2);
        c.LineTo(10, 2);
        EXPECT_EQ(Count(b, RECT{0, 2, 40, 3}, clBlack), 8);
        EXPECT_EQ(b.PixelColor(2, 2), clBlack);
        EXPECT_EQ(c.PenPos().x, 10);
        // Outlines with a clear brush, corners in either order, inside the box.
        c.Brush.SetStyle(bsClear);
        c.Rectangle(21, 15, 12, 5);
        EXPECT_EQ(Count(b, RECT{12, 5, 21, 15}, clBlack), 2 * 9 + 2 * 8);
        EXPECT_EQ(Count(b, RECT{13, 6, 20, 14}, clBlack), 0);
        c.Ellipse(24, 4, 38, 28);
        const int outline = Count(b, RECT{24, 4, 38, 28}, clBlack);
        EXPECT_GT(outline, 30);
        EXPECT_EQ(Count(b, RECT{0, 4, 40, 30}, clBlack), outline + 34);
        EXPECT_EQ(b.PixelColor(31, 16), clWhite);
        // A solid brush fills; a clear pen draws no outline.
        c.Brush.SetStyle(bsSolid);
        c.Brush.SetColor(clBlack);
        c.Pen.SetStyle(psClear);
        c.Rectangle(2, 20, 6, 24);
        EXPECT_EQ(Count(b, RECT{0, 18, 10, 26}, clBlack), 9);  // the pen's missing line and column
        // Inverting pixels inverts their colours, also through a table.
        c.Pen.SetStyle(psSolid);
        c.Pen.SetMode(pmNot);
        c.MoveTo(0, 2);
        c.LineTo(12, 2);
        EXPECT_EQ(Count(b, RECT{0, 2, 12, 3}, clBlack), 4);
        EXPECT_EQ(b.PixelColor(3, 2), clWhite);
        c.Pen.SetMode(pmXor);
        c.Pen.SetColor(clWhite);
        c.MoveTo(0, 2);
        c.LineTo(12, 2);
        EXPECT_EQ(Count(b, RECT{0, 2, 12, 3}, clBlack), 8);
        c.Pen.SetMode(pmCopy);
        c.Pen.SetColor(clBlack);
        c.Pen.SetStyle(psDot);
        c.MoveTo(0, 28);
        c.LineTo(30, 28);
        const int dots = Count(b, RECT{0, 28, 40, 29}, clBlack);
        EXPECT_GT(dots, 5);
        EXPECT_LT(dots, 25);
        // Single pixels, whatever the pen mode.
        c.SetPixels(39, 29, clBlack);
        EXPECT_EQ(c.Pixels(39, 29), clBlack);
        EXPECT_EQ(c.Pixels(40, 29), CLR_INVALID);
    }
}

TEST(Canvas, ColoursAnIndexedTableLacksComeOutAsColoursOfTheTable) {
    const COLORREF odd = RGB(250, 10, 10);
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit}) {
        SCOPED_TRACE(BitsPerPixel(format));
        TBitmap b(30, 20, format);
        TCanvas& c = WhiteBitmap(b).Canvas();
        const std::vector<COLORREF> table = ColorTable(b);
        ASSERT_EQ(table.size(), 1u << BitsPerPixel(format));
        c.SetPixels(0, 0, odd);
        if (format != pf1bit) EXPECT_EQ(b.PixelColor(0, 0), clRed);  // the nearest
        c.Pen.SetColor(odd);
        c.MoveTo(0, 5);
        c.LineTo(30, 5);
        c.Brush.SetColor(clHighlight);
        c.FillRect(RECT{0, 10, 30, 20});
        c.Font.SetColor(odd);
        c.TextOut(1, 1, "Wg");
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x)
                ASSERT_NE(std::find(table.begin(), table.end(), b.PixelColor(x, y)), table.end())
                    << x << "," << y;
    }
}

TEST(Canvas, TextInTheFontOnTheBrushOrOnWhatIsThere) {
    TBitmap b(120, 40, pf24bit);
    TCanvas& c = WhiteBitmap(b).Canvas();
    c.Font.SetColor(clBlue);
    const int mm = c.TextWidth("MM");
    EXPECT_GT(mm, c.TextWidth("M"));
    EXPECT_EQ(c.TextWidth(""), 0);
    const int h = c.TextHeight("M");
    EXPECT_GT(h, 5);
    c.Font.SetHeight(-30);
    EXPECT_GT(c.TextWidth("MM"), mm);
    c.Font.SetHeight(-11);

    c.Brush.SetColor(clYellow);
    c.TextOut(2, 2, "MM");
    const RECT cell{2, 2, 2 + mm, 2 + h};
    const int ink = Count(b, cell, clBlue);
    EXPECT_GT(ink, 10);
    EXPECT_EQ(Count(b, cell, clYellow), mm * h - ink);
    EXPECT_EQ(Count(b, RECT{0, 0, 120, 40}, clBlue), ink);

    c.Brush.SetStyle(bsClear);
    c.TextOut(60, 2, "MM");
    EXPECT_EQ(Count(b, RECT{60, 2, 60 + mm, 2 + h}, clBlue), ink);
    EXPECT_EQ(Count(b, RECT{60, 2, 60 + mm, 2 + h}, clWhite), mm * h - ink);
}

TEST(Canvas, ABorrowedDcGetsItsOwnObjectsBack) {
    TBitmap b(20, 20, pf32bit);
    TCanvas::Lease lease(b.Canvas());
    HDC dc = lease.get();
    const HGDIOBJ pen = ::GetCurrentObject(dc, OBJ_PEN), brush = ::GetCurrentObject(dc, OBJ_BRUSH),
                  font = ::GetCurrentObject(dc, OBJ_FONT);
    {
        TDcCanvas c(dc);
        c.Pen.SetColor(clRed);
        c.Brush.SetColor(clBlue);
        c.Rectangle(0, 0, 10, 10);
        c.TextOut(0, 10, "x");
        EXPECT_EQ(::GetPixel(dc, 0, 0), clRed);
        EXPECT_EQ(::GetPixel(dc, 5, 5), clBlue);
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), pen);
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), brush);
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), font);
    }
}

// ---- conversion between pixel formats ----

namespace {

// Gradients with a little noise: far more colours than any table holds.
TBitmap& Paint(TBitmap& b) {
    auto* px = reinterpret_cast<uint32_t*>(b.Bits());
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const int noise = int((x * 7919u + y * 104729u) % 13) - 6;
            auto ch = [&](int v) { return uint32_t(std::clamp(v + noise, 0, 255)); };
            px[y * b.Width() + x] = ch(x * 255 / b.Width()) << 16 | ch(y * 255 / b.Height()) << 8 |
                                    ch(128 + (x - y) * 2);
        }
    return b;
}

// The 8-bit values that 5- and 6-bit channels show.
std::vector<int> ChannelLevels(TPixelFormat format, int shift, int bits) {
    TBitmap b(1 << bits, 1, format);
    for (int i = 0; i < (1 << bits); ++i)
        reinterpret_cast<uint16_t*>(b.Bits())[i] = static_cast<uint16_t>(i << shift);
    std::vector<int> levels;
    for (int i = 0; i < (1 << bits); ++i) {
        COLORREF c = b.PixelColor(i, 0);
        levels.push_back(shift == 5 ? GetGValue(c) : GetBValue(c));
    }
    return levels;
}

bool Holds(const std::vector<int>& levels, int v) {
    return std::find(levels.begin(), levels.end(), v) != levels.end();
}

}  // namespace

TEST(Conversion, EveryFormatKeepsTheSizeAndHoldsOnlyColoursOfItsOwn) {
    TBitmap source(70, 50, pf32bit);
    const COLORREF corner = Paint(source).PixelColor(69, 49);
    TBitmap device;
    device.Assign(source);
    device.SetPixelFormat(pfDevice);  // as a capture makes it
    const std::vector<int> five = ChannelLevels(pf15bit, 0, 5), six = ChannelLevels(pf16bit, 5, 6);
    for (TBitmap* from : {&source, &device})
        for (TPixelFormat format : kFormats) {
            SCOPED_TRACE(BitsPerPixel(format));
            TBitmap b;
            b.Assign(*from);
            b.SetPixelFormat(format);
            EXPECT_EQ(b.PixelFormat(), format);
            ASSERT_EQ(b.Width(), 70);
            ASSERT_EQ(b.Height(), 50);
            const std::vector<COLORREF> table = ColorTable(b);
            EXPECT_EQ(table.size(), BitsPerPixel(format) <= 8 ? 1u << BitsPerPixel(format) : 0u);
            for (int y = 0; y < 50; ++y)
                for (int x = 0; x < 70; ++x) {
                    const COLORREF c = b.PixelColor(x, y), was = source.PixelColor(x, y);
                    if (!table.empty())
                        ASSERT_NE(std::find(table.begin(), table.end(), c), table.end());
                    else if (format == pf15bit || format == pf16bit)
                        ASSERT_TRUE(Holds(five, GetRValue(c)) && Holds(five, GetBValue(c)) &&
                                    Holds(format == pf16bit ? six : five, GetGValue(c)))
                            << x << "," << y;
                    else
                        ASSERT_EQ(c, was) << x << "," << y;
                }
        }
    // The picture it was assigned from is left as it was.
    EXPECT_EQ(source.PixelFormat(), pf32bit);
    EXPECT_EQ(source.PixelColor(69, 49), corner);
}

TEST(Conversion, FromATableToMoreBitsKeepsEveryColour) {
    TBitmap source(40, 30, pf32bit);
    Paint(source);
    for (TPixelFormat indexed : {pf1bit, pf4bit, pf8bit})
        for (TPixelFormat format : {pf15bit, pf16bit, pf24bit, pf32bit}) {
            SCOPED_TRACE(BitsPerPixel(indexed) * 100 + BitsPerPixel(format));
            TBitmap a, b;
            a.Assign(source);
            a.SetPixelFormat(indexed);
            b.Assign(a);
            b.SetPixelFormat(format);
            // 5 bits a channel come within half a level of the table's colour.
            const int slack = format == pf15bit || format == pf16bit ? 4 : 0;
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 40; ++x) {
                    const COLORREF was = a.PixelColor(x, y), c = b.PixelColor(x, y);
                    ASSERT_LE(std::abs(GetRValue(c) - GetRValue(was)), slack);
                    ASSERT_LE(std::abs(GetGValue(c) - GetGValue(was)), slack);
                    ASSERT_LE(std::abs(GetBValue(c) - GetBValue(was)), slack);
                }
        }
}

TEST(Conversion, APictureWhoseColoursFitTheTableKeepsThemAll) {
    for (auto [format, count] : {std::pair{pf1bit, 2}, {pf4bit, 16}, {pf8bit, 256}}) {
        SCOPED_TRACE(count);
        TBitmap b(64, 40, pf24bit);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 64; ++x) {
                const int i = (x / 2 + y * 32) % count;
                b.Canvas().SetPixels(x, y, RGB(i * 37 % 256, 255 - i, i * 101 % 256));
            }
        TBitmap before;
        before.Assign(b);
        b.SetPixelFormat(format);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 64; ++x) ASSERT_EQ(b.PixelColor(x, y), before.PixelColor(x, y));
    }
}

TEST(Conversion, AnAreaOfOneColourStaysOneColourBesideAGradient) {
    // Small patches, so that no table is made for their colours alone.
    TBitmap b(120, 90, pf32bit);
    Paint(b);
    const COLORREF patches[] = {RGB(123, 77, 201), RGB(90, 200, 60), RGB(250, 240, 30)};
    for (int i = 0; i < 3; ++i) {
        b.Canvas().Brush.SetColor(patches[i]);
        b.Canvas().FillRect(RECT{10 + 35 * i, 30, 30 + 35 * i, 50});
    }
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit}) {
        SCOPED_TRACE(BitsPerPixel(format));
        TBitmap c;
        c.Assign(b);
        c.SetPixelFormat(format);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Count(c, RECT{10 + 35 * i, 30, 30 + 35 * i, 50}, c.PixelColor(20 + 35 * i, 40)),
                      400);
    }
}

TEST(Conversion, APenColourTheNewTableLacksDrawsAColourOfIt) {
    TBitmap b(60, 40, pf32bit);
    Paint(b).SetPixelFormat(pf4bit);
    const std::vector<COLORREF> table = ColorTable(b);
    COLORREF pen = RGB(255, 0, 255);
    while (std::find(table.begin(), table.end(), pen) != table.end()) pen -= 0x10;
    b.Canvas().Pen.SetColor(pen);
    b.Canvas().MoveTo(0, 20);
    b.Canvas().LineTo(60, 20);
    for (int x = 0; x < 60; ++x)
        ASSERT_NE(std::find(table.begin(), table.end(), b.PixelColor(x, 20)), table.end()) << x;
}

// Without a window or a DC: inverting a pixel of the 8-bit table (a xor pen,
// a focus rectangle) lands on the entry of the inverse colour.
TEST(ColorReduction, TheEightBitTablePairsEveryEntryWithItsInverse) {
    uint32_t statics[20];
    for (int k = 0; k < 10; ++k) {
        statics[k] = 0x0F1E2Du * static_cast<uint32_t>(k);
        statics[19 - k] = ~statics[k] & 0xFFFFFF;
    }
    const std::vector<uint32_t> table = FixedColorTable(8, statics);
    ASSERT_EQ(table.size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(table[255 - i], ~table[i] & 0xFFFFFF) << i;
}

TEST(ColorReduction, EveryColourTakesTheNearestEntryAndOfEqualsTheFirst) {
    uint32_t statics[20];
    for (int k = 0; k < 20; ++k) statics[k] = 0x2B5F91u * static_cast<uint32_t>(k + 1) & 0xFFFFFF;
    // Entries twice over, and colours halfway between two entries.
    const std::vector<uint32_t> small = {0x000000, 0x000002, 0x000002, 0xFFFFFF, 0x808080,
                                         0x7F8080, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080,
                                         0x404040, 0xC0C0C0, 0x20E0A0, 0xA02060, 0x000000, 0x6060F0};
    constexpr int kStep = 5, kLevels = 256 / kStep + 1;
    std::vector<uint32_t> px;
    for (int r = 0; r < kLevels; ++r)
        for (int g = 0; g < kLevels; ++g)
            for (int b = 0; b < kLevels; ++b)
                px.push_back(pixel::Pack(std::min(r * kStep, 255), std::min(g * kStep, 255),
                                         std::min(b * kStep, 255)));
    for (int b = 0; b < 256; ++b) {
        px.push_back(pixel::Pack(0, 0, b));
        px.push_back(pixel::Pack(b, 128, b));
    }
    const int w = 256, h = static_cast<int>(px.size() / w);
    px.resize(static_cast<size_t>(w) * h);
    for (const auto& [bpp, table] : {std::pair{8, FixedColorTable(8, statics)}, std::pair{4, small}}) {
        std::vector<uint8_t> rows(static_cast<size_t>(w) * h);
        const std::vector<uint32_t> out =
            ReduceToIndexed(px, w, h, bpp, table, TColorReduction{false, false, false}, rows.data(), w);
        ASSERT_EQ(out, table);
        for (size_t i = 0; i < px.size(); ++i) {
            auto dist = [&](uint32_t e) {
                const int dr = pixel::Red(e) - pixel::Red(px[i]), dg = pixel::Green(e) - pixel::Green(px[i]),
                          db = pixel::Blue(e) - pixel::Blue(px[i]);
                return dr * dr + dg * dg + db * db;
            };
            int nearest = 0;
            for (int j = 1; j < (1 << bpp); ++j)
                if (dist(table[j]) < dist(table[nearest])) nearest = j;
            const int x = static_cast<int>(i % w);
            const uint8_t* row = &rows[i / w * w];
            const int got = bpp == 8 ? row[x] : row[x >> 1] >> (x & 1 ? 0 : 4) & 0x0F;
            ASSERT_EQ(got, nearest) << bpp << " bits, colour " << std::hex << px[i];
        }
    }
}

namespace {

// The diffusion done the plain way: each pixel's error in sixteenths spread
// with Floyd and Steinberg's weights, alternate rows backwards, the first
// nearest of equals, areas of one colour (their rims included) left alone.
std::vector<int> PlainDiffusion(const std::vector<uint32_t>& px, int w, int h, const std::vector<uint32_t>& table) {
    using namespace pixel;
    std::vector<int> indices(px.size()), error(static_cast<size_t>(w) * (h + 1) * 3);
    auto at = [&](int x, int y) { return &error[(static_cast<size_t>(y) * w + x) * 3]; };
    auto pass = [&](int x, int y, int weight, const int* e) {
        if (x >= 0 && x < w)
            for (int k = 0; k < 3; ++k) at(x, y)[k] += e[k] * weight;
    };
    for (int y = 0; y < h; ++y) {
        const int dir = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = dir > 0 ? i : w - 1 - i;
            const uint32_t c = px[static_cast<size_t>(y) * w + x];
            auto same = [&](int xx, int yy) {
                return xx >= 0 && xx < w && yy >= 0 && yy < h && px[static_cast<size_t>(yy) * w + xx] == c;
            };
            const bool flat = (same(x, y + 1) || same(x, y - 1)) && (same(x - 1, y) || same(x + 1, y));
            int v[3] = {Red(c), Green(c), Blue(c)};
            for (int k = 0; k < 3 && !flat; ++k) v[k] = std::clamp(v[k] + ((at(x, y)[k] + 8) >> 4), 0, 255);
            auto distance = [&](uint32_t e) {
                return (Red(e) - v[0]) * (Red(e) - v[0]) + (Green(e) - v[1]) * (Green(e) - v[1]) +
                       (Blue(e) - v[2]) * (Blue(e) - v[2]);
            };
            int best = 0;
            for (int j = 1; j < static_cast<int>(table.size()); ++j)
                if (distance(table[j]) < distance(table[best])) best = j;
            indices[static_cast<size_t>(y) * w + x] = best;
            if (flat) continue;
            const int e[3] = {v[0] - Red(table[best]), v[1] - Green(table[best]), v[2] - Blue(table[best])};
            pass(x + dir, y, 7, e);
            pass(x - dir, y + 1, 3, e);
            pass(x, y + 1, 5, e);
            pass(x + dir, y + 1, 1, e);
        }
    }
    return indices;
}

int IndexAt(const std::vector<uint8_t>& rows, int stride, int bpp, int x, int y) {
    const uint8_t* row = &rows[static_cast<size_t>(y) * stride];
    return bpp == 8 ? row[x] : bpp == 4 ? row[x >> 1] >> (x & 1 ? 0 : 4) & 0x0F : row[x >> 3] >> (7 - (x & 7)) & 1;
}

}  // namespace

// Gradients, noise, saturated colours whose errors carry far beyond 0..255
// at 1 bit, and a patch of one colour: the same indices as the plain way,
// with the fixed tables and with one made for the picture.
TEST(ColorReduction, DiffusionTakesTheSameNearestEntriesAsThePlainWay) {
    const int w = 97, h = 61;
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int noise = static_cast<int>((x * 7919u + y * 104729u) % 23) - 11;
            auto ch = [&](int v) { return static_cast<uint32_t>(std::clamp(v + noise, 0, 255)); };
            uint32_t c = ch(x * 255 / w) << 16 | ch(y * 255 / h) << 8 | ch(255 - x * 2);
            if (x < 12) c = y < 30 ? 0xFF0000 : 0x0000FF;
            if (x > 80 && y > 40) c = x % 2 ? 0xFFFFFF : 0x000000;
            if (x > 40 && x < 60 && y > 20 && y < 35) c = 0x7B4DC9;
            px[static_cast<size_t>(y) * w + x] = c | 0xFF000000;  // the top byte is not looked at
        }
    uint32_t statics[20];
    for (int k = 0; k < 20; ++k) statics[k] = 0x2B5F91u * static_cast<uint32_t>(k + 1) & 0xFFFFFF;
    for (int bpp : {1, 4, 8})
        for (bool adaptive : {false, true}) {
            SCOPED_TRACE(bpp * 10 + adaptive);
            const int stride = (w * bpp + 31) / 32 * 4;
            std::vector<uint8_t> rows(static_cast<size_t>(stride) * h);
            const std::vector<uint32_t> table = ReduceToIndexed(
                px, w, h, bpp, FixedColorTable(bpp, statics), TColorReduction{adaptive, true, true}, rows.data(), stride);
            std::vector<uint32_t> colours(px);
            for (auto& c : colours) c &= 0xFFFFFF;
            const std::vector<int> expected = PlainDiffusion(colours, w, h, table);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(IndexAt(rows, stride, bpp, x, y), expected[static_cast<size_t>(y) * w + x]) << x << "," << y;
        }
}

// A large picture's table is made on two threads and settled while the
// picture is reduced: an area mostly of one colour keeps it exactly even
// where the rows sampled first show its colours evenly mixed.
TEST(ColorReduction, ALargeAreaMostlyOfOneColourKeepsItThoughFewRowsShowIt) {
    const int w = 1024, h = 1024;
    const uint32_t colour = 0x508040;
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = static_cast<uint32_t>(x / 4) << 16 | static_cast<uint32_t>(y / 4) << 8 |
                         static_cast<uint32_t>((x + y) / 8 + (x * 7 + y * 13) % 5);
            // Every 16th row the colours of the area's histogram bin in
            // turn; elsewhere its colour but for one pixel in four.
            if (y >= h / 2) c = y % 16 == 0 ? colour + static_cast<uint32_t>(x % 8) : x % 4 == 3 ? colour + 7 : colour;
            px[static_cast<size_t>(y) * w + x] = c;
        }
    std::vector<uint8_t> rows(static_cast<size_t>(w) * h);
    const std::vector<uint32_t> table =
        ReduceToIndexed(px, w, h, 8, FixedColorTable(8, nullptr), TColorReduction{}, rows.data(), w);
    EXPECT_NE(std::find(table.begin(), table.end(), colour), table.end());
    EXPECT_EQ(table[IndexAt(rows, w, 8, 1, 600)], colour);
}

// A large picture is diffused in two halves at once: the lower half is as a
// run over it alone makes it, and in the upper half, the seam included,
// every 8 x 8 block keeps the average colour of the picture there.
TEST(ColorReduction, ALargePictureDiffusedInTwoHalvesKeepsItsRowsAndItsShades) {
    const int w = 1024, h = 1024, half = h / 2;
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < px.size(); ++i) {
        const uint32_t x = i % w, y = i / w, noise = (x * 7919u + y * 104729u) % 9;
        px[i] = (60 + x / 8 + noise) << 16 | (60 + y / 8 + noise) << 8 | (60 + noise);
    }
    const std::vector<uint32_t> table = FixedColorTable(8, nullptr);
    std::vector<uint8_t> whole(px.size()), lower(px.size() / 2);
    ReduceToIndexed(px, w, h, 8, table, {false, true, true}, whole.data(), w);
    ReduceToIndexed(std::vector<uint32_t>(px.begin(), px.begin() + static_cast<ptrdiff_t>(lower.size())), w, half, 8,
                    table, {false, true, true}, lower.data(), w);
    EXPECT_TRUE(std::equal(lower.begin(), lower.end(), whole.begin()));
    double worst = 0;
    for (int by = half - 32; by < h; by += 8)
        for (int bx = 0; bx < w; bx += 8)
            for (int shift : {16, 8, 0}) {
                double apart = 0;
                for (int i = 0; i < 64; ++i) {
                    const size_t at = static_cast<size_t>(by + i / 8) * w + bx + i % 8;
                    apart += static_cast<int>(px[at] >> shift & 0xFF) - static_cast<int>(table[whole[at]] >> shift & 0xFF);
                }
                worst = std::max(worst, std::abs(apart) / 64);
            }
    EXPECT_LT(worst, 8) << "the largest difference of a block's average, in levels";
}
