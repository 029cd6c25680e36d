#include "ui/Menus.h"

#include "ui/Exception.h"
#include "ui/Forms.h"

namespace ui {

// ---- TMenuItem ----

void TMenuItem::SetCaption(std::string caption) {
    caption_ = std::move(caption);
    Changed();
}

void TMenuItem::SetChecked(bool checked) {
    checked_ = checked;
    Changed();
    if (!checked || !radio_ || !menu_) return;
    for (TMenuItem& other : menu_->items_)
        if (&other != this && other.radio_ && other.group_ == group_ && other.checked_) {
            other.checked_ = false;
            other.Changed();
        }
}

void TMenuItem::SetRadioItem(bool radio) {
    radio_ = radio;
    SetChecked(checked_);
}

void TMenuItem::SetGroupIndex(int group) {
    group_ = group;
    SetChecked(checked_);
}

void TMenuItem::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Changed();
}

void TMenuItem::SetDefault(bool isDefault) {
    default_ = isDefault;
    Changed();
    if (!isDefault || !menu_) return;
    for (TMenuItem& other : menu_->items_)
        if (&other != this && other.default_) {
            other.default_ = false;
            other.Changed();
        }
}

void TMenuItem::Click() {
    // A copy: the handler may destroy the menu.
    if (std::function<void()> handler = OnClick) handler();
}

MENUITEMINFOA TMenuItem::Info() const {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
    info.wID = command_;
    if (caption_ == "-") {
        info.fType = MFT_SEPARATOR;
        info.fMask &= ~MIIM_STRING;
    } else {
        info.fType = MFT_STRING | (radio_ ? MFT_RADIOCHECK : 0);
        info.dwTypeData = const_cast<char*>(caption_.c_str());
    }
    info.fState = (checked_ ? MFS_CHECKED : 0) | (enabled_ ? 0 : MFS_DISABLED) |
                  (default_ ? MFS_DEFAULT : 0);
    return info;
}

void TMenuItem::Changed() {
    if (!menu_ || !menu_->menu_) return;
    MENUITEMINFOA info = Info();
    if (!::SetMenuItemInfoA(menu_->menu_.get(), command_, FALSE, &info)) RaiseLastOSError();
}

// ---- TPopupMenu ----

TPopupMenu::TPopupMenu() {
    owner_ = AllocateHWnd([this](TMessage& m) {
        m.Result = ::DefWindowProcA(owner_, m.Msg, m.WParam, m.LParam);
    });
}

TPopupMenu::~TPopupMenu() { DeallocateHWnd(owner_); }

TMenuItem& TPopupMenu::Add(TMenuItem item) {
    TMenuItem& added = items_.emplace_back(std::move(item));
    added.menu_ = this;
    added.command_ = static_cast<UINT>(items_.size());
    if (menu_) {
        MENUITEMINFOA info = added.Info();
        if (!::InsertMenuItemA(menu_.get(), static_cast<UINT>(items_.size() - 1), TRUE, &info))
            RaiseLastOSError();
    }
    // The group and default rules hold for an item added in that state too.
    if (added.checked_) added.SetChecked(true);
    if (added.default_) added.SetDefault(true);
    return added;
}

HMENU TPopupMenu::Handle() {
    if (!menu_) {
        Menu made(::CreatePopupMenu());
        if (!made) RaiseLastOSError();
        for (UINT i = 0; i < items_.size(); ++i) {
            MENUITEMINFOA info = items_[i].Info();
            if (!::InsertMenuItemA(made.get(), i, TRUE, &info)) RaiseLastOSError();
        }
        menu_ = std::move(made);
    }
    return menu_.get();
}

void TPopupMenu::Popup(int x, int y) {
    HMENU menu = Handle();
    const HWND before = ::GetForegroundWindow();
    // Without the foreground the menu would not close on a click elsewhere.
    ::SetForegroundWindow(owner_);
    UINT cmd = static_cast<UINT>(::TrackPopupMenu(
        menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, owner_,
        nullptr));
    ::PostMessageA(owner_, WM_NULL, 0, 0);
    // A window of ours that had the foreground gets it back, so that the
    // keys go on to it and a dialog the item opens is owned by it.
    if (before && before != owner_ &&
        ::GetWindowThreadProcessId(before, nullptr) == ::GetCurrentThreadId())
        ::SetForegroundWindow(before);
    if (cmd >= 1 && cmd <= items_.size()) items_[cmd - 1].Click();
}

}  // namespace ui
