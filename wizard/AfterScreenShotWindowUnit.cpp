#include "wizard/AfterScreenShotWindowUnit.h"

#include "automation/ComObj.h"
#include "common/KestrixInc.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/PluginDirectory.h"
#include "settings/PluginListView.h"
#include "settings/SettingsStore.h"
#include "ui/BitmapFile.h"
#include "ui/Clipbrd.h"
#include "ui/Exception.h"
#include "ui/Strings.h"
#include "wizard/RecoveryStore.h"

#include <shellapi.h>

#include <algorithm>

using namespace ui;

TAfterScreenShotWindow* AfterScreenShotWindow = nullptr;

// The reserved example name, as the about window uses: no real site of anyone's.
const char TAfterScreenShotWindow::kPluginsPage[] = "https://www.orvane.example/kestrix/plugins/";

namespace {
const FormLayout kForm = {
    "TAfterScreenShotWindow", "What You want to do with this image?", 0, 0, 542, 306, bsDialog,
    fsNormal, poDesktopCenter, {"MS Sans Serif", -11}, clBtnFace, 0, true,
};

const TControlLayout kControls[] = {
    // kind       name                  parent            left top  w    h    text   tab
    {ckNotebook,  "Notebook",           nullptr,          0,   0,   542, 270, "",    0},
    {ckPage,      "Prevew",             "Notebook",       0,   0,   0,   0},
    {ckImage,     "SidePicture",        "Prevew",         0,   0,   149, 270},
    {ckPanel,     "EditorPanel",        "Prevew",         149, 0,   393, 270, "",    0, loNoBorder},
    // The viewport first: siblings made earlier lie on top of later ones.
    {ckScrollBox, "ScrollBox",          "EditorPanel",    5,   3,   359, 232, "",    0, loInfoColor | loNoBorder},
    {ckImage,     "ScreenShot",         "ScrollBox",      0,   0,   0,   0},
    {ckShape,     "PictureFrame",       "EditorPanel",    3,   1,   362, 236},
    {ckPanel,     "ToolbarPanel",       "EditorPanel",    368, -1,  23,  157, "",    -1, loWindowColor | loNoBorder},
    {ckToolBar,   "ToolBar",            "ToolbarPanel",   0,   2,   23,  155},
    {ckToolButton, "tbMove",            "ToolBar",        0,   0,   0,   0,   "",    -1, loGrouped | loChecked},
    {ckToolButton, "tbPaint",           "ToolBar",        0,   0,   0,   0,   "",    -1, loGrouped},
    {ckToolButton, "tbLine",            "ToolBar",        0,   0,   0,   0,   "",    -1, loGrouped},
    {ckToolButton, "tbEllipse",         "ToolBar",        0,   0,   0,   0,   "",    -1, loGrouped},
    {ckToolButton, "tbSquare",          "ToolBar",        0,   0,   0,   0,   "",    -1, loGrouped},
    {ckToolButton, "tbText",            "ToolBar",        0,   0,   0,   0,   "",    -1, loGrouped},
    {ckToolButton, "tbSettings",        "ToolBar",        0,   0,   0,   0},
    {ckShape,     "PenColor",           "EditorPanel",    368, 159, 22,  22},
    {ckLabel,     "Label1",             "EditorPanel",    5,   241, 0,   0,   "To do Step Backward - press"},
    {ckLabel,     "Label6",             "EditorPanel",    146, 241, 0,   0,   "Ctrl-Z", -1, loLink | loAfter(3)},
    {ckLabel,     "ContinueHint",       "EditorPanel",    5,   255, 0,   0,   "Click Next to continue."},

    {ckPage,      "ChoosePlugins",      "Notebook",       0,   0,   0,   0},
    {ckPanel,     "PluginsHeader",      "ChoosePlugins",  0,   0,   542, 57,  "",    -1, loWindowColor | loNoBorder},
    {ckLabel,     "PluginsTitle",       "PluginsHeader",  16,  8,   0,   0,
     "Select plugins to do something with grabbed image.", -1, loBold},
    {ckLabel,     "Label2",             "PluginsHeader",  32,  25,  490, 28,
     "You will see installed plugins. Please mark checkboxes of thouse plugins, which you want to "
     "use with grabbed image."},
    {ckBevel,     "PluginsHeaderRule",  "ChoosePlugins",  0,   57,  542, 2},
    {ckLabel,     "Label3",             "ChoosePlugins",  16,  67,  0,   0,
     "Please choose: what you want to do with this image?"},
    {ckListView,  "ActionsView",        "ChoosePlugins",  16,  84,  510, 152, "",    0},
    {ckLabel,     "SkipBefore",         "ChoosePlugins",  16,  244, 0,   0,   "or"},
    {ckLabel,     "Label9",             "ChoosePlugins",  32,  244, 0,   0,   "Skip", -1, loLink | loAfter(3)},
    {ckLabel,     "SkipAfter",          "ChoosePlugins",  60,  244, 0,   0,   "this pages.", -1, loAfter(3)},

    {ckPage,      "ExecutePlugins",     "Notebook",       0,   0,   0,   0},
    {ckOleContainer, "PluginContainer", "ExecutePlugins", 0,   0,   542, 270, "",    0, loAlignClient | loNoBorder},

    {ckPage,      "Report",             "Notebook",       0,   0,   0,   0},
    {ckPanel,     "ReportHeader",       "Report",         0,   0,   542, 57,  "",    -1, loWindowColor | loNoBorder},
    {ckLabel,     "ReportTitle",        "ReportHeader",   16,  8,   0,   0,
     "All operations with grabbed image complete.", -1, loBold},
    {ckBevel,     "ReportHeaderRule",   "Report",         0,   57,  542, 2},
    {ckCheckBox,  "cbLeaveInClipboard", "Report",         24,  80,  300, 17,  "Leave screen-shot in Clipboard", 0},
    {ckLabel,     "OtherPluginsLabel",  "Report",         24,  112, 0,   0,   "Check for other plugins:"},
    {ckLabel,     "Label8",             "Report",         150, 112, 0,   0,
     TAfterScreenShotWindow::kPluginsPage, -1, loLink | loAfter(4)},

    {ckBevel,     "Bevel1",             nullptr,          0,   270, 542, 2},
    {ckButton,    "Back",               nullptr,          298, 277, 75,  25,  "<  Back",  1},
    // Default: Enter in a plug-in's one-line field goes on, as in any wizard.
    {ckButton,    "Next",               nullptr,          373, 277, 75,  25,  "Next  >",  2, loDefault},
    {ckButton,    "Finalize",           nullptr,          459, 277, 75,  25,  "Cancel",   3, loCancel},
};

// The decorative side picture: a gradient from the highlight colour down.
void PaintSidePicture(TImage& image) {
    TBitmap& b = image.Picture.Bitmap();
    b.SetPixelFormat(pf24bit);
    b.SetSize(image.Width(), image.Height());
    const COLORREF top = ColorToRGB(clHighlight), bottom = ColorToRGB(clHighlightText);
    TCanvas& c = b.Canvas();
    const int h = b.Height();
    for (int y = 0; y < h; ++y) {
        auto mix = [&](int a, int z) { return a + (z - a) * y / (h > 1 ? h - 1 : 1); };
        c.Pen.SetColor(static_cast<TColor>(RGB(mix(GetRValue(top), GetRValue(bottom)),
                                               mix(GetGValue(top), GetGValue(bottom)),
                                               mix(GetBValue(top), GetBValue(bottom)))));
        c.MoveTo(0, y);
        c.LineTo(b.Width(), y);
    }
    image.Invalidate();
}
}  // namespace

