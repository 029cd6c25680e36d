// KestrixTestPlugin.dll: an in-process COM server with three plug-ins (A, B
// and C) for the program's tests, and a class that is no plug-in at all.
// Its objects, factories, registration and exports are the shipped add-ons'
// own (addons/common); only its switches and its call log are its own.
//
// Installing: `regsvr32 /s KestrixTestPlugin.dll` registers every class
// below (HKEY_CLASSES_ROOT, or HKCU\Software\Classes where that is refused)
// and creates the three plug-in subkeys under
// HKCU\Software\Orvane\Kestrix\Plugins; `regsvr32 /u` removes them again. A
// test that wants fewer plug-ins deletes the subkeys it does not want.
//
// Each plug-in letter L has
//   - a plug-in object (IKestrixPlugin, dual; IDispatch from the contract's
//     type library, which the DLL carries as its own TYPELIB 1), ProgID
//     "KestrixTest.PluginL";
//   - an options object, ProgID "KestrixTest.OptionsL": the add-ons' own
//     options page (addons/common/OptionsControl.h: IOleObject,
//     IOleInPlaceObject, IOleInPlaceActiveObject, IPersistStorage,
//     IKestrixPluginOptions, dual, and its keyboard rules) whose page shows
//     "Test plug-in L options" and an edit field (id 100) on a colour of its
//     own (see OptionsColor). Shown in place when the site can take it, else
//     inside a small window of its own ("Test plug-in L options", class
//     kOwnWindowClass). SaveSettings hands the edit field's text to the
//     plug-in instance received through SetPlugin, and Execute logs it.
// "KestrixTest.NotAPlugin" creates an object that answers only IUnknown.
//
// Switches, read at every call from HKCU\Software\Orvane\Kestrix\TestPlugin:
//   LogFile            REG_SZ  the call log (default %TEMP%\KestrixTestPlugin.log)
// and from its subkey A, B or C, for the plug-in and options object of that
// letter (all optional):
//   Name, Description  REG_SZ  what GetPluginInfo reports
//                              (default "Test plug-in L", "Kestrix test plug-in L")
//   OptionsObjectName  REG_SZ  reported instead of the options class identifier
//   <Method>Status     DWORD   the call status of a method (default S_OK); with
//                              a failure the method sets error information
//                              whose description is ErrorText
//   <Method>Result     DWORD   the Result of GetPluginInfo, Execute and
//                              SaveSettings (default S_OK)
//     where <Method> is GetPluginInfo, Execute, SetPlugin, SaveSettings, Notify
//   QueryInterfaceStatus DWORD what the options object answers when asked
//                              for IKestrixPluginOptions (default: itself)
//   ErrorText          REG_SZ  default "<Method> failed in test plug-in L"
//   ExecuteFile        REG_SZ  where Execute writes the bytes its stream held
//                              (default %TEMP%\KestrixTestPluginL.bmp)
//   AcceleratorKeys    REG_SZ  virtual keys (as characters, "Q") whose key-down
//                              the options object's TranslateAccelerator takes
//   <Method>Crash      DWORD   1: an access violation (a write to address 0x10)
//                              inside that call; 2: the process ends there
//                              (TerminateProcess, exit code 3)
//     where <Method> is GetPluginInfo, Execute, SetPlugin, SaveSettings, Notify,
//     DoVerb, Close, or Create: when the class factory creates the plug-in
//     object; Page: when the options page gets kCrashMessage; ExecuteDialog:
//     in a modal dialog that Execute shows first (only then)
//   GetPluginInfoBogus DWORD   1: the Name it returns is no BSTR
//   ExecuteLoopsUntilQuit DWORD 1: Execute runs a message loop of its own
//                              until WM_QUIT, which it keeps, and returns
//
// The log gets one line per call, appended as it happens:
//   "<L> plugin <n> created" / "destroyed", "<L> plugin <n> GetPluginInfo",
//   "<L> plugin <n> Execute size=<bytes> wnd=<hex> visible=<0|1> options=<text>",
//   "<L> options <n> created" / "destroyed",
//   "<L> options <n> SetPlugin plugin=<m>" (0: not one of ours, or none),
//   "<L> options <n> TranslateAccelerator <vk>" (only for the keys it takes),
//   "<L> options <n> SaveSettings", "<L> options <n> Notify <msg>",
//   "<L> options <n> <IOleObject/IPersistStorage method> [detail]",
//   "<L> crash <Method>" just before a crash a <Method>Crash switch asked for,
// where <n> and <m> number the instances of each kind in the process from 1.
#pragma once

