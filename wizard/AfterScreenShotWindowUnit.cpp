#include "wizard/AfterScreenShotWindowUnit.h"

#include "automation/ComObj.h"
#include "common/KestrixInc.h"
#include "plugins/KestrixCommUnit.h"
#include "settings/SettingsStore.h"
#include "ui/Clipbrd.h"
#include "ui/Exception.h"
#include "ui/Strings.h"
#include "wizard/RecoveryStore.h"

#include <shellapi.h>

#include <algorithm>

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
    // The viewport first: siblings made earlier lie on top of later ones.
    {ckScrollBox, "ScrollBox",          "EditorPanel",    5,   3,   359, 232, "",    0, loInfoColor | loNoBorder},
    {ckImage,     "ScreenShot",         "ScrollBox",      0,   0,   0,   0},
    {ckShape,     "Shape1",             "EditorPanel",    3,   1,   362, 236},
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
    {ckLabel,     "Label7",             "EditorPanel",    5,   255, 0,   0,   "Click Next to continue."},

    {ckPage,      "ChoosePlugins",      "Notebook",       0,   0,   0,   0},
    {ckPanel,     "Panel1",             "ChoosePlugins",  0,   0,   542, 57,  "",    -1, loWindowColor | loNoBorder},
    {ckLabel,     "Label11",            "Panel1",         16,  8,   0,   0,
     "Select plugins to do something with grabbed image.", -1, loBold},
    {ckLabel,     "Label2",             "Panel1",         32,  25,  490, 28,
     "You will see installed plugins. Please mark checkboxes of thouse plugins, which you want to "
     "use with grabbed image."},
    {ckBevel,     "Bevel2",             "ChoosePlugins",  0,   57,  542, 2},
    {ckLabel,     "Label3",             "ChoosePlugins",  16,  67,  0,   0,
     "Please choose: what you want to do with this image?"},
    {ckListView,  "ActionsView",        "ChoosePlugins",  16,  84,  510, 152, "",    0},
    {ckLabel,     "Label4",             "ChoosePlugins",  16,  244, 0,   0,   "or"},
    {ckLabel,     "Label9",             "ChoosePlugins",  32,  244, 0,   0,   "Skip", -1, loLink | loAfter(3)},
    {ckLabel,     "Label5",             "ChoosePlugins",  60,  244, 0,   0,   "this pages.", -1, loAfter(3)},

    {ckPage,      "ExecutePlugins",     "Notebook",       0,   0,   0,   0},
    {ckOleContainer, "PluginContainer", "ExecutePlugins", 0,   0,   542, 270, "",    0, loAlignClient | loNoBorder},

    {ckPage,      "Report",             "Notebook",       0,   0,   0,   0},
    {ckPanel,     "Panel3",             "Report",         0,   0,   542, 57,  "",    -1, loWindowColor | loNoBorder},
    {ckLabel,     "Label12",            "Panel3",         16,  8,   0,   0,
     "All operations with grabbed image complete.", -1, loBold},
    {ckBevel,     "Bevel3",             "Report",         0,   57,  542, 2},
    {ckCheckBox,  "cbLeaveInClipboard", "Report",         24,  80,  300, 17,  "Leave screen-shot in Clipboard", 0},
    {ckLabel,     "Label10",            "Report",         24,  112, 0,   0,   "Check for other plugins:"},
    {ckLabel,     "Label8",             "Report",         150, 112, 0,   0,
     TAfterScreenShotWindow::kPluginsPage, -1, loLink | loAfter(4)},

    {ckBevel,     "Bevel1",             nullptr,          0,   270, 542, 2},
    {ckButton,    "Back",               nullptr,          298, 277, 75,  25,  "<  Back",  1},
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

// The seven tool glyphs, 16 x 16 each, black on a ground that the image list
// leaves transparent: move, brush, line, square, text, circle, settings.
const TColor kGlyphGround = RGB(255, 0, 255);

