// The editor page of the wizard, driven through its real windows: mouse
// messages on the picture, real keys through the form's key preview, real
// clicks on the tool bar and its menus.
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
using Wizard = TAfterScreenShotWindow;

namespace {

void SetHistorySteps(DWORD value) {
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "MaxHistorySteps", REG_DWORD, &value,
                      sizeof value);
}

// Every pixel of a bitmap, as colours, for comparing pictures.
std::vector<COLORREF> Pixels(TBitmap& b) {
    std::vector<COLORREF> out;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) out.push_back(b.PixelColor(x, y));
    return out;
}
// A copy with pixels of its own.
std::unique_ptr<TBitmap> Copy(TBitmap& b) {
    auto c = std::make_unique<TBitmap>();
    c->Assign(b);
    c->OwnPixels();
    return c;
}
bool SameBits(const TBitmap& a, const TBitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && a.PixelFormat() == b.PixelFormat() &&
           std::memcmp(a.ConstBits(), b.ConstBits(), static_cast<size_t>(a.Stride()) * a.Height()) == 0;
}

// Committed private memory of the process: what the program holds.
long CommittedKb() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION m;
    for (const char* p = nullptr; ::VirtualQuery(p, &m, sizeof m) == sizeof m; p = static_cast<const char*>(m.BaseAddress) + m.RegionSize) {
        if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) total += m.RegionSize;
        if (static_cast<const char*>(m.BaseAddress) + m.RegionSize < p) break;
    }
    return static_cast<long>(total / 1024);
}

POINT ScreenCentre(TControl& c) {
    RECT r = c.BoundsRect();
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(c.Parent()->Handle(), &p);
    return p;
}

class EditorTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        settings_ = std::make_unique<SavedKey>(kSettingsKey);
        KestrixObjectFactory().RegisterClassObject();
    }
    static void TearDownTestSuite() {
        KestrixObjectFactory().RevokeClassObject();
        settings_.reset();
    }
    void SetUp() override {
        SetHistorySteps(10);
        RecordedErrors().clear();
    }
    void TearDown() override {
        w_.reset();
        EXPECT_TRUE(RecordedErrors().empty()) << RecordedErrors().front();
    }

    // Opens a wizard on a picture of many colours and waits for page 0.
    Wizard& Open(int width = 200, int height = 150, TPixelFormat format = pf24bit) {
        w_ = std::make_unique<Wizard>();
        TBitmap& b = w_->ScreenShot.Picture.Bitmap();
        b.SetPixelFormat(format);
        b.SetSize(width, height);
        {
            TCanvas::Lease dc(b.Canvas());
            for (int y = 0; y < height; y += 4)
                for (int x = 0; x < width; x += 4) {
                    RECT r{x, y, x + 4, y + 4};
                    ::FillRect(dc.get(), &r, ColorBrush(RGB(x * 7 % 256, y * 5 % 256, (x + y) % 256)));
                }
        }
        w_->ScreenShot.Invalidate();
        w_->Show();
        ::SetForegroundWindow(w_->Handle());
        EXPECT_TRUE(PumpUntil([this] { return w_->Notebook.PageIndex() == 0 && ::GetForegroundWindow() == w_->Handle(); }));
        Pump(0);
        return *w_;
    }
    TBitmap& Pic() { return w_->ScreenShot.Picture.Bitmap(); }
    // Mouse messages to the picture at a point of the viewport, as the
    // picture reports them: in its own coordinates where it now lies.
    void Mouse(UINT msg, int vx, int vy) {
        const int x = vx - w_->ScreenShot.Left(), y = vy - w_->ScreenShot.Top();
        ::SendMessageA(w_->ScreenShot.Handle(), msg, msg == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                       MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    }
    // A press, moves and a release, at picture points (the picture at rest).
    void Stroke(std::initializer_list<POINT> points) {
        const POINT* p = points.begin();
        const int l = w_->ScreenShot.Left(), t = w_->ScreenShot.Top();
        Mouse(WM_LBUTTONDOWN, p->x + l, p->y + t);
        for (++p; p != points.end(); ++p) Mouse(WM_MOUSEMOVE, p->x + l, p->y + t);
        Mouse(WM_LBUTTONUP, (points.end() - 1)->x + l, (points.end() - 1)->y + t);
    }
    void Keys(std::initializer_list<WORD> keys) {
        PressKeys(keys);
        Pump(0);
    }
    // Presses the keys and pumps until the history has the size.
    bool KeysUntil(std::initializer_list<WORD> keys, size_t history) {
        PressKeys(keys);
        return PumpUntil([&] { return w_->History.size() == history; });
    }
    // Runs a popup menu item by a real click once the menu is open.
    void ChooseFromMenu(TPopupMenu& menu, const char* caption, POINT* at = nullptr) {
        HMENU h = menu.Handle();
        WhenReady([h, caption] { RECT rc; return OpenMenuItemRect(h, caption, rc); },
                  [h, caption, at] {
                      RECT rc;
                      OpenMenuItemRect(h, caption, rc);
                      if (at) {
                          RECT popup;
                          ::GetWindowRect(::FindWindowA("#32768", nullptr), &popup);
                          *at = POINT{popup.left, popup.top};
                      }
                      MouseClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
                  },
                  10000, [] { ::EndMenu(); });
    }
    // The screen point of a tool button's top-right corner.
    POINT TopRight(TToolButton& b) {
        POINT p{b.Left() + b.Width(), b.Top()};
        ::ClientToScreen(w_->ToolBar.Handle(), &p);
        return p;
    }

    std::unique_ptr<Wizard> w_;
    static std::unique_ptr<SavedKey> settings_;
};
std::unique_ptr<SavedKey> EditorTest::settings_;