#include <windows.h>

#include <string>

namespace test_plugin {

// Plug-in objects A, B, C.
inline constexpr CLSID CLSID_TestPluginA = {
    0x0EE13448, 0x4427, 0x4B13, {0xB4, 0xA0, 0x8A, 0x06, 0x76, 0x83, 0x39, 0x73}};
inline constexpr CLSID CLSID_TestPluginB = {
    0xFC884F89, 0x94B7, 0x4E36, {0x84, 0xD2, 0xC6, 0x8E, 0xD7, 0xFE, 0xE3, 0x3C}};
inline constexpr CLSID CLSID_TestPluginC = {
    0x0CD7B72B, 0x9966, 0x4836, {0x9B, 0xEA, 0x08, 0x3F, 0xBE, 0x49, 0xF2, 0x5B}};
// Their options objects.
inline constexpr CLSID CLSID_TestOptionsA = {
    0xA02297E3, 0x08A1, 0x4F8A, {0xAE, 0x5B, 0x4B, 0x74, 0xFF, 0x06, 0xF1, 0xD4}};
inline constexpr CLSID CLSID_TestOptionsB = {
    0xC1230C5C, 0xB863, 0x4667, {0x97, 0x82, 0x84, 0xAE, 0x37, 0xEF, 0xAB, 0x19}};
inline constexpr CLSID CLSID_TestOptionsC = {
    0x949E91F7, 0x7D98, 0x4883, {0x80, 0x17, 0x6D, 0xE6, 0xBD, 0x3E, 0xB9, 0xD4}};
// A creatable class without IKestrixPlugin.
inline constexpr CLSID CLSID_TestNotAPlugin = {
    0x940AD2D7, 0x5902, 0x46AF, {0xB1, 0x0E, 0x0F, 0x8F, 0x0C, 0x1C, 0x31, 0x40}};

inline constexpr char kSwitchesKey[] = "Software\\Orvane\\Kestrix\\TestPlugin";
inline constexpr char kDllName[] = "KestrixTestPlugin.dll";
// The options page (the add-ons' own page class), and the window an options
// object opens around it when its site cannot take it in place.
inline constexpr char kOptionsWindowClass[] = "KestrixAddonPage";
inline constexpr char kOwnWindowClass[] = "KestrixTestPluginOptions";
// Sent to the options page or Execute's dialog: its Crash switch acts.
inline constexpr UINT kCrashMessage = WM_APP + 0x7E;

// The plug-in identifier of letter 'A', 'B' or 'C', as the registry names it.
inline const char* PluginId(char letter) {
    switch (letter) {
        case 'A': return "{0EE13448-4427-4B13-B4A0-8A0676833973}";
        case 'B': return "{FC884F89-94B7-4E36-84D2-C68ED7FEE33C}";
        case 'C': return "{0CD7B72B-9966-4836-9BEA-083FBE49F25B}";
        default: return "";
    }
}
inline const char* OptionsId(char letter) {
    switch (letter) {
        case 'A': return "{A02297E3-08A1-4F8A-AE5B-4B74FF06F1D4}";
        case 'B': return "{C1230C5C-B863-4667-9782-84AE37EFAB19}";
        case 'C': return "{949E91F7-7D98-4883-8017-6DE6BD3EB9D4}";
        default: return "";
    }
}
inline constexpr char kNotAPluginId[] = "{940AD2D7-5902-46AF-B10E-0F8F0C1C3140}";

// Background of the options window of each letter.
inline COLORREF OptionsColor(char letter) {
    switch (letter) {
        case 'A': return RGB(0xC0, 0x40, 0x40);
        case 'B': return RGB(0x40, 0xA0, 0x40);
        default: return RGB(0x40, 0x60, 0xC0);
    }
}

}  // namespace test_plugin
