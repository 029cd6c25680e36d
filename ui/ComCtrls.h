// The platform's common controls: the list view in report style, the tool
// bar and its image list, the hot-key field.
#pragma once

#include "ui/Controls.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

namespace ui {

class TListView;

// One row: its caption, the texts of its further columns, its check box
// and data of the program's that goes with the row. The row keeps all of
// it; the list view window asks for what it shows.
class TListItem {
public:
    int Index() const { return index_; }
    std::string Caption() const { return texts_.front(); }
    void SetCaption(const std::string& text);
    // The texts of the columns after the first; empty past the last.
    std::string SubItem(int i) const;
    void AddSubItem(const std::string& text);
    int SubItemCount() const { return static_cast<int>(texts_.size()) - 1; }
    bool Checked() const { return checked_; }
    // Tells OnItemChecked when the state changes.
    void SetChecked(bool checked);
    bool Selected() const;
    void SetSelected(bool selected);
    // Released with the row.
    std::shared_ptr<void> Data;

private:
    friend class TListView;
    TListItem(TListView& owner, int index, const std::string& caption)
        : owner_(owner), index_(index), texts_{caption} {}
    const std::string& Text(int column) const;
    void Redraw() const;
    TListView& owner_;
    int index_;
    std::vector<std::string> texts_;
    bool checked_ = false;
};

using TListItemEvent = std::function<void(TControl* Sender, TListItem* Item)>;

// A list view in report style; with CheckBoxes every row has a check box
// that the mouse and Space toggle. The rows live here and the window draws
// them on demand, so that a long list is filled as fast as the vector.
class TListView : public TControl {
public:
    TListView(TWinControl& parent, const TControlLayout& layout);
    ~TListView() override;

    // A column of the given width in 96-DPI pixels.
    void AddColumn(const std::string& caption, int width);
    int ColumnWidth(int index) const;
    void SetCheckBoxes(bool value);
    bool CheckBoxes() const;

    int Count() const { return static_cast<int>(items_.size()); }
    TListItem& Item(int index) const { return *items_.at(static_cast<size_t>(index)); }
    TListItem& Add();
    // The same with its caption, in one step.
    TListItem& Add(const std::string& caption);
    void Delete(int index);
    void Clear();
    TListItem* Selected() const;
    // Rows added between the two reach the window once, at the end; the
    // calls nest.
    void BeginUpdate();
    void EndUpdate();

    // A row is about to go (Delete, Clear), before its data is released.
    TListItemEvent OnDeletion;
    // A row's check box changed, by the user or by code.
    TListItemEvent OnItemChecked;
    bool Reflected(TMessage& msg) override;

protected:
    void DpiChanged(int oldPpi, int newPpi) override;
    bool WndProc(TMessage& msg) override;

private:
    friend class TListItem;
    void Renumber();
    // Tells the window how many rows there are; false when it refused. A
    // window out of sight may be told when it first hears of anything once
    // in sight: the count's scroll bar is most of a long fill's cost.
    bool SyncCount(bool redrawAll, bool evenHidden = true);
    template <class LvItem>
    void Display(LvItem& item) const;
    template <class Find>
    int FindRow(const Find& find) const;
    void ToggleAt(int x, int y);
    std::vector<std::unique_ptr<TListItem>> items_;
    int columns_ = 0;
    int updating_ = 0;
    bool countPending_ = false;
};

constexpr TControlKind ckListView = &CreateControl<TListView>;

// The platform's hot-key field: the user presses a key with its modifiers
// and the field shows it. The value is the control's own: the virtual key in
// the low byte, HOTKEYF_* modifiers in the high byte, 0 for none.
class THotKey : public TControl {
public:
    THotKey(TWinControl& parent, const TControlLayout& layout);
    WORD HotKey() const;
    // Shows value as it is, whatever rules the field held (they are
    // cleared). A key of the keyboard's extended part gets HOTKEYF_EXT, so
    // that the field names it and not its keypad twin; what HotKey() then
    // gives may carry the flag or not, the key and modifiers are the same.
    void SetHotKey(WORD value);

protected:
    bool WndProc(TMessage& msg) override;

private:
    bool PressKey(WORD value);
    bool pressing_ = false;
};

// Whether a key with this virtual-key code lies on the keyboard's extended
// part (its scan code comes with the E0 prefix). Enter is not: the keypad's
// is the rarer one, and a value that means it carries HOTKEYF_EXT already.
bool ExtendedKey(BYTE vk);

constexpr TControlKind ckHotKey = &CreateControl<THotKey>;

// ---- image lists ----

struct ImageListTraits {
    using Handle = HIMAGELIST;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::ImageList_Destroy(h); }
};
using ImageListHandle = UniqueHandle<ImageListTraits>;

