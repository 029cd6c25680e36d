// The editor's undo history: snapshots of the picture before each change,
// newest first, held within a step limit and within the memory the machine
// has left. It needs no window.
#pragma once

#include "ui/Bitmap.h"

#include <cstddef>
#include <list>
#include <memory>

class TUndoHistory {
public:
    // The most snapshots kept; below 1, none.
    int HistoryLimit = 0;

    // Records the picture as it is before a change. The oldest steps give
    // way to the limit and to memory; the picture then holds pixels of its
    // own, ready for the change.
    void PushHistory(ui::TBitmap& picture);
    // Puts the newest snapshot back into the picture; false when there is
    // none.
    bool StepBack(ui::TBitmap& picture);
    // Frees the snapshots from the oldest to the newest.
    void Clear();

    std::size_t size() const { return history_.size(); }
    bool empty() const { return history_.empty(); }
    // Edits were made that no step can take back any more.
    bool EditsBeyondHistory() const { return editsBeyondHistory_; }

private:
    std::list<std::unique_ptr<ui::TBitmap>> history_;
    bool editsBeyondHistory_ = false;
};
