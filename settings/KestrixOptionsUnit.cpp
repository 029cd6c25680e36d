#include "settings/KestrixOptionsUnit.h"

using namespace ui;

TKestrixOptions* KestrixOptions = nullptr;

namespace {
const FormLayout kForm = {
    "TKestrixOptions", "Kestrix Options", 0, 0, 360, 200, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11},
};
const TControlLayout kControls[] = {
    {ckButton, "btnClose", nullptr, 277, 167, 75, 25, "Close", 0, loDefault | loCancel},
};
}  // namespace

TKestrixOptions::TKestrixOptions() : TForm(kForm, kControls) {
    btnClose.OnClick = [this](TControl*) { btnCloseClick(); };
    DoCreate(nullptr);
}

void TKestrixOptions::btnCloseClick() { Close(); }
