// The baseline of the idle program's memory: an empty message loop that has
// loaded what any program of its kind loads (OLE, the shell and the common
// controls) and does nothing else until it is ended. Given "/server" it
// also holds what any tray program that serves other programs must: a
// hidden window with an icon and a class object published for other
// processes (which under Wine starts a thread that listens for them).
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

namespace {

// A class object that makes nothing: only its publication is measured.
struct Factory : IClassFactory {
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return *out = nullptr, E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

// {6F1A3B52-8C1D-4E0B-9A57-2D4C8E9B1F03}, a class of this baseline alone.
const CLSID kClass = {0x6f1a3b52, 0x8c1d, 0x4e0b, {0x9a, 0x57, 0x2d, 0x4c, 0x8e, 0x9b, 0x1f, 0x03}};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR args, int) {
    ::OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    wchar_t path[MAX_PATH];
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
    Factory factory;
    DWORD cookie = 0;
    HWND wnd = nullptr;
    NOTIFYICONDATAA icon = {};
    if (std::strstr(args, "/server")) {
        wnd = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                                nullptr);
        icon.cbSize = NOTIFYICONDATAA_V2_SIZE;
        icon.hWnd = wnd;
        icon.uFlags = NIF_ICON | NIF_TIP;
        icon.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
        ::Shell_NotifyIconA(NIM_ADD, &icon);
        ::CoRegisterClassObject(kClass, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    }
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
    if (cookie) ::CoRevokeClassObject(cookie);
    if (wnd) {
        ::Shell_NotifyIconA(NIM_DELETE, &icon);
        ::DestroyWindow(wnd);
    }
    ::OleUninitialize();
    return 0;
}
