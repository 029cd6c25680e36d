#include "wizard/UndoHistory.h"

#include "ui/Exception.h"

#include <windows.h>

#include <algorithm>

using namespace ui;

namespace {
// Bytes of a picture's pixels.
size_t PictureBytes(const TBitmap& b) {
    return static_cast<size_t>(b.Stride()) * static_cast<size_t>(std::max(b.Height(), 0));
}

// Whether the address space and the commit limit still leave room for
// `bytes` in one block. A reservation only: nothing is committed.
bool RoomFor(size_t bytes) {
    if (void* p = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS)) {
        ::VirtualFree(p, 0, MEM_RELEASE);
    } else {
        return false;
    }
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return !::GlobalMemoryStatusEx(&status) || status.ullAvailPageFile >= bytes;
}

// Beside the picture and its snapshots, room for a colour-depth conversion
// (the pixels read out, and the converted picture) and the rest of the
// program.
constexpr size_t kSpareBytes = 32u << 20;
}  // namespace

void TUndoHistory::PushHistory(TBitmap& picture) {
    // A limit below 1 keeps no snapshots at all.
    if (HistoryLimit <= 0) {
        editsBeyondHistory_ = true;
        return;
    }
    // The oldest step that gives way lends its pixels to the picture's copy.
    std::unique_ptr<TBitmap> spare;
    while (static_cast<int>(history_.size()) >= HistoryLimit) {
        spare = std::move(history_.back());
        history_.pop_back();
        editsBeyondHistory_ = true;
    }
    const size_t bytes = PictureBytes(picture);
    // However many steps the setting asks for, keep only what leaves room
    // for the picture's own copy and a conversion of it: the oldest steps
    // give way, so the edit itself never runs out of memory.
    auto needed = [&] { return (spare ? 2 : 3) * bytes + kSpareBytes; };
    while (!history_.empty() && !RoomFor(needed())) {
        spare = std::move(history_.back());
        history_.pop_back();
        editsBeyondHistory_ = true;
    }
    auto snapshot = std::make_unique<TBitmap>();
    snapshot->Assign(picture);
    history_.push_front(std::move(snapshot));
    // The snapshot shares the picture's pixels; the picture takes its own
    // copy now rather than at the edit's first pixel.
    for (;;) {
        try {
            picture.OwnPixels(spare.get());
            return;
        } catch (const Exception&) {
            editsBeyondHistory_ = true;
            // With only the new snapshot left, drop it and edit without a step.
            if (history_.size() <= 1) {
                history_.clear();
                return;
            }
            spare = std::move(history_.back());
            history_.pop_back();
        }
    }
}

bool TUndoHistory::StepBack(TBitmap& picture) {
    if (history_.empty()) return false;
    std::unique_ptr<TBitmap> snapshot = std::move(history_.front());
    history_.pop_front();
    picture.Assign(*snapshot);
    return true;
}

void TUndoHistory::Clear() {
    while (!history_.empty()) history_.pop_back();
}
