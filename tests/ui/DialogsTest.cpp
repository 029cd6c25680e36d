// The colour and font dialogs, driven as a user would: modal over the
// active window, the value in and out, nothing out on cancel.
#include "ui/Dialogs.h"

#include "ui/Exception.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <commdlg.h>
#include <dlgs.h>

using namespace ui;
using namespace testing_support;

namespace {

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RecordedErrors().clear();
        owner_ = ::CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 50, 50, 200, 100,
                                   nullptr, nullptr, nullptr, nullptr);
        ::SetForegroundWindow(owner_);
        ::SetActiveWindow(owner_);
        ASSERT_TRUE(PumpUntil([&] { return ::GetActiveWindow() == owner_; }));
        TCommonDialog::ShowHook = [this](HWND dialog) { dialog_ = dialog; };
    }
    void TearDown() override {
        TCommonDialog::ShowHook = nullptr;
        ::DestroyWindow(owner_);
        EXPECT_TRUE(RecordedErrors().empty());
    }
    // Once the dialog shows: checks it is modal over the owner, runs act
    // and presses the button.
    void WhenShown(std::function<void(HWND)> act, int button) {
        dialog_ = nullptr;
        WhenReady([this] { return dialog_ && ::IsWindowVisible(dialog_); },
                  [this, act, button] {
                      ownedAndModal_ = ::GetWindow(dialog_, GW_OWNER) == owner_ &&
                                       !::IsWindowEnabled(owner_);
                      if (act) act(dialog_);
                      ::PostMessageA(dialog_, WM_COMMAND, button, 0);
                  });
    }

    HWND owner_ = nullptr;
    HWND dialog_ = nullptr;
    bool ownedAndModal_ = false;
};

TEST_F(DialogsTest, ColorComesInAndGoesOutOnlyWhenConfirmed) {
    TColorDialog d;
    d.Color = clBlue;
    WhenShown(nullptr, IDOK);
    EXPECT_TRUE(d.Execute());
    EXPECT_TRUE(ownedAndModal_);
    EXPECT_EQ(d.Color, clBlue);

    auto choose = [](HWND dialog) {
        // The red, green and blue fields of the dialog's own colour part.
        ::SetDlgItemInt(dialog, 706, 12, FALSE);
        ::SetDlgItemInt(dialog, 707, 34, FALSE);
        ::SetDlgItemInt(dialog, 708, 56, FALSE);
    };
    WhenShown(choose, IDCANCEL);
    EXPECT_FALSE(d.Execute());
    EXPECT_EQ(d.Color, clBlue);
    WhenShown(choose, IDOK);
    EXPECT_TRUE(d.Execute());
    EXPECT_EQ(d.Color, RGB(12, 34, 56));
    EXPECT_TRUE(::IsWindowEnabled(owner_));

    // An error in the hook reaches the application; the dialog runs on.
    TCommonDialog::ShowHook = [this](HWND dialog) {
        dialog_ = dialog;
        throw Exception("hook failed");
    };
    WhenShown(nullptr, IDCANCEL);
    EXPECT_FALSE(d.Execute());
    ASSERT_EQ(RecordedErrors().size(), 1u);
    EXPECT_EQ(RecordedErrors().front(), "hook failed");
    RecordedErrors().clear();
}

TEST_F(DialogsTest, FontComesInAndGoesOutOnlyWhenConfirmed) {
    TFontDialog d;
    d.Font.SetName("Tahoma");
    d.Font.SetSize(10);
    d.Font.SetColor(clBlack);
    const TFont before = d.Font;
    auto choose = [](HWND dialog) {
        // Bold, 20 points, red.
        auto select = [dialog](int id, const char* text) {
            HWND box = ::GetDlgItem(dialog, id);
            ::SendMessageA(box, CB_SETCURSEL,
                           ::SendMessageA(box, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(text)), 0);
            ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), LPARAM(box));
        };
        select(cmb2, "Bold");
        select(cmb3, "20");
        HWND colors = ::GetDlgItem(dialog, cmb4);
        const int n = int(::SendMessageA(colors, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i)
            if (::SendMessageA(colors, CB_GETITEMDATA, i, 0) == LRESULT(RGB(255, 0, 0)))
                ::SendMessageA(colors, CB_SETCURSEL, i, 0);
        ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(cmb4, CBN_SELCHANGE), LPARAM(colors));
    };
    WhenShown(choose, IDCANCEL);
    EXPECT_FALSE(d.Execute());
    EXPECT_TRUE(ownedAndModal_);
    EXPECT_TRUE(d.Font == before);

    WhenShown(choose, IDOK);
    EXPECT_TRUE(d.Execute());
    EXPECT_EQ(d.Font.Name(), "Tahoma");
    EXPECT_EQ(d.Font.Size(), 20);
    EXPECT_EQ(d.Font.Style(), TFontStyles(fsBold));
    EXPECT_EQ(d.Font.Color(), clRed);
}

}  // namespace