TImageList ToolGlyphs() {
    TBitmap strip(7 * 16, 16, pf24bit);
    TCanvas& c = strip.Canvas();
    c.Brush.SetColor(kGlyphGround);
    c.FillRect(RECT{0, 0, 7 * 16, 16});
    c.Pen.SetColor(clBlack);
    c.Brush.SetStyle(bsClear);
    auto line = [&c](int ox, int x1, int y1, int x2, int y2) {
        c.MoveTo(ox + x1, y1);
        c.LineTo(ox + x2, y2);
        c.SetPixels(ox + x2, y2, clBlack);
    };
    auto dot = [&c](int x, int y) { c.SetPixels(x, y, clBlack); };
    // A small right-pointing triangle: this button also has a menu.
    auto triangle = [&](int ox) {
        for (int i = 0; i < 3; ++i) line(ox, 12 + i, 10 + i, 12 + i, 14 - i);
    };
    // 0: an arrow on a four-way cross.
    int o = 0;
    line(o, 8, 2, 8, 13);
    line(o, 3, 8, 14, 8);
    for (int i = 1; i <= 2; ++i) {
        line(o, 8 - i, 2 + i, 8 + i, 2 + i);
        line(o, 8 - i, 13 - i, 8 + i, 13 - i);
        line(o, 3 + i, 8 - i, 3 + i, 8 + i);
        line(o, 14 - i, 8 - i, 14 - i, 8 + i);
    }
    for (int i = 0; i < 6; ++i) line(o, 1, 1 + i, 1 + i, 1 + i);
    // 1: a brush, handle up to the right, bristles down to the left.
    o = 16;
    line(o, 14, 1, 7, 8);
    line(o, 13, 1, 7, 7);
    for (int i = 0; i < 4; ++i) line(o, 2 + i, 9 + i, 6 + i, 9 + i);
    line(o, 1, 14, 4, 14);
    // 2: a diagonal line.
    o = 32;
    line(o, 2, 13, 13, 2);
    // 3: a square outline.
    o = 48;
    c.Rectangle(o + 2, 2, o + 14, 14);
    // 4: T, with the menu's triangle.
    o = 64;
    line(o, 1, 2, 10, 2);
    line(o, 1, 3, 10, 3);
    line(o, 5, 2, 5, 13);
    line(o, 6, 2, 6, 13);
    triangle(o);
    // 5: a circle outline.
    o = 80;
    c.Ellipse(o + 2, 2, o + 14, 14);
    // 6: i, with the menu's triangle.
    o = 96;
    dot(o + 5, 2);
    dot(o + 6, 2);
    line(o, 4, 5, 6, 5);
    line(o, 5, 6, 5, 13);
    line(o, 6, 6, 6, 13);
    line(o, 4, 13, 7, 13);
    triangle(o);
    TImageList images(16, 16);
    images.Add(strip, kGlyphGround);
    return images;
}

// The text box: Enter is its own key, not the dialog's default button.
class TTextBox : public TEdit {
public:
    TTextBox(TWinControl& parent, const TControlLayout& layout) : TEdit(parent, layout) {}

protected:
    bool WndProc(TMessage& msg) override {
        if (msg.Msg == WM_GETDLGCODE) {
            TEdit::WndProc(msg);
            auto* m = reinterpret_cast<const MSG*>(msg.LParam);
            if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) msg.Result |= DLGC_WANTMESSAGE;
            return true;
        }
        // Enter has been handled at its key-down; a lone carriage return
        // would only beep.
        if (msg.Msg == WM_CHAR && msg.WParam == '\r') return true;
        return TEdit::WndProc(msg);
    }
};
}  // namespace

