// The system's colour and font dialogs.
#pragma once

#include "ui/Graphics.h"

#include <functional>

namespace ui {

class TCommonDialog {
public:
    TCommonDialog() = default;
    TCommonDialog(const TCommonDialog&) = delete;
    TCommonDialog& operator=(const TCommonDialog&) = delete;
    virtual ~TCommonDialog() = default;

    // Runs the dialog modally over the active window; true when the user
    // confirmed, false when he cancelled. A dialog that cannot be shown
    // raises the program's error.
    virtual bool Execute() = 0;

    // Called with every dialog's window once it is set up, before it shows:
    // lets tests drive the dialogs the program opens itself.
    static std::function<void(HWND dialog)> ShowHook;

protected:
    static UINT_PTR CALLBACK HookProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    // After a dialog function returned false: nothing when the user
    // cancelled, the program's error when the dialog failed.
    static void RaiseIfFailed(const char* dialog);
};

class TColorDialog : public TCommonDialog {
public:
    TColorDialog();
    TColor Color = clBlack;
    // The user's own colours, kept from one run to the next; white at first.
    COLORREF CustomColors[16];
    bool Execute() override;
};

class TFontDialog : public TCommonDialog {
public:
    // Name, height, style, character set and colour.
    TFont Font;
    bool Execute() override;
};

}  // namespace ui
