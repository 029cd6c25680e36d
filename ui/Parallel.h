// Work shared between the calling thread and one other, for the passes over
// a large picture that do not wait on each other: numbered pieces (rows)
// taken a batch at a time by whichever thread is free, so that the caller
// still does it all when no other thread can be had or it is slow to come.
#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

namespace ui {

// Pieces 0 .. count - 1, handed out a batch at a time.
class TPieces {
public:
    TPieces(int count, int batch) : count_(count), batch_(batch) {}
    // The next batch, [first, last); false when none is left.
    bool Next(int& first, int& last) {
        first = next_.fetch_add(batch_, std::memory_order_relaxed);
        if (first >= count_) return false;
        last = std::min(first + batch_, count_);
        return true;
    }

private:
    std::atomic<int> next_{0};
    const int count_, batch_;
};

// A function run on a thread of its own while the object lives, if
// `start`; the destructor waits for it. Without a thread to be had it does
// not run, so it may only do what the caller would otherwise do itself.
// Whatever it throws ends it quietly.
class TBackground {
public:
    template <class Work>
    TBackground(bool start, Work work) {
        if (!start) return;
        try {
            thread_ = std::thread([work = std::move(work)]() mutable {
                try {
                    work();
                } catch (...) {
                }
            });
        } catch (...) {
        }
    }
    ~TBackground() { Wait(); }
    TBackground(const TBackground&) = delete;
    TBackground& operator=(const TBackground&) = delete;

    void Wait() {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
};

// Pictures smaller than this are worked through on the calling thread
// alone: starting a thread would cost more than it saves.
constexpr long long kPixelsForTwoThreads = 1 << 20;

}  // namespace ui
