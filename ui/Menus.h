// Popup menus, as the tray shows them.
#pragma once

#include "ui/Handles.h"

#include <functional>
#include <string>
#include <vector>

namespace ui {

class TMenuItem {
public:
    TMenuItem(std::string caption, std::function<void()> onClick = nullptr, bool isDefault = false)
        : Caption(std::move(caption)), OnClick(std::move(onClick)), Default(isDefault) {}
    std::string Caption;  // "-" is a separator
    std::function<void()> OnClick;
    bool Default;
};

class TPopupMenu {
public:
    TPopupMenu();
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;
    ~TPopupMenu();

    // Items are fixed once the menu is first shown.
    TMenuItem& Add(TMenuItem item);
    // Shows the menu with its top-left corner at the screen point and runs
    // the chosen item's OnClick after the menu has closed.
    void Popup(int x, int y);
    HMENU Handle();
    // The window that owns the menu while it is open, for tests.
    HWND OwnerWindow() const { return owner_; }

private:
    std::vector<TMenuItem> items_;
    Menu menu_;
    HWND owner_ = nullptr;
};

}  // namespace ui
