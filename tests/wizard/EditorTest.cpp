// The editor page of the wizard through its real windows: mouse messages on
// the picture, real keys through the form's key preview, real clicks on the
// tool bar's menus.
#include "wizard/AfterScreenShotWindowUnit.h"

#include "plugins/KestrixObjectUnit.h"
#include "settings/SettingsStore.h"
#include "tests/support/Input.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ui;
using namespace testing_support;

namespace {

void SetSteps(DWORD n) { ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "MaxHistorySteps", REG_DWORD, &n, 4); }
std::unique_ptr<TBitmap> Copy(TBitmap& b) {
    auto c = std::make_unique<TBitmap>();
    c->Assign(b);
    c->OwnPixels();
    return c;
}
bool Same(const TBitmap& a, const TBitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && a.PixelFormat() == b.PixelFormat() &&
           !std::memcmp(a.ConstBits(), b.ConstBits(), static_cast<size_t>(a.Stride()) * a.Height());
}
// Committed private memory of the process, which the pictures are part of.
long CommittedKb() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION m;
    for (const char* p = nullptr; ::VirtualQuery(p, &m, sizeof m) == sizeof m && p <= m.BaseAddress;
         p = static_cast<const char*>(m.BaseAddress) + m.RegionSize)
        if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) total += m.RegionSize;
    return static_cast<long>(total / 1024);
}

class EditorTest : public testing::Test {
protected:
    static void SetUpTestSuite() { KestrixObjectFactory().RegisterClassObject(); }
    static void TearDownTestSuite() { KestrixObjectFactory().RevokeClassObject(); }
    void SetUp() override { SetSteps(10); }
    void TearDown() override {
        w_.reset();
        EXPECT_TRUE(RecordedErrors().empty()) << (RecordedErrors().empty() ? "" : RecordedErrors()[0]);
    }
    // A wizard on page 0 with a picture of many colours.
    TAfterScreenShotWindow& Open(int width = 200, int height = 150, TPixelFormat format = pf24bit) {
        w_ = std::make_unique<TAfterScreenShotWindow>();
        TBitmap& b = Pic();
        b.SetPixelFormat(format);
        b.SetSize(width, height);
        TCanvas::Lease dc(b.Canvas());
        for (int y = 0; y < height; y += 4)
            for (int x = 0; x < width; x += 4) {
                RECT r{x, y, x + 4, y + 4};
                ::FillRect(dc.get(), &r, ColorBrush(RGB(x * 7 % 256, y * 5 % 256, (x + y) % 256)));
            }
        w_->Show();
        ::SetForegroundWindow(w_->Handle());
        EXPECT_TRUE(PumpUntil([this] { return w_->Notebook.PageIndex() == 0 && ::GetForegroundWindow() == w_->Handle(); }));
        return *w_;
    }
    TBitmap& Pic() { return w_->ScreenShot.Picture.Bitmap(); }
    // A mouse message at a point of the viewport, reported by the picture
    // in its own coordinates where it lies now.
    void Mouse(UINT msg, int x, int y) {
        ::SendMessageA(w_->ScreenShot.Handle(), msg, msg == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                       MAKELPARAM(x - w_->ScreenShot.Left(), y - w_->ScreenShot.Top()));
    }
    // Press, moves and release at picture points.
    void Stroke(std::initializer_list<POINT> pts) {
        const int l = w_->ScreenShot.Left(), t = w_->ScreenShot.Top();
        Mouse(WM_LBUTTONDOWN, pts.begin()->x + l, pts.begin()->y + t);
        for (POINT p : pts) Mouse(WM_MOUSEMOVE, p.x + l, p.y + t);
        Mouse(WM_LBUTTONUP, (pts.end() - 1)->x + l, (pts.end() - 1)->y + t);
    }
    bool Keys(std::initializer_list<WORD> keys, std::function<bool()> until) {
        PressKeys(keys);
        return PumpUntil(until);
    }
    bool Steps(size_t n) { return w_->Editor.History.size() == n; }
    // Clicks the item once the menu is open; its top-left corner through at.
    static void WhenMenu(TPopupMenu& menu, const char* caption, POINT& at) {
        HMENU h = menu.Handle();
        WhenReady([h, caption] { RECT rc; return OpenMenuItemRect(h, caption, rc); },
                  [h, caption, &at] {
                      RECT rc, popup;
                      OpenMenuItemRect(h, caption, rc);
                      ::GetWindowRect(::FindWindowA("#32768", nullptr), &popup);
                      at = POINT{popup.left, popup.top};
                      MouseClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
                  }, 10000, [] { ::EndMenu(); });
    }
    POINT Corner(TToolButton& b, bool right) {
        POINT p{b.Left() + (right ? b.Width() : b.Width() / 2), b.Top() + (right ? 0 : b.Height() / 2)};
        ::ClientToScreen(w_->ToolBar.Handle(), &p);
        return p;
    }
    std::unique_ptr<TAfterScreenShotWindow> w_;
    SavedKey settings_{kSettingsKey};
};

