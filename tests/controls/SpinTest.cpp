// The spin edit on a small form: characters and keys go through the message
// loop to the focused field, the arrows get real mouse presses.
#include "controls/Spin.h"
#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

using namespace ui;
using namespace testing_support;

namespace {

int beeps = 0;
BOOL WINAPI CountBeep(UINT) {
    ++beeps;
    return TRUE;
}

// Wine carries on over a crash inside a window procedure: count those of
// this program's code.
int crashes = 0;
LONG CALLBACK WatchCrashes(EXCEPTION_POINTERS* info) {
    HMODULE module = nullptr;
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
        ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCSTR>(info->ExceptionRecord->ExceptionAddress),
                             &module) &&
        module == ::GetModuleHandleA(nullptr))
        ++crashes;
    return EXCEPTION_CONTINUE_SEARCH;
}

const FormLayout kForm = {"TSpinTestForm", "Spin edit", 100, 100, 160, 80, bsDialog};

const TControlLayout kControls[] = {
    // kind      name       parent   left top w   h   text tab
    {ckSpinEdit, "seValue", nullptr, 8,   8,  40, 22, "",  0},
    {ckEdit,     "edOther", nullptr, 8,   40, 60, 21, "",  1},
};

class TSpinTestForm : public TForm {
public:
    TSpinTestForm() : TForm(kForm, kControls) { DoCreate(nullptr); }
    TSpinEdit& seValue = Ctl<TSpinEdit>("seValue");
    TEdit& edOther = Ctl<TEdit>("edOther");
};