TAfterScreenShotWindow::TAfterScreenShotWindow(std::unique_ptr<TRecoveryEntry> recovery,
                                               const TKeptPicture* kept)
    : TForm(kForm, kControls),
      recovery_(std::move(recovery)),
      broughtBack_(kept != nullptr),
      kept_(kept ? *kept : TKeptPicture{}) {
    Ctl<TPanel>("EditorPanel").SetColor(clHighlightText);
    ScreenShot.AutoSize = true;
    PaintSidePicture(Ctl<TImage>("SidePicture"));
    ActionsView.SetCheckBoxes(true);
    ActionsView.AddColumn("Name", 150);
    ActionsView.AddColumn("Description", 500);
    // Stored with page 1 current: the first tick then changes the page
    // whichever way it goes.
    Notebook.SetPageIndex(1);

    Notebook.OnPageChanged = [this](TControl*) { NotebookPageChanged(); };
    Back.OnClick = [this](TControl*) { BackClick(); };
    Next.OnClick = [this](TControl*) { NextClick(); };
    Finalize.OnClick = [this](TControl*) { FinalizeClick(); };
    Label9.OnClick = [this](TControl*) { Label9Click(); };
    Label8.OnClick = [this](TControl*) { Label8Click(); };
    PluginContainer.OnEnter = [this](TControl*) { PluginContainerEnter(); };
    PluginContainer.OnExit = [this](TControl*) { PluginContainerExit(); };
    PluginSession.OnCall = [this](const std::string& plugin, const std::string& id, const char* call) {
        // The picture is on disk before any plug-in code runs.
        if (!plugin.empty()) KeepPicture();
        NoteCall(plugin, id, call);
    };
    PluginSession.OnFault = [this](const PluginTurn& faulted, const EForeignFault&) {
        if (faulted.row >= 0 && faulted.row < ActionsView.Count())
            ActionsView.Item(faulted.row).SetChecked(false);
    };
    ActionsView.OnDeletion = [this](TControl*, TListItem* item) { ActionsViewDeletion(item); };
    OnClose = [this](TCloseAction& action) { FormClose(action); };
    OnActivate = [this] { FormActivate(); };
    // The picture keeps its pixels while the page around it scales.
    OnDpiChanged = [this] { Editor.FormActivate(); };
    OnKeyDown = [this](WORD& key, TShiftState shift) { FormKeyDown(key, shift); };
    Label6.OnClick = [this](TControl*) { Label6Click(); };
    Editor.OnPictureChange = [this] { pictureDirty_ = true; };
    Timer.OnTimer = [this] { TimerTimer(); };
    Timer.SetInterval(1);
    DoCreate([this] { FormCreate(); });
    // Started last: a message shown by the creation handler runs a message
    // loop, and the first tick belongs to the wizard on screen.
    Timer.SetEnabled(true);
}

