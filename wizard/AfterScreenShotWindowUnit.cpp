#include "wizard/AfterScreenShotWindowUnit.h"

using namespace ui;

TAfterScreenShotWindow* AfterScreenShotWindow = nullptr;

namespace {
const FormLayout kForm = {
    "TAfterScreenShotWindow", "Kestrix", 0, 0, 640, 480, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11},
};

const TControlLayout kControls[] = {
    {ckImage,  "ScreenShot", nullptr, 8,   8,   624, 424},
    {ckButton, "btnClose",   nullptr, 557, 447, 75,  25, "Close", 0, loDefault | loCancel},
};
}  // namespace

TAfterScreenShotWindow::TAfterScreenShotWindow() : TForm(kForm, kControls) {
    btnClose.OnClick = [this](TControl*) { btnCloseClick(); };
    DoCreate(nullptr);
}

void TAfterScreenShotWindow::btnCloseClick() { Close(); }
