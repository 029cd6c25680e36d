// The wizard that receives each captured picture: retouch it, choose
// plug-ins, let each take its options and process the picture, and decide
// whether the picture stays in the clipboard.
#pragma once

#include "plugins/KestrixCommUnit.h"
#include "plugins/PluginSession.h"
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


// The pages, in the notebook's order.
enum class WizardPage : int { Preview = 0, ChoosePlugins = 1, ExecutePlugins = 2, Report = 3 };

class TAfterScreenShotWindow : public ui::TForm {
public:
    // With a recovery entry, the picture's copy on disk is kept up to date
    // for as long as the wizard runs. A picture kept by an earlier run
    // opens on the editor, quick mode or not; when earlier openings of it
    // never came to an end, the plug-in named in its note, and after that
    // every plug-in, is left uncalled.
    explicit TAfterScreenShotWindow(std::unique_ptr<TRecoveryEntry> recovery = nullptr,
                                    const TKeptPicture* kept = nullptr);
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
    // The plug-in whose options page 2 shows, and every call into it.
    TPluginSession PluginSession{PluginContainer};
    // Page 3: the end.
    ui::TCheckBox& cbLeaveInClipboard = Ctl<ui::TCheckBox>("cbLeaveInClipboard");
    ui::TLabel& Label8 = Ctl<ui::TLabel>("Label8");
    ui::TTimer Timer;

    // Read when the wizard is created.
    bool QuickModeOn = false;
    // Row of the plug-in whose options are on page 2, or -1.
    int CurrentPluginIndex = -1;
    // The instance that page 2 will execute.
    ui::ComPtr<IKestrixPlugin>& CurrentPlugin = PluginSession.Plugin;

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
    // The same at the end of the session, where nothing may be shown.
    void KeepForSessionEnd() noexcept;

private:
    void KeepPicture() noexcept;
    void NoteCall(const std::string& plugin, const std::string& id, const char* call) noexcept;
    bool Dropped(int row) const;

    void LoadSettings();
    int NextCheckedPlugin(int after);
    void ShowPluginOptions(int index);
    bool RunCurrentPlugin();
    void SaveLeaveInClipboard();
    // Makes a page current; an index outside the pages is ignored.
    void GoToPage(int index);
    void GoToPage(WizardPage page) { GoToPage(static_cast<int>(page)); }
    WizardPage Page() const;
    void CloseWizard();

    ui::TBitmap& Picture() { return ScreenShot.Picture.Bitmap(); }

    // Settings that were never read are never written back.
    bool settingsRead_ = false;
    std::vector<PluginFailure> listFailures_;
    std::unique_ptr<TRecoveryEntry> recovery_;
    bool broughtBack_ = false;
    // What the earlier openings of a kept picture left: how many never
    // ended, and the plug-in call under way when the last one did not.
    TKeptPicture kept_;
    // Nothing is shown any more: the session is ending.
    bool quiet_ = false;
    // The picture changed since it was last written to disk.
    bool pictureDirty_ = false;
    bool keepFailed_ = false;
};

extern TAfterScreenShotWindow* AfterScreenShotWindow;

// Called once a wizard is gone: plug-in libraries that nothing has used
// for COM's usual delay are unloaded.
void FreeWizardLeftovers() noexcept;
