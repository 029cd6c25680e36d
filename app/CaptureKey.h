// The global key that starts a capture: held while the program runs, named
// for people, and checked against Windows keeping Print Screen for itself.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What the user is told when the key cannot start a capture.
struct CaptureKeyNotice {
    std::string Title;
    std::string Text;
};

// The key registered for one window. A key of 0 registers nothing.
class TCaptureKey {
public:
    TCaptureKey(HWND target, int id) : target_(target), id_(id) {}
    TCaptureKey(const TCaptureKey&) = delete;
    TCaptureKey& operator=(const TCaptureKey&) = delete;
    ~TCaptureKey() { Release(); }

    // Holds hotkey (low byte the virtual key, high byte HOTKEYF_*) instead
    // of the key held so far; a key the settings do not allow holds nothing.
    // Gives what the user should be told when it cannot capture, the first
    // time only for each key in a run: trying the same key again must not
    // repeat it.
    bool Apply(WORD hotkey, CaptureKeyNotice& notice);
    WORD Key() const { return key_; }
    bool Registered() const { return registered_; }

private:
    void Release();
    // True the first time a notice is due for this key in this run.
    bool Tell(WORD hotkey);

    HWND target_;
    int id_;
    WORD key_ = 0;
    bool registered_ = false;
    std::vector<WORD> told_;
};

// "Print Screen", "Ctrl+Shift+F9": a key as the keyboard and the balloon
// name it.
std::string HotkeyName(WORD hotkey);

// Windows 11 opens its own snipping on Print Screen when this is set.
bool SnippingTakesPrintScreen();
