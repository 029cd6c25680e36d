// The about window: banner, the program's file version and a link to the
// maker's home page.
#pragma once

#include "ui/ExtCtrls.h"
#include "ui/Forms.h"

// The maker's home page, where more plug-ins can be downloaded.
extern const char kHomePage[];

class TAboutWindow : public ui::TForm {
public:
    TAboutWindow();

    ui::TImage& Image = Ctl<ui::TImage>("Image");
    ui::TBevel& Bevel1 = Ctl<ui::TBevel>("Bevel1");
    ui::TLabel& Label1 = Ctl<ui::TLabel>("Label1");
    ui::TLabel& lbVersion = Ctl<ui::TLabel>("lbVersion");
    ui::TLabel& Label2 = Ctl<ui::TLabel>("Label2");
    ui::TLabel& Label3 = Ctl<ui::TLabel>("Label3");
    ui::TButton& btnClose = Ctl<ui::TButton>("btnClose");

    void FormCreate();
    void Label3Click();
    void btnCloseClick();
};

extern TAboutWindow* AboutWindow;
