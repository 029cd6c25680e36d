#include "wizard/AfterScreenShotWindowUnit.h"

#include "automation/ComObj.h"
#include "plugins/KestrixCommUnit.h"
#include "settings/SettingsStore.h"
#include "ui/Clipbrd.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

#include <shellapi.h>

using namespace ui;

TAfterScreenShotWindow* AfterScreenShotWindow = nullptr;

const char TAfterScreenShotWindow::kPluginsPage[] = "https://www.orvane.com/kestrix/plugins/";

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
    // The viewport before its frame: siblings declared first lie on top.
    {ckScrollBox, "ScrollBox",          "EditorPanel",    5,   3,   359, 232, "",    0, loInfoColor | loNoBorder},
    {ckImage,     "ScreenShot",         "ScrollBox",      0,   0,   0,   0},
    {ckShape,     "Shape1",             "EditorPanel",    3,   1,   362, 236},
    {ckLabel,     "Label7",             "EditorPanel",    5,   255, 0,   0,   "Click Next to continue."},

    {ckPage,      "ChoosePlugins",      "Notebook",       0,   0,   0,   0},
    {ckPanel,     "Panel1",             "ChoosePlugins",  0,   0,   542, 57,  "",    -1, loWindowColor | loNoBorder},
    {ckLabel,     "Label1",             "Panel1",         16,  8,   0,   0,
     "Select plugins to do something with grabbed image.", -1, loBold},
    {ckLabel,     "Label2",             "Panel1",         32,  25,  490, 28,
     "You will see installed plugins. Please mark checkboxes of thouse plugins, which you want to "
     "use with grabbed image."},
    {ckBevel,     "Bevel2",             "ChoosePlugins",  0,   57,  542, 2},
    {ckLabel,     "Label3",             "ChoosePlugins",  16,  67,  0,   0,
     "Please choose: what you want to do with this image?"},
    {ckListView,  "ActionsView",        "ChoosePlugins",  16,  84,  510, 152, "",    0},
    {ckLabel,     "Label4",             "ChoosePlugins",  16,  244, 0,   0,   "or"},
    {ckLabel,     "Label9",             "ChoosePlugins",  32,  244, 0,   0,   "Skip", -1, loLink},
    {ckLabel,     "Label5",             "ChoosePlugins",  60,  244, 0,   0,   "this pages."},

    {ckPage,      "ExecutePlugins",     "Notebook",       0,   0,   0,   0},
    {ckOleContainer, "PluginContainer", "ExecutePlugins", 0,   0,   542, 270, "",    0, loAlignClient | loNoBorder},

    {ckPage,      "Report",             "Notebook",       0,   0,   0,   0},
    {ckPanel,     "Panel3",             "Report",         0,   0,   542, 57,  "",    -1, loWindowColor | loNoBorder},
    {ckLabel,     "Label6",             "Panel3",         16,  8,   0,   0,
     "All operations with grabbed image complete.", -1, loBold},
    {ckBevel,     "Bevel3",             "Report",         0,   57,  542, 2},
    {ckCheckBox,  "cbLeaveInClipboard", "Report",         24,  80,  300, 17,  "Leave screen-shot in Clipboard", 0},
    {ckLabel,     "Label10",            "Report",         24,  112, 0,   0,   "Check for other plugins:"},
    {ckLabel,     "Label8",             "Report",         150, 112, 0,   0,
     TAfterScreenShotWindow::kPluginsPage, -1, loLink},

    {ckBevel,     "Bevel1",             nullptr,          0,   270, 542, 2},
    {ckButton,    "Back",               nullptr,          298, 277, 75,  25,  "<  Back",  1},
    {ckButton,    "Next",               nullptr,          373, 277, 75,  25,  "Next  >",  2, loDefault},
    {ckButton,    "Finalize",           nullptr,          459, 277, 75,  25,  "Cancel",   3, loCancel},
};

// Places a control just right of another on the same line.
void PlaceAfter(TControl& control, const TControl& before, int gap) {
    control.SetLeft(before.BoundsRect().right + before.ScaleValue(gap));
}

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

