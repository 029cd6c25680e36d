// The settings dialog.
#pragma once

#include "ui/Forms.h"

class TKestrixOptions : public ui::TForm {
public:
    TKestrixOptions();

    ui::TButton& btnClose = Ctl<ui::TButton>("btnClose");

    void btnCloseClick();
};

extern TKestrixOptions* KestrixOptions;
