// The clipboard: pictures as device-independent bitmaps of their own pixel
// format, text, and data that stays after the program that put it.
#include "ui/Clipbrd.h"

#include "tests/support/Processes.h"

#include <gtest/gtest.h>

using namespace ui;
using namespace testing_support;

namespace {

const TPixelFormat kFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

// A white picture with a few coloured pixels, at an odd width so that rows
// are padded.
void Paint(TBitmap& b) {
    if (BitsPerPixel(b.PixelFormat()) <= 8) {
        // A first colour that only this picture's table holds.
        TCanvas::Lease dc(b.Canvas());
        const RGBQUAD own{30, 20, 10, 0};
        ::SetDIBColorTable(dc.get(), 0, 1, &own);
    }
    TCanvas& c = b.Canvas();
    c.Brush.SetColor(clWhite);
    c.FillRect(RECT{0, 0, b.Width(), b.Height()});
    c.SetPixels(0, 0, RGB(10, 20, 30));
    c.SetPixels(6, 2, clRed);
    c.SetPixels(3, 1, clBlue);
}

void ExpectSamePixels(TBitmap& a, TBitmap& b) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            EXPECT_EQ(a.PixelColor(x, y), b.PixelColor(x, y)) << x << "," << y;
}

TEST(Clipboard, APictureGoesAsABitmapOfItsOwnFormatAndComesBack) {
    for (TPixelFormat format : kFormats) {
        const int bpp = BitsPerPixel(format);
        SCOPED_TRACE(bpp);
        TBitmap picture(7, 3, format);
        Paint(picture);
        Clipboard().Assign(picture);
        ASSERT_TRUE(Clipboard().HasFormat(CF_DIB));
        // The format read back is the header's: bit count, and for 16 bits
        // the 5-6-5 masks; the colours come through the table.
        TBitmap back;
        ASSERT_TRUE(Clipboard().GetBitmap(back));
        EXPECT_EQ(back.PixelFormat(), format);
        ExpectSamePixels(back, picture);
    }
    // An empty picture leaves what the clipboard holds.
    Clipboard().SetAsText("keep");
    TBitmap empty;
    Clipboard().Assign(empty);
    EXPECT_EQ(Clipboard().AsText(), "keep");
    Clipboard().Clear();
    TBitmap none;
    EXPECT_FALSE(Clipboard().GetBitmap(none));
}

TEST(Clipboard, TextAndPictureTogetherWithinOneOpening) {
    Clipboard().SetAsText("first");
    EXPECT_EQ(Clipboard().AsText(), "first");
    TBitmap picture(7, 3, pf24bit);
    Paint(picture);
    {
        TClipboard::Session s(Clipboard());
        Clipboard().SetAsText("beside the picture");
        Clipboard().Assign(picture);
    }
    EXPECT_EQ(Clipboard().AsText(), "beside the picture");
    EXPECT_TRUE(Clipboard().HasFormat(CF_DIB));
    // Outside an opening, each put replaces what was there.
    Clipboard().SetAsText("alone");
    EXPECT_FALSE(Clipboard().HasFormat(CF_DIB));
    Clipboard().Clear();
    EXPECT_FALSE(Clipboard().HasFormat(CF_TEXT));
    EXPECT_EQ(Clipboard().AsText(), "");
}

TEST(Clipboard, APictureStaysAfterTheProgramThatPutItHasEnded) {
    Clipboard().Clear();
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ChildProcess child(std::string("\"") + self +
                       "\" --gtest_also_run_disabled_tests "
                       "--gtest_filter=ClipboardChild.DISABLED_PutsAPicture");
    ASSERT_EQ(child.Wait(60000), 0) << child.Output();
    TBitmap back, expected(7, 3, pf8bit);
    Paint(expected);
    ASSERT_TRUE(Clipboard().GetBitmap(back));
    EXPECT_EQ(back.PixelFormat(), pf8bit);
    ExpectSamePixels(back, expected);
}

// Run only as the child of the test above.
TEST(ClipboardChild, DISABLED_PutsAPicture) {
    TBitmap picture(7, 3, pf8bit);
    Paint(picture);
    Clipboard().Assign(picture);
}

}  // namespace