TEST_F(EditorTest, TheMoveToolKeepsThePictureInTheViewportOnEachAxis) {
    Open(223, 204);
    EXPECT_TRUE(w_->tbMove.Down());
    EXPECT_EQ(w_->ScreenShot.Cursor(), crHandPoint);
    Stroke({{30, 80}, {20, 75}, {50, 110}});
    EXPECT_EQ(w_->ScreenShot.Left(), 68);
    EXPECT_EQ(w_->ScreenShot.Top(), 14);

    Open(500, 100);
    EXPECT_EQ(w_->ScreenShot.Top(), 66);
    Mouse(WM_LBUTTONDOWN, 200, 100);
    for (auto [x, y, left] : {std::tuple{100, 80, -100}, {50, 120, -100}, {59, 120, -141}, {300, 90, -141}}) {
        Mouse(WM_MOUSEMOVE, x, y);
        EXPECT_EQ(w_->ScreenShot.Left(), left) << x;
        EXPECT_EQ(w_->ScreenShot.Top(), 66);
    }
    Mouse(WM_LBUTTONUP, 300, 90);
    // Beside the picture a press does nothing.
    w_->tbPaint.Click();
    ::SendMessageA(w_->ScrollBox.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(400, 10));
    EXPECT_TRUE(w_->Editor.History.empty());
}

TEST_F(EditorTest, PenAndShapesDrawOnlyTheirLastFigureAndEachPressIsAStep) {
    for (TPixelFormat format : {pf24bit, pf8bit}) {
        Open(200, 150, format);
        w_->tbPaint.Click();
        auto original = Copy(Pic());
        auto expected = Copy(Pic());
        TCanvas& c = expected->Canvas();
        c.Pen.SetColor(clRed);
        c.SetPixels(50, 50, clRed);
        c.MoveTo(60, 55);
        c.LineTo(50, 50);
        c.MoveTo(70, 50);
        c.LineTo(60, 55);
        Stroke({{50, 50}, {60, 55}, {70, 50}});
        EXPECT_TRUE(Same(Pic(), *expected));
        w_->Label6.Click();
        // A click leaves one pixel.
        Stroke({{20, 30}});
        expected = Copy(*original);
        expected->Canvas().SetPixels(20, 30, clRed);
        EXPECT_TRUE(Same(Pic(), *expected));
        w_->Label6.Click();

        for (TToolButton* tool : {&w_->tbLine, &w_->tbSquare, &w_->tbEllipse}) {
            tool->Click();
            Stroke({{40, 40}});  // a step that changes nothing
            EXPECT_TRUE(Same(Pic(), *original));
            Stroke({{40, 40}, {150, 120}, {10, 5}, {90, 100}, {60, 70}});
            expected = Copy(*original);
            TCanvas& e = expected->Canvas();
            e.Pen.SetColor(clRed);
            e.Brush.SetStyle(bsClear);
            e.MoveTo(40, 40);
            tool == &w_->tbLine ? e.LineTo(60, 70)
            : tool == &w_->tbSquare ? e.Rectangle(40, 40, 60, 70) : e.Ellipse(40, 40, 60, 70);
            EXPECT_FALSE(Same(*expected, *original));
            EXPECT_TRUE(Same(Pic(), *expected)) << tool->Name() << " " << format;
            ASSERT_TRUE(Steps(2));
            w_->Label6.Click();
            w_->Label6.Click();
            EXPECT_TRUE(Same(Pic(), *original));
        }
    }
}

