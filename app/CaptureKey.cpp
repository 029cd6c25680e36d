#include "app/CaptureKey.h"

#include "settings/SettingsStore.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

namespace {

UINT Modifiers(WORD hotkey) {
    const BYTE f = HIBYTE(hotkey);
    UINT mods = 0;
    if (f & HOTKEYF_CONTROL) mods |= MOD_CONTROL;
    if (f & HOTKEYF_ALT) mods |= MOD_ALT;
    if (f & HOTKEYF_SHIFT) mods |= MOD_SHIFT;
    return mods;
}

// Names the keyboard layout does not spell the same everywhere.
const char* FixedName(BYTE vk) {
    switch (vk) {
        case VK_SNAPSHOT: return "Print Screen";
        case VK_PAUSE: return "Pause";
        case VK_CANCEL: return "Break";
        case VK_SCROLL: return "Scroll Lock";
        case VK_NUMLOCK: return "Num Lock";
        case VK_INSERT: return "Insert";
        case VK_DELETE: return "Delete";
        case VK_HOME: return "Home";
        case VK_END: return "End";
        case VK_PRIOR: return "Page Up";
        case VK_NEXT: return "Page Down";
        case VK_LEFT: return "Left";
        case VK_RIGHT: return "Right";
        case VK_UP: return "Up";
        case VK_DOWN: return "Down";
        case VK_SPACE: return "Space";
        case VK_TAB: return "Tab";
        case VK_RETURN: return "Enter";
        case VK_ESCAPE: return "Esc";
        case VK_BACK: return "Backspace";
        default: return nullptr;
    }
}

}  // namespace

bool TCaptureKey::Apply(WORD hotkey, CaptureKeyNotice& notice) {
    if (hotkey == key_ && registered_) return false;
    Release();
    key_ = hotkey;
    const BYTE vk = LOBYTE(hotkey);
    if (!vk) return false;
    const std::string name = HotkeyName(hotkey);
    // A stored key the settings dialog would refuse (written by hand, or by
    // an older version) is not held: it would take that key from every
    // program the user types into.
    if (!CaptureHotkeyAllowed(hotkey)) {
        notice.Title = "The capture key needs Ctrl or Alt";
        notice.Text = name + " alone would capture whenever it is typed, so it does not start a "
                      "capture. Choose another capture key in Settings (right-click this icon, "
                      "Options...). A double-click on the icon still captures.";
        return Tell(hotkey);
    }
    // Held down, the key would repeat: one capture a press is enough.
    registered_ = ::RegisterHotKey(target_, id_, Modifiers(hotkey) | MOD_NOREPEAT, vk) ||
                  ::RegisterHotKey(target_, id_, Modifiers(hotkey), vk);
    if (vk == VK_SNAPSHOT && !Modifiers(hotkey) && SnippingTakesPrintScreen()) {
        notice.Title = "Print Screen opens Windows' snipping";
        notice.Text = "Windows keeps Print Screen for its own screen snipping, so the key does not "
                      "start a capture here. Turn that off in the Windows settings (Accessibility, "
                      "Keyboard) or choose another capture key in Settings.";
    } else if (!registered_) {
        notice.Title = "The capture key is taken";
        notice.Text = "Another program holds " + name + ", so the key does not start a capture. "
                      "Choose another capture key in Settings (right-click this icon, "
                      "Options...). A double-click on the icon still captures.";
    } else {
        return false;
    }
    return Tell(hotkey);
}

bool TCaptureKey::Tell(WORD hotkey) {
    if (std::find(told_.begin(), told_.end(), hotkey) != told_.end()) return false;
    told_.push_back(hotkey);
    return true;
}

void TCaptureKey::Release() {
    if (registered_) ::UnregisterHotKey(target_, id_);
    registered_ = false;
}

std::string HotkeyName(WORD hotkey) {
    const BYTE vk = LOBYTE(hotkey), f = HIBYTE(hotkey);
    std::string name;
    if (f & HOTKEYF_CONTROL) name += "Ctrl+";
    if (f & HOTKEYF_ALT) name += "Alt+";
    if (f & HOTKEYF_SHIFT) name += "Shift+";
    if (const char* fixed = FixedName(vk)) return name + fixed;
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return name + static_cast<char>(vk);
    char text[64] = {};
    if (vk >= VK_F1 && vk <= VK_F24) {
        std::snprintf(text, sizeof text, "F%d", vk - VK_F1 + 1);
        return name + text;
    }
    LONG scan = static_cast<LONG>(::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC)) << 16;
    if (f & HOTKEYF_EXT) scan |= 1L << 24;
    if (scan && ::GetKeyNameTextA(scan, text, sizeof text) > 0) return name + text;
    std::snprintf(text, sizeof text, "key %u", static_cast<unsigned>(vk));
    return name + text;
}

bool SnippingTakesPrintScreen() {
    DWORD value = 0, size = sizeof value;
    return ::RegGetValueA(HKEY_CURRENT_USER, "Control Panel\\Keyboard",
                          "PrintScreenKeyForSnippingEnabled", RRF_RT_REG_DWORD, nullptr, &value,
                          &size) == ERROR_SUCCESS &&
           value == 1;
}