TAfterScreenShotWindow::TAfterScreenShotWindow(std::unique_ptr<TRecoveryEntry> recovery,
                                               bool broughtBack)
    : TForm(kForm, kControls), recovery_(std::move(recovery)), broughtBack_(broughtBack) {
    Ctl<TPanel>("EditorPanel").SetColor(clHighlightText);
    ScreenShot.AutoSize = true;
    PaintSidePicture(Ctl<TImage>("SidePicture"));
    ToolBar.SetImages(ToolGlyphs());
    ToolBar.SetButtonSize(23, 22);
    tbMove.Hint = "Move image";
    tbPaint.Hint = "Free hand paint";
    tbLine.Hint = "Paint a line";
    tbEllipse.Hint = "Draw ellipse";
    tbSquare.Hint = "Draw square";
    tbText.Hint = "Type text";
    tbSettings.Hint = "Image settings";
    tbEllipse.SetImageIndex(5);
    tbSquare.SetImageIndex(3);
    tbText.SetImageIndex(4);
    tbSettings.SetImageIndex(6);
    PenColor.Hint = "Pen color";
    PenColor.SetBrushColor(clRed);
    ScreenShot.SetCursor(crHandPoint);
    FontClickTimer.SetInterval(500);
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
    PluginContainer.OnObjectFault = [this](const EForeignFault& fault) { DropPlugin(pluginRow_, fault); };
    ActionsView.OnDeletion = [this](TControl*, TListItem* item) { ActionsViewDeletion(item); };
    OnClose = [this](TCloseAction& action) { FormClose(action); };
    OnActivate = [this] { FormActivate(); };
    OnKeyDown = [this](WORD& key, TShiftState shift) { FormKeyDown(key, shift); };
    tbMove.OnClick = [this](TControl*) { tbMoveClick(); };
    tbPaint.OnClick = [this](TControl*) { tbPaintClick(); };
    tbLine.OnClick = [this](TControl*) { tbLineClick(); };
    tbEllipse.OnClick = [this](TControl*) { tbEllipseClick(); };
    tbSquare.OnClick = [this](TControl*) { tbSquareClick(); };
    tbText.OnClick = [this](TControl*) { tbTextClick(); };
    tbSettings.OnClick = [this](TControl*) { tbSettingsClick(); };
    tbText.OnMouseDown = [this](auto...) { tbTextMouseDown(); };
    tbText.OnMouseUp = [this](auto...) { tbTextMouseUp(); };
    ScreenShot.OnMouseDown = [this](TControl*, TMouseButton b, TShiftState s, int x, int y) {
        ScreenShotMouseDown(b, s, x, y);
    };
    ScreenShot.OnMouseMove = [this](TControl*, TShiftState s, int x, int y) { ScreenShotMouseMove(s, x, y); };
    ScreenShot.OnMouseUp = [this](TControl*, TMouseButton b, TShiftState s, int x, int y) {
        ScreenShotMouseUp(b, s, x, y);
    };
    PenColor.OnMouseUp = [this](auto...) { PenColorMouseUp(); };
    FontClickTimer.OnTimer = [this] { FontClickTimerTimer(); };
    Label6.OnClick = [this](TControl*) { Label6Click(); };
    Timer.OnTimer = [this] { TimerTimer(); };
    Timer.SetInterval(1);
    DoCreate([this] { FormCreate(); });
    // Started last: a message shown by the creation handler runs a message
    // loop, and the first tick belongs to the wizard on screen.
    Timer.SetEnabled(true);
}

TAfterScreenShotWindow::~TAfterScreenShotWindow() {
    PluginContainer.OnObjectFault = nullptr;
    Guarded([this] { FormDestroy(); });
}

void TAfterScreenShotWindow::FormCreate() {
    SaveUnderBitmap.reset();
    TextBox = nullptr;
    Dragging = false;
    AnchorX = AnchorY = 0;
    FontButtonReleased = false;
    History.clear();
    QuickModeOn = false;
    // A list that could not be made whole still leaves the settings to read.
    try {
        LoadPluginList();
    } catch (const std::exception& e) {
        listFailures_.push_back({"", e.what()});
    }
    LoadSettings();
}

void TAfterScreenShotWindow::LoadPluginList() {
    // A row without a usable entry could only fail later, at its turn.
    listFailures_ = LoadPluginRows(ActionsView, false, [this](const std::string& plugin, const char* call) {
        KeepPicture();
        NoteCall(plugin, call);
    });
    NoteCall("", "");
}

void TAfterScreenShotWindow::LoadSettings() {
    const TWizardSettings settings = WizardReadSettings();
    QuickModeOn = settings.QuickMode && !broughtBack_;
    HistoryLimit = settings.MaxHistorySteps;
    cbLeaveInClipboard.SetChecked(settings.LeaveInClipboard);
    settingsRead_ = true;
}

