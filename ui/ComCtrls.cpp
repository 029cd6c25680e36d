#include "ui/ComCtrls.h"

#include "ui/Exception.h"
#include "ui/Strings.h"

#include <utility>

namespace ui {

namespace {
struct CommonControls {
    CommonControls() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_HOTKEY_CLASS};
        ::InitCommonControlsEx(&icc);
    }
};
const char* ListViewClass() {
    static CommonControls init;
    return WC_LISTVIEWA;
}
const char* ToolBarClass() {
    static CommonControls init;
    return TOOLBARCLASSNAMEA;
}
const char* HotKeyClass() {
    static CommonControls init;
    return HOTKEY_CLASSA;
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

// ---- THotKey ----

THotKey::THotKey(TWinControl& parent, const TControlLayout& layout)
    : TControl(parent, layout, {HotKeyClass(), 0, WS_EX_CLIENTEDGE}) {}

WORD THotKey::HotKey() const { return LOWORD(::SendMessageA(wnd_, HKM_GETHOTKEY, 0, 0)); }

void THotKey::SetHotKey(WORD value) { ::SendMessageA(wnd_, HKM_SETHOTKEY, value, 0); }

bool THotKey::WndProc(TMessage& msg) {
    // Windows hands Print Screen to a window as a release alone, which the
    // field would never take: without this, Print Screen could not be chosen
    // again once another key had been.
    if ((msg.Msg == WM_KEYUP || msg.Msg == WM_SYSKEYUP) && msg.WParam == VK_SNAPSHOT) {
        BYTE mods = 0;
        if (::GetKeyState(VK_CONTROL) < 0) mods |= HOTKEYF_CONTROL;
        if (::GetKeyState(VK_SHIFT) < 0) mods |= HOTKEYF_SHIFT;
        if (::GetKeyState(VK_MENU) < 0) mods |= HOTKEYF_ALT;
        SetHotKey(MAKEWORD(VK_SNAPSHOT, mods));
        return true;
    }
    return TControl::WndProc(msg);
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

void TListView::DpiChanged(int oldPpi, int newPpi) {
    for (int i = 0; i < columns_; ++i)
        ::SendMessageA(wnd_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                       MAKELPARAM(::MulDiv(ColumnWidth(i), newPpi, oldPpi), 0));
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

TListItem& TListView::Add() { return Add(std::string()); }

TListItem& TListView::Add(const std::string& caption) {
    const int index = Count();
    std::unique_ptr<TListItem> item(new TListItem(*this, index));
    LVITEMA it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = index;
    it.pszText = const_cast<char*>(caption.c_str());
    it.lParam = reinterpret_cast<LPARAM>(item.get());
    items_.push_back(std::move(item));
    if (::SendMessageA(wnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it)) < 0) {
        items_.pop_back();
        throw Exception("Cannot add a list row");
    }
    return *items_.back();
}

void TListView::BeginUpdate() {
    if (updating_++ == 0) ::SendMessageA(wnd_, WM_SETREDRAW, FALSE, 0);
}

void TListView::EndUpdate() {
    if (updating_ == 0 || --updating_ > 0) return;
    ::SendMessageA(wnd_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(wnd_, nullptr, TRUE);
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

// ---- TImageList ----

TImageList::TImageList(int width, int height)
    : list_(::ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 8, 8)),
      width_(width),
      height_(height) {
    if (!list_) throw Exception("Cannot create an image list");
}

int TImageList::Count() const { return ::ImageList_GetImageCount(list_.get()); }

int TImageList::Add(TBitmap& bitmap, TColor transparent) {
    // The list blackens the transparent pixels of what it is given, and a
    // bitmap's pixels stay selected in its own DC: it gets a copy.
    WindowDc screen(nullptr);
    GdiBitmap copy(::CreateCompatibleBitmap(screen.get(), bitmap.Width(), bitmap.Height()));
    MemDc dc(::CreateCompatibleDC(screen.get()));
    if (!copy || !dc) throw Exception("Out of system resources");
    {
        SelectGuard into(dc.get(), copy.get());
        TCanvas::Lease source(bitmap.Canvas(), true);
        ::BitBlt(dc.get(), 0, 0, bitmap.Width(), bitmap.Height(), source.get(), 0, 0, SRCCOPY);
    }
    const int first = ::ImageList_AddMasked(list_.get(), copy.get(),
                                            ColorToRGB(transparent));
    if (first < 0) throw Exception("Cannot add images to an image list");
    return first;
}

int TImageList::AddResource(HINSTANCE instance, const char* name, TColor transparent) {
    TBitmap bitmap;
    if (!bitmap.LoadFromResourceName(instance, name))
        throw Exception(std::string("No bitmap resource ") + name);
    return Add(bitmap, transparent);
}

// ---- TToolButton ----

TToolButton::TToolButton(TWinControl& parent, const TControlLayout& layout)
    : TControl(parent, layout), caption_(layout.Text ? layout.Text : "") {
    auto* bar = dynamic_cast<TToolBar*>(&parent);
    if (!bar) throw Exception("Tool button " + Name() + " is not on a tool bar");
    imageIndex_ = bar->ButtonCount();
    if (layout.Options & (loGrouped | loChecked)) style_ = tbsCheck;
    grouped_ = (layout.Options & loGrouped) != 0;
    bar->AddButton(*this);
    if (layout.Options & loChecked) SetDown(true);
    if (layout.Options & loDisabled) SetEnabled(false);
    if (layout.Options & loHidden) SetVisible(false);
}

TToolButton::~TToolButton() {
    TToolBar& bar = ToolBar();
    if (bar.pressed_ == this) bar.pressed_ = nullptr;
    std::erase(bar.buttons_, this);
    // Gone with the bar's window when that went first.
    if (bar.Handle()) ::SendMessageA(bar.Handle(), TB_DELETEBUTTON, static_cast<WPARAM>(Index()), 0);
}

TToolBar& TToolButton::ToolBar() const { return static_cast<TToolBar&>(*parent_); }

LRESULT TToolButton::Perform(UINT msg, LPARAM lp) const {
    return ::SendMessageA(ToolBar().Handle(), msg, static_cast<WPARAM>(id_), lp);
}

int TToolButton::Index() const { return static_cast<int>(Perform(TB_COMMANDTOINDEX)); }

BYTE TToolButton::NativeStyle() const {
    if (style_ == tbsButton) return BTNS_BUTTON;
    return static_cast<BYTE>(BTNS_CHECK | (grouped_ ? BTNS_GROUP : 0));
}

void TToolButton::UpdateInfo(DWORD mask) {
    TBBUTTONINFOA info{};
    info.cbSize = sizeof info;
    info.dwMask = mask;
    info.iImage = imageIndex_;
    info.fsStyle = NativeStyle();
    Perform(TB_SETBUTTONINFOA, reinterpret_cast<LPARAM>(&info));
}

void TToolButton::SetImageIndex(int index) {
    imageIndex_ = index;
    UpdateInfo(TBIF_IMAGE);
}

void TToolButton::SetStyle(TToolButtonStyle style) {
    style_ = style;
    UpdateInfo(TBIF_STYLE);
}

void TToolButton::SetGrouped(bool value) {
    grouped_ = value;
    UpdateInfo(TBIF_STYLE);
}

bool TToolButton::Down() const { return Perform(TB_ISBUTTONCHECKED) != 0; }
void TToolButton::SetDown(bool value) { Perform(TB_CHECKBUTTON, MAKELONG(value, 0)); }

void TToolButton::Click() {
    if (style_ == tbsCheck) SetDown(grouped_ || !Down());
    TControl::Click();
}

RECT TToolButton::BoundsRect() const {
    RECT rc{};
    ::SendMessageA(ToolBar().Handle(), TB_GETITEMRECT, static_cast<WPARAM>(Index()),
                   reinterpret_cast<LPARAM>(&rc));
    return rc;
}

bool TToolButton::Visible() const { return Perform(TB_ISBUTTONHIDDEN) == 0; }
void TToolButton::SetVisible(bool visible) { Perform(TB_HIDEBUTTON, MAKELONG(!visible, 0)); }
bool TToolButton::Enabled() const { return Perform(TB_ISBUTTONENABLED) != 0; }
void TToolButton::SetEnabled(bool enabled) { Perform(TB_ENABLEBUTTON, MAKELONG(enabled, 0)); }

// ---- TToolBar ----

TToolBar::TToolBar(TWinControl& parent, const TControlLayout& layout)
    : TWinControl(parent, layout,
                  {ToolBarClass(), TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | TBSTYLE_WRAPABLE |
                                       CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER}),
      vertical_(layout.Height > layout.Width) {
    ::SendMessageA(wnd_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageA(wnd_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.Handle()));
    Relayout();
}

TToolBar::~TToolBar() {
    // The buttons go while the bar they tell about their end still exists.
    DestroyChildren();
}

void TToolBar::SetImages(TImageList images) {
    images_ = std::move(images);
    ::SendMessageA(wnd_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.Handle()));
    Relayout();
}

void TToolBar::SetButtonSize(int width, int height) {
    buttonWidth_ = width;
    buttonHeight_ = height;
    Relayout();
}

void TToolBar::SetVertical(bool value) {
    vertical_ = value;
    Relayout();
}

void TToolBar::Relayout() {
    ::SendMessageA(wnd_, TB_SETBUTTONSIZE, 0,
                   MAKELPARAM(ScaleValue(buttonWidth_), ScaleValue(buttonHeight_)));
    for (TToolButton* b : buttons_) {
        const WPARAM id = static_cast<WPARAM>(b->id_);
        LRESULT state = ::SendMessageA(wnd_, TB_GETSTATE, id, 0);
        if (state < 0) continue;
        state = vertical_ ? (state | TBSTATE_WRAP) : (state & ~TBSTATE_WRAP);
        ::SendMessageA(wnd_, TB_SETSTATE, id, MAKELONG(state, 0));
    }
    ::SendMessageA(wnd_, TB_AUTOSIZE, 0, 0);
    Invalidate();
}

TToolButton& TToolBar::Buttons(int index) const {
    if (index < 0 || index >= ButtonCount()) throw Exception("Tool button index out of bounds");
    return *buttons_[static_cast<size_t>(index)];
}

void TToolBar::AddButton(TToolButton& button) {
    button.id_ = nextId_++;
    TBBUTTON b{};
    b.iBitmap = button.imageIndex_;
    b.idCommand = button.id_;
    b.fsState = static_cast<BYTE>(TBSTATE_ENABLED | (vertical_ ? TBSTATE_WRAP : 0));
    b.fsStyle = button.NativeStyle();
    b.iString = -1;
    if (!::SendMessageA(wnd_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&b)))
        throw Exception("Cannot add tool button " + button.Name());
    buttons_.push_back(&button);
    ::SendMessageA(wnd_, TB_AUTOSIZE, 0, 0);
}

TToolButton* TToolBar::ButtonById(int id) const {
    for (TToolButton* b : buttons_)
        if (b->id_ == id) return b;
    return nullptr;
}

TToolButton* TToolBar::ButtonAt(int x, int y) const {
    POINT pt{x, y};
    // The bar's order is ours.
    const int index = static_cast<int>(::SendMessageA(wnd_, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&pt)));
    return index >= 0 && index < ButtonCount() ? buttons_[static_cast<size_t>(index)] : nullptr;
}

