#include "ui/ComCtrls.h"

#include "ui/Exception.h"

#include <commctrl.h>

namespace ui {

namespace {
struct CommonControls {
    CommonControls() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
        ::InitCommonControlsEx(&icc);
    }
};
const char* ListViewClass() {
    static CommonControls init;
    return WC_LISTVIEWA;
}
}  // namespace

// ---- TListItem ----

std::string TListItem::Caption() const { return SubItem(-1); }

void TListItem::SetCaption(const std::string& text) {
    LVITEMA it{};
    it.iSubItem = 0;
    it.pszText = const_cast<char*>(text.c_str());
    ::SendMessageA(owner_.Handle(), LVM_SETITEMTEXTA, static_cast<WPARAM>(index_),
                   reinterpret_cast<LPARAM>(&it));
}

std::string TListItem::SubItem(int i) const {
    std::string buf(1024, '\0');
    LVITEMA it{};
    it.iSubItem = i + 1;
    it.pszText = buf.data();
    it.cchTextMax = static_cast<int>(buf.size());
    int n = static_cast<int>(::SendMessageA(owner_.Handle(), LVM_GETITEMTEXTA,
                                            static_cast<WPARAM>(index_),
                                            reinterpret_cast<LPARAM>(&it)));
    buf.resize(static_cast<size_t>(n > 0 ? n : 0));
    return buf;
}

void TListItem::AddSubItem(const std::string& text) {
    ++subItems_;
    LVITEMA it{};
    it.iSubItem = subItems_;
    it.pszText = const_cast<char*>(text.c_str());
    ::SendMessageA(owner_.Handle(), LVM_SETITEMTEXTA, static_cast<WPARAM>(index_),
                   reinterpret_cast<LPARAM>(&it));
}

bool TListItem::Checked() const {
    UINT state = static_cast<UINT>(::SendMessageA(owner_.Handle(), LVM_GETITEMSTATE,
                                                  static_cast<WPARAM>(index_), LVIS_STATEIMAGEMASK));
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void TListItem::SetChecked(bool checked) {
    LVITEMA it{};
    it.stateMask = LVIS_STATEIMAGEMASK;
    it.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    ::SendMessageA(owner_.Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(index_),
                   reinterpret_cast<LPARAM>(&it));
}

bool TListItem::Selected() const {
    return ::SendMessageA(owner_.Handle(), LVM_GETITEMSTATE, static_cast<WPARAM>(index_),
                          LVIS_SELECTED) != 0;
}

void TListItem::SetSelected(bool selected) {
    LVITEMA it{};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = selected ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
    ::SendMessageA(owner_.Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(index_),
                   reinterpret_cast<LPARAM>(&it));
}

// ---- TListView ----

TListView::TListView(TWinControl& parent, const TControlLayout& layout)
    : TControl(parent, layout,
               {ListViewClass(), LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                (layout.Options & loNoBorder) ? 0u : DWORD(WS_EX_CLIENTEDGE)}) {
    SetColor(clWindow);
    ::SendMessageA(wnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

TListView::~TListView() {
    // The rows' data goes with the rows, without deletion events.
    MarkDying();
}

void TListView::AddColumn(const std::string& caption, int width) {
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = const_cast<char*>(caption.c_str());
    col.cx = ScaleValue(width);
    col.iSubItem = columns_;
    if (::SendMessageA(wnd_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(columns_),
                       reinterpret_cast<LPARAM>(&col)) < 0)
        throw Exception("Cannot add a list column");
    ++columns_;
}

int TListView::ColumnWidth(int index) const {
    return static_cast<int>(::SendMessageA(wnd_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(index), 0));
}

void TListView::SetCheckBoxes(bool value) {
    ::SendMessageA(wnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES,
                   value ? LVS_EX_CHECKBOXES : 0);
}

bool TListView::CheckBoxes() const {
    return (::SendMessageA(wnd_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES) != 0;
}

TListItem& TListView::Add() {
    const int index = Count();
    std::unique_ptr<TListItem> item(new TListItem(*this, index));
    LVITEMA it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = index;
    it.pszText = const_cast<char*>("");
    it.lParam = reinterpret_cast<LPARAM>(item.get());
    items_.push_back(std::move(item));
    if (::SendMessageA(wnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it)) < 0) {
        items_.pop_back();
        throw Exception("Cannot add a list row");
    }
    return *items_.back();
}

void TListView::Delete(int index) {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds");
    // The deletion event runs from the control's notification.
    ::SendMessageA(wnd_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
    items_.erase(items_.begin() + index);
    Renumber();
}

void TListView::Clear() {
    ::SendMessageA(wnd_, LVM_DELETEALLITEMS, 0, 0);
    items_.clear();
}

void TListView::Renumber() {
    for (size_t i = 0; i < items_.size(); ++i) items_[i]->index_ = static_cast<int>(i);
}

TListItem* TListView::Selected() const {
    int i = static_cast<int>(::SendMessageA(wnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                            LVNI_SELECTED));
    return i >= 0 && i < Count() ? items_[static_cast<size_t>(i)].get() : nullptr;
}

bool TListView::Reflected(TMessage& msg) {
    if (msg.Msg != WM_NOTIFY) return TControl::Reflected(msg);
    auto* hdr = reinterpret_cast<NMHDR*>(msg.LParam);
    if (hdr->hwndFrom != wnd_) return false;
    auto* nm = reinterpret_cast<NMLISTVIEW*>(msg.LParam);
    switch (hdr->code) {
        case LVN_DELETEALLITEMS:
            // FALSE: a deletion notification for every row.
            msg.Result = FALSE;
            return true;
        case LVN_DELETEITEM:
            if (OnDeletion && nm->lParam)
                OnDeletion(this, reinterpret_cast<TListItem*>(nm->lParam));
            return true;
        case LVN_ITEMCHANGED:
            if ((nm->uChanged & LVIF_STATE) && ((nm->uNewState ^ nm->uOldState) & LVIS_STATEIMAGEMASK) &
                                                   LVIS_STATEIMAGEMASK &&
                (nm->uOldState & LVIS_STATEIMAGEMASK) && OnItemChecked && nm->lParam)
                OnItemChecked(this, reinterpret_cast<TListItem*>(nm->lParam));
            return true;
        default:
            return false;
    }
}

}  // namespace ui