TEST_F(EditorTest, TheMoveToolKeepsThePictureInsideTheViewportOnEachAxis) {
    Wizard& w = Open(223, 204);
    EXPECT_EQ(w.ScreenShot.Left(), 68);
    EXPECT_EQ(w.ScreenShot.Top(), 14);
    EXPECT_TRUE(w.tbMove.Down());
    Mouse(WM_LBUTTONDOWN, 100, 100);
    Mouse(WM_MOUSEMOVE, 90, 95);
    Mouse(WM_MOUSEMOVE, 120, 130);
    Mouse(WM_LBUTTONUP, 120, 130);
    EXPECT_EQ(w.ScreenShot.Left(), 68);
    EXPECT_EQ(w.ScreenShot.Top(), 14);

    Open(500, 100);
    EXPECT_EQ(w_->ScreenShot.Left(), 0);
    EXPECT_EQ(w_->ScreenShot.Top(), 66);
    Mouse(WM_LBUTTONDOWN, 200, 100);
    Mouse(WM_MOUSEMOVE, 100, 80);  // left 100: allowed; up: refused
    EXPECT_EQ(w_->ScreenShot.Left(), -100);
    EXPECT_EQ(w_->ScreenShot.Top(), 66);
    Mouse(WM_MOUSEMOVE, 50, 120);  // a step past -141 is not pulled to it
    EXPECT_EQ(w_->ScreenShot.Left(), -100);
    Mouse(WM_MOUSEMOVE, 59, 120);  // to -141 exactly
    EXPECT_EQ(w_->ScreenShot.Left(), -141);
    Mouse(WM_MOUSEMOVE, 300, 120);  // past 0
    EXPECT_EQ(w_->ScreenShot.Left(), -141);
    Mouse(WM_LBUTTONUP, 300, 120);
    EXPECT_EQ(w_->ScreenShot.Top(), 66);
    EXPECT_TRUE(w_->History.empty());
    // The viewport beside the picture takes no press.
    w_->tbPaint.Click();
    ::SendMessageA(w_->ScrollBox.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_TRUE(w_->History.empty());
    EXPECT_FALSE(w_->Dragging);
}

TEST_F(EditorTest, AClickWithThePenSetsOnePixelAndAStrokeIsOneStep) {
    Wizard& w = Open();
    w.tbPaint.Click();
    auto before = Pixels(Pic());
    Stroke({{20, 30}});
    auto after = Pixels(Pic());
    int changed = 0;
    for (size_t i = 0; i < after.size(); ++i) changed += after[i] != before[i];
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(Pic().PixelColor(20, 30), clRed);
    EXPECT_EQ(w.History.size(), 1u);

    // Each segment runs back to the point before, which it leaves out.
    auto expected = Copy(Pic());
    TCanvas& c = expected->Canvas();
    c.SetPixels(50, 50, clRed);
    c.Pen.SetColor(clRed);
    c.MoveTo(60, 55);
    c.LineTo(50, 50);
    c.MoveTo(70, 50);
    c.LineTo(60, 55);
    Stroke({{50, 50}, {60, 55}, {70, 50}});
    EXPECT_TRUE(SameBits(Pic(), *expected));
    EXPECT_EQ(Pic().PixelColor(70, 50), clRed);
    EXPECT_EQ(w.History.size(), 2u);
}

TEST_F(EditorTest, PreviewsLeaveOnlyTheLastOutlineAtAnyDepth) {
    for (TPixelFormat format : {pf24bit, pf8bit}) {
        Wizard& w = Open(200, 150, format);
        TToolButton* tools[] = {&w.tbLine, &w.tbSquare, &w.tbEllipse};
        for (TToolButton* tool : tools) {
            tool->Click();
            // A click records a step and changes nothing.
            auto original = Copy(Pic());
            const size_t steps = w.History.size();
            Stroke({{40, 40}});
            EXPECT_TRUE(SameBits(Pic(), *original));
            EXPECT_EQ(w.History.size(), steps + 1);

            Stroke({{40, 40}, {150, 120}, {10, 5}, {90, 100}, {60, 70}});
            auto expected = Copy(*original);
            TCanvas& c = expected->Canvas();
            c.Pen.SetColor(clRed);
            c.Brush.SetStyle(bsClear);
            if (tool == &w.tbLine) {
                c.MoveTo(40, 40);
                c.LineTo(60, 70);
            } else if (tool == &w.tbSquare) {
                c.Rectangle(40, 40, 60, 70);
            } else {
                c.Ellipse(40, 40, 60, 70);
            }
            EXPECT_TRUE(SameBits(Pic(), *expected)) << tool->Name() << " " << format;
            EXPECT_FALSE(SameBits(*expected, *original));
            // Outlines only.
            if (tool != &w.tbLine) EXPECT_EQ(Pic().PixelColor(50, 55), original->PixelColor(50, 55));
            EXPECT_EQ(w.History.size(), steps + 2);
            // Two steps back: the picture as it was.
            w.Label6.Click();
            w.Label6.Click();
            EXPECT_TRUE(SameBits(Pic(), *original));
        }
    }
}

TEST_F(EditorTest, TextIsTypedIntoItsBoxAndCommittedByEnterInThePenColour) {
    Wizard& w = Open();
    w.tbText.Click();
    EXPECT_EQ(w.ScreenShot.Cursor(), crIBeam);
    const int l = w.ScreenShot.Left(), t = w.ScreenShot.Top();
    Mouse(WM_LBUTTONDOWN, l + 30, t + 40);
    Mouse(WM_LBUTTONUP, l + 90, t + 90);
    ASSERT_TRUE(w.TextBox);
    EXPECT_EQ(w.TextBox->Left(), l + 28);
    EXPECT_EQ(w.TextBox->Top(), t + 38);
    EXPECT_EQ(w.TextBox->ClientWidth(), w.ScreenShot.Canvas().TextWidth("MM"));
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox->Focused(); }));
    EXPECT_TRUE(w.History.empty());

    Keys({'A'});
    Keys({'B'});
    Keys({'C'});
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox->Text() == "abc"; }));
    EXPECT_EQ(w.TextBox->ClientWidth(), w.ScreenShot.Canvas().TextWidth("abMM"));

    // A second click drops the open box and its text.
    Mouse(WM_LBUTTONDOWN, l + 10, t + 10);
    Mouse(WM_LBUTTONUP, l + 10, t + 10);
    EXPECT_EQ(w.TextBox->Left(), l + 8);
    EXPECT_EQ(w.TextBox->Text(), "");
    EXPECT_EQ(w.ScrollBox.Controls().size(), 2u);  // the picture and one box
    EXPECT_TRUE(w.History.empty());
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox->Focused(); }));

    // Ctrl+Z in the box: nothing to step back yet, and the box keeps it.
    Keys({'X'});
    Keys({'Y'});
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox->Text() == "xy"; }));
    auto before = Copy(Pic());
    Keys({VK_RETURN});
    ASSERT_TRUE(PumpUntil([&] { return !w.TextBox->Visible(); }));
    EXPECT_EQ(w.Notebook.PageIndex(), 0);  // Enter did not press Next
    EXPECT_EQ(w.History.size(), 1u);
    // Only pen-coloured pixels were added, from the anchor down.
    auto after = Pixels(Pic());
    auto was = Pixels(*before);
    int red = 0;
    for (size_t i = 0; i < after.size(); ++i)
        if (after[i] != was[i]) {
            EXPECT_EQ(after[i], clRed);
            EXPECT_GE(static_cast<int>(i) % Pic().Width(), 10);
            EXPECT_GE(static_cast<int>(i) / Pic().Width(), 10);
            ++red;
        }
    EXPECT_GT(red, 5);
    // The focus that left the box committed nothing more.
    Pump(0);
    EXPECT_EQ(w.History.size(), 1u);

    // Ctrl+Z while a box has the focus steps back and still reaches the box.
    Mouse(WM_LBUTTONDOWN, l + 50, t + 60);
    Mouse(WM_LBUTTONUP, l + 50, t + 60);
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox->Focused(); }));
    Keys({'Q'});
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox->Text() == "q"; }));
    ASSERT_TRUE(KeysUntil({VK_CONTROL, 'Z'}, 0));
    EXPECT_TRUE(SameBits(Pic(), *before));
    EXPECT_TRUE(w.TextBox->Visible());
    EXPECT_TRUE(PumpUntil([&] { return w.TextBox->Text() == ""; }));  // the box's own undo

    // Move commits the open box.
    w.tbMove.Click();
    EXPECT_FALSE(w.TextBox->Visible());
    EXPECT_EQ(w.History.size(), 1u);
}

