// Windows that belong to code that is not ours: an embedded object's page
// and its descendants, and the windows its calls create. Every message to
// them runs inside a fault frame, wherever it is dispatched from (our
// loops, the foreign code's own modal loops, a SendMessage): the frame sits
// in the window procedure itself, below any frame the system keeps around
// its callbacks, so a fault is seen here on every system.
#pragma once

#include "ui/ForeignCall.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

namespace ui {

class TForeignWindows {
public:
    TForeignWindows();
    // Windows still alive keep their procedures, but tell nobody any more.
    ~TForeignWindows();
    TForeignWindows(const TForeignWindows&) = delete;
    TForeignWindows& operator=(const TForeignWindows&) = delete;

    // While one of these lives, every window this thread creates belongs
    // to the foreign code.
    class Watch {
    public:
        explicit Watch(TForeignWindows& owner);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        TForeignWindows& owner_;
    };

    // The window and its descendants belong to the foreign code.
    void Adopt(HWND root) noexcept;
    // Puts the frame back on top of procedures that the foreign code set
    // on its windows since (a subclass of its own), and adopts children it
    // made since.
    void Refresh() noexcept;

    // After a fault in one of its windows no message reaches the foreign
    // code any more: its windows get the default handling, its dialogs
    // end, its top-level windows are hidden and the others hidden and
    // disabled. Then OnFault is told, inside the message that faulted:
    // it must not raise.
    std::function<void(const EForeignFault& fault)> OnFault;
    // The fault not yet taken, if any.
    bool TakeFault(DWORD& code, const void*& address) noexcept;
    bool Faulted() const noexcept { return faulted_; }
    // Forgets the windows and the fault: the next foreign code starts anew.
    void Reset() noexcept;

private:
    friend struct ForeignWindowAccess;
    void Fault(DWORD code, const void* address) noexcept;
    // Windows of code that faulted keep the default handling for good.
    void Orphan() noexcept;

    std::vector<HWND> windows_;
    bool faulted_ = false;
    bool faultTaken_ = true;
    DWORD code_ = 0;
    const void* address_ = nullptr;
    int watching_ = 0;
};

}  // namespace ui
