#include "ui/ComCtrls.h"

#include "ui/Exception.h"
#include "ui/Handles.h"
#include "ui/Strings.h"

#include <windowsx.h>

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

const std::string& TListItem::Text(int column) const {
    static const std::string none;
    return column >= 0 && column < static_cast<int>(texts_.size()) ? texts_[static_cast<size_t>(column)]
                                                                   : none;
}

std::string TListItem::SubItem(int i) const { return Text(i + 1); }

void TListItem::SetCaption(const std::string& text) {
    texts_.front() = text;
    Redraw();
}

void TListItem::AddSubItem(const std::string& text) {
    texts_.push_back(text);
    Redraw();
}

void TListItem::SetChecked(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    Redraw();
    if (owner_.OnItemChecked) owner_.OnItemChecked(&owner_, this);
}

bool TListItem::Selected() const {
    return ::SendMessageA(owner_.Handle(), LVM_GETITEMSTATE, static_cast<WPARAM>(index_),
                          LVIS_SELECTED) != 0;
}

void TListItem::SetSelected(bool selected) {
    // The window keeps the selection of rows it knows of.
    owner_.SyncCount(false);
    LVITEMA it{};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = selected ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
    ::SendMessageA(owner_.Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(index_),
                   reinterpret_cast<LPARAM>(&it));
}

void TListItem::Redraw() const {
    if (owner_.updating_ == 0)
        ::SendMessageA(owner_.Handle(), LVM_REDRAWITEMS, static_cast<WPARAM>(index_),
                       static_cast<LPARAM>(index_));
}

// ---- THotKey ----

THotKey::THotKey(TWinControl& parent, const TControlLayout& layout)
    : TControl(parent, layout, {HotKeyClass(), 0, WS_EX_CLIENTEDGE}) {}

WORD THotKey::HotKey() const { return LOWORD(::SendMessageA(wnd_, HKM_GETHOTKEY, 0, 0)); }

void THotKey::SetHotKey(WORD value) {
    ::SendMessageA(wnd_, HKM_SETRULES, 0, 0);
    if (ExtendedKey(LOBYTE(value))) value |= HOTKEYF_EXT << 8;
    // Wine's field names a key it is given from the scan code without the
    // extended bit, whatever the flag says; a key pressed into it keeps the
    // whole scan code, as from the keyboard.
    if ((HIBYTE(value) & HOTKEYF_EXT) && PressKey(value)) return;
    ::SendMessageA(wnd_, HKM_SETHOTKEY, value, 0);
}

// The key and its modifiers pressed into the field alone, past this
// object's own key handling; true when the field took the value.
bool THotKey::PressKey(WORD value) {
    const BYTE vk = LOBYTE(value), mods = HIBYTE(value);
    const UINT scan = ::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC) & 0xFF;
    if (!scan) return false;
    const std::pair<BYTE, BYTE> modifiers[] = {
        {HOTKEYF_CONTROL, VK_CONTROL}, {HOTKEYF_SHIFT, VK_SHIFT}, {HOTKEYF_ALT, VK_MENU}};
    auto send = [this](UINT msg, WPARAM key, LPARAM flags) { ::SendMessageA(wnd_, msg, key, flags); };
    pressing_ = true;
    ScopeExit done([this] { pressing_ = false; });
    // The field counts the modifiers it has seen go down: none from before.
    for (auto [flag, key] : modifiers) send(WM_KEYUP, key, 0xC0000001);
    for (auto [flag, key] : modifiers)
        if (mods & flag) send(WM_KEYDOWN, key, 1);
    send(WM_KEYDOWN, vk, 1 | static_cast<LPARAM>(scan | KF_EXTENDED) << 16);
    for (auto [flag, key] : modifiers)
        if (mods & flag) send(WM_KEYUP, key, 0xC0000001);
    const WORD taken = HotKey();
    return LOBYTE(taken) == vk && (HIBYTE(taken) & ~HOTKEYF_EXT) == (mods & ~HOTKEYF_EXT);
}