TEST_F(EditorTest, ALongPressOnTheTextButtonOpensTheFontMenuWhoseColourNeverReachesThePicture) {
    Wizard& w = Open();
    const POINT text = ScreenCentre(w.tbText);
    // A short click only selects the tool.
    MouseClick(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return w.tbText.Down() && w.FontButtonReleased; }));
    ASSERT_TRUE(PumpUntil([&] { return !w.FontClickTimer.Enabled(); }));
    EXPECT_FALSE(::FindWindowA("#32768", nullptr) && ::IsWindowVisible(::FindWindowA("#32768", nullptr)));

    // Held: the menu at the button's top-right corner; the dialog's colour
    // becomes the canvas font's.
    TCommonDialog::ShowHook = [](HWND dialog) {
        HWND colours = ::GetDlgItem(dialog, 0x473);
        const int n = static_cast<int>(::SendMessageA(colours, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i)
            if (static_cast<COLORREF>(::SendMessageA(colours, CB_GETITEMDATA, i, 0)) == clBlue) {
                ::SendMessageA(colours, CB_SETCURSEL, i, 0);
                ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x473, CBN_SELCHANGE),
                               reinterpret_cast<LPARAM>(colours));
            }
        ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    POINT at{};
    ChooseFromMenu(w.FontClickPopup, "Font Settings...", &at);
    MouseLeftDown(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return !PendingWhenReady(); }, 10000));
    MouseLeftUp(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return w.ScreenShot.Canvas().Font.Color() == clBlue; }));
    TCommonDialog::ShowHook = nullptr;
    const POINT corner = TopRight(w.tbText);
    EXPECT_EQ(at.x, corner.x);
    EXPECT_EQ(at.y, corner.y);

    const int l = w.ScreenShot.Left(), t = w.ScreenShot.Top();
    Mouse(WM_LBUTTONDOWN, l + 20, t + 20);
    Mouse(WM_LBUTTONUP, l + 20, t + 20);
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox && w.TextBox->Focused(); }));
    Keys({'W'});
    ASSERT_TRUE(PumpUntil([&] { return w.TextBox->Text() == "w"; }));
    ASSERT_TRUE(KeysUntil({VK_RETURN}, 1));
    bool red = false;
    for (COLORREF c : Pixels(Pic())) {
        EXPECT_NE(c, clBlue);
        red = red || c == clRed;
    }
    EXPECT_TRUE(red);
}

