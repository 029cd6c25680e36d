#include "capture/WindowSnapshot.h"

#include <cstring>

namespace {

// Values of DWMWINDOWATTRIBUTE; dwmapi is looked up at run time, since a
// system without it (or with an older one) still captures.
constexpr DWORD kExtendedFrameBounds = 9;
constexpr DWORD kCloaked = 14;
// Far more than any desktop holds: a window list that changes under the
// walk cannot keep it going.
constexpr size_t kMostWindows = 20000;

bool IsTray(HWND wnd) {
    char name[64] = {};
    ::GetClassNameA(wnd, name, sizeof name);
    return !std::strcmp(name, "Shell_TrayWnd") || !std::strcmp(name, "Shell_SecondaryTrayWnd") ||
           !std::strcmp(name, "__winex11_standalone_tray");
}

// A window the pointer goes through: nothing of it is seen or clicked.
bool SeeThrough(HWND wnd) {
    const LONG_PTR ex = ::GetWindowLongPtrA(wnd, GWL_EXSTYLE);
    if (ex & WS_EX_TRANSPARENT) return true;
    BYTE alpha = 255;
    DWORD flags = 0;
    return (ex & WS_EX_LAYERED) && ::GetLayeredWindowAttributes(wnd, nullptr, &alpha, &flags) &&
           (flags & LWA_ALPHA) && alpha == 0;
}

}  // namespace

bool TWindowSnapshot::Shown(HWND wnd) const {
    if (!::IsWindowVisible(wnd) || ::IsIconic(wnd) || SeeThrough(wnd) || IsTray(wnd)) return false;
    DWORD cloaked = 0;
    return !(getAttribute_ && getAttribute_(wnd, kCloaked, &cloaked, sizeof cloaked) == S_OK &&
             cloaked);
}

RECT TWindowSnapshot::VisibleFrame(HWND wnd) const {
    // The window rectangle holds the invisible resize borders of a themed
    // frame; Wine's dwmapi may not answer at all.
    RECT r{};
    if (getAttribute_ && getAttribute_(wnd, kExtendedFrameBounds, &r, sizeof r) == S_OK &&
        !::IsRectEmpty(&r))
        return r;
    ::GetWindowRect(wnd, &r);
    return r;
}

void TWindowSnapshot::Take(const RECT& desktop, HWND skip) {
    entries_.clear();
    if (!dwmapiTried_) {
        dwmapiTried_ = true;
        dwmapi_.reset(::LoadLibraryA("dwmapi.dll"));
        if (dwmapi_)
            getAttribute_ = reinterpret_cast<decltype(getAttribute_)>(
                ::GetProcAddress(dwmapi_.get(), "DwmGetWindowAttribute"));
    }
    for (HWND w = ::GetTopWindow(nullptr); w && entries_.size() < kMostWindows;
         w = ::GetWindow(w, GW_HWNDNEXT)) {
        if (w == skip || !Shown(w)) continue;
        RECT frame = VisibleFrame(w);
        if (!::IntersectRect(&frame, &frame, &desktop)) continue;
        entries_.push_back({frame, -1});
        AddChildren(w, static_cast<int>(entries_.size()) - 1);
    }
    for (Entry& e : entries_) ::OffsetRect(&e.frame, -desktop.left, -desktop.top);
}

void TWindowSnapshot::AddChildren(HWND wnd, int parent) {
    const RECT within = entries_[parent].frame;
    for (HWND c = ::GetWindow(wnd, GW_CHILD); c && entries_.size() < kMostWindows;
         c = ::GetWindow(c, GW_HWNDNEXT)) {
        if (!::IsWindowVisible(c) || SeeThrough(c)) continue;
        RECT frame{};
        ::GetWindowRect(c, &frame);
        if (!::IntersectRect(&frame, &frame, &within)) continue;
        entries_.push_back({frame, parent});
        AddChildren(c, static_cast<int>(entries_.size()) - 1);
    }
}

std::vector<RECT> TWindowSnapshot::ChainAt(POINT p) const {
    // Entries come parent first and siblings topmost first: the first match
    // among a parent's children is the one on top.
    std::vector<RECT> chain;
    int parent = -1;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.parent == parent && ::PtInRect(&e.frame, p)) {
            chain.push_back(e.frame);
            parent = static_cast<int>(i);
        }
    }
    return chain;
}