// Images of one size, as tool bars show them.
class TImageList {
public:
    explicit TImageList(int width = 16, int height = 16);
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const;
    HIMAGELIST Handle() const { return list_.get(); }
    // Adds the images of a strip as wide as a whole number of images;
    // pixels of the transparent colour let the ground show. The bitmap
    // stays as it is. Returns the index of the first image added.
    int Add(TBitmap& bitmap, TColor transparent);
    // The same from a bitmap resource; raises when the module has none.
    int AddResource(HINSTANCE instance, const char* name, TColor transparent);

private:
    ImageListHandle list_;
    int width_, height_;
};

// ---- tool bar ----

class TToolBar;
enum TToolButtonStyle { tbsButton, tbsCheck };

// A button of a tool bar, declared in the layout with the bar as its
// parent. It has no window of its own: the bar draws it, places it (the
// layout line's position and size are not used) and reports its clicks and
// presses to it. The line's text is its caption, which an image-only bar
// does not draw; loGrouped makes it a check button of a group, loChecked
// puts it down. Its image is the one at its position until set.
class TToolButton : public TControl {
public:
    TToolButton(TWinControl& parent, const TControlLayout& layout);
    ~TToolButton() override;

    TToolBar& ToolBar() const;
    // The position among the bar's buttons.
    int Index() const;
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index);
    TToolButtonStyle Style() const { return style_; }
    void SetStyle(TToolButtonStyle style);
    // A check button of a group: pressing it raises the others.
    bool Grouped() const { return grouped_; }
    void SetGrouped(bool value);
    bool Down() const;
    void SetDown(bool value);
    // As the user's click: a check button changes its state first.
    void Click() override;

    // Its place in the bar's client area.
    RECT BoundsRect() const override;
    bool Visible() const override;
    void SetVisible(bool visible) override;
    bool Enabled() const override;
    void SetEnabled(bool enabled) override;
    std::string Caption() const override { return caption_; }
    void SetCaption(const std::string& text) override { caption_ = text; }

private:
    friend class TToolBar;
    BYTE NativeStyle() const;
    void UpdateInfo(DWORD mask);
    // Sends a message about this button to the bar.
    LRESULT Perform(UINT msg, LPARAM lp = 0) const;

    int id_ = 0;
    int imageIndex_;
    TToolButtonStyle style_ = tbsButton;
    bool grouped_ = false;
    std::string caption_;
};

// The platform's tool bar: flat, with tooltips from its buttons' hints;
// vertical (one button per row) when it is taller than wide.
class TToolBar : public TWinControl {
public:
    TToolBar(TWinControl& parent, const TControlLayout& layout);
    ~TToolBar() override;

    // The images the buttons show, kept by the bar.
    void SetImages(TImageList images);
    const TImageList& Images() const { return images_; }
    // In 96-DPI pixels; the images keep their own size.
    int ButtonWidth() const { return buttonWidth_; }
    int ButtonHeight() const { return buttonHeight_; }
    void SetButtonSize(int width, int height);
    bool Vertical() const { return vertical_; }
    void SetVertical(bool value);

    // The buttons in the bar's order.
    int ButtonCount() const { return static_cast<int>(buttons_.size()); }
    TToolButton& Buttons(int index) const;
    bool Reflected(TMessage& msg) override;

protected:
    bool WndProc(TMessage& msg) override;
    // A press or release over a button is the button's too.
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void DpiChanged(int, int) override { Relayout(); }

private:
    friend class TToolButton;
    void AddButton(TToolButton& button);
    TToolButton* ButtonById(int id) const;
    TToolButton* ButtonAt(int x, int y) const;
    void Relayout();

    TImageList images_;
    std::vector<TToolButton*> buttons_;
    int buttonWidth_ = 23, buttonHeight_ = 22;
    bool vertical_;
    int nextId_ = 1;
    // The button a press began on; its release goes to it wherever it is.
    TToolButton* pressed_ = nullptr;
    std::wstring wideTip_;
};

constexpr TControlKind ckToolBar = &CreateControl<TToolBar>;
constexpr TControlKind ckToolButton = &CreateControl<TToolButton>;

}  // namespace ui
