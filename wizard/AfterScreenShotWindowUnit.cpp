#include "wizard/AfterScreenShotWindowUnit.h"

using namespace ui;

TAfterScreenShotWindow* AfterScreenShotWindow = nullptr;

namespace {
const FormLayout kLayout = {
    "TAfterScreenShotWindow", "Kestrix", 0, 0, 640, 480, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11}, CLR_INVALID,
};
}

TAfterScreenShotWindow::TAfterScreenShotWindow()
    : TForm(kLayout),
      ScreenShot(*this, 8, 8, 624, 424),
      btnClose(*this, "Close", 557, 447, 75, 25, true) {
    btnClose.OnClick = [this](TControl*) { btnCloseClick(); };
    DefaultButton = &btnClose;
    CancelButton = &btnClose;
    DoCreate(nullptr);
}

TAfterScreenShotWindow::~TAfterScreenShotWindow() { DoDestroy(nullptr); }

void TAfterScreenShotWindow::btnCloseClick() { Close(); }