void TAfterScreenShotWindow::TimerTimer() {
    Timer.SetEnabled(false);
    if (!listFailures_.empty()) {
        const std::string message = PluginFailuresMessage(listFailures_);
        listFailures_.clear();
        Application.HandleException(Exception(message));
    }
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
    // A plug-in turned off after a fault gives way to the next one.
    if (Dropped(CurrentPluginIndex)) {
        CurrentPluginIndex = NextCheckedPlugin(CurrentPluginIndex);
        if (CurrentPluginIndex == -1)
            GoToPage(3);
        else
            ShowPluginOptions(CurrentPluginIndex);
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
        if (ActionsView.Item(i).Checked() && !Dropped(i)) return i;
    return -1;
}

bool TAfterScreenShotWindow::Dropped(int row) const {
    auto entry = std::static_pointer_cast<PluginEntry>(ActionsView.Item(row).Data);
    return entry && std::any_of(dropped_.begin(), dropped_.end(), [&](const CLSID& id) {
               return ::IsEqualCLSID(id, entry->PluginId);
           });
}

template <class F>
decltype(auto) TAfterScreenShotWindow::PluginCall(int row, const char* call, F&& f) {
    if (row < 0) row = pluginRow_;
    KeepPicture();
    NoteCall(row >= 0 && row < ActionsView.Count() ? ActionsView.Item(row).Caption() : std::string(), call);
    ScopeExit endNote([this] { NoteCall("", ""); });
    try {
        return ForeignCall(std::forward<F>(f));
    } catch (const EForeignFault& fault) {
        DropPlugin(row, fault);
    }
}

void TAfterScreenShotWindow::DropPlugin(int row, const EForeignFault& fault) {
    std::string name = "?";
    if (row >= 0 && row < ActionsView.Count()) {
        TListItem& item = ActionsView.Item(row);
        name = item.Caption();
        if (auto entry = std::static_pointer_cast<PluginEntry>(item.Data)) dropped_.push_back(entry->PluginId);
        item.SetChecked(false);
    }
    // Nothing of a plug-in that faulted is called again, not even Release.
    if (row == pluginRow_) {
        CurrentPlugin.Detach();
        PluginContainer.AbandonObject();
        pluginReady_ = false;
    }
    throw Exception("The plug-in \"" + name + "\" stopped working (" + fault.what() +
                    ") and was turned off for this picture.");
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
        Application.HandleException(Exception(std::string(e.what()) +
                                              " The picture stays open in the wizard."));
    }
}

void TAfterScreenShotWindow::NoteCall(const std::string& plugin, const char* call) noexcept {
    if (!recovery_) return;
    try {
        recovery_->NoteCall(plugin, call);
    } catch (...) {
    }
}

void TAfterScreenShotWindow::KeepForQuit() noexcept {
    if (TextBox && TextBox->Visible()) Guarded([this] { CommitText(); });
    if (recovery_) {
        keepFailed_ = false;
        pictureDirty_ = true;
        KeepPicture();
        // Not removed with the wizard: the next start brings it back.
        recovery_.reset();
    }
    Guarded([this] { SaveLeaveInClipboard(); });
}

void TAfterScreenShotWindow::ShowPluginOptions(int index) {
    pluginReady_ = false;
    auto entry = std::static_pointer_cast<PluginEntry>(ActionsView.Item(index).Data);
    if (!entry) throw Exception("The plug-in of row " + std::to_string(index + 1) + " has no entry");
    ComPtr<IKestrixObject> directory = CoKestrixObject::Create();
    PluginCall(pluginRow_, "Release", [&] { CurrentPlugin.reset(); });
    pluginRow_ = index;
    const std::string id = automation::GuidToString(entry->PluginId);
    PluginCall(index, "GetPlugin", [&] {
        OleCheck(CallGetPlugin(*directory.get(), id, CurrentPlugin), "Cannot create the plug-in " + id);
    });
    CoTaskString progId;
    OleCheck(::ProgIDFromCLSID(entry->OptionsClassId, progId.put()),
             "The options object " + automation::GuidToString(entry->OptionsClassId) +
                 " of the plug-in " + id + " has no ProgID");
    PluginCall(index, "CreateObject", [&] { PluginContainer.CreateObject(progId.get(), false); });
    PluginCall(index, "SetPlugin", [&] {
        ComPtr<IKestrixPluginOptions> options = PluginOptions();
        automation::OleCheckCall(options->SetPlugin(CurrentPlugin.get()), options.get(),
                                 IID_IKestrixPluginOptions);
    });
    PluginCall(index, "DoVerb", [&] { PluginContainer.DoVerb(OLEIVERB_SHOW); });
    pluginReady_ = true;
}

ComPtr<IKestrixPluginOptions> TAfterScreenShotWindow::PluginOptions() {
    ComPtr<IDispatch> object = PluginContainer.OleObject();
    ComPtr<IKestrixPluginOptions> options;
    OleCheck(object.As(options),
             "The plug-in's options object does not support IKestrixPluginOptions");
    return options;
}

