#include "ui/Dialogs.h"

#include "ui/Exception.h"
#include "ui/Forms.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace ui {

namespace {
// The common dialogs' library comes in when a dialog first opens: the idle
// program never needs it. Once in, it stays for the process's life.
HMODULE CommonDialogs() {
    static const HMODULE library = ::LoadLibraryW(L"comdlg32.dll");
    return library;
}

template <class F>
F CommonDialogEntry(const char* name) {
    FARPROC entry = CommonDialogs() ? ::GetProcAddress(CommonDialogs(), name) : nullptr;
    if (!entry) throw Exception(std::string("The common dialogs cannot be shown: ") + name + " is missing");
    return reinterpret_cast<F>(entry);
}
}  // namespace

std::function<void(HWND)> TCommonDialog::ShowHook;

UINT_PTR CALLBACK TCommonDialog::HookProc(HWND dialog, UINT msg, WPARAM, LPARAM) noexcept {
    if (msg == WM_INITDIALOG) {
        Guarded([&] {
            if (ShowHook) ShowHook(dialog);
        });
        // The dialog sets the focus as usual.
        return TRUE;
    }
    return 0;
}

void TCommonDialog::RaiseIfFailed(const char* dialog) {
    DWORD error = CommonDialogEntry<DWORD(WINAPI*)()>("CommDlgExtendedError")();
    if (error == 0) return;
    char code[16];
    std::snprintf(code, sizeof code, "0x%04lX", static_cast<unsigned long>(error));
    throw Exception(std::string("The ") + dialog + " dialog could not be shown (error " + code +
                    ")");
}

TColorDialog::TColorDialog() { std::fill(std::begin(CustomColors), std::end(CustomColors), clWhite); }

bool TColorDialog::Execute() {
    CHOOSECOLORA cc = {};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = ::GetActiveWindow();
    COLORREF rgb = ColorToRGB(Color);
    cc.rgbResult = rgb == CLR_INVALID ? 0 : rgb;
    cc.lpCustColors = CustomColors;
    cc.Flags = CC_RGBINIT | CC_ENABLEHOOK;
    cc.lpfnHook = HookProc;
    if (!CommonDialogEntry<BOOL(WINAPI*)(CHOOSECOLORA*)>("ChooseColorA")(&cc)) {
        RaiseIfFailed("colour");
        return false;
    }
    Color = cc.rgbResult;
    return true;
}

bool TFontDialog::Execute() {
    LOGFONTA lf = Font.LogFont();
    CHOOSEFONTA cf = {};
    cf.lStructSize = sizeof cf;
    cf.hwndOwner = ::GetActiveWindow();
    cf.lpLogFont = &lf;
    cf.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT | CF_ENABLEHOOK;
    COLORREF rgb = ColorToRGB(Font.Color());
    cf.rgbColors = rgb == CLR_INVALID ? 0 : rgb;
    cf.lpfnHook = HookProc;
    if (!CommonDialogEntry<BOOL(WINAPI*)(CHOOSEFONTA*)>("ChooseFontA")(&cf)) {
        RaiseIfFailed("font");
        return false;
    }
    Font.SetLogFont(lf);
    Font.SetColor(cf.rgbColors);
    return true;
}

}  // namespace ui