TEST_F(EditorTest, TextGoesFromItsBoxToThePictureAtEnterInThePenColour) {
    Open();
    w_->tbText.Click();
    const int l = w_->ScreenShot.Left(), t = w_->ScreenShot.Top();
    auto click = [&](int x, int y, int x2, int y2) {
        Mouse(WM_LBUTTONDOWN, l + x, t + y);
        Mouse(WM_LBUTTONUP, l + x2, t + y2);
        return PumpUntil([&] { return w_->Editor.TextBox && w_->Editor.TextBox->Focused(); });
    };
    auto text = [&](const char* s) { return [&, s] { return w_->Editor.TextBox->Text() == s; }; };
    ASSERT_TRUE(click(30, 40, 90, 90));  // the press point counts
    EXPECT_EQ(w_->Editor.TextBox->Left(), l + 28);
    EXPECT_EQ(w_->Editor.TextBox->Top(), t + 38);
    EXPECT_EQ(w_->Editor.TextBox->ClientWidth(), w_->ScreenShot.Canvas().TextWidth("MM"));
    Keys({'A'}, text("a"));
    Keys({'B'}, text("ab"));
    ASSERT_TRUE(Keys({'C'}, text("abc")));
    EXPECT_EQ(w_->Editor.TextBox->ClientWidth(), w_->ScreenShot.Canvas().TextWidth("abMM"));

    // A second click drops the box and its text.
    ASSERT_TRUE(click(10, 10, 10, 10));
    EXPECT_EQ(w_->Editor.TextBox->Left(), l + 8);
    EXPECT_EQ(w_->Editor.TextBox->Text(), "");
    EXPECT_EQ(w_->ScrollBox.Controls().size(), 2u);
    auto before = Copy(Pic());
    ASSERT_TRUE(Keys({'X'}, text("x")));
    ASSERT_TRUE(Keys({VK_RETURN}, [&] { return Steps(1) && !w_->Editor.TextBox->Visible(); }));
    EXPECT_EQ(w_->Notebook.PageIndex(), 0);  // Next was not pressed
    int changed = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x)
            if (Pic().PixelColor(x, y) != before->PixelColor(x, y)) {
                EXPECT_EQ(Pic().PixelColor(x, y), clRed);
                EXPECT_TRUE(x >= 10 && y >= 10);
                ++changed;
            }
    EXPECT_GT(changed, 5);
    Pump(50);
    EXPECT_TRUE(Steps(1));  // the focus that left it committed nothing more

    // Ctrl+Z in an open box steps the picture back and reaches the box.
    ASSERT_TRUE(click(50, 60, 50, 60));
    ASSERT_TRUE(Keys({'Q'}, text("q")));
    ASSERT_TRUE(Keys({VK_CONTROL, 'Z'}, [&] { return Steps(0) && w_->Editor.TextBox->Text().empty(); }));
    EXPECT_TRUE(Same(Pic(), *before));
    EXPECT_TRUE(w_->Editor.TextBox->Visible());
    w_->tbMove.Click();  // commits the box
    EXPECT_FALSE(w_->Editor.TextBox->Visible());
    EXPECT_TRUE(Steps(1));
}

TEST_F(EditorTest, EscDropsAHalfTypedTextAndCancelsOnlyWhileNothingWouldBeLost) {
    Open();
    auto before = Copy(Pic());
    w_->tbText.Click();
    Mouse(WM_LBUTTONDOWN, w_->ScreenShot.Left() + 30, w_->ScreenShot.Top() + 40);
    Mouse(WM_LBUTTONUP, w_->ScreenShot.Left() + 30, w_->ScreenShot.Top() + 40);
    ASSERT_TRUE(PumpUntil([&] { return w_->Editor.TextBox && w_->Editor.TextBox->Focused(); }));
    ASSERT_TRUE(Keys({'A'}, [&] { return w_->Editor.TextBox->Text() == "a"; }));
    ASSERT_TRUE(Keys({VK_ESCAPE}, [&] { return !w_->Editor.TextBox->Visible(); }));
    Pump(50);
    EXPECT_TRUE(Steps(0));
    EXPECT_TRUE(Same(Pic(), *before));
    EXPECT_TRUE(w_->Visible());

    // With a step to lose, Esc does nothing; with none, it is Cancel.
    w_->tbPaint.Click();
    Stroke({{10, 10}, {60, 10}});
    ASSERT_TRUE(Steps(1));
    PressKeys({VK_ESCAPE});
    Pump(200);
    EXPECT_TRUE(w_->Visible());
    ASSERT_TRUE(Keys({VK_CONTROL, 'Z'}, [&] { return Steps(0); }));
    EXPECT_TRUE(Keys({VK_ESCAPE}, [&] { return !w_->Visible(); }));
}

