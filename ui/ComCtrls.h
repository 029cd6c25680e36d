// The platform's common controls: the list view in report style.
#pragma once

#include "ui/Controls.h"

#include <memory>
#include <string>
#include <vector>

namespace ui {

class TListView;

// One row: its caption, the texts of its further columns, its check box
// and data of the program's that goes with the row.
class TListItem {
public:
    int Index() const { return index_; }
    std::string Caption() const;
    void SetCaption(const std::string& text);
    // The texts of the columns after the first.
    std::string SubItem(int i) const;
    void AddSubItem(const std::string& text);
    int SubItemCount() const { return subItems_; }
    bool Checked() const;
    void SetChecked(bool checked);
    bool Selected() const;
    void SetSelected(bool selected);
    // Released with the row.
    std::shared_ptr<void> Data;

private:
    friend class TListView;
    TListItem(TListView& owner, int index) : owner_(owner), index_(index) {}
    TListView& owner_;
    int index_;
    int subItems_ = 0;
};

using TListItemEvent = std::function<void(TControl* Sender, TListItem* Item)>;

// A list view in report style; with CheckBoxes every row has a check box
// that the mouse and Space toggle.
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
    void Delete(int index);
    void Clear();
    TListItem* Selected() const;

    // A row is about to go (Delete, Clear), before its data is released.
    TListItemEvent OnDeletion;
    // A row's check box changed, by the user or by code.
    TListItemEvent OnItemChecked;
    bool Reflected(TMessage& msg) override;

private:
    friend class TListItem;
    void Renumber();
    std::vector<std::unique_ptr<TListItem>> items_;
    int columns_ = 0;
};

constexpr TControlKind ckListView = &CreateControl<TListView>;

}  // namespace ui
