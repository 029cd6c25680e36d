// The list view whose rows the program holds: checks by the real mouse and
// keys, what the window tells an outside reader, and long fills and clears.
#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"
#include "ui/ComCtrls.h"
#include "ui/Forms.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace ui;
using namespace testing_support;

namespace {

const FormLayout kListForm = {"TListViewTest", "Rows", 100, 100, 420, 240, bsDialog};
const TControlLayout kList[] = {
    {ckListView, "List", nullptr, 8, 8, 390, 180, "", 0},
};

struct ListForm : TForm {
    ListForm() : TForm(kListForm, kList) {
        List.SetCheckBoxes(true);
        List.AddColumn("Name", 150);
        List.AddColumn("Description", 200);
        for (const char* name : {"Alpha", "Bravo", "Charlie"}) List.Add(name).AddSubItem(std::string("About ") + name);
        List.OnItemChecked = [this](TControl*, TListItem* item) { seen.emplace_back(item->Index(), item->Checked()); };
        Show();
    }
    // A screen point on row's check box, or on its caption, found as the
    // window hit-tests it.
    POINT On(int row, bool box) const {
        RECT r{LVIR_BOUNDS, 0, 0, 0};
        ::SendMessageA(List.Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        for (int x = r.left; x < r.left + 120; ++x) {
            LVHITTESTINFO hit{{x, (r.top + r.bottom) / 2}, 0, -1, 0};
            ::SendMessageA(List.Handle(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
            if (hit.iItem == row && ((hit.flags & LVHT_ONITEMSTATEICON) != 0) == box &&
                (box || (hit.flags & LVHT_ONITEMLABEL))) {
                ::ClientToScreen(List.Handle(), &hit.pt);
                return hit.pt;
            }
        }
        ADD_FAILURE() << "no point found on row " << row;
        return {};
    }
    TListView& List = Ctl<TListView>("List");
    std::vector<std::pair<int, bool>> seen;
};

using Seen = std::vector<std::pair<int, bool>>;

TEST(ListViewTest, AClickOnTheBoxOrSpaceTogglesTheRowOnceAndTypingFindsARow) {
    ListForm form;
    ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(form.List.Handle()) != FALSE; }));
    POINT box = form.On(1, true);
    MouseClick(box.x, box.y);
    ASSERT_TRUE(PumpUntil([&] { return form.seen.size() == 1; }));
    EXPECT_TRUE(form.List.Item(1).Checked());
    // A click beside the box selects the row and leaves its check alone.
    const POINT caption = form.On(2, false);
    MouseClick(caption.x, caption.y);
    ASSERT_TRUE(PumpUntil([&] { return form.List.Item(2).Selected() && form.List.Focused(); }));
    PressKey(VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return form.seen.size() == 2; }));
    PressKey('A');
    ASSERT_TRUE(PumpUntil([&] { return form.List.Item(0).Selected(); }));
    PressKey(VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return form.seen.size() == 3; }));
    Pump(100);
    EXPECT_EQ(form.seen, (Seen{{1, true}, {2, true}, {0, true}}));
    EXPECT_TRUE(form.List.Item(0).Checked() && form.List.Item(1).Checked() && form.List.Item(2).Checked());
}

TEST(ListViewTest, TheWindowTellsAnOutsideReaderTheRowsTextsAndChecks) {
    ListForm form;
    form.List.Item(2).SetChecked(true);
    const HWND list = form.List.Handle();
    EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
    // As a screen reader's proxy asks: in UTF-16, column by column.
    wchar_t text[64] = {};
    LVITEMW it{};
    it.iSubItem = 1;
    it.pszText = text;
    it.cchTextMax = 64;
    ::SendMessageW(list, LVM_GETITEMTEXTW, 2, reinterpret_cast<LPARAM>(&it));
    EXPECT_STREQ(text, L"About Charlie");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(::SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK),
                  INDEXTOSTATEIMAGEMASK(row == 2 ? 2 : 1))
            << row;
}

TEST(ListViewTest, AThousandRowsFilledInOneUpdateReachTheWindowAndAClearTellsEachWithItsData) {
    ListForm form;
    form.List.BeginUpdate();
    form.List.Clear();
    for (int i = 0; i < 1000; ++i) form.List.Add("Row " + std::to_string(i)).Data = std::make_shared<int>(i);
    form.List.EndUpdate();
    EXPECT_EQ(::SendMessageA(form.List.Handle(), LVM_GETITEMCOUNT, 0, 0), 1000);
    form.List.Item(999).SetSelected(true);
    EXPECT_EQ(form.List.Selected(), &form.List.Item(999));

    form.List.Delete(0);
    EXPECT_EQ(form.List.Item(998).Caption(), "Row 999");
    EXPECT_EQ(form.List.Selected(), &form.List.Item(998));
    int told = 0, withData = 0;
    form.List.OnDeletion = [&](TControl*, TListItem* item) { ++told, withData += item->Data != nullptr; };
    form.List.Clear();
    EXPECT_EQ(told, 999);
    EXPECT_EQ(withData, 999);
    EXPECT_EQ(::SendMessageA(form.List.Handle(), LVM_GETITEMCOUNT, 0, 0), 0);
}

}  // namespace