TAfterScreenShotWindow::~TAfterScreenShotWindow() {
    // The last calls into the plug-in, while the picture's note is there.
    Guarded([this] { PluginSession.Close(); });
    PluginSession.OnCall = nullptr;
    PluginSession.OnFault = nullptr;
    Guarded([this] { FormDestroy(); });
}

void TAfterScreenShotWindow::FormCreate() {
    Editor.Reset();
    QuickModeOn = false;
    LoadSettings();
}

void TAfterScreenShotWindow::LoadPluginList() {
    // Openings of this picture ended the program twice: no plug-in code
    // runs for it any more, so that it opens whatever they do.
    if (kept_.Openings >= 2) {
        ActionsView.Clear();
        listFailures_ = {{"", "Kestrix ended each time this picture was opened again, so no plug-in is "
                              "called for it. The picture is here to be finished; capture anew to use "
                              "the plug-ins."}};
        return;
    }
    // The plug-in whose call the last opening did not survive is left out.
    auto skip = [this](const std::string& id, PluginFailure& failure) {
        if (kept_.Openings < 1 || kept_.PluginId.empty() || ::lstrcmpiA(id.c_str(), kept_.PluginId.c_str()) != 0)
            return false;
        failure = {kept_.Plugin.empty() ? id : kept_.Plugin,
                   "Kestrix ended while it ran " + kept_.Call +
                       " for this picture, so it is not called for this picture again."};
        return true;
    };
    // A row without a usable entry could only fail later, at its turn.
    // Listed in-process, not through a directory object: released, one of
    // the wizard's own would count as the last served object and end a
    // program started for automation.
    PluginListing listing = LoadPluginEntries(
        [this](const std::string& plugin, const std::string& id, const char* call) {
            KeepPicture();
            NoteCall(plugin, id, call);
        },
        skip);
    NoteCall("", "", "");
    FillPluginList(ActionsView, listing.plugins, false);
    listFailures_ = std::move(listing.failures);
}

void TAfterScreenShotWindow::LoadSettings() {
    const TWizardSettings settings = WizardReadSettings();
    QuickModeOn = settings.QuickMode && !broughtBack_;
    Editor.History.HistoryLimit = settings.MaxHistorySteps;
    cbLeaveInClipboard.SetChecked(settings.LeaveInClipboard);
    settingsRead_ = true;
}

void TAfterScreenShotWindow::TimerTimer() {
    Timer.SetEnabled(false);
    // Once the wizard is on screen, the picture's copy goes to disk and the
    // plug-ins are listed: the picture need not wait for either.
    KeepPicture();
    try {
        LoadPluginList();
    } catch (const std::exception& e) {
        listFailures_.push_back({"", e.what()});
    }
    // A message about the list shows over the editor, not over the list
    // page the form is stored with.
    if (!QuickModeOn || !listFailures_.empty()) GoToPage(WizardPage::Preview);
    if (!listFailures_.empty()) {
        const std::string message = PluginFailuresMessage(listFailures_);
        listFailures_.clear();
        Application.HandleException(Exception(message));
    }
    if (QuickModeOn) GoToPage(WizardPage::ExecutePlugins);
}

