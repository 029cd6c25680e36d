#include "app/KestrixWindow.h"

#include "about/AboutUnit.h"
#include "app/CaptureKey.h"
#include "settings/KestrixOptionsUnit.h"
#include "settings/SettingsStore.h"
#include "ui/BitmapFile.h"
#include "ui/Exception.h"
#include "wizard/AfterScreenShotWindowUnit.h"
#include "wizard/PictureWizardRun.h"
#include "wizard/RecoveryStore.h"

#include <shellapi.h>
#include <windowsx.h>


using namespace ui;

TKestrixWnd* KestrixWnd = nullptr;

namespace {

// The identifier of the capture key among the tray window's hot keys.
constexpr int kCaptureKeyId = 1;

const FormLayout kForm = {
    "TKestrixWnd", "KestrixWnd", 294, 202, 563, 342, bsNone, fsStayOnTop, poDesigned,
    {"MS Sans Serif", -11},
};

const TControlLayout kControls[] = {
    {ckImage, "Image", nullptr, 0, 0, 563, 342, "", -1, loAlignClient},
};

// Creates a dialog into its slot, runs it modally and destroys it whatever
// happens, trimming the working set afterwards. It opens where the tray
// icon is, at that monitor's DPI.
template <class T>
void RunDialog(T*& slot) {
    std::unique_ptr<T> form = MakeFormOn<T>(TrayMonitor());
    slot = form.get();
    ScopeExit cleanup([&] {
        form.reset();
        slot = nullptr;
        TrimWorkingSet();
    });
    form->ShowModal();
}

}  // namespace

TKestrixWnd::TKestrixWnd()
    : TForm(kForm, kControls),
      GetScreenshot1(TrayMenu.Add({"Get Screenshot!", [this] { GetScreenshot1Click(); }, true})),
      N1(TrayMenu.Add({"-"})),
      Options1(TrayMenu.Add({"Options...", [this] { Options1Click(); }})),
      About1(TrayMenu.Add({"About...", [this] { About1Click(); }})),
      Exit1(TrayMenu.Add({"Exit", [this] { Exit1Click(); }})) {
    // Esc ends a capture through the key press; there are no dialog keys.
    DialogKeys = false;
    // It covers the screens in their physical pixels on every monitor.
    FollowDpiChanges = false;
    Image.Stretch = true;
    Image.OnMouseDown = [this](TControl* s, TMouseButton b, TShiftState sh, int x, int y) {
        ImageMouseDown(s, b, sh, x, y);
    };
    Image.OnMouseMove = [this](TControl* s, TShiftState sh, int x, int y) {
        ImageMouseMove(s, sh, x, y);
    };
    Image.OnMouseUp = [this](TControl* s, TMouseButton b, TShiftState sh, int x, int y) {
        ImageMouseUp(s, b, sh, x, y);
    };
    OnKeyPress = [this](char& key) { FormKeyPress(key); };
    overlay_.OnHandOver = [this](TBitmap& picture, HMONITOR monitor) { HandOver(picture, monitor); };

    DoCreate([this] { FormCreate(); });
}

TKestrixWnd::~TKestrixWnd() { Guarded([this] { FormDestroy(); }); }

void TKestrixWnd::FormCreate() {
    FIconData.cbSize = sizeof(FIconData);
    FIconData.hWnd = AllocateHWnd([this](TMessage& m) { TrayWndProc(m); });
    FIconData.uID = 0;
    FIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    FIconData.uCallbackMessage = WM_TRAYICON;
    FIconData.hIcon = Application.Icon();
    lstrcpynA(FIconData.szTip, Application.Title().c_str(), sizeof(FIconData.szTip));
    taskbarCreated_ = ::RegisterWindowMessageA("TaskbarCreated");
    NotifyIcon(NIM_ADD);
    captureKey_ = std::make_unique<TCaptureKey>(FIconData.hWnd, kCaptureKeyId);
    ApplyCaptureKey();
    TrimWorkingSet();
}

void TKestrixWnd::FormDestroy() {
    captureKey_.reset();
    NotifyIcon(NIM_DELETE);
    if (FIconData.hWnd) DeallocateHWnd(FIconData.hWnd);
    FIconData.hWnd = nullptr;
}

void TKestrixWnd::NotifyIcon(DWORD action) {
    // The outcome is not examined: without an icon the program runs on.
    ::Shell_NotifyIconA(action, reinterpret_cast<NOTIFYICONDATAA*>(&FIconData));
}

void TKestrixWnd::ApplyCaptureKey() {
    CaptureKeyNotice notice;
    if (captureKey_ && captureKey_->Apply(ReadCaptureHotkey(), notice))
        ShowBalloon(notice.Title, notice.Text);
}

void TKestrixWnd::ShowBalloon(const std::string& title, const std::string& text) {
    balloon_ = {};
    balloon_.cbSize = NOTIFYICONDATAA_V2_SIZE;
    balloon_.hWnd = FIconData.hWnd;
    balloon_.uID = FIconData.uID;
    balloon_.uFlags = NIF_INFO;
    lstrcpynA(balloon_.szInfo, text.c_str(), sizeof(balloon_.szInfo));
    lstrcpynA(balloon_.szInfoTitle, title.c_str(), sizeof(balloon_.szInfoTitle));
    balloon_.uTimeout = 30000;
    balloon_.dwInfoFlags = NIIF_WARNING;
    // As the icon itself: without a shell to show it the program runs on.
    ::Shell_NotifyIconA(NIM_MODIFY, &balloon_);
    ++balloonsShown_;
}

