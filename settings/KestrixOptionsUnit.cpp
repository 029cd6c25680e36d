#include "settings/KestrixOptionsUnit.h"

using namespace ui;

TKestrixOptions* KestrixOptions = nullptr;

namespace {
const FormLayout kLayout = {
    "TKestrixOptions", "Kestrix Options", 0, 0, 360, 200, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11}, CLR_INVALID,
};
}

TKestrixOptions::TKestrixOptions()
    : TForm(kLayout), btnClose(*this, "Close", 277, 167, 75, 25, true) {
    btnClose.OnClick = [this](TControl*) { btnCloseClick(); };
    DefaultButton = &btnClose;
    CancelButton = &btnClose;
    DoCreate(nullptr);
}

TKestrixOptions::~TKestrixOptions() { DoDestroy(nullptr); }

void TKestrixOptions::btnCloseClick() { Close(); }
