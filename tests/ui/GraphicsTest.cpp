// Bitmaps: assigned pictures stay independent however they are shared
// underneath, and resizing keeps what still fits.
#include "ui/Graphics.h"

#include <gtest/gtest.h>

using namespace ui;

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
