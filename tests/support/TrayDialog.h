// Opens one of the program's dialogs as a user does: a right-click on the
// real notification icon and a click on the menu item.
#pragma once

#include "app/KestrixWindow.h"
#include "tests/support/Input.h"
#include "tests/support/TestSupport.h"

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Runs inside(dialog) from the dialog's modal loop once it shows. True when
// the dialog opened and its modal run ended within the time; a step that
// never comes ends the menu and the dialog, so the test fails, not hangs.
// The visible message box of this thread (a dialog of class #32770), its
// text through text.
inline BOOL CALLBACK FindMessageBoxProc(HWND w, LPARAM lp) {
    char cls[16] = {};
    ::GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "#32770" && ::IsWindowVisible(w)) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}
inline HWND FindMessageBox(std::string* text = nullptr) {
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindMessageBoxProc,
                        reinterpret_cast<LPARAM>(&found));
    if (found && text) {
        char buf[512] = {};
        // The message is the box's static control with id 0xFFFF.
        ::GetDlgItemTextA(found, 0xFFFF, buf, sizeof buf);
        *text = buf;
    }
    return found;
}

template <class Form>
struct TrayWatch {
    static inline Form** watched = nullptr;
    static inline bool fired = false;
    static void CALLBACK Fire(HWND, UINT, UINT_PTR, DWORD) {
        fired = true;
        ::EndMenu();
        if (HWND box = FindMessageBox()) ::PostMessageA(box, WM_CLOSE, 0, 0);
        if (*watched) (*watched)->ModalResult = ui::mrCancel;
    }
};

template <class Form>
bool OpenFromTray(const char* item, Form*& slot, std::function<void(Form&)> inside,
                  DWORD timeoutMs = 30000) {
    using W = TrayWatch<Form>;
    W::watched = &slot;
    W::fired = false;
    const UINT_PTR dogTimer = ::SetTimer(nullptr, 0, timeoutMs, &W::Fire);
    ui::ScopeExit dog([dogTimer] { ::KillTimer(nullptr, dogTimer); });
    bool opened = false;
    POINT icon;
    if (!KestrixWnd || !TrayIconPoint(icon)) return false;
    HMENU menu = KestrixWnd->TrayMenu.Handle();
    WhenReady(
        [menu, item] {
            RECT rc;
            return OpenMenuItemRect(menu, item, rc);
        },
        [menu, item, &slot, &opened, inside] {
            RECT rc;
            OpenMenuItemRect(menu, item, rc);
            MouseClick((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
            WhenReady([&slot] { return slot && slot->Visible(); },
                      [&slot, &opened, inside] {
                          opened = true;
                          inside(*slot);
                      });
        });
    MouseClick(icon.x, icon.y, ui::mbRight);
    PumpUntil([&] { return (opened && !slot) || W::fired; }, timeoutMs + 5000);
    return opened && !slot && !W::fired;
}

}  // namespace testing_support

namespace testing_support {

// Steps run one after another from the message loop: each action, then a
// wait until its condition holds (or its time runs out, which stops the
// chain).
struct Step {
    std::function<void()> action;
    std::function<bool()> until = [] { return true; };
    // Input may be lost while the window is still being mapped: the action
    // is tried again this many times, a second apart.
    int retries = 0;
};
inline void RunSteps(std::vector<Step> steps, size_t from = 0, int attempt = 0) {
    if (from >= steps.size()) return;
    steps[from].action();
    const Step& s = steps[from];
    const bool again = attempt < s.retries;
    std::function<void()> retry;
    if (again) retry = [steps, from, attempt] { RunSteps(steps, from, attempt + 1); };
    WhenReady(s.until, [steps, from] { RunSteps(steps, from + 1); }, again ? 1000 : 5000, retry);
}

}  // namespace testing_support
