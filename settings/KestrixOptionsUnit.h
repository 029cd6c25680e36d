// The settings dialog: autorun, quick mode, the capture key, the number of
// undo steps and the default plug-ins.
#pragma once

#include "controls/Spin.h"
#include "plugins/KestrixCommUnit.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"

class TKestrixOptions : public ui::TForm {
public:
    TKestrixOptions();

    ui::TCheckBox& cbStartWithWindows = Ctl<ui::TCheckBox>("cbStartWithWindows");
    ui::TCheckBox& cbQuickMode = Ctl<ui::TCheckBox>("cbQuickMode");
    ui::TLabel& CaptureKeyLabel = Ctl<ui::TLabel>("CaptureKeyLabel");
    ui::THotKey& CaptureKeyField = Ctl<ui::THotKey>("CaptureKeyField");
    ui::TLabel& Label2 = Ctl<ui::TLabel>("Label2");
    TSpinEdit& seBufferSteps = Ctl<TSpinEdit>("seBufferSteps");
    ui::TBevel& Bevel1 = Ctl<ui::TBevel>("Bevel1");
    ui::TLabel& Label1 = Ctl<ui::TLabel>("Label1");
    ui::TListView& ActionsView = Ctl<ui::TListView>("ActionsView");
    ui::TButton& Button1 = Ctl<ui::TButton>("Button1");
    ui::TButton& Button2 = Ctl<ui::TButton>("Button2");

    void FormCreate();
    void Button1Click();
    std::vector<PluginFailure> LoadPluginList();
    void LoadSettings();
    bool CheckQuickModePlugins();
};

extern TKestrixOptions* KestrixOptions;