TAfterScreenShotWindow::TAfterScreenShotWindow() : TForm(kForm, kControls) {
    Ctl<TPanel>("EditorPanel").SetColor(clHighlightText);
    ScreenShot.AutoSize = true;
    PaintSidePicture(Ctl<TImage>("SidePicture"));
    PlaceAfter(Label9, Ctl<TLabel>("Label4"), 3);
    PlaceAfter(Ctl<TLabel>("Label5"), Label9, 3);
    PlaceAfter(Label8, Ctl<TLabel>("Label10"), 4);
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
    ActionsView.OnDeletion = [this](TControl*, TListItem* item) { ActionsViewDeletion(item); };
    OnClose = [this](TCloseAction& action) { FormClose(action); };
    Timer.OnTimer = [this] { TimerTimer(); };
    Timer.SetInterval(1);
    DoCreate([this] { FormCreate(); });
    // Started last: a message shown by the creation handler runs a message
    // loop, and the first tick belongs to the wizard on screen.
    Timer.SetEnabled(true);
}

TAfterScreenShotWindow::~TAfterScreenShotWindow() {
    Guarded([this] { FormDestroy(); });
}

void TAfterScreenShotWindow::FormCreate() {
    SaveUnderBitmap.reset();
    TextBox = nullptr;
    Dragging = false;
    History.clear();
    QuickModeOn = false;
    LoadPluginList();
    LoadSettings();
}

void TAfterScreenShotWindow::LoadPluginList() {
    // A row without a usable entry could only fail later, at its turn.
    LoadPluginRows(ActionsView, false);
}

void TAfterScreenShotWindow::LoadSettings() {
    const TWizardSettings settings = WizardReadSettings();
    QuickModeOn = settings.QuickMode;
    HistoryLimit = settings.MaxHistorySteps;
    cbLeaveInClipboard.SetChecked(settings.LeaveInClipboard);
}

void TAfterScreenShotWindow::TimerTimer() {
    Timer.SetEnabled(false);
    GoToPage(QuickModeOn ? 2 : 0);
}

void TAfterScreenShotWindow::GoToPage(int index) {
    if (index < 0 || index >= Notebook.PageCount()) return;
    Notebook.SetPageIndex(index);
}

void TAfterScreenShotWindow::CloseWizard() { Close(); }

