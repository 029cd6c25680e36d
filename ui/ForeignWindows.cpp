#include "ui/ForeignWindows.h"

#include "ui/Handles.h"

#include <algorithm>
#include <cstdio>

namespace ui {

namespace {

// The foreign code may subclass its windows after we did: each time we go
// back on top, another level of the same frame is set, each with the
// procedure it calls on in a property of its own.
constexpr int kLevels = 4;
const wchar_t kOwnerProp[] = L"Kestrix.ForeignOwner";
// The owner of windows whose code faulted and whose owner is gone.
const HANDLE kDeadOwner = reinterpret_cast<HANDLE>(1);

const wchar_t* NextProp(int level) {
    static const wchar_t* names[kLevels] = {L"Kestrix.ForeignProc0", L"Kestrix.ForeignProc1",
                                            L"Kestrix.ForeignProc2", L"Kestrix.ForeignProc3"};
    return names[level];
}

// The owners alive: a window outliving its owner never reaches a freed one.
std::vector<TForeignWindows*>& Owners() {
    static std::vector<TForeignWindows*> owners;
    return owners;
}

bool Alive(TForeignWindows* owner) {
    auto& owners = Owners();
    return owner && std::find(owners.begin(), owners.end(), owner) != owners.end();
}

// The owners watching this thread's window creations, innermost last.
std::vector<TForeignWindows*>& Watchers() {
    static std::vector<TForeignWindows*> watchers;
    return watchers;
}
WindowsHook& CreationHook() {
    static WindowsHook hook;
    return hook;
}

template <int Level>
LRESULT CALLBACK ForeignProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

WNDPROC ProcOfLevel(int level) {
    static const WNDPROC procs[kLevels] = {&ForeignProc<0>, &ForeignProc<1>, &ForeignProc<2>, &ForeignProc<3>};
    return procs[level];
}

int LevelOf(WNDPROC proc) {
    for (int level = 0; level < kLevels; ++level)
        if (proc == ProcOfLevel(level)) return level;
    return -1;
}

// The highest level set on the window, or -1.
int TopLevelSet(HWND wnd) {
    for (int level = kLevels - 1; level >= 0; --level)
        if (::GetPropW(wnd, NextProp(level))) return level;
    return -1;
}

// Sets the frame on top of the window's procedure, unless it is on top.
void Wrap(HWND wnd, TForeignWindows* owner) {
    const auto current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(wnd, GWLP_WNDPROC));
    if (LevelOf(current) >= 0) return;
    const int level = TopLevelSet(wnd) + 1;
    if (level >= kLevels) return;
    ::SetPropW(wnd, kOwnerProp, owner);
    ::SetPropW(wnd, NextProp(level), reinterpret_cast<HANDLE>(current));
    ::SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProcOfLevel(level)));
}

}  // namespace

struct ForeignWindowAccess {
    static void Fault(TForeignWindows* owner, DWORD code, const void* address) noexcept {
        owner->Fault(code, address);
    }
    static void Created(HWND wnd) noexcept {
        if (Watchers().empty()) return;
        TForeignWindows* owner = Watchers().back();
        try {
            owner->windows_.push_back(wnd);
        } catch (...) {
            return;
        }
        Wrap(wnd, owner);
    }
};

namespace {

template <int Level>
LRESULT CALLBACK ForeignProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    const auto next = reinterpret_cast<WNDPROC>(::GetPropW(wnd, NextProp(Level)));
    auto* owner = static_cast<TForeignWindows*>(::GetPropW(wnd, kOwnerProp));
    const bool known = Alive(owner);
    LRESULT result = 0;
    if (!next) {
        result = ::DefWindowProcW(wnd, msg, wp, lp);
    } else if (owner == kDeadOwner || (known && owner->Faulted())) {
        // The foreign code is off: nothing of it runs any more.
        result = msg == WM_NCDESTROY ? 0 : ::DefWindowProcW(wnd, msg, wp, lp);
    } else {
        try {
            result = ForeignCall([&] { return ::CallWindowProcW(next, wnd, msg, wp, lp); });
        } catch (const EForeignFault& fault) {
            if (known) ForeignWindowAccess::Fault(owner, fault.Code, fault.Address);
            result = 0;
        } catch (...) {
            result = 0;
        }
    }
    if (msg == WM_NCDESTROY) {
        ::RemovePropW(wnd, NextProp(Level));
        if (TopLevelSet(wnd) < 0) ::RemovePropW(wnd, kOwnerProp);
    }
    return result;
}

