// Popup menus: item states in the menu already made, references that stay
// valid, and a click that runs its handler after the menu has closed.
#include "ui/Menus.h"

#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace ui;
using namespace testing_support;

namespace {

MENUITEMINFOA ItemInfo(HMENU menu, UINT pos) {
    static char text[64];
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    text[0] = 0;
    EXPECT_TRUE(::GetMenuItemInfoA(menu, pos, TRUE, &info)) << pos;
    return info;
}

bool IsChecked(HMENU menu, UINT pos) { return ItemInfo(menu, pos).fState & MFS_CHECKED; }

HWND OpenMenuWindow() {
    HWND w = ::FindWindowA("#32768", nullptr);
    return w && ::IsWindowVisible(w) ? w : nullptr;
}

TEST(PopupMenu, StatesReachTheMadeMenuThroughReferencesKeptAcrossAdds) {
    TPopupMenu menu;
    TMenuItem& plain = menu.Add({"Plain", nullptr, true});
    menu.Add({"-"});
    TMenuItem& a = menu.Add({"A"});
    TMenuItem& b = menu.Add({"B"});
    TMenuItem& other = menu.Add({"Other group"});
    for (TMenuItem* r : {&a, &b, &other}) r->SetRadioItem(true);
    a.SetGroupIndex(1);
    b.SetGroupIndex(1);
    other.SetGroupIndex(2);
    a.SetChecked(true);
    other.SetChecked(true);
    b.SetChecked(true);  // before the menu is made, the group rule holds too
    EXPECT_FALSE(a.Checked());

    HMENU h = menu.Handle();
    EXPECT_EQ(ItemInfo(h, 1).fType & MFT_SEPARATOR, UINT(MFT_SEPARATOR));
    EXPECT_EQ(ItemInfo(h, 2).fType & MFT_RADIOCHECK, UINT(MFT_RADIOCHECK));
    EXPECT_EQ(::GetMenuDefaultItem(h, TRUE, 0), 0u);
    EXPECT_TRUE(IsChecked(h, 3));
    EXPECT_TRUE(IsChecked(h, 4));

    // Enough items to move every element of a growing array.
    for (int i = 0; i < 200; ++i) menu.Add({"More " + std::to_string(i)});
    EXPECT_EQ(::GetMenuItemCount(h), 205);
    a.SetChecked(true);
    EXPECT_TRUE(IsChecked(h, 2));
    EXPECT_FALSE(IsChecked(h, 3));
    EXPECT_TRUE(IsChecked(h, 4));
    other.SetEnabled(false);
    EXPECT_EQ(ItemInfo(h, 4).fState & MFS_DISABLED, UINT(MFS_DISABLED));
    b.SetDefault(true);
    EXPECT_FALSE(plain.Default());
    EXPECT_EQ(::GetMenuDefaultItem(h, TRUE, 0), 3u);
    plain.SetCaption("Renamed");
    EXPECT_STREQ(ItemInfo(h, 0).dwTypeData, "Renamed");
    EXPECT_STREQ(ItemInfo(h, 204).dwTypeData, "More 199");
    // A plain check mark has no group.
    plain.SetChecked(true);
    EXPECT_TRUE(IsChecked(h, 0));
    EXPECT_TRUE(IsChecked(h, 2));
}

TEST(PopupMenu, AClickRunsItsHandlerAfterTheMenuHasClosed) {
    TPopupMenu menu;
    bool menuOpenInHandler = true;
    int clicks = 0;
    menu.Add({"First"});
    menu.Add({"Second", [&] {
                  ++clicks;
                  menuOpenInHandler = OpenMenuWindow() != nullptr;
              }});
    WhenReady([] { return OpenMenuWindow() != nullptr; },
              [&] {
                  RECT rc;
                  if (OpenMenuItemRect(menu.Handle(), "Second", rc))
                      MouseClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
              });
    menu.Popup(200, 200);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(menuOpenInHandler);
}

}  // namespace
