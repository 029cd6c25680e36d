// What the sample's plug-in object and its page share: the identifiers,
// owned references and handles, error information, IDispatch from the
// embedded type library, reference counting and the class factories.
#pragma once

#include "kestrix_plugin.h"

#include <olectl.h>

#include <new>
#include <string>
#include <utility>

namespace sample {

// Make identifiers of your own for a plug-in of your own.
const CLSID CLSID_SamplePlugin = {
    0x7E080D07, 0x5F36, 0x4A76, {0xB0, 0xB1, 0xB8, 0x23, 0x38, 0x4A, 0xB7, 0x14}};
const CLSID CLSID_SampleOptions = {
    0x76A05483, 0xEF05, 0x413E, {0x84, 0x1B, 0x93, 0x26, 0xEA, 0x1F, 0x29, 0x2D}};
// Private: lets the page find the plug-in object of this DLL behind the
// IKestrixPlugin it was handed.
const IID IID_SampleSelf = {
    0x247BCFE6, 0x0D04, 0x4D4C, {0x95, 0xB2, 0x9C, 0xC1, 0x66, 0x4C, 0x21, 0x06}};

const wchar_t kPluginProgId[] = L"KestrixSample.Plugin";
const wchar_t kOptionsProgId[] = L"KestrixSample.Options";

inline HINSTANCE module_ = nullptr;
inline volatile LONG objects_ = 0;
inline volatile LONG locks_ = 0;

// An owned COM reference.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(Ref&& o) noexcept : p_(o.detach()) {}
    Ref& operator=(Ref&& o) noexcept {
        reset(o.detach());
        return *this;
    }
    ~Ref() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset(T* p = nullptr) {
        if (p_) p_->Release();
        p_ = p;
    }
    void copy(T* p) {
        if (p) p->AddRef();
        reset(p);
    }
    T* detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

struct FileHandle {
    HANDLE h;
    ~FileHandle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};
struct RegKey {
    HKEY h = nullptr;
    ~RegKey() {
        if (h) ::RegCloseKey(h);
    }
};
struct Font {
    HFONT h = nullptr;
    ~Font() {
        if (h) ::DeleteObject(h);
    }
};

inline std::wstring GuidText(REFGUID id) {
    wchar_t text[40] = {};
    ::StringFromGUID2(id, text, 40);
    return text;
}

inline std::wstring SystemText(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring s = text ? text : L"Error " + std::to_wstring(error);
    if (text) ::LocalFree(text);
    while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r' || s.back() == L' ')) s.pop_back();
    return s;
}

// A failing call status with the message as error information: the program
// shows the message to the user.
inline HRESULT Fail(REFIID iid, HRESULT hr, const std::wstring& message) noexcept {
    Ref<ICreateErrorInfo> create;
    if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(kPluginProgId));
        create->SetDescription(const_cast<LPOLESTR>(message.c_str()));
        Ref<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void())))
            ::SetErrorInfo(0, info.get());
    }
    return hr;
}

// Runs a method's body: no C++ exception may leave a COM method.
template <class Body>
HRESULT Guarded(REFIID iid, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(iid, E_OUTOFMEMORY, L"Not enough memory");
    } catch (...) {
        return Fail(iid, E_UNEXPECTED, L"Unexpected error in the sample plug-in");
    }
}

inline std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(module_, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);
    }
}

// The vtable view of a dual interface, from this DLL's own copy of the type
// library: what IDispatch is answered from.
inline HRESULT ContractTypeInfo(REFIID iid, ITypeInfo** out) {
    *out = nullptr;
    Ref<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    Ref<ITypeInfo> dispatchView;
    hr = library->GetTypeInfoOfGuid(iid, dispatchView.put());
    if (FAILED(hr)) return hr;
    HREFTYPE vtableView = 0;
    hr = dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableView);
    if (FAILED(hr)) return hr;
    return dispatchView->GetRefTypeInfo(vtableView, out);
}

inline const IID& IidOf(IKestrixPlugin*) { return IID_IKestrixPlugin; }
inline const IID& IidOf(IKestrixPluginOptions*) { return IID_IKestrixPluginOptions; }

// IDispatch of a dual interface, for scripts and other processes, and the
// error information its methods set.
template <class Itf>
class Dual : public Itf, public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == IidOf(static_cast<Itf*>(this)) ? S_OK : S_FALSE;
    }

protected:
    // What every object of the sample answers a query for: IUnknown,
    // IDispatch, its dual interface and ISupportErrorInfo; else null.
    void* DualInterface(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IidOf(static_cast<Itf*>(this)))
            return static_cast<Itf*>(this);
        if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
        return nullptr;
    }

public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        HRESULT hr = Load();
        if (SUCCEEDED(hr)) {
            typeInfo_->AddRef();
            *info = typeInfo_.get();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = Load();
        return FAILED(hr) ? hr : ::DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = Load();
        if (FAILED(hr)) return hr;
        return ::DispInvoke(static_cast<Itf*>(this), typeInfo_.get(), id, flags, params, result,
                            excep, argErr);
    }

private:
    HRESULT Load() {
        return typeInfo_ ? S_OK : ContractTypeInfo(IidOf(static_cast<Itf*>(this)), typeInfo_.put());
    }
    Ref<ITypeInfo> typeInfo_;
};

// Reference counting, and the count of live objects that keeps the DLL
// loaded.
class Counted {
protected:
    Counted() { ::InterlockedIncrement(&objects_); }
    virtual ~Counted() { ::InterlockedDecrement(&objects_); }
    ULONG AddRefCount() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG ReleaseCount() {
        LONG n = ::InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    // The end of a QueryInterface: the interface found, with a reference of
    // its own, or E_NOINTERFACE when there is none.
    static HRESULT Hand(void* itf, void** out) {
        *out = itf;
        if (!itf) return E_NOINTERFACE;
        static_cast<IUnknown*>(itf)->AddRef();
        return S_OK;
    }

private:
    volatile LONG refs_ = 1;
};


// The class factory of one class of objects.
template <class Object>
class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // Static: the locks, not the references, keep the DLL loaded.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Object* object = new (std::nothrow) Object();
        if (!object) return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ::InterlockedIncrement(&locks_);
        else
            ::InterlockedDecrement(&locks_);
        return S_OK;
    }
};
// The factories of the two classes; static, as the DLL keeps them.
IClassFactory& PluginFactory();
IClassFactory& OptionsFactory();

// Hands the page's choices to the plug-in object of this DLL, found behind
// IID_SampleSelf.
void SetPluginSettings(IKestrixPlugin* self, std::wstring file, bool replace);

}  // namespace sample
