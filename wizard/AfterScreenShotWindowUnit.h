// The wizard that receives each captured picture: retouch it, choose
// plug-ins, let each take its options and process the picture, and decide
// whether the picture stays in the clipboard.
#pragma once

#include "plugins/kestrix_TLB.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/OleCtnrs.h"
#include "ui/Timers.h"

#include <list>
#include <memory>

class TAfterScreenShotWindow : public ui::TForm {
public:
    TAfterScreenShotWindow();
    ~TAfterScreenShotWindow() override;

    ui::TNotebook& Notebook = Ctl<ui::TNotebook>("Notebook");
    ui::TButton& Back = Ctl<ui::TButton>("Back");
    ui::TButton& Next = Ctl<ui::TButton>("Next");
    ui::TButton& Finalize = Ctl<ui::TButton>("Finalize");
    // Page 0: the picture in its viewport.
    ui::TScrollBox& ScrollBox = Ctl<ui::TScrollBox>("ScrollBox");
    ui::TImage& ScreenShot = Ctl<ui::TImage>("ScreenShot");
    // Page 1: the plug-ins.
    ui::TListView& ActionsView = Ctl<ui::TListView>("ActionsView");
    ui::TLabel& Label9 = Ctl<ui::TLabel>("Label9");
    // Page 2: the current plug-in's options.
    ui::TOleContainer& PluginContainer = Ctl<ui::TOleContainer>("PluginContainer");
    // Page 3: the end.
    ui::TCheckBox& cbLeaveInClipboard = Ctl<ui::TCheckBox>("cbLeaveInClipboard");
    ui::TLabel& Label8 = Ctl<ui::TLabel>("Label8");
    ui::TTimer Timer;

    // Read when the wizard is created.
    bool QuickModeOn = false;
    int HistoryLimit = 0;
    // Row of the plug-in whose options are on page 2, or -1.
    int CurrentPluginIndex = -1;
    // The instance that page 2 will execute.
    ui::ComPtr<IKestrixPlugin> CurrentPlugin;

    // The editor's state, set up here.
    std::unique_ptr<ui::TBitmap> SaveUnderBitmap;
    ui::TEdit* TextBox = nullptr;
    bool Dragging = false;
    std::list<std::unique_ptr<ui::TBitmap>> History;

    void FormCreate();
    void TimerTimer();
    void NotebookPageChanged();
    void BackClick();
    void NextClick();
    void FinalizeClick();
    void Label9Click();
    void Label8Click();
    void PluginContainerEnter();
    void PluginContainerExit();
    void ActionsViewDeletion(ui::TListItem* Item);
    void FormClose(ui::TCloseAction& Action);
    void FormDestroy();

    // The address that Label8 opens.
    static const char kPluginsPage[];

private:
    void LoadPluginList();
    void LoadSettings();
    int NextCheckedPlugin(int after);
    void ShowPluginOptions(int index);
    bool RunCurrentPlugin();
    void SaveLeaveInClipboard();
    // The options object of page 2; raises when there is none.
    ui::ComPtr<IKestrixPluginOptions> PluginOptions();
    // Makes a page current; an index outside the pages is ignored.
    void GoToPage(int index);
    void CloseWizard();

    // The plug-in of CurrentPluginIndex is set up completely.
    bool pluginReady_ = false;
};

extern TAfterScreenShotWindow* AfterScreenShotWindow;