TEST_F(EditorTest, CtrlZWithAnyModifiersStepsBackUpToTheLimit) {
    Wizard& w = Open();
    w.tbPaint.Click();
    std::unique_ptr<TBitmap> afterSecond;
    for (int i = 0; i < 12; ++i) {
        Stroke({{10 + i * 10, 20}, {10 + i * 10, 60}});
        if (i == 1) afterSecond = Copy(Pic());
    }
    EXPECT_EQ(w.History.size(), 10u);
    // Z alone does nothing.
    auto now = Copy(Pic());
    Keys({'Z'});
    EXPECT_TRUE(SameBits(Pic(), *now));
    ASSERT_TRUE(KeysUntil({VK_CONTROL, VK_SHIFT, 'Z'}, 9));
    ASSERT_TRUE(KeysUntil({VK_CONTROL, VK_MENU, 'Z'}, 8));
    for (size_t n = 8; n > 0; --n) ASSERT_TRUE(KeysUntil({VK_CONTROL, 'Z'}, n - 1));
    EXPECT_TRUE(SameBits(Pic(), *afterSecond));
    Keys({VK_CONTROL, 'Z'});
    w.Label6.Click();
    EXPECT_TRUE(SameBits(Pic(), *afterSecond));
}

TEST_F(EditorTest, ALimitOfNoneKeepsNoStepsAndAHugeOneIsHeldToWhatFits) {
    SetHistorySteps(0);
    Wizard& w = Open();
    w.tbPaint.Click();
    Stroke({{5, 5}});
    EXPECT_TRUE(w.History.empty());

    // Leave the process about 512 MB of address space: 32 MB pictures fit
    // a few times, and the edits and a conversion still work.
    SetHistorySteps(100000);
    Open(4096, 2048, pf32bit);
    w_->tbPaint.Click();
    std::vector<void*> taken;
    for (size_t chunk = 256u << 20; chunk >= (1u << 20); chunk /= 2)
        while (void* p = ::VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS)) taken.push_back(p);
    // Two of the largest blocks back: 512 MB.
    for (int i = 0; i < 2 && !taken.empty(); ++i) {
        ::VirtualFree(taken.front(), 0, MEM_RELEASE);
        taken.erase(taken.begin());
    }
    for (int i = 0; i < 30; ++i) Stroke({{i, 0}, {i, 100}});
    const size_t kept = w_->History.size();
    w_->N24bit1.Click();
    for (void* p : taken) ::VirtualFree(p, 0, MEM_RELEASE);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 30u);
    EXPECT_EQ(Pic().PixelFormat(), pf24bit);
    EXPECT_EQ(Pic().PixelColor(3, 50), clRed);
}

