// Inside KestrixTestPlugin.dll: what its objects share.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "kestrix.h"  // the contract, generated from plugins/kestrix.idl
#include "tests/support/TestPlugin/TestPlugin.h"
#include "ui/Handles.h"

#include <string>

namespace test_plugin {

extern HINSTANCE ModuleInstance;

// Live objects and server locks; the DLL may unload when both are zero.
void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();

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

private:
    // The DWORD value name, or def when it is not set.
    DWORD Number(const std::string& name, DWORD def) const;

    ui::RegKey key_;
    char letter_;
};

// Appends one line to the call log.
void Log(const std::string& line);

// A failing status of method with its error information set.
HRESULT Fail(char letter, const char* method, HRESULT status);

// The vtable view of a dual interface of the contract, from the DLL's own
// copy of the type library.
ui::ComPtr<ITypeInfo> ContractTypeInfo(REFIID iid);

std::wstring Wide(const std::string& s);
std::string Narrow(const wchar_t* s);
std::string Hex(unsigned long value);

// Objects made by the factories.
HRESULT CreatePlugin(char letter, REFIID iid, void** out);
HRESULT CreateOptions(char letter, REFIID iid, void** out);
// Options objects live, or their factories held (the add-on server counts them).
bool OptionsInUse();

// The options object hands its settings to a plug-in of this DLL.
struct PluginSelf;
extern const IID IID_TestPluginSelf;
void SetPluginOptionsText(IUnknown* plugin, const std::string& text);
int PluginInstanceNumber(IUnknown* plugin);

// Interface maps of the objects: IUnknown plumbing shared by both kinds.
template <class Derived>
class RefCounted {
public:
    RefCounted() { ObjectCreated(); }
    virtual ~RefCounted() { ObjectDestroyed(); }
    ULONG Add() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG Drop() {
        LONG n = ::InterlockedDecrement(&refs_);
        if (n == 0) delete static_cast<Derived*>(this);
        return static_cast<ULONG>(n);
    }

private:
    volatile LONG refs_ = 0;
};

// IDispatch of a dual interface of the contract, answered from its type
// information; the object derives from this instead of the interface.
template <class Itf>
class DualDispatch : public Itf {
public:
    explicit DualDispatch(REFIID iid) : typeInfo_(ContractTypeInfo(iid)) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = typeInfo_ ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0 || !typeInfo_) return DISP_E_BADINDEX;
        *info = ui::ComPtr<ITypeInfo>(typeInfo_).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!typeInfo_) return E_UNEXPECTED;
        return ::DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!typeInfo_) return E_UNEXPECTED;
        return ::DispInvoke(static_cast<Itf*>(this), typeInfo_.get(), id, flags, params, result,
                            excep, argErr);
    }

protected:
    ui::ComPtr<ITypeInfo> typeInfo_;
};

}  // namespace test_plugin