LRESULT CALLBACK CreationHookProc(int code, WPARAM wp, LPARAM lp) noexcept {
    if (code == HCBT_CREATEWND) ForeignWindowAccess::Created(reinterpret_cast<HWND>(wp));
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

BOOL CALLBACK AdoptChild(HWND wnd, LPARAM owner) noexcept {
    reinterpret_cast<TForeignWindows*>(owner)->Adopt(wnd);
    return TRUE;
}

}  // namespace

TForeignWindows::TForeignWindows() { Owners().push_back(this); }

TForeignWindows::~TForeignWindows() {
    Orphan();
    auto& owners = Owners();
    owners.erase(std::remove(owners.begin(), owners.end(), this), owners.end());
}

TForeignWindows::Watch::Watch(TForeignWindows& owner) : owner_(owner) {
    Watchers().push_back(&owner_);
    ++owner_.watching_;
    if (!CreationHook())
        CreationHook().reset(
            ::SetWindowsHookExW(WH_CBT, &CreationHookProc, nullptr, ::GetCurrentThreadId()));
}

TForeignWindows::Watch::~Watch() {
    auto& watchers = Watchers();
    auto it = std::find(watchers.rbegin(), watchers.rend(), &owner_);
    if (it != watchers.rend()) watchers.erase(std::next(it).base());
    --owner_.watching_;
    if (watchers.empty()) CreationHook().reset();
    owner_.Refresh();
}

void TForeignWindows::Adopt(HWND root) noexcept {
    if (!root || !::IsWindow(root) || ::GetWindowThreadProcessId(root, nullptr) != ::GetCurrentThreadId())
        return;
    if (std::find(windows_.begin(), windows_.end(), root) == windows_.end()) {
        try {
            windows_.push_back(root);
        } catch (...) {
            return;
        }
    }
    Wrap(root, this);
    ::EnumChildWindows(root, &AdoptChild, reinterpret_cast<LPARAM>(this));
}

void TForeignWindows::Refresh() noexcept {
    if (faulted_) return;
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](HWND w) { return !::IsWindow(w); }),
                   windows_.end());
    const std::vector<HWND> known = windows_;
    for (HWND w : known) Adopt(w);
}

void TForeignWindows::Fault(DWORD code, const void* address) noexcept {
    if (faulted_) return;
    faulted_ = true;
    faultTaken_ = false;
    code_ = code;
    address_ = address;
    // Its dialogs end, so that a modal loop of its own gives control back;
    // its top-level windows go from the screen, its children stop taking
    // keys and painting.
    for (HWND w : windows_) {
        if (!::IsWindow(w)) continue;
        const bool child = (::GetWindowLongW(w, GWL_STYLE) & WS_CHILD) != 0;
        wchar_t cls[16] = {};
        ::GetClassNameW(w, cls, 16);
        if (!child && ::lstrcmpW(cls, L"#32770") == 0) ::EndDialog(w, 0);
        ::ShowWindow(w, SW_HIDE);
        if (child) ::EnableWindow(w, FALSE);
    }
    if (OnFault) {
        try {
            OnFault(EForeignFault(code, address));
        } catch (...) {
        }
    }
}

bool TForeignWindows::TakeFault(DWORD& code, const void*& address) noexcept {
    if (!faulted_ || faultTaken_) return false;
    faultTaken_ = true;
    code = code_;
    address = address_;
    return true;
}

void TForeignWindows::Orphan() noexcept {
    // Windows of the code before stay framed, but report to nobody; those
    // of code that faulted never reach it again.
    for (HWND w : windows_)
        if (::IsWindow(w) && ::GetPropW(w, kOwnerProp) == this)
            ::SetPropW(w, kOwnerProp, faulted_ ? kDeadOwner : nullptr);
}

void TForeignWindows::Reset() noexcept {
    Orphan();
    windows_.clear();
    faulted_ = false;
    faultTaken_ = true;
}

}  // namespace ui
