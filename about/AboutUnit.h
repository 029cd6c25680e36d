// The about window.
#pragma once

#include "ui/Forms.h"

class TAboutWindow : public ui::TForm {
public:
    TAboutWindow();
    ~TAboutWindow() override;

    ui::TButton btnClose;

    void btnCloseClick();
};

extern TAboutWindow* AboutWindow;