void TAfterScreenShotWindow::GoToPage(int index) {
    if (index < 0 || index >= Notebook.PageCount()) return;
    Notebook.SetPageIndex(index);
}

WizardPage TAfterScreenShotWindow::Page() const {
    return static_cast<WizardPage>(Notebook.PageIndex());
}

void TAfterScreenShotWindow::CloseWizard() { Close(); }

void TAfterScreenShotWindow::NotebookPageChanged() {
    switch (Page()) {
        case WizardPage::Preview:
            Back.SetEnabled(false);
            Next.SetEnabled(true);
            break;
        case WizardPage::ChoosePlugins:
            Back.SetEnabled(true);
            Next.SetEnabled(true);
            break;
        case WizardPage::ExecutePlugins:
            Back.SetEnabled(true);
            Next.SetEnabled(true);
            CurrentPluginIndex = NextCheckedPlugin(-1);
            if (CurrentPluginIndex == -1)
                GoToPage(WizardPage::Report);
            else
                ShowPluginOptions(CurrentPluginIndex);
            break;
        case WizardPage::Report:
            if (QuickModeOn) CloseWizard();
            Back.SetEnabled(false);
            Next.SetEnabled(false);
            Finalize.SetCaption("Close");
            break;
        default:
            break;
    }
    // A button that was just disabled must not keep the keyboard.
    HWND focus = ::GetFocus();
    if (!focus || !::IsWindowEnabled(focus) || !::IsWindowVisible(focus))
        (Next.Enabled() ? Next : Finalize).SetFocus();
}

void TAfterScreenShotWindow::BackClick() { GoToPage(Notebook.PageIndex() - 1); }

void TAfterScreenShotWindow::NextClick() {
    const WizardPage page = Page();
    if (page == WizardPage::Preview || page == WizardPage::ChoosePlugins) {
        GoToPage(static_cast<int>(page) + 1);
        return;
    }
    if (page != WizardPage::ExecutePlugins) return;
    if (CurrentPluginIndex < 0) {
        GoToPage(WizardPage::Report);
        return;
    }
    // A plug-in turned off after a fault gives way to the next one.
    if (Dropped(CurrentPluginIndex)) {
        CurrentPluginIndex = NextCheckedPlugin(CurrentPluginIndex);
        if (CurrentPluginIndex == -1)
            GoToPage(WizardPage::Report);
        else
            ShowPluginOptions(CurrentPluginIndex);
        return;
    }
    // After a failed set-up the page holds no object of this plug-in, or
    // another one's: set it up again instead of running it.
    if (!PluginSession.Ready() || PluginSession.Current().row != CurrentPluginIndex) {
        ShowPluginOptions(CurrentPluginIndex);
        return;
    }
    if (!RunCurrentPlugin()) return;
    CurrentPluginIndex = NextCheckedPlugin(CurrentPluginIndex);
    if (CurrentPluginIndex == -1)
        GoToPage(WizardPage::Report);
    else if (QuickModeOn)
        CloseWizard();
    else
        ShowPluginOptions(CurrentPluginIndex);
}

void TAfterScreenShotWindow::Label9Click() { GoToPage(WizardPage::Report); }

void TAfterScreenShotWindow::FinalizeClick() {
    if (Page() == WizardPage::Report && cbLeaveInClipboard.Checked())
        Clipboard().Assign(ScreenShot.Picture.Bitmap());
    CloseWizard();
}

void TAfterScreenShotWindow::Label8Click() {
    ::ShellExecuteA(Handle(), "open", kPluginsPage, nullptr, nullptr, SW_SHOW);
}

int TAfterScreenShotWindow::NextCheckedPlugin(int after) {
    for (int i = after + 1; i < ActionsView.Count(); ++i)
        if (ActionsView.Item(i).Checked() && !Dropped(i)) return i;
    return -1;
}

bool TAfterScreenShotWindow::Dropped(int row) const {
    auto entry = std::static_pointer_cast<PluginEntry>(ActionsView.Item(row).Data);
    return entry && PluginSession.Dropped(entry->PluginId);
}

void TAfterScreenShotWindow::KeepPicture() noexcept {
    if (!recovery_ || keepFailed_) return;
    try {
        // The copy begun when the selection ended is on disk first.
        recovery_->FinishSave();
        if (!pictureDirty_) return;
        recovery_->Save(Picture());
        pictureDirty_ = false;
    } catch (const std::exception& e) {
        // Said once: the picture is still here, only its copy on disk is not.
        keepFailed_ = true;
        if (!quiet_)
            Application.HandleException(Exception(std::string(e.what()) +
                                                  " The picture stays open in the wizard."));
    }
}

