#include "capture/WindowSnapshot.h"

#include <cstring>

namespace {

// Values of DWMWINDOWATTRIBUTE; dwmapi is looked up at run time, since a
// system without it (or with an older one) still captures.
constexpr DWORD kExtendedFrameBounds = 9;
constexpr DWORD kCloaked = 14;
// Far more than any desktop holds.
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

BOOL CALLBACK Collect(HWND wnd, LPARAM list) noexcept {
    try {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(wnd);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
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
    // The system lists a level at once; asking window by window
    // (GetWindow) costs a round trip to the window server for each.
    std::vector<HWND> top;
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&top));
    for (HWND w : top) {
        if (entries_.size() >= kMostWindows) break;
        if (w == skip || !Shown(w)) continue;
        RECT frame = VisibleFrame(w);
        if (!::IntersectRect(&frame, &frame, &desktop)) continue;
        entries_.push_back({frame, -1});
        AddChildren(w);
    }
    for (Entry& e : entries_) ::OffsetRect(&e.frame, -desktop.left, -desktop.top);
}

void TWindowSnapshot::AddChildren(HWND wnd) {
    // All the descendants, each after its parent and siblings topmost
    // first; the ancestors taken so far are a stack.
    std::vector<HWND> children;
    ::EnumChildWindows(wnd, Collect, reinterpret_cast<LPARAM>(&children));
    std::vector<std::pair<HWND, int>> taken{{wnd, static_cast<int>(entries_.size()) - 1}};
    for (HWND c : children) {
        if (entries_.size() >= kMostWindows) return;
        const HWND parent = ::GetAncestor(c, GA_PARENT);
        while (taken.size() > 1 && taken.back().first != parent) taken.pop_back();
        // Under a control that was left out, the control is left out too.
        const int up = taken.back().first == parent ? taken.back().second : -1;
        int index = -1;
        RECT frame{};
        if (up >= 0 && ::IsWindowVisible(c) && !SeeThrough(c) && ::GetWindowRect(c, &frame) &&
            ::IntersectRect(&frame, &frame, &entries_[up].frame)) {
            entries_.push_back({frame, up});
            index = static_cast<int>(entries_.size()) - 1;
        }
        taken.push_back({c, index});
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
