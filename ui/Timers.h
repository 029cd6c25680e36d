// Message timers of the user-interface thread.
#pragma once

#include <windows.h>

#include <functional>

namespace ui {

// Ticks arrive through the thread's message loop (modal loops and menus
// included) at a small window of the timer's own. A timer starts disabled;
// it runs while it is enabled and its interval is not 0.
class TTimer {
public:
    TTimer() = default;
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;
    ~TTimer();

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // Milliseconds; a change while running starts the period again.
    UINT Interval() const { return interval_; }
    void SetInterval(UINT ms);
    // An error raised here goes to the application's handler; the handler
    // may destroy the timer.
    std::function<void()> OnTimer;

    // The window the ticks go to; null before the timer first ran.
    HWND Handle() const { return wnd_; }

private:
    void Update();
    HWND wnd_ = nullptr;
    bool enabled_ = false;
    UINT interval_ = 1000;
};

}  // namespace ui
