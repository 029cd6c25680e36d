// The wizard that receives each captured picture: retouch it, choose
// plug-ins, let each take its options and process the picture, and decide
// whether the picture stays in the clipboard.
#pragma once

#include "plugins/KestrixCommUnit.h"
#include "plugins/kestrix_TLB.h"
#include "ui/ComCtrls.h"
#include "ui/Dialogs.h"
#include "ui/ExtCtrls.h"
#include "ui/ForeignCall.h"
#include "ui/Forms.h"
#include "ui/Menus.h"
#include "ui/OleCtnrs.h"
#include "ui/Timers.h"
#include "wizard/PictureEditor.h"
#include "wizard/RecoveryStore.h"

#include <memory>
#include <vector>


class TAfterScreenShotWindow : public ui::TForm {
public:
    // With a recovery entry, the picture's copy on disk is kept up to date
    // for as long as the wizard runs; one brought back from an earlier run
    // opens on the editor, quick mode or not.
    explicit TAfterScreenShotWindow(std::unique_ptr<TRecoveryEntry> recovery = nullptr,
                                    bool broughtBack = false);
    ~TAfterScreenShotWindow() override;

    ui::TNotebook& Notebook = Ctl<ui::TNotebook>("Notebook");
    ui::TButton& Back = Ctl<ui::TButton>("Back");
    ui::TButton& Next = Ctl<ui::TButton>("Next");
    ui::TButton& Finalize = Ctl<ui::TButton>("Finalize");
    // Page 0: the picture in its viewport.
    ui::TScrollBox& ScrollBox = Ctl<ui::TScrollBox>("ScrollBox");
    ui::TImage& ScreenShot = Ctl<ui::TImage>("ScreenShot");
    ui::TToolBar& ToolBar = Ctl<ui::TToolBar>("ToolBar");
    ui::TToolButton& tbMove = Ctl<ui::TToolButton>("tbMove");
    ui::TToolButton& tbPaint = Ctl<ui::TToolButton>("tbPaint");
    ui::TToolButton& tbLine = Ctl<ui::TToolButton>("tbLine");
    ui::TToolButton& tbEllipse = Ctl<ui::TToolButton>("tbEllipse");
    ui::TToolButton& tbSquare = Ctl<ui::TToolButton>("tbSquare");
    ui::TToolButton& tbText = Ctl<ui::TToolButton>("tbText");
    ui::TToolButton& tbSettings = Ctl<ui::TToolButton>("tbSettings");
    ui::TShape& PenColor = Ctl<ui::TShape>("PenColor");
    ui::TLabel& Label6 = Ctl<ui::TLabel>("Label6");
    ui::TColorDialog ColorDialog;
    ui::TFontDialog FontDialog;
    ui::TTimer FontClickTimer;
    ui::TPopupMenu FontClickPopup;
    ui::TMenuItem& FontSettings1 = FontClickPopup.Add({"Font Settings...", [this] { FontSettings1Click(); }});
    ui::TPopupMenu ImageInfoMenu;
    ui::TMenuItem& N1bit1 = ImageInfoMenu.Add({"1 bit", [this] { N1bit1Click(); }});
    ui::TMenuItem& N4bit1 = ImageInfoMenu.Add({"4 bit", [this] { N4bit1Click(); }});
    ui::TMenuItem& N9bit1 = ImageInfoMenu.Add({"8 bit", [this] { N9bit1Click(); }});
    ui::TMenuItem& N15bit1 = ImageInfoMenu.Add({"15 bit", [this] { N15bit1Click(); }});
    ui::TMenuItem& N16bit1 = ImageInfoMenu.Add({"16 bit", [this] { N16bit1Click(); }});
    ui::TMenuItem& N24bit1 = ImageInfoMenu.Add({"24 bit", [this] { N24bit1Click(); }});
    ui::TMenuItem& N32bit1 = ImageInfoMenu.Add({"32 bit", [this] { N32bit1Click(); }});
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
    // Row of the plug-in whose options are on page 2, or -1.
    int CurrentPluginIndex = -1;
    // The instance that page 2 will execute.
    ui::ComPtr<IKestrixPlugin> CurrentPlugin;

    // The picture editor of page 0; its undo history's limit is read with
    // the other settings.
    TPictureEditor Editor{EditorControls{*this, ScrollBox, ScreenShot, ToolBar, tbMove, tbPaint, tbLine,
                                         tbEllipse, tbSquare, tbText, tbSettings, PenColor, ColorDialog,
                                         FontDialog, FontClickTimer, FontClickPopup, ImageInfoMenu}};

    void FormCreate();
    void TimerTimer();
    // Fills the plug-in page's list from the directory; the first tick does
    // it, once the wizard is on screen.
    void LoadPluginList();
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

    // The editor's handlers that belong to the form and its menus.
    void FormActivate();
    void FormKeyDown(WORD& Key, ui::TShiftState Shift);
    void FontSettings1Click();
    void Label6Click();
    void N1bit1Click();
    void N4bit1Click();
    void N9bit1Click();
    void N15bit1Click();
    void N16bit1Click();
    void N24bit1Click();
    void N32bit1Click();

    // The address that Label8 opens.
    static const char kPluginsPage[];

    // The program ends with the wizard open: the copy on disk is brought up
    // to date and the clipboard choice saved, so the next start has both.
    void KeepForQuit() noexcept;

private:
    // Runs a call into plug-in code: the picture is on disk first and the
    // call noted there. A fault in it turns the plug-in of row `row` off for
    // this picture and raises the message that says so; row -1 is the
    // plug-in that CurrentPlugin holds.
    template <class F>
    decltype(auto) PluginCall(int row, const char* call, F&& f);
    void KeepPicture() noexcept;
    void NoteCall(const std::string& plugin, const char* call) noexcept;
    [[noreturn]] void DropPlugin(int row, const ui::EForeignFault& fault);
    bool Dropped(int row) const;

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

    ui::TBitmap& Picture() { return ScreenShot.Picture.Bitmap(); }

    // The plug-in of CurrentPluginIndex is set up completely.
    bool pluginReady_ = false;
    // The row whose instance CurrentPlugin holds, or -1.
    int pluginRow_ = -1;
    // Settings that were never read are never written back.
    bool settingsRead_ = false;
    std::vector<PluginFailure> listFailures_;
    // Plug-ins that faulted: never called again for this picture.
    std::vector<CLSID> dropped_;
    std::unique_ptr<TRecoveryEntry> recovery_;
    bool broughtBack_ = false;
    // The picture changed since it was last written to disk.
    bool pictureDirty_ = false;
    bool keepFailed_ = false;
};

extern TAfterScreenShotWindow* AfterScreenShotWindow;

// Called once a wizard is gone: plug-in libraries that nothing has used
// for COM's usual delay are unloaded.
void FreeWizardLeftovers() noexcept;