bool TAfterScreenShotWindow::RunCurrentPlugin() {
    HRESULT result = S_OK;
    PluginCall(-1, "SaveSettings", [&] {
        ComPtr<IKestrixPluginOptions> options = PluginOptions();
        automation::OleCheckCall(options->SaveSettings(&result), options.get(),
                                 IID_IKestrixPluginOptions);
    });
    if (FAILED(result)) return false;

    ComPtr<IStream> stream = BitmapFileStream(ScreenShot.Picture.Bitmap());

    Hide();
    ScopeExit showAgain([this] { Show(); });
    PluginCall(-1, "Execute", [&] {
        automation::OleCheckCall(
            CurrentPlugin->Execute(stream.get(),
                                   static_cast<long>(reinterpret_cast<LONG_PTR>(Handle())), &result),
            CurrentPlugin.get(), IID_IKestrixPlugin);
    });
    return SUCCEEDED(result);
}

void TAfterScreenShotWindow::PluginContainerEnter() {
    if (!PluginContainer.HasObject()) return;
    PluginCall(-1, "Notify", [&] {
        ComPtr<IKestrixPluginOptions> options = PluginOptions();
        automation::OleCheckCall(options->Notify(nmGetFocus), options.get(), IID_IKestrixPluginOptions);
    });
}

void TAfterScreenShotWindow::PluginContainerExit() {
    if (!PluginContainer.HasObject()) return;
    PluginCall(-1, "Notify", [&] {
        ComPtr<IKestrixPluginOptions> options = PluginOptions();
        automation::OleCheckCall(options->Notify(nmLostFocus), options.get(),
                                 IID_IKestrixPluginOptions);
    });
}

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

void TAfterScreenShotWindow::FormDestroy() {
    SaveUnderBitmap.reset();
    if (TextBox) {
        ScrollBox.Remove(*TextBox);
        TextBox = nullptr;
    }
    while (!History.empty()) History.pop_back();
}

// ---- the editor ----

namespace {
// Bytes of a picture's pixels.
size_t PictureBytes(const TBitmap& b) {
    return static_cast<size_t>(b.Stride()) * static_cast<size_t>(std::max(b.Height(), 0));
}

// Whether the address space and the commit limit still leave room for
// `bytes` in one block. A reservation only: nothing is committed.
bool RoomFor(size_t bytes) {
    if (void* p = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS)) {
        ::VirtualFree(p, 0, MEM_RELEASE);
    } else {
        return false;
    }
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return !::GlobalMemoryStatusEx(&status) || status.ullAvailPageFile >= bytes;
}

// Beside the picture and its snapshots, room for a colour-depth conversion
// (the pixels read out, and the converted picture) and the rest of the
// program.
constexpr size_t kSpareBytes = 32u << 20;
}  // namespace

void TAfterScreenShotWindow::FormActivate() {
    const int vw = ScrollBox.ClientWidth(), vh = ScrollBox.ClientHeight();
    const int pw = Picture().Width(), ph = Picture().Height();
    if (vw > pw) ScreenShot.SetLeft(vw / 2 - pw / 2);
    if (vh > ph) ScreenShot.SetTop(vh / 2 - ph / 2);
}

TAfterScreenShotWindow::TTool TAfterScreenShotWindow::SelectedTool() const {
    if (tbMove.Down()) return TTool::Move;
    if (tbPaint.Down()) return TTool::Paint;
    if (tbLine.Down()) return TTool::Line;
    if (tbSquare.Down()) return TTool::Square;
    if (tbText.Down()) return TTool::Text;
    if (tbEllipse.Down()) return TTool::Ellipse;
    return TTool::None;
}

void TAfterScreenShotWindow::SelectTool(TToolButton& button, TCursor cursor) {
    button.SetDown(true);
    ScreenShot.SetCursor(cursor);
}

void TAfterScreenShotWindow::tbMoveClick() {
    if (TextBox && TextBox->Visible()) CommitText();
    SelectTool(tbMove, crHandPoint);
}
void TAfterScreenShotWindow::tbPaintClick() { SelectTool(tbPaint, crCross); }
void TAfterScreenShotWindow::tbLineClick() { SelectTool(tbLine, crCross); }
void TAfterScreenShotWindow::tbEllipseClick() { SelectTool(tbEllipse, crCross); }
void TAfterScreenShotWindow::tbSquareClick() { SelectTool(tbSquare, crCross); }
void TAfterScreenShotWindow::tbTextClick() { SelectTool(tbText, crIBeam); }

