// The form library where the program's dialogs do not reach: notifications
// through nested containers, focus events and dialog keys across them with
// real keys, labels on their parent's colour, the end of a form, and the
// tool bar driven by the real mouse.
#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"
#include "ui/ComCtrls.h"
#include "ui/Exception.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace ui;
using namespace testing_support;

namespace {

// Wine swallows a crash inside a window procedure; this sees it.
LONG crashes = 0;
LONG CALLBACK CountCrash(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ++crashes;
    return EXCEPTION_CONTINUE_SEARCH;
}

class FormsTest : public testing::Test {
protected:
    void SetUp() override {
        RecordedErrors().clear();
        crashes = 0;
        handler_ = ::AddVectoredExceptionHandler(1, CountCrash);
    }
    void TearDown() override {
        ::RemoveVectoredExceptionHandler(handler_);
        EXPECT_EQ(crashes, 0);
        EXPECT_TRUE(RecordedErrors().empty()) << RecordedErrors().front();
    }
    // Shows the form and waits until it has the keyboard.
    static void ShowActive(TForm& form) {
        form.Show();
        ASSERT_TRUE(PumpUntil([&] {
            return ::GetForegroundWindow() == form.Handle() && ::GetFocus() != nullptr;
        }));
    }
    static POINT ScreenCentre(TControl& c) {
        RECT r = c.BoundsRect();
        POINT pt{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ::ClientToScreen(c.Parent()->Handle(), &pt);
        return pt;
    }
    void* handler_ = nullptr;
};

// ---- containers ----

const FormLayout kNestedForm = {"TFormsTestNested", "Nested", 100, 100, 420, 280, bsDialog};

const TControlLayout kNested[] = {
    {ckEdit,     "Edit1",     nullptr, 8,   8,   100, 21, "", 0},
    {ckNotebook, "Book",      nullptr, 8,   40,  400, 190, "", 1},
    {ckPage,     "First",     "Book",  0,   0,   0,   0},
    {ckPanel,    "Panel",     "First", 10,  10,  380, 170, "", 0, loInfoColor},
    {ckLabel,    "NameLabel", "Panel", 8,   12,  60,  16, "&Name:"},
    {ckEdit,     "Edit2",     "Panel", 70,  8,   100, 21, "", 0},
    {ckButton,   "Go",        "Panel", 180, 8,   75,  25, "&Go", 1},
    {ckListView, "List",      "Panel", 8,   40,  360, 120, "", 2},
    {ckEdit,     "Edit3",     nullptr, 8,   240, 100, 21, "", 2},
};

struct NestedForm : TForm {
    NestedForm() : TForm(kNestedForm, kNested) {
        List.AddColumn("Name", 100);
        List.SetCheckBoxes(true);
    }
    TEdit& Edit1 = Ctl<TEdit>("Edit1");
    TEdit& Edit2 = Ctl<TEdit>("Edit2");
    TButton& Go = Ctl<TButton>("Go");
    TListView& List = Ctl<TListView>("List");
    TLabel& NameLabel = Ctl<TLabel>("NameLabel");
};

TEST_F(FormsTest, NotificationsReachAControlOnAPanelInANotebookPage) {
    NestedForm form;
    ShowActive(form);
    int clicks = 0;
    form.Go.OnClick = [&](TControl* sender) { clicks += sender == &form.Go; };
    POINT go = ScreenCentre(form.Go);
    MouseClick(go.x, go.y);
    EXPECT_TRUE(PumpUntil([&] { return clicks == 1; }));

    TListItem* checked = nullptr;
    form.List.OnItemChecked = [&](TControl*, TListItem* item) { checked = item; };
    TListItem& row = form.List.Add();
    row.SetCaption("row");
    row.SetChecked(true);
    EXPECT_EQ(checked, &row);
}

TEST_F(FormsTest, TabAndShiftTabRunFocusEventsAcrossContainersInOrder) {
    NestedForm form;
    ShowActive(form);
    std::vector<std::string> log;
    for (const char* name : {"Edit1", "Book", "First", "Panel", "Edit2"}) {
        TControl* c = form.FindControl(name);
        c->OnEnter = [&log, name](TControl*) { log.push_back(std::string("+") + name); };
        c->OnExit = [&log, name](TControl*) { log.push_back(std::string("-") + name); };
    }
    form.Edit1.SetFocus();
    log.clear();

    PressKeys({VK_TAB});
    ASSERT_TRUE(PumpUntil([&] { return form.Edit2.Focused(); }));
    PressKeys({VK_SHIFT, VK_TAB});
    ASSERT_TRUE(PumpUntil([&] { return form.Edit1.Focused(); }));
    const std::vector<std::string> expected = {"-Edit1", "+Book",  "+First", "+Panel", "+Edit2",
                                               "-Edit2", "-Panel", "-First", "-Book",  "+Edit1"};
    EXPECT_EQ(log, expected);
}

TEST_F(FormsTest, ErrorsRaisedInsideAMessageAreShownFromTheLoopInTheirOrder) {
    NestedForm form;
    ShowActive(form);
    int raised = 0;
    form.Go.OnClick = [&](TControl*) { throw Exception("Go failed " + std::to_string(++raised)); };
    ::SendMessageA(form.Go.Handle(), BM_CLICK, 0, 0);
    ::SendMessageA(form.Go.Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(2, raised);
    EXPECT_TRUE(RecordedErrors().empty()) << "shown inside the window procedure";
    EXPECT_TRUE(PumpUntil([] { return RecordedErrors().size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"Go failed 1", "Go failed 2"}), RecordedErrors());
    RecordedErrors().clear();
}

TEST_F(FormsTest, TypedCharactersReachAnEditWholeThroughItsKeyHandler) {
    NestedForm form;
    ShowActive(form);
    std::string seen;
    form.Edit1.OnKeyPress = [&](TControl*, char& key) {
        seen += key;
        if (key == 'a') key = 'b';
    };
    form.Edit1.SetFocus();
    for (wchar_t c : {L'\u20AC', L'a'}) ::PostMessageW(form.Edit1.Handle(), WM_CHAR, c, 1);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    wchar_t text[8] = {};
    ::GetWindowTextW(form.Edit1.Handle(), text, 8);
    EXPECT_STREQ(L"\u20ACb", text);
}

TEST_F(FormsTest, MnemonicsFocusTheControlAfterALabelAndPressButtons) {
    NestedForm form;
    ShowActive(form);
    int clicks = 0;
    form.Go.OnClick = [&](TControl*) { ++clicks; };
    form.Edit1.SetFocus();
    PressKeys({VK_MENU, 'N'});
    EXPECT_TRUE(PumpUntil([&] { return form.Edit2.Focused(); }));
    PressKeys({VK_MENU, 'G'});
    EXPECT_TRUE(PumpUntil([&] { return clicks == 1; }));
}

TEST_F(FormsTest, ALabelPaintsOnItsParentsColour) {
    NestedForm form;
    ShowActive(form);
    RECT r = form.NameLabel.BoundsRect();
    POINT pt{r.right - 2, r.bottom - 2};  // right of the text
    ::ClientToScreen(form.NameLabel.Parent()->Handle(), &pt);
    const COLORREF info = ::GetSysColor(COLOR_INFOBK);
    ASSERT_NE(info, ::GetSysColor(COLOR_BTNFACE));
    EXPECT_TRUE(PumpUntil([&] { return ScreenPixel(pt.x, pt.y) == info; }))
        << std::hex << ScreenPixel(pt.x, pt.y);
}

TEST_F(FormsTest, TheUsersClickOrSpaceTogglesACheckBoxOnce) {
    const TControlLayout layout[] = {{ckCheckBox, "Box", nullptr, 10, 10, 120, 20, "Box", 0}};
    TForm form(kNestedForm, layout);
    ShowActive(form);
    auto& box = form.Ctl<TCheckBox>("Box");
    std::vector<bool> seen;
    box.OnClick = [&](TControl*) { seen.push_back(box.Checked()); };
    const POINT pt = ScreenCentre(box);
    MouseClick(pt.x, pt.y);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 1; }));
    PressKey(VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_FALSE(box.Checked());
}

TEST_F(FormsTest, DestroyingTheFormReleasesTheRowsDataWithoutEventsIntoIt) {
    auto form = std::make_unique<NestedForm>();
    auto data = std::make_shared<int>(7);
    std::weak_ptr<int> watch = data;
    form->List.Add().Data = std::move(data);
    bool events = false;
    form->List.OnDeletion = [&](auto...) { events = true; };
    form->List.OnExit = [&](auto...) { events = true; };
    ShowActive(*form);
    form->List.SetFocus();
    form.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(events);
}

// ---- tool bar ----

const FormLayout kToolForm = {"TFormsTestTools", "Tools", 100, 100, 200, 200, bsDialog};

const TControlLayout kTools[] = {
    {ckPanel,      "ToolbarPanel", nullptr,        20, 10, 23, 157, "", -1, loWindowColor | loNoBorder},
    {ckToolBar,    "ToolBar",      "ToolbarPanel", 0,  2,  23, 155},
    {ckToolButton, "tbMove",       "ToolBar",      0,  0,  0,  0,   "", -1, loGrouped | loChecked},
    {ckToolButton, "tbPaint",      "ToolBar",      0,  0,  0,  0,   "", -1, loGrouped},
    {ckToolButton, "tbText",       "ToolBar",      0,  0,  0,  0,   "", -1, loGrouped},
    {ckToolButton, "tbSettings",   "ToolBar"},
};

const COLORREF kGlyph = RGB(0, 0, 160);

struct ToolForm : TForm {
    ToolForm() : TForm(kToolForm, kTools) {
        // Four glyphs, each a square in the middle of a transparent cell.
        TBitmap strip(64, 16, pf24bit);
        {
            TCanvas::Lease dc(strip.Canvas());
            RECT all{0, 0, 64, 16};
            ::FillRect(dc.get(), &all, ColorBrush(RGB(255, 0, 255)));
            for (RECT sq{4, 4, 12, 12}; sq.left < 64; ::OffsetRect(&sq, 16, 0))
                ::FillRect(dc.get(), &sq, ColorBrush(kGlyph));
        }
        TImageList images(16, 16);
        images.Add(strip, RGB(255, 0, 255));
        ToolBar.SetImages(std::move(images));
        ToolBar.SetButtonSize(23, 22);
        tbText.Hint = "Type text";
    }
    TToolBar& ToolBar = Ctl<TToolBar>("ToolBar");
    TToolButton& tbMove = Ctl<TToolButton>("tbMove");
    TToolButton& tbPaint = Ctl<TToolButton>("tbPaint");
    TToolButton& tbText = Ctl<TToolButton>("tbText");
    TToolButton& tbSettings = Ctl<TToolButton>("tbSettings");
};

TEST_F(FormsTest, ToolButtonsStackAndShowTheirGlyphsOnTheBarsColour) {
    ToolForm form;
    ShowActive(form);
    EXPECT_EQ(form.ToolBar.Images().Count(), 4);
    EXPECT_EQ(form.tbSettings.Index(), 3);
    EXPECT_EQ(form.tbSettings.ImageIndex(), 3);
    EXPECT_EQ(form.tbPaint.Left(), form.tbMove.Left());
    EXPECT_EQ(form.tbPaint.Top() - form.tbMove.Top(), form.ScaleValue(22));
    EXPECT_EQ(form.tbSettings.Height(), form.ScaleValue(22));

    // The middle of a raised button is its glyph; the glyph's transparent
    // ring and the bar below the buttons are the panel's window colour.
    const POINT mid = ScreenCentre(form.tbSettings);
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    RECT bar{};
    ::GetWindowRect(form.ToolBar.Handle(), &bar);
    EXPECT_TRUE(PumpUntil([&] {
        return ScreenPixel(mid.x, mid.y) == kGlyph && ScreenPixel(mid.x - 6, mid.y - 6) == window &&
               ScreenPixel(mid.x, bar.bottom - 3) == window;
    })) << std::hex << ScreenPixel(mid.x, mid.y) << " " << ScreenPixel(mid.x - 6, mid.y - 6);
}

TEST_F(FormsTest, AClickDownsAButtonOfTheGroupAndRaisesTheOthers) {
    ToolForm form;
    ShowActive(form);
    std::vector<TControl*> clicked;
    for (TToolButton* b : {&form.tbMove, &form.tbPaint, &form.tbText, &form.tbSettings})
        b->OnClick = [&](TControl* sender) { clicked.push_back(sender); };
    ASSERT_TRUE(form.tbMove.Down());

    const POINT paint = ScreenCentre(form.tbPaint);
    MouseClick(paint.x, paint.y);
    ASSERT_TRUE(PumpUntil([&] { return clicked.size() == 1; }));
    EXPECT_EQ(clicked[0], &form.tbPaint);
    EXPECT_TRUE(form.tbPaint.Down());
    EXPECT_FALSE(form.tbMove.Down());

    // Again: it stays down.
    MouseClick(paint.x, paint.y);
    ASSERT_TRUE(PumpUntil([&] { return clicked.size() == 2; }));
    EXPECT_TRUE(form.tbPaint.Down());

    // A plain button does not stay down and leaves the group as it is.
    const POINT settings = ScreenCentre(form.tbSettings);
    MouseClick(settings.x, settings.y);
    ASSERT_TRUE(PumpUntil([&] { return clicked.size() == 3; }));
    EXPECT_EQ(clicked[2], &form.tbSettings);
    EXPECT_FALSE(form.tbSettings.Down());
    EXPECT_TRUE(form.tbPaint.Down());

    // By code too, one at a time.
    form.tbText.SetDown(true);
    EXPECT_FALSE(form.tbPaint.Down());
}

TEST_F(FormsTest, AToolButtonsTooltipShowsItsHint) {
    ToolForm form;
    ShowActive(form);
    HWND tip = reinterpret_cast<HWND>(::SendMessageA(form.ToolBar.Handle(), TB_GETTOOLTIPS, 0, 0));
    ASSERT_NE(tip, nullptr);
    const POINT text = ScreenCentre(form.tbText);
    MouseMoveTo(text.x, text.y - 1);
    MouseMoveTo(text.x, text.y);
    char shown[64] = {};
    EXPECT_TRUE(PumpUntil([&] {
        ::GetWindowTextA(tip, shown, sizeof shown);
        return ::IsWindowVisible(tip) && std::string(shown) == "Type text";
    })) << shown;
}

TEST_F(FormsTest, ALongPressReportsTheButtonsPressThenItsRelease) {
    ToolForm form;
    ShowActive(form);
    std::vector<std::string> events;
    POINT at{-1, -1};
    form.tbText.OnMouseDown = [&](TControl* sender, TMouseButton, TShiftState, int x, int y) {
        events.push_back(sender == &form.tbText ? "down" : "?");
        at = {x, y};
    };
    form.tbText.OnMouseUp = [&](auto...) { events.push_back("up"); };
    form.tbText.OnClick = [&](TControl*) { events.push_back("click"); };

    const POINT text = ScreenCentre(form.tbText);
    MouseLeftDown(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<std::string>{"down"});
    // In the button's own pixels.
    EXPECT_EQ(at.x, form.tbText.Width() / 2);
    EXPECT_EQ(at.y, form.tbText.Height() / 2);
    MouseLeftUp(text.x, text.y);
    ASSERT_TRUE(PumpUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up", "click"}));
}

}  // namespace