void TAfterScreenShotWindow::NoteCall(const std::string& plugin, const std::string& id,
                                      const char* call) noexcept {
    if (!recovery_) return;
    try {
        recovery_->NoteCall(plugin, id, call);
    } catch (...) {
    }
}

void TAfterScreenShotWindow::KeepForQuit() noexcept {
    auto step = [this](auto f) {
        if (!quiet_) return Guarded(f);
        try {
            f();
        } catch (...) {
        }
    };
    step([this] { Editor.CommitOpenText(); });
    if (recovery_) {
        keepFailed_ = false;
        pictureDirty_ = true;
        KeepPicture();
        // An orderly end: the next start opens it as a first opening.
        recovery_->ClearOpenings();
        // Not removed with the wizard: the next start brings it back.
        recovery_.reset();
    }
    step([this] { SaveLeaveInClipboard(); });
}

void TAfterScreenShotWindow::KeepForSessionEnd() noexcept {
    quiet_ = true;
    KeepForQuit();
}

void TAfterScreenShotWindow::ShowPluginOptions(int index) {
    auto entry = std::static_pointer_cast<PluginEntry>(ActionsView.Item(index).Data);
    if (!entry) throw Exception("The plug-in of row " + std::to_string(index + 1) + " has no entry");
    PluginSession.Show(PluginTurn{index, ActionsView.Item(index).Caption(), *entry});
}

bool TAfterScreenShotWindow::RunCurrentPlugin() {
    if (!PluginSession.SaveSettings()) return false;
    ComPtr<IStream> stream = BitmapFileStream(ScreenShot.Picture.Bitmap());
    Hide();
    ScopeExit showAgain([this] { Show(); });
    return PluginSession.Execute(stream.get(), Handle());
}

void TAfterScreenShotWindow::PluginContainerEnter() { PluginSession.Notify(nmGetFocus); }

void TAfterScreenShotWindow::PluginContainerExit() { PluginSession.Notify(nmLostFocus); }

void TAfterScreenShotWindow::ActionsViewDeletion(TListItem* Item) { Item->Data.reset(); }

void TAfterScreenShotWindow::FormClose(TCloseAction&) {
    // The wizard ended as the user meant: the copy on disk has done its work.
    if (recovery_) {
        recovery_->Remove();
        recovery_.reset();
    }
    // A failure is reported by the form; the wizard closes all the same.
    SaveLeaveInClipboard();
}

void TAfterScreenShotWindow::SaveLeaveInClipboard() {
    if (settingsRead_) WizardWriteSettings(cbLeaveInClipboard.Checked());
}

void TAfterScreenShotWindow::FormDestroy() { Editor.Clear(); }

// ---- the editor's handlers on the form ----

void TAfterScreenShotWindow::FormActivate() { Editor.FormActivate(); }
void TAfterScreenShotWindow::FormKeyDown(WORD& Key, TShiftState Shift) { Editor.FormKeyDown(Key, Shift); }
void TAfterScreenShotWindow::FontSettings1Click() { Editor.FontSettings1Click(); }
void TAfterScreenShotWindow::Label6Click() { Editor.Label6Click(); }
void TAfterScreenShotWindow::N1bit1Click() { Editor.SetDepth(pf1bit); }
void TAfterScreenShotWindow::N4bit1Click() { Editor.SetDepth(pf4bit); }
void TAfterScreenShotWindow::N9bit1Click() { Editor.SetDepth(pf8bit); }
void TAfterScreenShotWindow::N15bit1Click() { Editor.SetDepth(pf15bit); }
void TAfterScreenShotWindow::N16bit1Click() { Editor.SetDepth(pf16bit); }
void TAfterScreenShotWindow::N24bit1Click() { Editor.SetDepth(pf24bit); }
void TAfterScreenShotWindow::N32bit1Click() { Editor.SetDepth(pf32bit); }

void FreeWizardLeftovers() noexcept {
    // COM's usual ten minutes, written out: Wine takes INFINITE as no delay
    // at all, and a library unloaded after every picture is loaded again
    // for the next one, leaving some of its memory behind each time.
    constexpr DWORD kUnloadDelayMs = 10 * 60 * 1000;
    if (PluginFaultedInThisRun()) return;
    // Each library's DllCanUnloadNow is plug-in code too.
    try {
        ForeignCall([] { ::CoFreeUnusedLibrariesEx(kUnloadDelayMs, 0); });
    } catch (...) {
        NotePluginFault();
    }
}