void TAfterScreenShotWindow::PictureChanged(const RECT& r) {
    RECT shown = r;
    ::InvalidateRect(ScreenShot.Handle(), &shown, FALSE);
}

void TAfterScreenShotWindow::ApplyPenColor() {
    TCanvas& c = PictureCanvas();
    c.Pen.SetColor(PenColor.BrushColor());
    c.Font.SetColor(PenColor.BrushColor());
}

void TAfterScreenShotWindow::ScreenShotMouseDown(TMouseButton, TShiftState, int X, int Y) {
    const TTool tool = SelectedTool();
    switch (tool) {
        case TTool::Move:
            Dragging = true;
            AnchorX = X;
            AnchorY = Y;
            break;
        case TTool::Paint:
            PushHistory();
            Dragging = true;
            ApplyPenColor();
            PictureCanvas().SetPixels(X, Y, PenColor.BrushColor());
            AnchorX = X;
            AnchorY = Y;
            PictureChanged(RECT{X, Y, X + 1, Y + 1});
            break;
        case TTool::Line:
        case TTool::Square:
        case TTool::Ellipse:
            PushHistory();
            Dragging = true;
            AnchorX = X;
            AnchorY = Y;
            SaveUnder(X, Y, X, Y);
            break;
        case TTool::Text:
            AnchorX = X;
            AnchorY = Y;
            break;
        case TTool::None:
            break;
    }
}

void TAfterScreenShotWindow::ScreenShotMouseMove(TShiftState, int X, int Y) {
    if (!Dragging) return;
    TCanvas& c = PictureCanvas();
    switch (SelectedTool()) {
        case TTool::Move: {
            // Each axis on its own: a step past a bound leaves that axis where
            // it is, never pulled to the bound.
            const int newLeft = ScreenShot.Left() + (X - AnchorX);
            if (newLeft <= 0 && newLeft + Picture().Width() >= ScrollBox.ClientWidth())
                ScreenShot.SetLeft(newLeft);
            const int newTop = ScreenShot.Top() + (Y - AnchorY);
            if (newTop <= 0 && newTop + Picture().Height() >= ScrollBox.ClientHeight())
                ScreenShot.SetTop(newTop);
            break;
        }
        case TTool::Paint: {
            ApplyPenColor();
            c.MoveTo(X, Y);
            c.LineTo(AnchorX, AnchorY);
            RECT r = NormalizedRect(X, Y, AnchorX, AnchorY);
            ::InflateRect(&r, 1, 1);
            PictureChanged(r);
            AnchorX = X;
            AnchorY = Y;
            break;
        }
        case TTool::Line:
        case TTool::Square:
        case TTool::Ellipse: {
            const TTool tool = SelectedTool();
            const RECT before = SaveUnderRect;
            RestoreUnder();
            SaveUnder(AnchorX, AnchorY, X, Y);
            ApplyPenColor();
            if (tool == TTool::Line) {
                c.MoveTo(AnchorX, AnchorY);
                c.LineTo(X, Y);
            } else {
                c.Brush.SetStyle(bsClear);
                if (tool == TTool::Square)
                    c.Rectangle(AnchorX, AnchorY, X, Y);
                else
                    c.Ellipse(AnchorX, AnchorY, X, Y);
            }
            RECT changed;
            ::UnionRect(&changed, &before, &SaveUnderRect);
            PictureChanged(changed);
            break;
        }
        case TTool::Text:
        case TTool::None:
            break;
    }
}

void TAfterScreenShotWindow::ScreenShotMouseUp(TMouseButton, TShiftState, int, int) {
    Dragging = false;
    if (SelectedTool() == TTool::Text) OpenTextBox();
}