TEST_F(EditorTest, APressBesideThePictureReleasedOverItOpensNoTextBox) {
    Open();
    w_->tbText.Click();
    POINT beside{5, 5}, over{w_->ScreenShot.Left() + 50, w_->ScreenShot.Top() + 50};
    ::ClientToScreen(w_->ScrollBox.Handle(), &beside);
    ::ClientToScreen(w_->ScrollBox.Handle(), &over);
    MouseLeftDown(beside.x, beside.y);
    ASSERT_TRUE(PumpUntil([&] { return ::GetCapture() == w_->ScrollBox.Handle(); }));
    MouseMoveTo(over.x, over.y);
    MouseLeftUp(over.x, over.y);
    EXPECT_TRUE(PumpUntil([] { return ::GetCapture() == nullptr; }));
    EXPECT_EQ(w_->Editor.TextBox, nullptr);
    // A release the picture gets without its press is none of its clicks either.
    ::SendMessageA(w_->ScreenShot.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(50, 50));
    EXPECT_EQ(w_->Editor.TextBox, nullptr);
}

TEST_F(EditorTest, TheSwatchTakesAColourOnlyWhenTheDialogIsConfirmed) {
    Open();
    for (int button : {IDCANCEL, IDOK}) {
        TCommonDialog::ShowHook = [button](HWND dialog) {
            const char* rgb[] = {"0", "128", "255"};
            for (int i = 0; i < 3; ++i) {
                ::SetDlgItemTextA(dialog, 706 + i, rgb[i]);
                ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(706 + i, EN_UPDATE),
                               reinterpret_cast<LPARAM>(::GetDlgItem(dialog, 706 + i)));
            }
            ::PostMessageA(dialog, WM_COMMAND, button, 0);
        };
        ::SendMessageA(w_->PenColor.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        ::SendMessageA(w_->PenColor.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        EXPECT_EQ(w_->ColorDialog.Color, button == IDOK ? RGB(0, 128, 255) : clRed);
        EXPECT_EQ(w_->PenColor.BrushColor(), button == IDOK ? RGB(0, 128, 255) : clRed);
    }
    TCommonDialog::ShowHook = nullptr;
}

TEST_F(EditorTest, OnlyALongPressOnTheTextButtonOpensTheFontMenu) {
    Open();
    const POINT text = Corner(w_->tbText, false);
    MouseClick(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return w_->tbText.Down() && !w_->FontClickTimer.Enabled(); }));
    EXPECT_FALSE(::IsWindowVisible(::FindWindowA("#32768", nullptr)));

    // The dialog's colour is the canvas font's only until the next drawing.
    TCommonDialog::ShowHook = [](HWND dialog) {
        HWND colours = ::GetDlgItem(dialog, 0x473);
        for (int i = 0; i < ::SendMessageA(colours, CB_GETCOUNT, 0, 0); ++i)
            if (static_cast<COLORREF>(::SendMessageA(colours, CB_GETITEMDATA, i, 0)) == clBlue) {
                ::SendMessageA(colours, CB_SETCURSEL, i, 0);
                ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x473, CBN_SELCHANGE), reinterpret_cast<LPARAM>(colours));
            }
        ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    POINT at{};
    WhenMenu(w_->FontClickPopup, "Font Settings...", at);
    MouseLeftDown(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return !PendingWhenReady(); }, 10000));
    MouseLeftUp(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return w_->ScreenShot.Canvas().Font.Color() == clBlue; }));
    TCommonDialog::ShowHook = nullptr;
    EXPECT_EQ(at.x, Corner(w_->tbText, true).x);
    EXPECT_EQ(at.y, Corner(w_->tbText, true).y);
    Stroke({{20, 20}});
    ASSERT_TRUE(PumpUntil([&] { return w_->Editor.TextBox && w_->Editor.TextBox->Focused(); }));
    ASSERT_TRUE(Keys({'W'}, [&] { return w_->Editor.TextBox->Text() == "w"; }));
    ASSERT_TRUE(Keys({VK_RETURN}, [&] { return Steps(1); }));
    int red = 0;
    for (int y = 20; y < 40; ++y)
        for (int x = 20; x < 40; ++x) {
            EXPECT_NE(Pic().PixelColor(x, y), clBlue);
            red += Pic().PixelColor(x, y) == clRed;
        }
    EXPECT_GT(red, 0);
}

