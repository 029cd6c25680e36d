#include "ui/Timers.h"

#include "ui/Exception.h"
#include "ui/Forms.h"

namespace ui {

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TTimer::~TTimer() {
    // The window's timers go with it.
    if (wnd_) DeallocateHWnd(wnd_);
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
}

void TTimer::SetInterval(UINT ms) {
    if (ms == interval_) return;
    interval_ = ms;
    Update();
}

void TTimer::Update() {
    if (wnd_) ::KillTimer(wnd_, kTimerId);
    if (!enabled_ || interval_ == 0) return;
    if (!wnd_) {
        wnd_ = AllocateHWnd([this](TMessage& m) {
            if (m.Msg != WM_TIMER) {
                m.Result = ::DefWindowProcA(wnd_, m.Msg, m.WParam, m.LParam);
                return;
            }
            if (m.WParam != kTimerId || !enabled_ || !OnTimer) return;
            // A copy, since the handler may destroy this timer; nothing of
            // it is touched afterwards.
            std::function<void()> handler = OnTimer;
            GuardedCallback(handler);
        });
    }
    if (!::SetTimer(wnd_, kTimerId, interval_, nullptr)) {
        enabled_ = false;
        throw Exception("Not enough timers available");
    }
}

}  // namespace ui
