// Inside KestrixTestPlugin.dll: what its objects share.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "automation/ComObj.h"
#include "kestrix.h"  // the contract, generated from plugins/kestrix.idl
#include "tests/support/TestPlugin/TestPlugin.h"
#include "ui/Handles.h"

#include <string>

namespace test_plugin {

// The per-letter switches of TestPlugin.h.
class Switches {
public:
    explicit Switches(char letter);
    HRESULT Status(const char* method) const;
    HRESULT Result(const char* method) const;
    // What <method>Crash asks for: 1 an access violation in the caller's
    // frame, 2 the end of the process (exit code 3); otherwise nothing.
    void Crash(const char* method) const;
    // The value, or def when it is not set.
    std::string Text(const char* name, const std::string& def) const;
    // The DWORD value name, or def when it is not set.
    DWORD Number(const std::string& name, DWORD def) const;

private:

    ui::RegKey key_;
    char letter_;
};

// Appends one line to the call log.
void Log(const std::string& line);

// A modal dialog owned by parent whose procedure meets the ExecuteDialog
// crash switch of the letter once its loop runs.
void ShowCrashingDialog(char letter, LONG parent);

// A failing status of method with its error information set.
HRESULT Fail(char letter, const char* method, HRESULT status);

std::string Hex(unsigned long value);

// Makes an options object of the factory's letter.
automation::TComObject* CreateOptions(automation::TComObjectFactory& factory);

// The options object hands its settings to a plug-in of this DLL.
extern const IID IID_TestPluginSelf;
void SetPluginOptionsText(IUnknown* plugin, const std::string& text);
int PluginInstanceNumber(IUnknown* plugin);

}  // namespace test_plugin