bool ExtendedKey(BYTE vk) {
    switch (vk) {
        case VK_CANCEL: case VK_PRIOR: case VK_NEXT: case VK_END: case VK_HOME:
        case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN: case VK_SNAPSHOT:
        case VK_INSERT: case VK_DELETE: case VK_LWIN: case VK_RWIN: case VK_APPS:
        case VK_DIVIDE: case VK_NUMLOCK: case VK_RCONTROL: case VK_RMENU:
            return true;
        default:
            // The browser, volume, media and launch keys.
            return vk >= VK_BROWSER_BACK && vk <= VK_LAUNCH_APP2;
    }
}

bool THotKey::WndProc(TMessage& msg) {
    if (pressing_) return false;
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
               {ListViewClass(), LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA,
                (layout.Options & loNoBorder) ? 0u : DWORD(WS_EX_CLIENTEDGE)}) {
    SetColor(clWindow);
    ::SendMessageA(wnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    // The check boxes' states are ours: the window asks for them with the texts.
    ::SendMessageA(wnd_, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
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
    // The platform's style gives the state images (themed like its check
    // boxes) and tells screen readers that the rows have check boxes.
    ::SendMessageA(wnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES,
                   value ? LVS_EX_CHECKBOXES : 0);
}

bool TListView::CheckBoxes() const {
    return (::SendMessageA(wnd_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES) != 0;
}

TListItem& TListView::Add() { return Add(std::string()); }

TListItem& TListView::Add(const std::string& caption) {
    items_.push_back(std::unique_ptr<TListItem>(new TListItem(*this, Count(), caption)));
    if (updating_ == 0 && !SyncCount(false, false)) {
        items_.pop_back();
        throw Exception("Cannot add a list row");
    }
    return *items_.back();
}

bool TListView::SyncCount(bool redrawAll, bool evenHidden) {
    if (!evenHidden && !::IsWindowVisible(wnd_)) return countPending_ = true;
    countPending_ = false;
    if (::SendMessageA(wnd_, LVM_GETITEMCOUNT, 0, 0) == Count()) {
        if (redrawAll) ::InvalidateRect(wnd_, nullptr, TRUE);
        return true;
    }
    const LPARAM flags = LVSICF_NOSCROLL | (redrawAll ? 0 : LVSICF_NOINVALIDATEALL);
    return ::SendMessageA(wnd_, LVM_SETITEMCOUNT, static_cast<WPARAM>(Count()), flags) != 0;
}

// Rows added meanwhile never reach the window, so there is nothing to
// hold its painting for: the count it is told at the end is all it needs.
void TListView::BeginUpdate() { ++updating_; }

void TListView::EndUpdate() {
    if (updating_ == 0 || --updating_ > 0) return;
    if (!SyncCount(true, false)) throw Exception("Cannot add a list row");
}

void TListView::Delete(int index) {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds");
    SyncCount(false);
    if (OnDeletion) OnDeletion(this, items_[static_cast<size_t>(index)].get());
    // The window moves the selection of the rows after it up by one.
    ::SendMessageA(wnd_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
    items_.erase(items_.begin() + index);
    Renumber();
    SyncCount(true);
}

void TListView::Clear() {
    if (OnDeletion)
        for (const auto& item : items_) OnDeletion(this, item.get());
    items_.clear();
    if (::SendMessageA(wnd_, LVM_GETITEMCOUNT, 0, 0) != 0) ::SendMessageA(wnd_, LVM_DELETEALLITEMS, 0, 0);
    SyncCount(false);
}

void TListView::Renumber() {
    for (size_t i = 0; i < items_.size(); ++i) items_[i]->index_ = static_cast<int>(i);
}

TListItem* TListView::Selected() const {
    int i = static_cast<int>(::SendMessageA(wnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                            LVNI_SELECTED));
    return i >= 0 && i < Count() ? items_[static_cast<size_t>(i)].get() : nullptr;
}

namespace {
void CopyText(const std::string& text, char* to, int size) { lstrcpynA(to, text.c_str(), size); }
void CopyText(const std::string& text, wchar_t* to, int size) {
    lstrcpynW(to, WideString(text).c_str(), size);
}
bool StartsWith(const std::string& text, const std::string& start) {
    return text.size() >= start.size() &&
           ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.c_str(),
                            static_cast<int>(start.size()), start.c_str(),
                            static_cast<int>(start.size())) == CSTR_EQUAL;
}
std::string Narrow(const char* s) { return s ? s : ""; }
std::string Narrow(const wchar_t* s) { return s ? AnsiString(s, lstrlenW(s)) : ""; }
}  // namespace

// The window asks for what it shows of a row: its texts and its check box.
template <class LvItem>
void TListView::Display(LvItem& item) const {
    if (item.iItem < 0 || item.iItem >= Count()) return;
    const TListItem& row = *items_[static_cast<size_t>(item.iItem)];
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
        CopyText(row.Text(item.iSubItem), item.pszText, item.cchTextMax);
    if (item.mask & LVIF_STATE) {
        item.state &= ~LVIS_STATEIMAGEMASK;
        if (CheckBoxes()) item.state |= INDEXTOSTATEIMAGEMASK(row.checked_ ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}

// Typing a row's first letters finds it, as in a list that holds its rows.
template <class Find>
int TListView::FindRow(const Find& find) const {
    if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || Count() == 0) return -1;
    const std::string wanted = Narrow(find.lvfi.psz);
    const bool partial = (find.lvfi.flags & LVFI_PARTIAL) != 0;
    const int start = find.iStart >= 0 && find.iStart < Count() ? find.iStart : 0;
    const int span = (find.lvfi.flags & LVFI_WRAP) || start == 0 ? Count() : Count() - start;
    for (int n = 0; n < span; ++n) {
        const int i = (start + n) % Count();
        const std::string& caption = items_[static_cast<size_t>(i)]->Text(0);
        if (partial ? StartsWith(caption, wanted)
                    : caption.size() == wanted.size() && StartsWith(caption, wanted))
            return i;
    }
    return -1;
}

void TListView::ToggleAt(int x, int y) {
    LVHITTESTINFO hit{};
    hit.pt = {x, y};
    const int i = static_cast<int>(::SendMessageA(wnd_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (i >= 0 && i < Count() && (hit.flags & LVHT_ONITEMSTATEICON)) Item(i).SetChecked(!Item(i).checked_);
}

bool TListView::WndProc(TMessage& msg) {
    // Whatever the window is asked once in sight (a paint, a reader's
    // question, a key) finds every row there.
    if (countPending_ && ::IsWindowVisible(wnd_)) SyncCount(true);
    const bool press = msg.Msg == WM_LBUTTONDOWN || msg.Msg == WM_LBUTTONDBLCLK;
    const bool space = msg.Msg == WM_KEYDOWN && msg.WParam == VK_SPACE;
    if (TControl::WndProc(msg)) return true;
    if (!(press || space) || !CheckBoxes()) return false;
    // The window cannot keep a check it does not hold: the press on a box
    // and Space are turned into the row's own change, and then go on to
    // the window for the focus and selection they bring.
    if (press) {
        ToggleAt(GET_X_LPARAM(msg.LParam), GET_Y_LPARAM(msg.LParam));
    } else {
        const int i = static_cast<int>(::SendMessageA(wnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                      LVNI_FOCUSED));
        if (i >= 0 && i < Count()) Item(i).SetChecked(!Item(i).checked_);
    }
    return false;
}

bool TListView::Reflected(TMessage& msg) {
    if (msg.Msg != WM_NOTIFY) return TControl::Reflected(msg);
    auto* hdr = reinterpret_cast<NMHDR*>(msg.LParam);
    if (hdr->hwndFrom != wnd_) return false;
    switch (hdr->code) {
        case LVN_GETDISPINFOA:
            Display(reinterpret_cast<NMLVDISPINFOA*>(msg.LParam)->item);
            return true;
        case LVN_GETDISPINFOW:
            Display(reinterpret_cast<NMLVDISPINFOW*>(msg.LParam)->item);
            return true;
        case LVN_ODFINDITEMA:
            msg.Result = FindRow(*reinterpret_cast<NMLVFINDITEMA*>(msg.LParam));
            return true;
        case LVN_ODFINDITEMW:
            msg.Result = FindRow(*reinterpret_cast<NMLVFINDITEMW*>(msg.LParam));
            return true;
        case LVN_DELETEALLITEMS:
            // The rows told their own deletion already.
            msg.Result = TRUE;
            return true;
        case LVN_DELETEITEM:
        case LVN_ITEMCHANGED:
            // Checks and deletions are the rows' own, told by them.
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
