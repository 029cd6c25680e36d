// "Exit" through the application's termination: terminate procedures are
// asked first and can keep the program, with its icon, running.
#include "app/KestrixWindow.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <shellapi.h>

using namespace ui;
using namespace testing_support;

namespace {

bool veto = false;
int asked = 0;
bool Confirm() {
    ++asked;
    return !veto;
}

bool IconShown(const NotifyIconData88& data) {
    NotifyIconData88 probe = data;
    return ::Shell_NotifyIconA(NIM_MODIFY, reinterpret_cast<NOTIFYICONDATAA*>(&probe)) != FALSE;
}

bool QuitPosted() {
    MSG msg;
    return ::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

TEST(Exit, AVetoKeepsTheProgramAndItsIconThenExitRemovesTheIcon) {
    AddTerminateProc(Confirm);
    Application.CreateForm(KestrixWnd);
    ASSERT_EQ(Application.MainForm(), KestrixWnd);
    const NotifyIconData88 data = KestrixWnd->IconData();
    ASSERT_TRUE(IconShown(data));

    veto = true;
    KestrixWnd->Exit1Click();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(Application.Terminated());
    EXPECT_FALSE(QuitPosted());
    EXPECT_TRUE(IconShown(data));
    EXPECT_TRUE(::IsWindow(data.hWnd));

    veto = false;
    KestrixWnd->Exit1Click();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(Application.Terminated());
    EXPECT_TRUE(QuitPosted());
    // What the end of the program's Run does.
    Application.DestroyForms();
    KestrixWnd = nullptr;
    EXPECT_FALSE(IconShown(data));
    EXPECT_FALSE(::IsWindow(data.hWnd));
}

}  // namespace
