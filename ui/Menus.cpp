#include "ui/Menus.h"

#include "ui/Exception.h"
#include "ui/Forms.h"

namespace ui {

TPopupMenu::TPopupMenu() {
    owner_ = AllocateHWnd([this](TMessage& m) {
        m.Result = ::DefWindowProcA(owner_, m.Msg, m.WParam, m.LParam);
    });
}

TPopupMenu::~TPopupMenu() { DeallocateHWnd(owner_); }

TMenuItem& TPopupMenu::Add(TMenuItem item) {
    items_.push_back(std::move(item));
    return items_.back();
}

HMENU TPopupMenu::Handle() {
    if (!menu_) {
        menu_.reset(::CreatePopupMenu());
        if (!menu_) RaiseLastOSError();
        for (size_t i = 0; i < items_.size(); ++i) {
            const TMenuItem& it = items_[i];
            if (it.Caption == "-")
                ::AppendMenuA(menu_.get(), MF_SEPARATOR, 0, nullptr);
            else
                ::AppendMenuA(menu_.get(), MF_STRING, i + 1, it.Caption.c_str());
            if (it.Default) ::SetMenuDefaultItem(menu_.get(), static_cast<UINT>(i + 1), FALSE);
        }
    }
    return menu_.get();
}

void TPopupMenu::Popup(int x, int y) {
    HMENU menu = Handle();
    // Without the foreground the menu would not close on a click elsewhere.
    ::SetForegroundWindow(owner_);
    UINT cmd = static_cast<UINT>(::TrackPopupMenu(
        menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, owner_,
        nullptr));
    ::PostMessageA(owner_, WM_NULL, 0, 0);
    if (cmd >= 1 && cmd <= items_.size() && items_[cmd - 1].OnClick) items_[cmd - 1].OnClick();
}

}  // namespace ui
