// The baseline of the idle program's memory: an empty message loop that has
// loaded what any program of its kind loads (OLE, the shell and the common
// controls) and does nothing else until it is ended.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ::OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    wchar_t path[MAX_PATH];
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
    ::OleUninitialize();
    return 0;
}