void TAfterScreenShotWindow::SaveUnder(int x1, int y1, int x2, int y2) {
    SaveUnderBitmap.reset();
    SaveUnderRect = NormalizedRect(x1, y1, x2, y2);
    ::InflateRect(&SaveUnderRect, 2, 2);
    TBitmap& picture = Picture();
    auto saved = std::make_unique<TBitmap>(RectWidth(SaveUnderRect), RectHeight(SaveUnderRect),
                                           picture.PixelFormat());
    // With the picture's own colour table, so that the pixels come back
    // exactly as they were.
    if (BitsPerPixel(picture.PixelFormat()) <= 8) {
        RGBQUAD colors[256];
        TCanvas::Lease from(picture.Canvas(), true);
        TCanvas::Lease to(saved->Canvas());
        if (UINT n = ::GetDIBColorTable(from.get(), 0, 256, colors))
            ::SetDIBColorTable(to.get(), 0, n, colors);
    }
    saved->Canvas().CopyRect(RECT{0, 0, saved->Width(), saved->Height()}, picture.Canvas(),
                             SaveUnderRect);
    SaveUnderBitmap = std::move(saved);
}

void TAfterScreenShotWindow::RestoreUnder() {
    if (!SaveUnderBitmap) return;
    PictureCanvas().CopyRect(SaveUnderRect, SaveUnderBitmap->Canvas(),
                             RECT{0, 0, SaveUnderBitmap->Width(), SaveUnderBitmap->Height()});
}

// ---- text ----

