// The main form: the notification-area icon with its menu, and the
// full-screen surface on which a region of the frozen screen is selected.
#pragma once

#include "capture/CaptureOverlay.h"
#include "ui/Forms.h"
#include "ui/Menus.h"

#include <shellapi.h>

#include <memory>

// The callback message of the notification icon, in the private range.
constexpr UINT WM_TRAYICON = 45140;
// Opens the pictures an earlier run left behind, once the loop runs.
constexpr UINT WM_BRINGBACK = WM_APP + 0x4B1;

class TCaptureKey;

// NOTIFYICONDATA in its first, 88-byte layout: the one every shell accepts.
struct NotifyIconData88 {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[64];
};
static_assert(sizeof(NotifyIconData88) == 88, "the shell expects the 88-byte record");

class TKestrixWnd : public ui::TForm {
public:
    TKestrixWnd();
    ~TKestrixWnd() override;

    ui::TImage& Image = Ctl<ui::TImage>("Image");
    ui::TPopupMenu TrayMenu;
    // Items of TrayMenu, which keeps them in place as it grows.
    ui::TMenuItem& GetScreenshot1;
    ui::TMenuItem& N1;
    ui::TMenuItem& Options1;
    ui::TMenuItem& About1;
    ui::TMenuItem& Exit1;

    void FormCreate();
    void FormDestroy();
    void FormKeyPress(char& Key);
    void ImageMouseDown(ui::TControl* Sender, ui::TMouseButton Button, ui::TShiftState Shift,
                        int X, int Y);
    void ImageMouseMove(ui::TControl* Sender, ui::TShiftState Shift, int X, int Y);
    void ImageMouseUp(ui::TControl* Sender, ui::TMouseButton Button, ui::TShiftState Shift,
                      int X, int Y);
    void GetScreenshot1Click();
    void Options1Click();
    void About1Click();
    void Exit1Click();

    void TakeScreenshot();
    // Opens, one after another, the pictures that runs which ended
    // unexpectedly left in the recovery store; started from the loop.
    void BringBackKeptPictures();
    void DrawSelection();
    void EraseSelection();
    void EndCapture();

    // Registers the stored capture key in place of the one held; tells the
    // user once a run for each key that cannot start a capture.
    void ApplyCaptureKey();

    // What tests look at.
    const NotifyIconData88& IconData() const { return FIconData; }
    // The last balloon shown from the icon, and how many were shown.
    const NOTIFYICONDATAA& BalloonData() const { return balloon_; }
    int BalloonsShown() const { return balloonsShown_; }
    bool Capturing() const { return overlay_.Capturing(); }
    bool Selecting() const { return overlay_.Selecting(); }
    RECT SelectionRect() const { return overlay_.SelectionRect(); }

protected:
    bool WndProc(ui::TMessage& msg) override;

private:
    void NotifyIcon(DWORD action);
    void ShowBalloon(const std::string& title, const std::string& text);
    void TrayWndProc(ui::TMessage& Message);
    void HandOver(ui::TBitmap& picture, HMONITOR monitor);
    void BringBackNow();
    // While a dialog runs, tray requests bring it forward instead.
    bool BringOpenDialogForward();

    NotifyIconData88 FIconData{};
    // The frozen screen (FScreenBitmap), the selection (FStartX, FStartY,
    // FCurX, FCurY, FSelecting) and its band.
    TCaptureOverlay overlay_{*this, Image};
    UINT taskbarCreated_ = 0;
    std::unique_ptr<TCaptureKey> captureKey_;
    // The 488-byte layout: the first with the balloon's fields.
    NOTIFYICONDATAA balloon_{};
    int balloonsShown_ = 0;
};

extern TKestrixWnd* KestrixWnd;
