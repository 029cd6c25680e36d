// For tests: installs KestrixTestPlugin.dll, sets its switches and reads
// its call log (see TestPlugin.h for what they mean).
#pragma once

#include "tests/support/TestPlugin/TestPlugin.h"

#include <string>
#include <vector>

namespace test_plugin {

// The DLL beside the running test program.
std::string DllPath();

// Runs "regsvr32 /s" (with /u to uninstall) on the DLL and waits for it;
// its exit code, or -1 when it did not run or end in time.
int RunRegsvr32(bool install);

// Switches of one letter; ClearSwitches removes every switch.
void SetSwitch(char letter, const std::string& name, DWORD value);
void SetSwitchText(char letter, const std::string& name, const std::string& value);
void ClearSwitches();

// The call log, at its default place.
std::string LogPath();
std::vector<std::string> LogLines();
void ClearLog();

// What Execute of letter wrote, by default.
std::string ExecuteFile(char letter);
std::string ReadWholeFile(const std::string& path);
std::string ReadWholeFile(const std::wstring& path);

// The DLL's own DllCanUnloadNow, as COM would call it; E_UNEXPECTED when
// the DLL is not loaded in this process.
HRESULT CanUnloadNow();

}  // namespace test_plugin
