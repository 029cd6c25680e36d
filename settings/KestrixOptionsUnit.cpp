#include "settings/KestrixOptionsUnit.h"

#include "automation/ComObj.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/kestrix_TLB.h"
#include "settings/PluginListView.h"
#include "settings/SettingsStore.h"
#include "ui/Exception.h"
#include "ui/Strings.h"

using namespace ui;

TKestrixOptions* KestrixOptions = nullptr;

namespace {
const FormLayout kForm = {
    "TKestrixOptions", "Kestrix Settings", 0, 0, 493, 291, bsDialog, fsNormal, poDesktopCenter,
    {"MS Sans Serif", -11},
};

const TControlLayout kControls[] = {
    // kind       name                  parent   left top  w    h    text                          tab
    {ckCheckBox,  "cbStartWithWindows", nullptr, 6,   7,   197, 17,  "Start Kestrix with Windows", 2},
    {ckCheckBox,  "cbQuickMode",        nullptr, 6,   27,  199, 17,  "Quick mode",                 3},
    // In the free space right of the check boxes; last in the Tab order, so
    // the numbers of the older controls stay.
    {ckLabel,     "CaptureKeyLabel",    nullptr, 210, 8,   0,   0,   "Capture key:"},
    {ckHotKey,    "CaptureKeyField",    nullptr, 210, 23,  128, 20,  "",                           6},
    // A font wider than this table's wraps the label in the room before the
    // field, which keeps its place and width so that its number shows whole.
    {ckLabel,     "Label2",             nullptr, 345, 9,   94,  0,   "Undo buffer steps:"},
    {ckSpinEdit,  "seBufferSteps",      nullptr, 443, 4,   40,  22,  "0",                          5},
    {ckBevel,     "Bevel1",             nullptr, 8,   49,  474, 2},
    {ckLabel,     "Label1",             nullptr, 7,   56,  0,   0,   "Default plugins:"},
    {ckListView,  "ActionsView",        nullptr, 6,   71,  478, 178, "",                           4},
    {ckButton,    "Button1",            nullptr, 334, 260, 75,  25,  "OK",     1, loDefault, mrOk},
    {ckButton,    "Button2",            nullptr, 412, 260, 75,  25,  "Cancel", 0, loCancel,  mrCancel},
};

const char kQuickModeMessage[] =
    "For QuickMode you will check some plugins for automatic activation.";
const char kCaptureKeyMessage[] =
    "The capture key needs Ctrl or Alt: only Print Screen, Pause and F1 to F24 can start a "
    "capture alone.";

// The field puts Ctrl+Alt in place of no modifier or Shift alone. Its rules
// know no keys, so they are lifted for each press of a key that may stand
// alone, before the field takes it.
void FollowCaptureKeyRules(HWND field, WORD key) {
    const WPARAM refused = CaptureHotkeyAllowed(key) ? 0 : HKCOMB_NONE | HKCOMB_S;
    ::SendMessageA(field, HKM_SETRULES, refused, MAKELPARAM(HOTKEYF_CONTROL | HOTKEYF_ALT, 0));
}

}  // namespace

TKestrixOptions::TKestrixOptions() : TForm(kForm, kControls) {
    ActionsView.SetCheckBoxes(true);
    ActionsView.AddColumn("Name", 150);
    ActionsView.AddColumn("Description", 500);
    Button1.OnClick = [this](TControl*) { Button1Click(); };
    CaptureKeyField.OnKeyDown = [this](TControl*, WORD& key, TShiftState) {
        FollowCaptureKeyRules(CaptureKeyField.Handle(), key);
    };
    DoCreate([this] { FormCreate(); });
}

void TKestrixOptions::FormCreate() {
    // One bad plug-in leaves the others listed and the settings read; what
    // failed is said once, at the end.
    std::vector<PluginFailure> failures;
    try {
        failures = LoadPluginList();
    } catch (const std::exception& e) {
        failures.push_back({"", e.what()});
    }
    LoadSettings();
    if (!failures.empty()) throw Exception(PluginFailuresMessage(failures));
}

std::vector<PluginFailure> TKestrixOptions::LoadPluginList() {
    PluginListing listing = LoadPluginEntries();
    // A row whose identifiers did not convert is shown, but never saved.
    FillPluginList(ActionsView, listing.plugins, true);
    return listing.failures;
}

void TKestrixOptions::LoadSettings() {
    TDialogSettings settings;
    settings.MaxHistorySteps = seBufferSteps.Value();
    settings.CaptureHotkey = CaptureKeyField.HotKey();
    // What the read reached is shown even when it raises part of the way.
    ScopeExit show([&] {
        cbQuickMode.SetChecked(settings.QuickMode);
        seBufferSteps.SetValue(settings.MaxHistorySteps);
        CaptureKeyField.SetHotKey(settings.CaptureHotkey);
        cbStartWithWindows.SetChecked(settings.StartWithWindows);
    });
    DialogReadSettings(settings);
}

bool TKestrixOptions::CheckQuickModePlugins() {
    if (!cbQuickMode.Checked()) return true;
    // Only rows that will be written count: a row without data would leave
    // quick mode with nothing to run.
    for (int i = 0; i < ActionsView.Count(); ++i)
        if (ActionsView.Item(i).Checked() && ActionsView.Item(i).Data) return true;
    return false;
}

void TKestrixOptions::Button1Click() {
    if (!CheckQuickModePlugins()) {
        Application.MessageBox(kQuickModeMessage, MB_OK | MB_ICONERROR);
        ModalResult = mrNone;
        return;
    }
    // Typed keys follow the rule already; a stored key that does not is
    // shown as it is and stops here.
    if (!CaptureHotkeyAllowed(CaptureKeyField.HotKey())) {
        Application.MessageBox(kCaptureKeyMessage, MB_OK | MB_ICONERROR);
        ModalResult = mrNone;
        CaptureKeyField.SetFocus();
        return;
    }
    TDialogSettings settings;
    settings.QuickMode = cbQuickMode.Checked();
    settings.MaxHistorySteps = seBufferSteps.Value();
    settings.StartWithWindows = cbStartWithWindows.Checked();
    // The program registers the stored key once the dialog has closed.
    settings.CaptureHotkey = CaptureKeyField.HotKey();
    DialogWriteSettings(settings);
    std::vector<CLSID> ids;
    for (int i = 0; i < ActionsView.Count(); ++i) {
        TListItem& row = ActionsView.Item(i);
        // A row whose identifiers did not convert has no entry to save.
        if (row.Checked() && row.Data)
            ids.push_back(static_cast<PluginEntry*>(row.Data.get())->PluginId);
    }
    WriteCheckedPlugins(CheckedPluginsPath(), ids);
}
