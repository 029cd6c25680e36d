// The list view whose rows the program holds: checks by the real mouse and
// keys, and long fills and clears, as the window tells them to a reader.
#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"
#include "ui/ComCtrls.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>

using namespace ui;
using namespace testing_support;

namespace {

const FormLayout kListForm = {"TListViewTest", "Rows", 100, 100, 420, 240, bsDialog};
const TControlLayout kList[] = {{ckListView, "List", nullptr, 8, 8, 390, 180, "", 0}};

struct ListForm : TForm {
    ListForm() : TForm(kListForm, kList) {
        List.SetCheckBoxes(true);
        List.AddColumn("Name", 150);
        for (const char* name : {"Alpha", "Bravo", "Charlie"}) List.Add(name);
        List.OnItemChecked = [this](TControl*, TListItem* item) { seen.push_back(item->Index() * 2 + item->Checked()); };
        Show();
    }
    // The screen point of row where the window's hit test finds its box, or not.
    POINT On(int row, bool box) const {
        RECT r{LVIR_BOUNDS};
        ::SendMessageA(List.Handle(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
        LVHITTESTINFO hit{{r.left, (r.top + r.bottom) / 2}};
        for (; hit.pt.x < r.right; ++hit.pt.x)
            if (::SendMessageA(List.Handle(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row &&
                ((hit.flags & LVHT_ONITEMSTATEICON) != 0) == box && (box || (hit.flags & LVHT_ONITEMLABEL)))
                break;
        ::ClientToScreen(List.Handle(), &hit.pt);
        return hit.pt;
    }
    TListView& List = Ctl<TListView>("List");
    std::vector<int> seen;  // row * 2 + checked
};

TEST(ListViewTest, AClickOnTheBoxOrSpaceTogglesTheRowOnceAndTypingFindsARow) {
    ListForm form;
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(form.List.Handle()) != FALSE; }));
    for (POINT pt : {form.On(1, true), form.On(2, false)}) MouseClick(pt.x, pt.y);
    ASSERT_TRUE(PumpUntil([&] { return form.List.Item(2).Selected() && form.List.Focused(); }));
    PressKey(VK_SPACE);
    PressKey('A');
    ASSERT_TRUE(PumpUntil([&] { return form.List.Item(0).Selected(); }));
    PressKey(VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return form.seen.size() == 3; }));
    Pump(100);
    EXPECT_EQ(form.seen, (std::vector<int>{3, 5, 1}));
    // As a screen reader's proxy asks the window.
    EXPECT_EQ(::SendMessageW(form.List.Handle(), LVM_GETITEMSTATE, 1, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));
}

TEST(ListViewTest, AThousandRowsFilledInOneUpdateReachTheWindowAndAClearTellsEachWithItsData) {
    ListForm form;
    form.List.BeginUpdate();
    form.List.Clear();
    for (int i = 0; i < 1000; ++i) form.List.Add("Row " + std::to_string(i)).Data = std::make_shared<int>(i);
    form.List.EndUpdate();
    EXPECT_EQ(::SendMessageA(form.List.Handle(), LVM_GETITEMCOUNT, 0, 0), 1000);
    char text[16] = {};
    ListView_GetItemText(form.List.Handle(), 998, 0, text, 16);
    EXPECT_STREQ(text, "Row 998");
    form.List.Item(999).SetSelected(true);
    form.List.Delete(0);
    EXPECT_EQ(form.List.Selected(), &form.List.Item(998));
    int told = 0;
    form.List.OnDeletion = [&](TControl*, TListItem* item) { told += item->Data != nullptr; };
    form.List.Clear();
    EXPECT_EQ(told, 999);
    EXPECT_EQ(::SendMessageA(form.List.Handle(), LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST(ListViewTest, RowsAddedOutOfSightAreAllThereOnceInSight) {
    ListForm form;
    form.Hide();
    form.List.BeginUpdate();
    for (int i = 0; i < 50; ++i) form.List.Add("Hidden " + std::to_string(i));
    form.List.EndUpdate();
    form.List.Add("Last");
    form.Show();
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(form.List.Handle()) != FALSE; }));
    EXPECT_EQ(::SendMessageA(form.List.Handle(), LVM_GETITEMCOUNT, 0, 0), 54);
    char text[16] = {};
    ListView_GetItemText(form.List.Handle(), 53, 0, text, 16);
    EXPECT_STREQ(text, "Last");
}

}  // namespace