TEST_F(EditorTest, DepthChangesAreStepsThatCtrlZUndoesWithTheirFormat) {
    Wizard& w = Open();
    auto original = Copy(Pic());
    POINT at{};
    ChooseFromMenu(w.ImageInfoMenu, "1 bit", &at);
    const POINT settings = ScreenCentre(w.tbSettings);
    MouseClick(settings.x, settings.y);
    ASSERT_TRUE(PumpUntil([&] { return Pic().PixelFormat() == pf1bit; }));
    EXPECT_EQ(at.x, TopRight(w.tbSettings).x);
    EXPECT_EQ(at.y, TopRight(w.tbSettings).y);
    w.Label6.Click();
    EXPECT_TRUE(SameBits(Pic(), *original));

    // Colours lost at 8 bits stay lost at 24; two steps back bring them.
    w.N9bit1.Click();
    w.N24bit1.Click();
    EXPECT_EQ(Pic().PixelFormat(), pf24bit);
    EXPECT_FALSE(Pixels(Pic()) == Pixels(*original));
    w.Label6.Click();
    w.Label6.Click();
    EXPECT_TRUE(SameBits(Pic(), *original));
    w.N32bit1.Click();
    w.N32bit1.Click();
    EXPECT_EQ(w.History.size(), 2u);

    // After 4 bits, a pen colour outside the table comes out as one of it.
    w.N4bit1.Click();
    w.PenColor.SetBrushColor(RGB(250, 140, 20));
    w.tbPaint.Click();
    Stroke({{5, 5}, {40, 5}});
    RGBQUAD table[16];
    UINT n;
    {
        TCanvas::Lease dc(Pic().Canvas(), true);
        n = ::GetDIBColorTable(dc.get(), 0, 16, table);
    }
    for (int x = 5; x <= 40; x += 5) {
        const COLORREF c = Pic().PixelColor(x, 5);
        bool inTable = false;
        for (UINT i = 0; i < n; ++i) inTable = inTable || RGB(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue) == c;
        EXPECT_TRUE(inTable) << std::hex << c;
    }
}

TEST_F(EditorTest, TenStepsOfA4kPictureHoldElevenPicturesUntilTheWizardCloses) {
    const long base = CommittedKb();
    Wizard& w = Open(3840, 2160, pf24bit);
    const long picture = static_cast<long>(Pic().Stride()) * Pic().Height() / 1024;
    w.tbPaint.Click();
    for (int i = 0; i < 14; ++i) Stroke({{i * 7, 100}, {i * 7 + 500, 900}});
    ASSERT_EQ(w.History.size(), 10u);
    const long held = CommittedKb() - base;
    EXPECT_GT(held, picture * 21 / 2) << held / picture;
    EXPECT_LT(held, picture * 23 / 2) << held / picture;
    w_.reset();
    EXPECT_LT(CommittedKb() - base, picture / 2);
}

}  // namespace
