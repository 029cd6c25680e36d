#include "settings/SettingsStore.h"

#include "ui/Exception.h"
#include "ui/Handles.h"
#include "ui/Strings.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>

using ui::Exception;
using ui::RegKey;

const char kSettingsKey[] = "Software\\Orvane\\Kestrix";
const char kAutoRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kAutoRunValue[] = "Kestrix";

namespace {

const char kQuickMode[] = "QuickMode";
const char kMaxHistorySteps[] = "MaxHistorySteps";
const char kLeaveInClipboard[] = "LeaveInClipboard";
const char kCaptureHotkey[] = "CaptureHotkey";

// Open if it is there, create it (with its parents) if not.
RegKey OpenSettingsKey() {
    HKEY key = nullptr;
    if (::RegOpenKeyA(HKEY_CURRENT_USER, kSettingsKey, &key) == ERROR_SUCCESS) return RegKey(key);
    key = nullptr;
    if (::RegCreateKeyA(HKEY_CURRENT_USER, kSettingsKey, &key) == ERROR_SUCCESS) return RegKey(key);
    throw Exception("Error opening general registry key");
}

// Never created: the system owns this key.
RegKey OpenAutoRunKey() {
    HKEY key = nullptr;
    if (::RegOpenKeyA(HKEY_CURRENT_USER, kAutoRunKey, &key) == ERROR_SUCCESS) return RegKey(key);
    throw Exception("Error opening AutoRun registry key");
}

// The value's bytes in a 4-byte buffer whatever its type; shorter data
// leaves the upper bytes zero. False when it is absent or longer.
bool ReadNumber(HKEY key, const char* name, uint32_t& out) {
    BYTE buf[4] = {};
    DWORD size = sizeof buf;
    if (::RegQueryValueExA(key, name, nullptr, nullptr, buf, &size) != ERROR_SUCCESS) return false;
    std::memcpy(&out, buf, sizeof out);
    return true;
}

int ReadInteger(HKEY key, const char* name, int fallback) {
    uint32_t v = 0;
    return ReadNumber(key, name, v) ? static_cast<int32_t>(v) : fallback;
}

// Only the lowest byte counts, so 256 reads as off.
bool ReadFlag(HKEY key, const char* name, bool fallback) {
    uint32_t v = 0;
    return ReadNumber(key, name, v) ? (v & 0xFF) != 0 : fallback;
}

void WriteNumber(HKEY key, const char* name, int32_t value, const char* failure) {
    if (::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof value) != ERROR_SUCCESS)
        throw Exception(failure);
}

// Bits above the modifier byte mean nothing to the hot-key field.
unsigned short ReadHotkey(HKEY key) {
    uint32_t v = 0;
    return ReadNumber(key, kCaptureHotkey, v) ? static_cast<unsigned short>(v & 0xFFFF)
                                               : kDefaultCaptureHotkey;
}

}  // namespace

TWizardSettings WizardReadSettings() {
    RegKey key = OpenSettingsKey();
    TWizardSettings s;
    s.QuickMode = ReadFlag(key.get(), kQuickMode, false);
    s.MaxHistorySteps = ReadInteger(key.get(), kMaxHistorySteps, 10);
    s.LeaveInClipboard = ReadFlag(key.get(), kLeaveInClipboard, false);
    return s;
}

void WizardWriteSettings(bool LeaveInClipboard) {
    RegKey key = OpenSettingsKey();
    WriteNumber(key.get(), kLeaveInClipboard, LeaveInClipboard ? 1 : 0,
                "Error write LeaveInClipboard registry value");
}

void DialogReadSettings(TDialogSettings& Settings) {
    {
        RegKey key = OpenSettingsKey();
        Settings.QuickMode = ReadFlag(key.get(), kQuickMode, false);
        Settings.MaxHistorySteps = ReadInteger(key.get(), kMaxHistorySteps, 10);
        Settings.CaptureHotkey = ReadHotkey(key.get());
    }
    RegKey run = OpenAutoRunKey();
    Settings.StartWithWindows =
        ::RegQueryValueExA(run.get(), kAutoRunValue, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS;
}

void DialogWriteSettings(const TDialogSettings& Settings) {
    {
        RegKey key = OpenSettingsKey();
        WriteNumber(key.get(), kQuickMode, Settings.QuickMode ? 1 : 0,
                    "Error write QuickMode registry value");
        WriteNumber(key.get(), kMaxHistorySteps, Settings.MaxHistorySteps,
                    "Error write MaxHistorySteps registry value");
        WriteNumber(key.get(), kCaptureHotkey, Settings.CaptureHotkey,
                    "Error write CaptureHotkey registry value");
    }
    RegKey run = OpenAutoRunKey();
    if (Settings.StartWithWindows) {
        std::wstring command = AutoRunCommand(ProgramFileName());
        if (command.empty() ||
            ::RegSetValueExW(run.get(), L"Kestrix", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) !=
                ERROR_SUCCESS)
            throw Exception("Error write AutoRun value");
    } else {
        // Absent already is as good as deleted.
        ::RegDeleteValueA(run.get(), kAutoRunValue);
    }
}

bool CaptureHotkeyAllowed(unsigned short hotkey) {
    const unsigned vk = hotkey & 0xFF, mods = hotkey >> 8;
    return vk == 0 || (mods & (HOTKEYF_CONTROL | HOTKEYF_ALT)) || vk == VK_SNAPSHOT ||
           vk == VK_PAUSE || (vk >= VK_F1 && vk <= VK_F24);
}

unsigned short ReadCaptureHotkey() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return kDefaultCaptureHotkey;
    return ReadHotkey(RegKey(key).get());
}

std::wstring ProgramFileName() {
    // Wide and whole: an ANSI or 260-character copy could name a different
    // file than the one running.
    return ui::ModuleFileName(nullptr);
}

std::wstring AutoRunCommand(const std::wstring& Path) { return ui::ProgramCommand(Path); }
