#include "about/AboutUnit.h"

#include "about/VerInfo.h"

#include <shellapi.h>

using namespace ui;

TAboutWindow* AboutWindow = nullptr;
const char kHomePage[] = "https://www.orvane.example/kestrix";

namespace {
const FormLayout kForm = {
    "TAboutWindow", "About Kestrix", 0, 0, 360, 178, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11},
};

const TControlLayout kControls[] = {
    // kind      name         parent   left top  w    h   text
    {ckImage,    "Image",     nullptr, 0,   0,   360, 90, "", -1, loAlignTop},
    {ckBevel,    "Bevel1",    nullptr, 0,   90,  360, 2,  "", -1, loAlignTop},
    {ckLabel,    "Label1",    nullptr, 7,   99,  0,   0,  "Version:"},
    {ckLabel,    "lbVersion", nullptr, 46,  99,  0,   0,  "...", -1, loAfter(1)},
    {ckLabel,    "Label2",    nullptr, 7,   122, 0,   0,  "Download more plugins:"},
    {ckLabel,    "Label3",    nullptr, 123, 122, 0,   0,  kHomePage, -1, loLink | loAfter(3)},
    {ckButton,   "btnClose",  nullptr, 147, 145, 75,  25, "Close", 0, loDefault | loCancel, mrOk},
};
}  // namespace

TAboutWindow::TAboutWindow() : TForm(kForm, kControls) {
    Image.AutoSize = true;
    // The banner is 360 x 90, 256 colours; without it the image stays blank.
    Image.Picture.Bitmap().LoadFromResourceName(::GetModuleHandleA(nullptr), "BANNER");
    Image.Invalidate();
    Label3.OnClick = [this](TControl*) { Label3Click(); };
    btnClose.OnClick = [this](TControl*) { btnCloseClick(); };
    DoCreate([this] { FormCreate(); });
}


void TAboutWindow::FormCreate() {
    TVersionInfo info(Application.ExeName());
    lbVersion.SetCaption(info.GetFileVersion());
}

void TAboutWindow::Label3Click() {
    // Whatever the shell makes of it, the window stays open and says nothing.
    ::ShellExecuteA(Handle(), "open", kHomePage, nullptr, nullptr, SW_SHOW);
}

void TAboutWindow::btnCloseClick() { Close(); }
