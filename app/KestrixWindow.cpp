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

#include <algorithm>
#include <cstring>

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

// Paints black, in a picture of the virtual screen, what no monitor shows:
// the screen's device context gives whatever lies there, which no user saw.
void BlackenUncovered(HDC picture, const RECT& desktop) {
    GdiRegion uncovered(
        ::CreateRectRgn(0, 0, desktop.right - desktop.left, desktop.bottom - desktop.top));
    if (!uncovered) RaiseLastOSError();
    for (RECT m : Screen.MonitorRects()) {
        ::OffsetRect(&m, -desktop.left, -desktop.top);
        GdiRegion shown(::CreateRectRgnIndirect(&m));
        if (!shown) RaiseLastOSError();
        ::CombineRgn(uncovered.get(), uncovered.get(), shown.get(), RGN_DIFF);
    }
    ::FillRgn(picture, uncovered.get(), static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
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
    FScreenBitmap.reset();
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

void TKestrixWnd::TakeScreenshot() {
    // A capture already up stays as it is: a second copy would contain it.
    if (Visible()) return;
    FScreenBitmap.reset();
    // Every monitor at once, one screen pixel to one picture pixel: the
    // window's client coordinates are the picture's.
    const RECT desktop = Screen.DesktopRect();
    const int w = desktop.right - desktop.left, h = desktop.bottom - desktop.top;
    FScreenBitmap = std::make_unique<TBitmap>(w, h);
    {
        WindowDc screen(nullptr);
        if (!screen) RaiseLastOSError();
        {
            TCanvas::Lease dest(FScreenBitmap->Canvas());
            ::BitBlt(dest.get(), 0, 0, w, h, screen.get(), desktop.left, desktop.top, SRCCOPY);
            BlackenUncovered(dest.get(), desktop);
        }
        SetBounds(desktop.left, desktop.top, w, h);
        FSelecting = false;
        Show();
        Image.Picture.Bitmap().Assign(*FScreenBitmap);
        // Paint now, so that the frozen copy covers the screen at once.
        ::RedrawWindow(Image.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        Screen.SetCursor(crCross);
    }
}

RECT TKestrixWnd::SelectionRect() const {
    return RECT{std::min(FStartX, FCurX), std::min(FStartY, FCurY), std::max(FStartX, FCurX),
                std::max(FStartY, FCurY)};
}

void TKestrixWnd::ImageMouseDown(TControl*, TMouseButton, TShiftState, int X, int Y) {
    if (!FScreenBitmap) return;
    FStartX = FCurX = X;
    FStartY = FCurY = Y;
    FSelecting = true;
    DrawSelection();
}

void TKestrixWnd::ImageMouseMove(TControl*, TShiftState, int X, int Y) {
    if (!FSelecting) return;
    EraseSelection();
    FCurX = X;
    FCurY = Y;
    DrawSelection();
}

void TKestrixWnd::ImageMouseUp(TControl*, TMouseButton, TShiftState, int, int) {
    // A release without a press of this capture (or after it ended) has no
    // rectangle to hand over.
    if (!FSelecting || !FScreenBitmap) return;
    EraseSelection();
    FSelecting = false;
    HandOver(SelectionRect());
}

void TKestrixWnd::HandOver(const RECT& sel) {
    // The picture leaves the capture first: anything that runs a message
    // loop from here on (a message in the wizard's creation) may end the
    // capture and free its bitmaps.
    const int w = sel.right - sel.left, h = sel.bottom - sel.top;
    // The wizard opens on the monitor that holds most of the selection.
    RECT onScreen = sel, capture{};
    ::GetWindowRect(Handle(), &capture);
    ::OffsetRect(&onScreen, capture.left, capture.top);
    const HMONITOR monitor = ::MonitorFromRect(&onScreen, MONITOR_DEFAULTTONEAREST);
    TBitmap picture(w, h, FScreenBitmap->PixelFormat());
    if (w > 0 && h > 0) {
        TCanvas::Lease dest(picture.Canvas());
        TCanvas::Lease frozen(Image.Picture.Bitmap().Canvas(), true);
        ::BitBlt(dest.get(), 0, 0, w, h, frozen.get(), sel.left, sel.top, SRCCOPY);
    }
    EndCapture();
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

void TKestrixWnd::DrawSelection() { Canvas().DrawFocusRect(SelectionRect()); }

void TKestrixWnd::EraseSelection() {
    RECT r = SelectionRect();
    ::InflateRect(&r, 1, 1);
    // The band lies on the rectangle's edges only: restoring the four edge
    // strips of the grown rectangle looks the same as restoring all of it
    // and costs the perimeter instead of the area. The system draws the
    // band as wide as its focus border (wider at a high DPI); each strip
    // covers that and the one pixel the rectangle was grown by.
    UINT borderX = 1, borderY = 1;
    ::SystemParametersInfoA(SPI_GETFOCUSBORDERWIDTH, 0, &borderX, 0);
    ::SystemParametersInfoA(SPI_GETFOCUSBORDERHEIGHT, 0, &borderY, 0);
    const int w = static_cast<int>(borderX) + 1, h = static_cast<int>(borderY) + 1;
    const RECT strips[] = {
        {r.left, r.top, r.right, std::min(r.top + h, r.bottom)},
        {r.left, std::max(r.bottom - h, r.top), r.right, r.bottom},
        {r.left, r.top, std::min(r.left + w, r.right), r.bottom},
        {std::max(r.right - w, r.left), r.top, r.right, r.bottom},
    };
    TCanvas& frozen = Image.Picture.Bitmap().Canvas();
    for (const RECT& s : strips) Canvas().CopyRect(s, frozen, s);
}

void TKestrixWnd::FormKeyPress(char& Key) {
    if (Key == 27) Hide();
}

void TKestrixWnd::EndCapture() {
    Screen.SetCursor(crDefault);
    Hide();
    if (::GetCapture() == Image.Handle()) ::ReleaseCapture();
    FSelecting = false;
    Image.Picture.Bitmap().FreeImage();
    if (FScreenBitmap) FScreenBitmap->FreeImage();
    FScreenBitmap.reset();
}

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
    if (msg.Msg == WM_SHOWWINDOW && msg.WParam == FALSE && FScreenBitmap) {
        // Hidden without ever having been active (the system may refuse the
        // foreground): the capture ends all the same.
        ::PostMessageA(Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
        return false;
    }
    if (msg.Msg == WM_ERASEBKGND) {
        // The image covers the whole client area: filling it first would
        // only cost time on every capture.
        msg.Result = 1;
        return true;
    }
    return TForm::WndProc(msg);
}