void TToolBar::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TWinControl::MouseDown(button, shift, x, y);
    TToolButton* hit = ButtonAt(x, y);
    pressed_ = hit && hit->Enabled() ? hit : nullptr;
    if (pressed_) {
        const RECT r = pressed_->BoundsRect();
        pressed_->MouseDown(button, shift, x - r.left, y - r.top);
    }
}

void TToolBar::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TWinControl::MouseUp(button, shift, x, y);
    if (TToolButton* b = std::exchange(pressed_, nullptr)) {
        const RECT r = b->BoundsRect();
        b->MouseUp(button, shift, x - r.left, y - r.top);
    }
}

bool TToolBar::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case WM_CAPTURECHANGED:
            // A menu opened by a long press takes the release for itself.
            if (reinterpret_cast<HWND>(msg.LParam) != wnd_) pressed_ = nullptr;
            break;
        case WM_ERASEBKGND:
            // On the colour of the panel that holds it.
            PaintBackground(reinterpret_cast<HDC>(msg.WParam));
            msg.Result = 1;
            return true;
        default:
            break;
    }
    return TWinControl::WndProc(msg);
}

bool TToolBar::Reflected(TMessage& msg) {
    if (msg.Msg == WM_COMMAND) {
        TToolButton* b = ButtonById(LOWORD(msg.WParam));
        // The bar has set a check button's state already.
        if (b) b->TControl::Click();
        return b != nullptr;
    }
    if (msg.Msg != WM_NOTIFY) return TWinControl::Reflected(msg);
    // The tooltip asks for a button's hint: from the bar with the button's
    // command (Wine), or from the tooltip with the command as its tool.
    auto* hdr = reinterpret_cast<NMHDR*>(msg.LParam);
    switch (hdr->code) {
        case TBN_GETINFOTIPA: {
            auto* tip = reinterpret_cast<NMTBGETINFOTIPA*>(msg.LParam);
            if (TToolButton* b = ButtonById(tip->iItem); b && tip->cchTextMax > 0)
                lstrcpynA(tip->pszText, b->Hint.c_str(), tip->cchTextMax);
            return true;
        }
        case TBN_GETINFOTIPW: {
            auto* tip = reinterpret_cast<NMTBGETINFOTIPW*>(msg.LParam);
            if (TToolButton* b = ButtonById(tip->iItem); b && tip->cchTextMax > 0)
                lstrcpynW(tip->pszText, WideString(b->Hint).c_str(), tip->cchTextMax);
            return true;
        }
        case TTN_GETDISPINFOA: {
            auto* info = reinterpret_cast<NMTTDISPINFOA*>(msg.LParam);
            TToolButton* b = ButtonById(static_cast<int>(hdr->idFrom));
            if (!b) return false;
            info->hinst = nullptr;
            info->lpszText = const_cast<char*>(b->Hint.c_str());
            return true;
        }
        case TTN_GETDISPINFOW: {
            auto* info = reinterpret_cast<NMTTDISPINFOW*>(msg.LParam);
            TToolButton* b = ButtonById(static_cast<int>(hdr->idFrom));
            if (!b) return false;
            wideTip_ = WideString(b->Hint);
            info->hinst = nullptr;
            info->lpszText = wideTip_.data();
            return true;
        }
        default:
            return false;
    }
}

}  // namespace ui
