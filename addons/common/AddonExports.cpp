// The exports of an add-on DLL, compiled into each of them.
#include "addons/common/AddonServer.h"
#include "addons/common/OptionsControl.h"

#include <olectl.h>

using namespace addons;

namespace {
void EachFactory(const std::function<void(automation::TComObjectFactory&)>& fn) {
    CreateAddonFactories();
    automation::ComClassManager().ForEachFactory(&TAddonServer::Instance(), fn);
}

HRESULT UpdateRegistration(bool Register) noexcept {
    try {
        EachFactory([&](automation::TComObjectFactory& f) { f.UpdateRegistry(Register); });
        return S_OK;
    } catch (...) {
        return automation::HandleSafeCallException(IID_NULL, "Kestrix add-on registration") ==
                       E_OUTOFMEMORY
                   ? E_OUTOFMEMORY
                   : SELFREG_E_CLASS;
    }
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ModuleInstance = instance;
        ::DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded while the process goes on: the page's class must not
        // outlive the code of its window procedure.
        UnregisterPageClass();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        automation::TComObjectFactory* found = nullptr;
        EachFactory([&](automation::TComObjectFactory& f) {
            if (f.ClassID() == clsid) found = &f;
        });
        if (!found) return CLASS_E_CLASSNOTAVAILABLE;
        return found->QueryInterface(iid, out);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return TAddonServer::Instance().InUse() ? S_FALSE : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    HRESULT hr = UpdateRegistration(true);
    // Half a registration would list a plug-in that cannot be created.
    if (FAILED(hr)) UpdateRegistration(false);
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UpdateRegistration(false); }
