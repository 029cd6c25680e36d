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
//
// Prints one line of results; the exit code is 0 when everything was
// answered as expected.
#include <windows.h>
#include <initguid.h>
#include <ole2.h>

#include "kestrix.h"

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

IKestrixObject* CreateDirectory() {
    IKestrixObject* directory = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_KestrixObject, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_IKestrixObject, reinterpret_cast<void**>(&directory));
    if (FAILED(hr)) {
        std::printf("create %08lX\n", static_cast<unsigned long>(hr));
        return nullptr;
    }
    return directory;
}

HANDLE OpenNamedEvent(const char* name) {
    return ::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
}

int List(IKestrixObject* directory) {
    BSTR list = nullptr;
    HRESULT hr = directory->GetPluginList(&list);
    std::printf("list %08lX %s\n", static_cast<unsigned long>(hr), Narrow(list).c_str());
    ::SysFreeString(list);
    return hr == S_OK ? 0 : 1;
}

int Plugin(IKestrixObject* directory, const char* id) {
    std::wstring wide(id, id + std::strlen(id));
    BSTR nick = ::SysAllocString(wide.c_str());
    IKestrixPlugin* plugin = nullptr;
    HRESULT hr = directory->GetPlugin(nick, &plugin);
    ::SysFreeString(nick);
    std::string name;
    if (SUCCEEDED(hr) && plugin) {
        BSTR n = nullptr, d = nullptr, o = nullptr;
        HRESULT result = E_UNEXPECTED;
        hr = plugin->GetPluginInfo(&n, &d, &o, &result);
        name = Narrow(n);
        ::SysFreeString(n);
        ::SysFreeString(d);
        ::SysFreeString(o);
        plugin->Release();
    }
    std::printf("plugin %08lX %s\n", static_cast<unsigned long>(hr), name.c_str());
    return hr == S_OK ? 0 : 1;
}

int Malformed(IKestrixObject* directory) {
    BSTR nick = ::SysAllocString(L"{not-a-class}");
    IKestrixPlugin* plugin = reinterpret_cast<IKestrixPlugin*>(0x1234);
    HRESULT hr = directory->GetPlugin(nick, &plugin);
    ::SysFreeString(nick);
    // Error information, where the system carries it across processes.
    std::string description;
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) == S_OK && info) {
        BSTR text = nullptr;
        info->GetDescription(&text);
        description = Narrow(text);
        ::SysFreeString(text);
        info->Release();
    }
    // Read after the error information: a call of its own.
    bool supports = false;
    ISupportErrorInfo* support = nullptr;
    if (SUCCEEDED(directory->QueryInterface(IID_ISupportErrorInfo,
                                            reinterpret_cast<void**>(&support)))) {
        supports = support->InterfaceSupportsErrorInfo(IID_IKestrixObject) == S_OK;
        support->Release();
    }
    std::printf("malformed %08lX %s %s|%s\n", static_cast<unsigned long>(hr),
                plugin ? "pointer" : "null", supports ? "supports" : "unsupported",
                description.c_str());
    return FAILED(hr) && !plugin && supports ? 0 : 1;
}

int Calls(IKestrixObject* directory, int count, const char* go) {
    if (go) {
        HANDLE event = OpenNamedEvent(go);
        if (!event || ::WaitForSingleObject(event, 60000) != WAIT_OBJECT_0) {
            std::printf("calls no start\n");
            return 1;
        }
        ::CloseHandle(event);
    }
    LARGE_INTEGER f, t0, t1;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t0);
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        BSTR list = nullptr;
        if (directory->GetPluginList(&list) == S_OK) ++answered;
        ::SysFreeString(list);
    }
    ::QueryPerformanceCounter(&t1);
    double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                static_cast<double>(f.QuadPart);
    std::printf("calls %d %.3f\n", answered, ms);
    return answered == count ? 0 : 1;
}

int Hold(IKestrixObject* directory, const char* ready, const char* release) {
    HANDLE readyEvent = OpenNamedEvent(ready);
    HANDLE releaseEvent = OpenNamedEvent(release);
    if (!readyEvent || !releaseEvent) return 1;
    ::SetEvent(readyEvent);
    DWORD waited = ::WaitForSingleObject(releaseEvent, 120000);
    std::printf("hold %s\n", waited == WAIT_OBJECT_0 ? "released" : "timed out");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string command = argv[1];
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = 1;
    if (IKestrixObject* directory = CreateDirectory()) {
        if (command == "list")
            rc = List(directory);
        else if (command == "plugin" && argc > 2)
            rc = Plugin(directory, argv[2]);
        else if (command == "malformed")
            rc = Malformed(directory);
        else if (command == "calls" && argc > 2)
            rc = Calls(directory, std::atoi(argv[2]), argc > 3 ? argv[3] : nullptr);
        else if (command == "hold" && argc > 3)
            rc = Hold(directory, argv[2], argv[3]);
        else
            rc = 2;
        directory->Release();
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return rc;
}