TEST_F(EditorTest, CtrlZWithAnyModifiersStepsBackWithinTheLimit) {
    Open();
    w_->tbPaint.Click();
    std::unique_ptr<TBitmap> second;
    for (int i = 0; i < 12; ++i) {
        Stroke({{10 + i * 10, 20}, {10 + i * 10, 60}});
        if (i == 1) second = Copy(Pic());
    }
    EXPECT_TRUE(Steps(10));
    Keys({'Z'}, [] { return false; });
    EXPECT_TRUE(Steps(10));
    ASSERT_TRUE(Keys({VK_CONTROL, VK_SHIFT, 'Z'}, [&] { return Steps(9); }));
    ASSERT_TRUE(Keys({VK_CONTROL, VK_MENU, 'Z'}, [&] { return Steps(8); }));
    for (size_t n = 8; n > 0; --n) ASSERT_TRUE(Keys({VK_CONTROL, 'Z'}, [&] { return Steps(n - 1); }));
    EXPECT_TRUE(Same(Pic(), *second));
    w_->Label6.Click();
    EXPECT_TRUE(Same(Pic(), *second));

    SetSteps(0);
    Open();
    w_->tbPaint.Click();
    Stroke({{5, 5}});
    EXPECT_TRUE(Steps(0));
}

TEST_F(EditorTest, AHugeLimitIsHeldToTheMemoryThereIs) {
    SetSteps(100000);
    Open(4096, 2048, pf32bit);
    w_->tbPaint.Click();
    // Leave 512 MB of address space: a few 32 MB pictures.
    std::vector<void*> taken;
    for (size_t chunk = 256u << 20; chunk >= (1u << 20); chunk /= 2)
        while (void* p = ::VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS)) taken.push_back(p);
    for (int i = 0; i < 2; ++i) ::VirtualFree(taken[i], 0, MEM_RELEASE);
    for (int i = 0; i < 30; ++i) Stroke({{i, 0}, {i, 100}});
    const size_t kept = w_->Editor.History.size();
    w_->N24bit1.Click();
    for (size_t i = 2; i < taken.size(); ++i) ::VirtualFree(taken[i], 0, MEM_RELEASE);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 30u);
    EXPECT_EQ(Pic().PixelFormat(), pf24bit);
    EXPECT_EQ(Pic().PixelColor(29, 50), clRed);
}

TEST_F(EditorTest, EachDepthIsAStepThatCtrlZUndoesWithItsFormat) {
    Open();
    auto original = Copy(Pic());
    POINT at{};
    WhenMenu(w_->ImageInfoMenu, "1 bit", at);
    const POINT settings = Corner(w_->tbSettings, false);
    MouseClick(settings.x, settings.y);
    ASSERT_TRUE(PumpUntil([&] { return Pic().PixelFormat() == pf1bit; }));
    EXPECT_EQ(at.x, Corner(w_->tbSettings, true).x);
    EXPECT_EQ(at.y, Corner(w_->tbSettings, true).y);
    ASSERT_TRUE(Keys({VK_CONTROL, 'Z'}, [&] { return Steps(0); }));
    EXPECT_TRUE(Same(Pic(), *original));

    w_->N9bit1.Click();
    w_->N24bit1.Click();
    EXPECT_EQ(Pic().PixelFormat(), pf24bit);
    EXPECT_FALSE(Same(Pic(), *original));  // the colours lost at 8 bits
    w_->Label6.Click();
    w_->Label6.Click();
    EXPECT_TRUE(Same(Pic(), *original));
    w_->N32bit1.Click();
    w_->N32bit1.Click();
    EXPECT_TRUE(Steps(2));

    // After 4 bits a pen colour off the table comes out as one of it.
    w_->N4bit1.Click();
    w_->PenColor.SetBrushColor(RGB(250, 140, 20));
    w_->tbPaint.Click();
    Stroke({{5, 5}, {40, 5}});
    RGBQUAD table[16];
    TCanvas::Lease dc(Pic().Canvas(), true);
    const UINT n = ::GetDIBColorTable(dc.get(), 0, 16, table);
    for (int x = 5; x <= 40; x += 5) {
        const COLORREF c = ::GetPixel(dc.get(), x, 5);
        EXPECT_TRUE(std::any_of(table, table + n, [c](RGBQUAD q) { return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue) == c; }));
    }
}

TEST_F(EditorTest, TenStepsOfA4kPictureHoldElevenPicturesUntilTheWizardCloses) {
    const long base = CommittedKb();
    Open(3840, 2160, pf24bit);
    const long picture = static_cast<long>(Pic().Stride()) * Pic().Height() / 1024;
    w_->tbPaint.Click();
    for (int i = 0; i < 14; ++i) Stroke({{i * 7, 100}, {i * 7 + 500, 900}});
    ASSERT_TRUE(Steps(10));
    const long held = CommittedKb() - base;
    EXPECT_GT(held, picture * 21 / 2);
    EXPECT_LT(held, picture * 23 / 2);
    w_.reset();
    EXPECT_LT(CommittedKb() - base, picture / 2);
}

}  // namespace