POINT Centre(HWND wnd) {
    RECT rc{};
    ::GetWindowRect(wnd, &rc);
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

class SpinEditTest : public testing::Test {
protected:
    void SetUp() override {
        beeps = crashes = 0;
        watch_ = ::AddVectoredExceptionHandler(1, WatchCrashes);
        SpinMessageBeep = &CountBeep;
        RecordedErrors().clear();
        form_ = std::make_unique<TSpinTestForm>();
        form_->Show();
        Enter();
    }
    void TearDown() override {
        form_.reset();
        SpinMessageBeep = &::MessageBeep;
        ::RemoveVectoredExceptionHandler(watch_);
        EXPECT_EQ(0, crashes);
        EXPECT_TRUE(RecordedErrors().empty()) << RecordedErrors().front();
    }

    TSpinEdit& spin() { return form_->seValue; }
    TTimerSpeedButton& up() { return spin().Button().UpButton(); }
    TTimerSpeedButton& down() { return spin().Button().DownButton(); }

    // Focus to the field, which selects its text, as Tab does.
    void Enter() {
        spin().SetFocus();
        Application.ProcessMessages();
    }
    void Leave() {
        form_->edOther.SetFocus();
        Application.ProcessMessages();
    }
    void Retype(const std::string& text) {
        Leave();
        Enter();
        Type(text);
    }
    // Characters as the keyboard's translation posts them.
    void Type(const std::string& text) {
        for (char c : text)
            ::PostMessageA(spin().Handle(), WM_CHAR, static_cast<unsigned char>(c), 1);
        Application.ProcessMessages();
    }
    void Key(WORD vk) {
        ::PostMessageA(spin().Handle(), WM_KEYDOWN, vk, 1);
        ::PostMessageA(spin().Handle(), WM_KEYUP, vk, 0xC0000001);
        Application.ProcessMessages();
    }
    // A click on an arrow, done once cond() holds.
    bool ClickArrow(TTimerSpeedButton& arrow, const std::function<bool()>& cond) {
        ClickWindow(arrow.Handle());
        return PumpUntil(cond);
    }
    // Puts text on the clipboard through the other field.
    void CopyToClipboard(const char* text) {
        form_->edOther.SetText(text);
        form_->edOther.SelectAll();
        ::SendMessageA(form_->edOther.Handle(), WM_COPY, 0, 0);
    }

    std::unique_ptr<TSpinTestForm> form_;
    void* watch_ = nullptr;
};

TEST_F(SpinEditTest, WithoutBoundsEveryNumberStaysAsTyped) {
    EXPECT_EQ("0", spin().Text());
    Type("-12");
    EXPECT_EQ(-12, spin().Value());
    Leave();
    EXPECT_EQ("-12", spin().Text());
    Enter();
    Key(VK_DOWN);
    EXPECT_EQ("-13", spin().Text());

    // No whole number: the value is the minimum, the text stays.
    Retype("2.5");
    EXPECT_EQ(0, spin().Value());
    Leave();
    EXPECT_EQ("2.5", spin().Text());

    Retype("0");
    ASSERT_TRUE(ClickArrow(down(), [&] { return spin().Text() == "-1"; }));
    EXPECT_EQ(0, beeps);
}

TEST_F(SpinEditTest, PastedTextIsReadAsStrToIntReadsIt) {
    for (auto [text, value] : {std::pair{"  12", 12}, {"$1F", 31}, {"-0x10", -16}, {"$FFFFFFFF", -1},
                               {"12 ", 0}, {"$100000000", 0}}) {
        CopyToClipboard(text);
        spin().SelectAll();
        ::SendMessageA(spin().Handle(), WM_PASTE, 0, 0);
        EXPECT_EQ(value, spin().Value()) << '"' << text << '"';
    }
}

TEST_F(SpinEditTest, BoundsHoldOnLeavingAndStepping) {
    spin().MinValue = 1;
    spin().MaxValue = 10;
    Retype("-");
    EXPECT_EQ(1, spin().Value());
    Leave();
    EXPECT_EQ("-", spin().Text());
    ASSERT_TRUE(ClickArrow(up(), [&] { return spin().Text() == "2"; }));
    EXPECT_TRUE(spin().Focused());

    Retype("50");
    Leave();
    EXPECT_EQ("10", spin().Text());
    Retype("50");
    Key(VK_UP);
    EXPECT_EQ("10", spin().Text());
}

TEST_F(SpinEditTest, ReadOnlyBeepsInsteadOfStepping) {
    spin().SetValue(5);
    spin().SetReadOnly(true);
    Key(VK_UP);
    ASSERT_TRUE(ClickArrow(down(), [] { return beeps == 2; }));
    EXPECT_EQ("5", spin().Text());

    CopyToClipboard("7");
    spin().SelectAll();
    Type("\x16\x18");  // Ctrl+V, Ctrl+X
    EXPECT_EQ("5", spin().Text());
    form_->edOther.SetText("");
    ::SendMessageA(form_->edOther.Handle(), WM_PASTE, 0, 0);
    EXPECT_EQ("7", form_->edOther.Text());
}

TEST_F(SpinEditTest, WithTheEditorDisabledOnlyTheArrowsChangeTheNumber) {
    spin().EditorEnabled = false;
    CopyToClipboard("7");
    Enter();
    Type("5\b\x16\x18");  // a digit, backspace, Ctrl+V, Ctrl+X
    EXPECT_EQ(2, beeps);
    EXPECT_EQ("0", spin().Text());
    Key(VK_UP);
    ASSERT_TRUE(ClickArrow(up(), [&] { return spin().Text() == "2"; }));
    EXPECT_EQ(2, beeps);
}

TEST_F(SpinEditTest, LineBreaksAreRefusedInEveryMode) {
    for (int mode = 0; mode < 3; ++mode) {
        spin().EditorEnabled = mode != 1;
        spin().SetReadOnly(mode == 2);
        spin().SetValue(3);
        Enter();
        beeps = 0;
        Type("\r\n");
        EXPECT_EQ(2, beeps) << mode;
        EXPECT_EQ("3", spin().Text()) << mode;
    }
}

TEST_F(SpinEditTest, HeightAndArrowWidthHaveTheirMinimums) {
    spin().SetHeight(5);
    EXPECT_EQ(spin().MinimumHeight(), spin().Height());
    EXPECT_GT(spin().MinimumHeight(), 5);

    TSpinButton& pair = spin().Button();
    pair.SetWidth(8);
    EXPECT_EQ(15, pair.Width());
    spin().SetBounds(spin().Left(), spin().Top(), 60, 31);
    EXPECT_EQ(60 - 15 - 5, pair.Left());
    EXPECT_EQ(0, pair.Top());
    EXPECT_EQ(31 - 5, pair.Height());
    // The two arrows share one pixel row and fill the pair.
    EXPECT_EQ(26 / 2, up().Height());
    EXPECT_EQ(up().Height() - 1, down().Top());
    EXPECT_EQ(pair.Height(), down().Top() + down().Height());
    // The text stops short of the arrows.
    RECT text{};
    ::SendMessageA(spin().Handle(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
    EXPECT_LE(text.right, spin().ClientWidth() - 15 - 2);
}

TEST_F(SpinEditTest, StepsWrapAroundAtTheEndsOf32Bits) {
    spin().SetValue(INT_MAX);
    Key(VK_UP);
    EXPECT_EQ("-2147483648", spin().Text());
    EXPECT_EQ(INT_MIN, spin().Value());
    Key(VK_DOWN);
    EXPECT_EQ(INT_MAX, spin().Value());
}

TEST_F(SpinEditTest, ArrowsShowTheirGlyphOnTheButtonFace) {
    // A 15 x 8 up arrow shows the 9 x 6 glyph from (3, 1): its widest row
    // black, the olive around it transparent.
    POINT org{0, 0};
    ::ClientToScreen(up().Handle(), &org);
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    EXPECT_TRUE(PumpUntil([&] {
        return ScreenPixel(org.x + 3 + 4, org.y + 1 + 4) == RGB(0, 0, 0) &&
               ScreenPixel(org.x + 3 + 1, org.y + 1 + 4) == RGB(0, 0, 0) &&
               ScreenPixel(org.x + 3, org.y + 1 + 4) == face &&
               ScreenPixel(org.x + 3 + 2, org.y + 1 + 1) == face;
    }));
}

TEST_F(SpinEditTest, HoldingAnArrowRepeatsAfter400ThenEvery100Ms) {
    // The first click makes the timer; each later tick records the interval
    // it ran on.
    ASSERT_TRUE(ClickArrow(up(), [&] { return spin().Value() == 1; }));
    ui::TTimer* timer = up().RepeatTimer();
    ASSERT_NE(nullptr, timer);
    EXPECT_FALSE(timer->Enabled());
    std::vector<UINT> ticks;
    auto tick = timer->OnTimer;
    timer->OnTimer = [&] {
        ticks.push_back(timer->Interval());
        tick();
    };

    const POINT at = Centre(up().Handle());
    MouseLeftDown(at.x, at.y);
    ASSERT_TRUE(PumpUntil([&] { return spin().Value() == 4; }));
    MouseLeftUp(at.x, at.y);
    ASSERT_TRUE(PumpUntil([&] { return !timer->Enabled(); }));
    // One step for each tick, and the click of the release.
    ASSERT_GE(ticks.size(), 3u);
    EXPECT_EQ(1 + static_cast<int>(ticks.size()) + 1, spin().Value());
    EXPECT_EQ(400u, ticks[0]);
    for (size_t i = 1; i < ticks.size(); ++i) EXPECT_EQ(100u, ticks[i]) << i;
    EXPECT_FALSE(up().Down());
}

}  // namespace
