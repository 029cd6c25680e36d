#include "about/AboutUnit.h"

#include "about/VerInfo.h"

#include <shellapi.h>

using namespace ui;

TAboutWindow* AboutWindow = nullptr;
const char kHomePage[] = "https://www.orvane.example/kestrix";

namespace {
const FormLayout kLayout = {
    "TAboutWindow", "About Kestrix", 0, 0, 360, 178, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11}, CLR_INVALID,
};
}

TAboutWindow::TAboutWindow()
    : TForm(kLayout),
      Image(*this, 0, 0, 360, 90),
      Bevel1(*this, 0, 90, 360, 2, bsTopLine),
      Label1(*this, "Version:", 7, 99),
      lbVersion(*this, "...", 46, 99),
      Label2(*this, "Download more plugins:", 7, 122),
      Label3(*this, kHomePage, 123, 122),
      btnClose(*this, "Close", 147, 145, 75, 25, true) {
    Image.Align = alTop;
    Image.AutoSize = true;
    // The banner is 360 x 90, 256 colours; without it the image stays blank.
    Image.Picture.Bitmap().LoadFromResourceName(::GetModuleHandleA(nullptr), "BANNER");
    Image.Invalidate();
    AddControl(&Image);
    Bevel1.Align = alTop;
    AddControl(&Bevel1);

    Label3.FontColor = clBlue;
    Label3.SetUnderline();
    Label3.SetCursor(crHandPoint);
    Label3.OnClick = [this](TControl*) { Label3Click(); };

    btnClose.ModalResult = mrOk;
    btnClose.OnClick = [this](TControl*) { btnCloseClick(); };
    DefaultButton = &btnClose;
    CancelButton = &btnClose;
    OnShow = [this] { ::SetFocus(btnClose.Handle()); };
    DoCreate([this] { FormCreate(); });
}

TAboutWindow::~TAboutWindow() { DoDestroy(nullptr); }

void TAboutWindow::FormCreate() {
    TVersionInfo info(Application.ExeName());
    lbVersion.SetCaption(info.GetFileVersion());
    lbVersion.AutoSize();
}

void TAboutWindow::Label3Click() {
    // Whatever the shell makes of it, the window stays open and says nothing.
    ::ShellExecuteA(Handle(), "open", kHomePage, nullptr, nullptr, SW_SHOW);
}

void TAboutWindow::btnCloseClick() { Close(); }
