// The per-user settings in the registry. The after-capture wizard and the
// settings dialog each go through one fixed sequence here; nothing else
// touches these values. Every sequence opens its keys, reads or writes, and
// closes them again: there is no settings object kept in memory.
#pragma once

#include <string>

extern const char kSettingsKey[];    // under HKEY_CURRENT_USER
extern const char kAutoRunKey[];     // under HKEY_CURRENT_USER
extern const char kAutoRunValue[];   // the value naming the program in kAutoRunKey

// What the wizard reads when it is created.
struct TWizardSettings {
    bool QuickMode = false;
    int MaxHistorySteps = 10;
    bool LeaveInClipboard = false;
};

// The key that starts a capture: the virtual key in the low byte, HOTKEYF_*
// modifiers in the next (as the platform's hot-key field gives it), 0 for
// none. Print Screen alone until the user chooses.
constexpr unsigned short kDefaultCaptureHotkey = 0x2C;  // VK_SNAPSHOT

// Whether the key may start a capture: Print Screen, Pause and F1 to F24 may
// stand alone or with Shift; any other key needs Ctrl or Alt, since it would
// otherwise fire while the user types. None (0) is allowed.
bool CaptureHotkeyAllowed(unsigned short hotkey);

// What the settings dialog reads when it opens and writes on OK.
struct TDialogSettings {
    bool QuickMode = false;
    int MaxHistorySteps = 0;
    bool StartWithWindows = false;
    unsigned short CaptureHotkey = kDefaultCaptureHotkey;
};

// Wizard read: the three values, each with its fallback when it cannot be
// read. Raises only when the settings key can be neither opened nor created.
TWizardSettings WizardReadSettings();

// Wizard write: "LeaveInClipboard" as 1 or 0.
void WizardWriteSettings(bool LeaveInClipboard);

// Dialog read: fills Settings in order (QuickMode, MaxHistorySteps,
// CaptureHotkey, then StartWithWindows from the presence of the autorun value). When it raises,
// the fields it had not reached keep what the caller put in them, so a
// failing autorun key still delivers the two numbers.
void DialogReadSettings(TDialogSettings& Settings);

// Dialog write: "QuickMode", "MaxHistorySteps" and "CaptureHotkey", then
// the autorun value
// written (the program's path) or deleted. What was written before a
// failure stays written.
void DialogWriteSettings(const TDialogSettings& Settings);

// The stored capture key, for the program at its start and after the
// dialog: never raises and creates nothing; a key or value that cannot be
// read gives Print Screen.
unsigned short ReadCaptureHotkey();

// The running program's full path.
std::wstring ProgramFileName();

// The command line stored as the autorun value for a program path: quoted
// when the path holds a space, since the system would otherwise try the
// path's first words as a program of their own.
std::wstring AutoRunCommand(const std::wstring& Path);
