// The Kestrix plug-in contract for C++ plug-in authors: the two interfaces a
// plug-in implements, their identifiers, and the registry key that lists
// plug-ins. It matches the type library "kestrix" 1.0 (kestrix.tlb, also
// embedded in kestrix.exe as TYPELIB 1) and needs nothing but the Windows
// SDK headers. docs/plugins.md explains every call.
#pragma once

#include <windows.h>
#include <ole2.h>

// The type library "kestrix", version 1.0.
inline const GUID LIBID_kestrix = {
    0xEB2E2FCC, 0xDE77, 0x4560, {0xAD, 0x4C, 0xF1, 0x64, 0x86, 0xD5, 0x81, 0x9B}};
inline constexpr WORD kKestrixLibraryMajor = 1;
inline constexpr WORD kKestrixLibraryMinor = 0;

inline const IID IID_IKestrixPlugin = {
    0xF74878BF, 0x1956, 0x4809, {0x91, 0x2F, 0x7F, 0x38, 0x6C, 0x79, 0x05, 0x9A}};
inline const IID IID_IKestrixPluginOptions = {
    0x51D91612, 0xF647, 0x40A6, {0x98, 0x06, 0xA3, 0xBD, 0xF2, 0xD6, 0x43, 0x4E}};

// Under HKEY_CURRENT_USER: one subkey per plug-in, named by the plug-in
// object's class identifier in braces. The program reads only the names.
inline constexpr wchar_t kKestrixPluginsKey[] = L"Software\\Orvane\\Kestrix\\Plugins";

// What Notify tells the options object about the focus of its page.
enum TNotifyMessages : int {
    nmLostFocus = 0,
    nmGetFocus = 1
};

// Both interfaces are dual: the vtable below follows IDispatch's seven
// methods, and IDispatch is answered from the type library.
//
// Every method returns two things. The HRESULT is the call status: a
// failure is an error that the program shows to the user (with the text of
// the error information you set through SetErrorInfo). Result is the
// plug-in's verdict: a failing Result means "not done" and the program
// shows nothing.

// The plug-in object: names itself and processes the picture.
struct IKestrixPlugin : public IDispatch {
    // OptionsObjectName is the options object's class identifier in braces.
    virtual HRESULT STDMETHODCALLTYPE GetPluginInfo(BSTR* Name, BSTR* Description,
                                                    BSTR* OptionsObjectName, HRESULT* Result) = 0;
    // ImageStream is an IStream at offset 0 holding a whole Windows bitmap
    // file; ParentWnd is the program's window (an HWND) to own your windows.
    virtual HRESULT STDMETHODCALLTYPE Execute(IUnknown* ImageStream, LONG ParentWnd,
                                              HRESULT* Result) = 0;
};

// The options object: an OLE control shown in place as the plug-in's page.
struct IKestrixPluginOptions : public IDispatch {
    // The plug-in object that SaveSettings hands the user's choices to.
    virtual HRESULT STDMETHODCALLTYPE SetPlugin(IKestrixPlugin* Plugin) = 0;
    // A failing Result keeps the page (say why on it); Execute follows only
    // a successful one.
    virtual HRESULT STDMETHODCALLTYPE SaveSettings(HRESULT* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Notify(TNotifyMessages Msg) = 0;
};
