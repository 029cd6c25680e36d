#include "about/AboutUnit.h"

using namespace ui;

TAboutWindow* AboutWindow = nullptr;

namespace {
const FormLayout kLayout = {
    "TAboutWindow", "About Kestrix", 0, 0, 360, 178, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11}, CLR_INVALID,
};
}

TAboutWindow::TAboutWindow()
    : TForm(kLayout), btnClose(*this, "Close", 147, 145, 75, 25, true) {
    btnClose.ModalResult = mrOk;
    btnClose.OnClick = [this](TControl*) { btnCloseClick(); };
    DefaultButton = &btnClose;
    CancelButton = &btnClose;
    DoCreate(nullptr);
}

TAboutWindow::~TAboutWindow() { DoDestroy(nullptr); }

void TAboutWindow::btnCloseClick() { Close(); }
