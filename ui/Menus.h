// Popup menus, as the tray and the editor show them.
#pragma once

#include "ui/Handles.h"

#include <deque>
#include <functional>
#include <string>

namespace ui {

class TPopupMenu;

// One item. Once added to a menu it stays where it is however many items
// follow, and a change of its state shows in the menu already made.
class TMenuItem {
public:
    TMenuItem(std::string caption, std::function<void()> onClick = nullptr, bool isDefault = false)
        : OnClick(std::move(onClick)), caption_(std::move(caption)), default_(isDefault) {}
    TMenuItem(TMenuItem&&) = default;
    TMenuItem& operator=(TMenuItem&&) = delete;

    // "-" makes a separator line.
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    bool Checked() const { return checked_; }
    // Checking a radio item unchecks the other radio items of its group.
    void SetChecked(bool checked);
    bool RadioItem() const { return radio_; }
    void SetRadioItem(bool radio);
    int GroupIndex() const { return group_; }
    void SetGroupIndex(int group);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // Drawn in bold; one per menu, so setting it clears the others.
    bool Default() const { return default_; }
    void SetDefault(bool isDefault);

    std::function<void()> OnClick;
    void Click();

private:
    friend class TPopupMenu;
    MENUITEMINFOA Info() const;
    // Shows the state in the menu, when it is made.
    void Changed();

    std::string caption_;
    bool default_;
    bool checked_ = false;
    bool radio_ = false;
    int group_ = 0;
    bool enabled_ = true;
    TPopupMenu* menu_ = nullptr;
    UINT command_ = 0;
};

class TPopupMenu {
public:
    TPopupMenu();
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;
    ~TPopupMenu();

    // The reference stays valid for the menu's life.
    TMenuItem& Add(TMenuItem item);
    size_t Count() const { return items_.size(); }
    TMenuItem& Items(size_t index) { return items_.at(index); }
    // Shows the menu with its top-left corner at the screen point and runs
    // the chosen item's OnClick after the menu has closed.
    void Popup(int x, int y);
    // The menu, made on first use; items are in the order they were added.
    HMENU Handle();
    // The window that owns the menu while it is open, for tests.
    HWND OwnerWindow() const { return owner_; }

private:
    friend class TMenuItem;
    std::deque<TMenuItem> items_;
    Menu menu_;
    HWND owner_ = nullptr;
};

}  // namespace ui