void TAfterScreenShotWindow::OpenTextBox() {
    if (TextBox) {
        // Whatever was typed and not committed goes with it.
        ScrollBox.Remove(*TextBox);
        TextBox = nullptr;
    }
    TCanvas& c = PictureCanvas();
    const int left = ScreenShot.Left() + AnchorX - 2, top = ScreenShot.Top() + AnchorY - 2;
    const TControlLayout layout{ckEdit, "TextBox", "ScrollBox", 0, 0, 10, 10, "", -1, loNoBorder};
    TextBox = &ScrollBox.Add<TTextBox>(layout);
    // Flat: a plain line border.
    ::SetWindowLongA(TextBox->Handle(), GWL_STYLE, ::GetWindowLongA(TextBox->Handle(), GWL_STYLE) | WS_BORDER);
    TextBox->Font().Assign(c.Font);
    const int border = 2 * ::GetSystemMetrics(SM_CXBORDER);
    TextBox->SetBounds(left, top, c.TextWidth("MM") + border, c.TextHeight("Mg") + 2 + border);
    ::SetWindowPos(TextBox->Handle(), HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    TextBox->OnKeyDown = [this](TControl*, WORD& key, TShiftState) { TextBoxKeyDown(key); };
    TextBox->OnExit = [this](TControl*) { TextBoxExit(); };
    TextBox->SetFocus();
}

void TAfterScreenShotWindow::TextBoxKeyDown(WORD& Key) {
    if (!TextBox) return;
    if (Key == VK_RETURN) {
        CommitText();
        return;
    }
    const int frame = TextBox->Width() - TextBox->ClientWidth();
    TextBox->SetWidth(PictureCanvas().TextWidth(TextBox->Text() + "MM") + frame);
}

void TAfterScreenShotWindow::TextBoxExit() { CommitText(); }

void TAfterScreenShotWindow::CancelText() {
    if (!TextBox || !TextBox->Visible()) return;
    const bool hadFocus = TextBox->Focused();
    // Hidden first, so that losing the focus commits nothing.
    TextBox->Hide();
    if (hadFocus) ::SetFocus(Handle());
}

void TAfterScreenShotWindow::CommitText() {
    if (!TextBox || !TextBox->Visible()) return;
    PushHistory();
    ApplyPenColor();
    TCanvas& c = PictureCanvas();
    c.Brush.SetStyle(bsClear);
    const std::string text = TextBox->Text();
    c.TextOut(AnchorX, AnchorY, text);
    const SIZE size = c.TextExtent(text);
    PictureChanged(RECT{AnchorX, AnchorY, AnchorX + size.cx + 1, AnchorY + size.cy + 1});
    const bool hadFocus = TextBox->Focused();
    TextBox->Hide();
    // Keys go on to the form, not to a hidden box.
    if (hadFocus) ::SetFocus(Handle());
}

// ---- pen and font ----

void TAfterScreenShotWindow::PenColorMouseUp() {
    ColorDialog.Color = PenColor.BrushColor();
    if (ColorDialog.Execute()) PenColor.SetBrushColor(ColorDialog.Color);
}

void TAfterScreenShotWindow::tbTextMouseDown() {
    FontClickTimer.SetEnabled(true);
    FontButtonReleased = false;
}

void TAfterScreenShotWindow::tbTextMouseUp() { FontButtonReleased = true; }

void TAfterScreenShotWindow::FontClickTimerTimer() {
    FontClickTimer.SetEnabled(false);
    if (FontButtonReleased) return;
    PopupAt(FontClickPopup, tbText);
}

void TAfterScreenShotWindow::PopupAt(TPopupMenu& menu, TToolButton& button) {
    POINT pt{button.Left(), button.Top()};
    ::ClientToScreen(ToolBar.Handle(), &pt);
    menu.Popup(pt.x + button.Width(), pt.y);
}

void TAfterScreenShotWindow::FontSettings1Click() {
    FontDialog.Font.Assign(PictureCanvas().Font);
    if (FontDialog.Execute()) PictureCanvas().Font.Assign(FontDialog.Font);
}

// ---- colour depth ----

void TAfterScreenShotWindow::tbSettingsClick() { PopupAt(ImageInfoMenu, tbSettings); }

void TAfterScreenShotWindow::SetDepth(TPixelFormat format) {
    PushHistory();
    Picture().SetPixelFormat(format);
    ScreenShot.Invalidate();
}

void TAfterScreenShotWindow::N1bit1Click() { SetDepth(pf1bit); }
void TAfterScreenShotWindow::N4bit1Click() { SetDepth(pf4bit); }
void TAfterScreenShotWindow::N9bit1Click() { SetDepth(pf8bit); }
void TAfterScreenShotWindow::N15bit1Click() { SetDepth(pf15bit); }
void TAfterScreenShotWindow::N16bit1Click() { SetDepth(pf16bit); }
void TAfterScreenShotWindow::N24bit1Click() { SetDepth(pf24bit); }
void TAfterScreenShotWindow::N32bit1Click() { SetDepth(pf32bit); }

// ---- undo history ----

void TAfterScreenShotWindow::FormKeyDown(WORD& Key, TShiftState Shift) {
    if (Key == VK_ESCAPE) {
        // Esc drops a half-typed text; it ends the wizard as Cancel does
        // only while that loses no edit.
        if (TextBox && TextBox->Visible()) {
            CancelText();
            Key = 0;
        } else if (!History.empty() || editsBeyondHistory_) {
            Key = 0;
        }
        return;
    }
    // Not consumed: the focused control gets the key too.
    if (Key == 'Z' && (Shift & ssCtrl)) StepBack();
}

void TAfterScreenShotWindow::Label6Click() { StepBack(); }

void TAfterScreenShotWindow::PushHistory() {
    pictureDirty_ = true;
    // A limit below 1 keeps no snapshots at all.
    if (HistoryLimit <= 0) {
        editsBeyondHistory_ = true;
        return;
    }
    // The oldest step that gives way lends its pixels to the picture's copy.
    std::unique_ptr<TBitmap> spare;
    while (static_cast<int>(History.size()) >= HistoryLimit) {
        spare = std::move(History.back());
        History.pop_back();
        editsBeyondHistory_ = true;
    }
    TBitmap& picture = Picture();
    const size_t bytes = PictureBytes(picture);
    // However many steps the setting asks for, keep only what leaves room
    // for the picture's own copy and a conversion of it: the oldest steps
    // give way, so the edit itself never runs out of memory.
    auto needed = [&] { return (spare ? 2 : 3) * bytes + kSpareBytes; };
    while (!History.empty() && !RoomFor(needed())) {
        spare = std::move(History.back());
        History.pop_back();
        editsBeyondHistory_ = true;
    }
    auto snapshot = std::make_unique<TBitmap>();
    snapshot->Assign(picture);
    History.push_front(std::move(snapshot));
    // The snapshot shares the picture's pixels; the picture takes its own
    // copy now rather than at the edit's first pixel.
    for (;;) {
        try {
            picture.OwnPixels(spare.get());
            return;
        } catch (const Exception&) {
            editsBeyondHistory_ = true;
            // With only the new snapshot left, drop it and edit without a step.
            if (History.size() <= 1) {
                History.clear();
                return;
            }
            spare = std::move(History.back());
            History.pop_back();
        }
    }
}

void TAfterScreenShotWindow::StepBack() {
    if (History.empty()) return;
    std::unique_ptr<TBitmap> snapshot = std::move(History.front());
    History.pop_front();
    Picture().Assign(*snapshot);
    snapshot.reset();
    pictureDirty_ = true;
    ScreenShot.Invalidate();
}