void TAfterScreenShotWindow::NotebookPageChanged() {
    switch (Notebook.PageIndex()) {
        case 0:
            Back.SetEnabled(false);
            Next.SetEnabled(true);
            break;
        case 1:
            Back.SetEnabled(true);
            Next.SetEnabled(true);
            break;
        case 2:
            Back.SetEnabled(true);
            Next.SetEnabled(true);
            CurrentPluginIndex = NextCheckedPlugin(-1);
            if (CurrentPluginIndex == -1)
                GoToPage(3);
            else
                ShowPluginOptions(CurrentPluginIndex);
            break;
        case 3:
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
    const int page = Notebook.PageIndex();
    if (page == 0 || page == 1) {
        GoToPage(page + 1);
        return;
    }
    if (page != 2) return;
    if (CurrentPluginIndex < 0) {
        GoToPage(3);
        return;
    }
    // After a failed set-up the page holds no object of this plug-in, or
    // another one's: set it up again instead of running it.
    if (!pluginReady_) {
        ShowPluginOptions(CurrentPluginIndex);
        return;
    }
    if (!RunCurrentPlugin()) return;
    CurrentPluginIndex = NextCheckedPlugin(CurrentPluginIndex);
    if (CurrentPluginIndex == -1)
        GoToPage(3);
    else if (QuickModeOn)
        CloseWizard();
    else
        ShowPluginOptions(CurrentPluginIndex);
}

void TAfterScreenShotWindow::Label9Click() { GoToPage(3); }

void TAfterScreenShotWindow::FinalizeClick() {
    if (Notebook.PageIndex() == 3 && cbLeaveInClipboard.Checked())
        Clipboard().Assign(ScreenShot.Picture.Bitmap());
    CloseWizard();
}

void TAfterScreenShotWindow::Label8Click() {
    ::ShellExecuteA(Handle(), "open", kPluginsPage, nullptr, nullptr, SW_SHOW);
}

int TAfterScreenShotWindow::NextCheckedPlugin(int after) {
    for (int i = after + 1; i < ActionsView.Count(); ++i)
        if (ActionsView.Item(i).Checked()) return i;
    return -1;
}

void TAfterScreenShotWindow::ShowPluginOptions(int index) {
    pluginReady_ = false;
    auto entry = std::static_pointer_cast<PluginEntry>(ActionsView.Item(index).Data);
    if (!entry) throw Exception("The plug-in of row " + std::to_string(index + 1) + " has no entry");
    ComPtr<IKestrixObject> directory = CoKestrixObject::Create();
    CurrentPlugin.reset();
    const std::string id = automation::GuidToString(entry->PluginId);
    if (HRESULT hr = CallGetPlugin(*directory.get(), id, CurrentPlugin); FAILED(hr))
        throw EOleSysError("Cannot create the plug-in " + id + ". " +
                               SysErrorMessage(static_cast<DWORD>(hr)),
                           hr);
    CoTaskString progId;
    if (HRESULT hr = ::ProgIDFromCLSID(entry->OptionsClassId, progId.put()); FAILED(hr))
        throw EOleSysError("The options object " + automation::GuidToString(entry->OptionsClassId) +
                               " of the plug-in " + id + " has no ProgID. " +
                               SysErrorMessage(static_cast<DWORD>(hr)),
                           hr);
    PluginContainer.CreateObject(progId.get(), false);
    ComPtr<IKestrixPluginOptions> options = PluginOptions();
    automation::OleCheckCall(options->SetPlugin(CurrentPlugin.get()), options.get(),
                             IID_IKestrixPluginOptions);
    PluginContainer.DoVerb(OLEIVERB_SHOW);
    pluginReady_ = true;
}

ComPtr<IKestrixPluginOptions> TAfterScreenShotWindow::PluginOptions() {
    ComPtr<IDispatch> object = PluginContainer.OleObject();
    ComPtr<IKestrixPluginOptions> options;
    if (HRESULT hr = object.As(IID_IKestrixPluginOptions, options); FAILED(hr))
        throw EOleSysError("The plug-in's options object does not support IKestrixPluginOptions. " +
                               SysErrorMessage(static_cast<DWORD>(hr)),
                           hr);
    return options;
}

bool TAfterScreenShotWindow::RunCurrentPlugin() {
    ComPtr<IKestrixPluginOptions> options = PluginOptions();
    HRESULT result = S_OK;
    automation::OleCheckCall(options->SaveSettings(&result), options.get(),
                             IID_IKestrixPluginOptions);
    if (FAILED(result)) return false;

    // Memory streams must be over movable memory to grow.
    GlobalMem block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10));
    if (!block) throw Exception("Out of memory");
    ComPtr<IStream> stream;
    OleCheck(::CreateStreamOnHGlobal(block.get(), TRUE, stream.put()),
             "Cannot create the picture stream");
    block.release();
    ULARGE_INTEGER empty{};
    OleCheck(stream->SetSize(empty), "Cannot create the picture stream");
    SaveBitmapToStream(ScreenShot.Picture.Bitmap(), stream.get());
    LARGE_INTEGER start{};
    OleCheck(stream->Seek(start, STREAM_SEEK_SET, nullptr), "Cannot write the picture");

    Hide();
    struct ShowAgain {
        TAfterScreenShotWindow& form;
        ~ShowAgain() { form.Show(); }
    } showAgain{*this};
    automation::OleCheckCall(
        CurrentPlugin->Execute(stream.get(), static_cast<long>(reinterpret_cast<LONG_PTR>(Handle())),
                               &result),
        CurrentPlugin.get(), IID_IKestrixPlugin);
    return SUCCEEDED(result);
}

void TAfterScreenShotWindow::PluginContainerEnter() {
    if (!PluginContainer.HasObject()) return;
    ComPtr<IKestrixPluginOptions> options = PluginOptions();
    automation::OleCheckCall(options->Notify(nmGetFocus), options.get(), IID_IKestrixPluginOptions);
}

void TAfterScreenShotWindow::PluginContainerExit() {
    if (!PluginContainer.HasObject()) return;
    ComPtr<IKestrixPluginOptions> options = PluginOptions();
    automation::OleCheckCall(options->Notify(nmLostFocus), options.get(),
                             IID_IKestrixPluginOptions);
}

void TAfterScreenShotWindow::ActionsViewDeletion(TListItem* Item) { Item->Data.reset(); }

void TAfterScreenShotWindow::FormClose(TCloseAction&) {
    // A failure is reported by the form; the wizard closes all the same.
    SaveLeaveInClipboard();
}

void TAfterScreenShotWindow::SaveLeaveInClipboard() {
    WizardWriteSettings(cbLeaveInClipboard.Checked());
}

void TAfterScreenShotWindow::FormDestroy() {
    SaveUnderBitmap.reset();
    if (TextBox) {
        ScrollBox.Remove(*TextBox);
        TextBox = nullptr;
    }
    while (!History.empty()) History.pop_back();
}
