// A client of the program's automation server, run as a process of its own
// by the tests and the benchmark. It knows the contract only, so every
// object it gets comes from whatever server the registry names.
//
//   kestrix_client list                   GetPluginList
//   kestrix_client plugin ID              GetPlugin(ID), then its name
//   kestrix_client malformed              GetPlugin of an identifier that is none
//   kestrix_client calls N [GO]           N calls of GetPluginList, after the
//                                         named event GO is set
//   kestrix_client hold READY RELEASE     holds one object from setting READY
//                                         until RELEASE is set
//   kestrix_client unlock READY RELEASE   the same after one LockServer(TRUE)
//                                         and three LockServer(FALSE) on the
//                                         class factory
//
// Prints one line of results; the exit code is 0 when everything was
// answered as expected.
#include <windows.h>
#include <initguid.h>
#include <ole2.h>

#include "kestrix.h"
#include "ui/Handles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Narrow(BSTR s) {
    if (!s) return {};
    int n = ::WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(::SysStringLen(s)), nullptr, 0,
                                  nullptr, nullptr);
    std::string a(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(::SysStringLen(s)), a.data(), n, nullptr,
                          nullptr);
    return a;
}

using ui::Bstr;
using ui::ComPtr;

ComPtr<IKestrixObject> CreateDirectory() {
    ComPtr<IKestrixObject> directory;
    HRESULT hr = ::CoCreateInstance(CLSID_KestrixObject, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_IKestrixObject, directory.put_void());
    if (FAILED(hr)) std::printf("create %08lX\n", static_cast<unsigned long>(hr));
    return directory;
}

ui::KernelHandle OpenNamedEvent(const char* name) {
    return ui::KernelHandle(::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name));
}

int List(IKestrixObject* directory) {
    Bstr list;
    HRESULT hr = directory->GetPluginList(list.put());
    std::printf("list %08lX %s\n", static_cast<unsigned long>(hr), Narrow(list.get()).c_str());
    return hr == S_OK ? 0 : 1;
}

int Plugin(IKestrixObject* directory, const char* id) {
    std::wstring wide(id, id + std::strlen(id));
    Bstr nick(wide.c_str());
    ComPtr<IKestrixPlugin> plugin;
    HRESULT hr = directory->GetPlugin(nick.get(), plugin.put());
    std::string name;
    if (SUCCEEDED(hr) && plugin) {
        Bstr n, d, o;
        HRESULT result = E_UNEXPECTED;
        hr = plugin->GetPluginInfo(n.put(), d.put(), o.put(), &result);
        name = Narrow(n.get());
    }
    std::printf("plugin %08lX %s\n", static_cast<unsigned long>(hr), name.c_str());
    return hr == S_OK ? 0 : 1;
}

// Execute of a plug-in instance that the program serves, once the
// directory object is gone: the instance alone keeps nothing running.
int Execute(ComPtr<IKestrixObject>& directory, const char* id) {
    std::wstring wide(id, id + std::strlen(id));
    Bstr nick(wide.c_str());
    ComPtr<IKestrixPlugin> plugin;
    HRESULT hr = directory->GetPlugin(nick.get(), plugin.put());
    directory.reset();
    HRESULT result = E_UNEXPECTED;
    if (SUCCEEDED(hr) && plugin) hr = plugin->Execute(nullptr, 0, &result);
    std::printf("execute %08lX\n", static_cast<unsigned long>(hr));
    return hr == S_OK ? 0 : 1;
}

int Malformed(IKestrixObject* directory) {
    Bstr nick(L"{not-a-class}");
    // A garbage pointer that the server must overwrite with null.
    IKestrixPlugin* plugin = reinterpret_cast<IKestrixPlugin*>(0x1234);
    HRESULT hr = directory->GetPlugin(nick.get(), &plugin);
    ComPtr<IKestrixPlugin> owned = ComPtr<IKestrixPlugin>::Attach(FAILED(hr) ? nullptr : plugin);
    // Error information, where the system carries it across processes.
    std::string description;
    ComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.put()) == S_OK && info) {
        Bstr text;
        info->GetDescription(text.put());
        description = Narrow(text.get());
    }
    // Read after the error information: a call of its own.
    bool supports = false;
    ComPtr<ISupportErrorInfo> support;
    if (SUCCEEDED(directory->QueryInterface(IID_ISupportErrorInfo, support.put_void())))
        supports = support->InterfaceSupportsErrorInfo(IID_IKestrixObject) == S_OK;
    std::printf("malformed %08lX %s %s|%s\n", static_cast<unsigned long>(hr),
                plugin ? "pointer" : "null", supports ? "supports" : "unsupported",
                description.c_str());
    return FAILED(hr) && !plugin && supports ? 0 : 1;
}

int Calls(IKestrixObject* directory, int count, const char* go) {
    if (go) {
        ui::KernelHandle event = OpenNamedEvent(go);
        if (!event || ::WaitForSingleObject(event.get(), 60000) != WAIT_OBJECT_0) {
            std::printf("calls no start\n");
            return 1;
        }
    }
    LARGE_INTEGER f, t0, t1;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t0);
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        Bstr list;
        if (directory->GetPluginList(list.put()) == S_OK) ++answered;
    }
    ::QueryPerformanceCounter(&t1);
    double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                static_cast<double>(f.QuadPart);
    std::printf("calls %d %.3f\n", answered, ms);
    return answered == count ? 0 : 1;
}

// The factory's lock, then more unlocks than locks; the object must still
// answer afterwards.
int Unlock(IKestrixObject* directory) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = ::CoGetClassObject(CLSID_KestrixObject, CLSCTX_LOCAL_SERVER, nullptr,
                                    IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) {
        std::printf("unlock factory %08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("unlock");
    for (BOOL lock : {TRUE, FALSE, FALSE, FALSE})
        std::printf(" %08lX", static_cast<unsigned long>(factory->LockServer(lock)));
    std::printf("\n");
    return List(directory);
}

int Hold(IKestrixObject*, const char* ready, const char* release) {
    ui::KernelHandle readyEvent = OpenNamedEvent(ready);
    ui::KernelHandle releaseEvent = OpenNamedEvent(release);
    if (!readyEvent || !releaseEvent) return 1;
    ::SetEvent(readyEvent.get());
    DWORD waited = ::WaitForSingleObject(releaseEvent.get(), 120000);
    std::printf("hold %s\n", waited == WAIT_OBJECT_0 ? "released" : "timed out");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string command = argv[1];
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = 1;
    if (ComPtr<IKestrixObject> owner = CreateDirectory()) {
        IKestrixObject* const directory = owner.get();
        if (command == "list")
            rc = List(directory);
        else if (command == "plugin" && argc > 2)
            rc = Plugin(directory, argv[2]);
        else if (command == "execute" && argc > 2)
            rc = Execute(owner, argv[2]);
        else if (command == "malformed")
            rc = Malformed(directory);
        else if (command == "calls" && argc > 2)
            rc = Calls(directory, std::atoi(argv[2]), argc > 3 ? argv[3] : nullptr);
        else if (command == "hold" && argc > 3)
            rc = Hold(directory, argv[2], argv[3]);
        else if (command == "unlock" && argc > 3)
            rc = Unlock(directory) | Hold(directory, argv[2], argv[3]);
        else
            rc = 2;
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return rc;
}
