// The window that receives each captured picture.
#pragma once

#include "ui/Forms.h"

class TAfterScreenShotWindow : public ui::TForm {
public:
    TAfterScreenShotWindow();
    ~TAfterScreenShotWindow() override;

    ui::TImage ScreenShot;
    ui::TButton btnClose;

    void btnCloseClick();
};

extern TAfterScreenShotWindow* AfterScreenShotWindow;
