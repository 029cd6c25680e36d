// The window that receives each captured picture.
#pragma once

#include "ui/Forms.h"

class TAfterScreenShotWindow : public ui::TForm {
public:
    TAfterScreenShotWindow();

    ui::TImage& ScreenShot = Ctl<ui::TImage>("ScreenShot");
    ui::TButton& btnClose = Ctl<ui::TButton>("btnClose");

    void btnCloseClick();
};

extern TAfterScreenShotWindow* AfterScreenShotWindow;