void TKestrixWnd::TrayWndProc(TMessage& Message) {
    if (Message.Msg == WM_HOTKEY && Message.WParam == kCaptureKeyId) {
        if (!BringOpenDialogForward()) TakeScreenshot();
        return;
    }
    if (Message.Msg == WM_TRAYICON) {
        switch (Message.LParam) {
            case WM_LBUTTONDBLCLK:
                if (!BringOpenDialogForward()) TakeScreenshot();
                break;
            case WM_RBUTTONUP: {
                POINT pt{};
                ::GetCursorPos(&pt);
                TrayMenu.Popup(pt.x, pt.y);
                break;
            }
            default:
                break;
        }
        return;
    }
    if (Message.Msg == WM_BRINGBACK) {
        if (!BringOpenDialogForward()) BringBackNow();
        return;
    }
    if (taskbarCreated_ && Message.Msg == taskbarCreated_) {
        // Explorer restarted and forgot the icon.
        NotifyIcon(NIM_ADD);
        return;
    }
    Message.Result = ::DefWindowProcA(FIconData.hWnd, Message.Msg, Message.WParam, Message.LParam);
}

bool TKestrixWnd::BringOpenDialogForward() {
    TForm* open = nullptr;
    if (AfterScreenShotWindow) open = AfterScreenShotWindow;
    else if (KestrixOptions) open = KestrixOptions;
    else if (AboutWindow) open = AboutWindow;
    if (!open) return false;
    ::SetForegroundWindow(open->Handle());
    return true;
}

void TKestrixWnd::GetScreenshot1Click() {
    if (!BringOpenDialogForward()) TakeScreenshot();
}

void TKestrixWnd::Options1Click() {
    if (BringOpenDialogForward()) return;
    RunDialog(KestrixOptions);
    // OK stored a key; after Cancel the stored one is the one held.
    ApplyCaptureKey();
}

void TKestrixWnd::About1Click() {
    if (!BringOpenDialogForward()) RunDialog(AboutWindow);
}

void TKestrixWnd::Exit1Click() { Close(); }

// ---- capture ----

void TKestrixWnd::TakeScreenshot() { overlay_.TakeScreenshot(); }

void TKestrixWnd::ImageMouseDown(TControl*, TMouseButton, TShiftState, int X, int Y) {
    overlay_.ImageMouseDown(X, Y);
}

void TKestrixWnd::ImageMouseMove(TControl*, TShiftState, int X, int Y) {
    overlay_.ImageMouseMove(X, Y);
}

void TKestrixWnd::ImageMouseUp(TControl*, TMouseButton, TShiftState, int, int) {
    overlay_.ImageMouseUp();
}

void TKestrixWnd::HandOver(TBitmap& picture, HMONITOR monitor) {
    RunPictureWizard(picture, nullptr, monitor);
}

void TKestrixWnd::BringBackKeptPictures() {
    ::PostMessageA(FIconData.hWnd, WM_BRINGBACK, 0, 0);
}

void TKestrixWnd::BringBackNow() {
    for (const TKeptPicture& kept : KeptPictures()) {
        if (Application.Terminated()) return;
        TBitmap picture;
        try {
            LoadBitmapFile(kept.Path, picture);
        } catch (const std::exception& e) {
            std::string text = std::string(e.what()) + ".";
            try {
                text += " It was moved to " + Quoted(SetKeptPictureAside(kept.Path)) + ".";
            } catch (const std::exception& aside) {
                text += " " + std::string(aside.what());
            }
            Application.HandleException(Exception(text));
            continue;
        }
        std::string text = "Kestrix kept a picture from a run that ended unexpectedly";
        if (!kept.Plugin.empty()) text += " while the plug-in \"" + kept.Plugin + "\" was running";
        text += ". It opens now, so that you can finish with it.";
        Application.MessageBox(text, MB_OK | MB_ICONINFORMATION);
        RunPictureWizard(picture, &kept, TrayMonitor());
    }
}

void TKestrixWnd::DrawSelection() { overlay_.DrawSelection(); }

void TKestrixWnd::EraseSelection() { overlay_.EraseSelection(); }

void TKestrixWnd::FormKeyPress(char& Key) {
    if (Key == 27) Hide();
}

void TKestrixWnd::EndCapture() { overlay_.EndCapture(); }

bool TKestrixWnd::WndProc(TMessage& msg) {
    if (msg.Msg == WM_ENDSESSION && msg.WParam) {
        // The process may be ended as soon as this returns.
        KeepWizardPictureForSessionEnd();
        return false;
    }
    if (msg.Msg == WM_ACTIVATE && LOWORD(msg.WParam) == WA_INACTIVE) {
        EndCapture();
        return false;
    }
    if (msg.Msg == WM_SHOWWINDOW && msg.WParam == FALSE && Capturing()) {
        // Hidden without ever having been active (the system may refuse the
        // foreground): the capture ends all the same.
        ::PostMessageA(Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
        return false;
    }
    if (msg.Msg == WM_MOUSEWHEEL && Capturing()) {
        overlay_.MouseWheel(GET_WHEEL_DELTA_WPARAM(msg.WParam),
                            POINT{GET_X_LPARAM(msg.LParam), GET_Y_LPARAM(msg.LParam)});
        msg.Result = 0;
        return true;
    }
    if (msg.Msg == WM_ERASEBKGND) {
        // The image covers the whole client area: filling it first would
        // only cost time on every capture.
        msg.Result = 1;
        return true;
    }
    return TForm::WndProc(msg);
}
