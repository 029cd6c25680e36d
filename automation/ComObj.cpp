#include "automation/ComObj.h"

#include <algorithm>
#include <new>

using namespace ui;

namespace automation {

int CoInitFlags = COINIT_APARTMENTTHREADED;

std::string GuidToString(const GUID& guid) {
    // As StringFromGUID2 spells it, without its round trip through UTF-16:
    // a listing of plug-ins spells one per plug-in.
    std::string text = "{00000000-0000-0000-0000-000000000000}";
    auto put = [&](size_t at, unsigned long value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value >>= 4) text[at + i] = "0123456789ABCDEF"[value & 15];
    };
    put(1, guid.Data1, 8);
    put(10, guid.Data2, 4);
    put(15, guid.Data3, 4);
    for (size_t k = 0; k < 8; ++k) put(k < 2 ? 20 + 2 * k : 21 + 2 * k, guid.Data4[k], 2);
    return text;
}

// ------------------------------------------------------------------------

HRESULT HandleSafeCallException(REFIID iid, const std::string& source) noexcept {
    HRESULT hr = E_UNEXPECTED;
    std::string text;
    try {
        throw;
    } catch (const EOleSysError& e) {
        hr = FAILED(e.ErrorCode) ? e.ErrorCode : E_FAIL;
        text = e.what();
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
        text = "Out of memory";
    } catch (const std::exception& e) {
        hr = E_FAIL;
        text = e.what();
    } catch (...) {
        text = "Unknown error";
    }
    try {
        ComPtr<ICreateErrorInfo> create;
        if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
            create->SetGUID(iid);
            create->SetDescription(const_cast<LPOLESTR>(WideFromUtf8(text).c_str()));
            create->SetSource(const_cast<LPOLESTR>(WideString(source).c_str()));
            ComPtr<IErrorInfo> info;
            if (SUCCEEDED(create.As(info))) ::SetErrorInfo(0, info.get());
        }
    } catch (...) {
        // Out of memory for the text: the status alone still gets out.
    }
    return hr;
}

namespace {
// The callee's error information for a failure, when it set some for this
// interface; the thread's error information is taken either way, so none is
// left for a later, unrelated failure.
bool CalleeErrorText(IUnknown* callee, REFIID iid, std::string& text) {
    ComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.put()) != S_OK || !info || !callee) return false;
    ComPtr<ISupportErrorInfo> support;
    if (FAILED(callee->QueryInterface(IID_ISupportErrorInfo, support.put_void())) || !support ||
        support->InterfaceSupportsErrorInfo(iid) != S_OK)
        return false;
    Bstr description;
    info->GetDescription(description.put());
    text = Utf8(description.get(), static_cast<int>(description.Length()));
    return true;
}
}  // namespace

TErrorHandler ErrorHandler = nullptr;

void ReportCurrentError() noexcept {
    if (!ErrorHandler) return;
    try {
        ErrorHandler();
    } catch (...) {
        // The handler's own failure has nowhere left to go.
    }
}

HRESULT RaiseCalleeError(HRESULT hr, IUnknown* callee, REFIID iid) {
    if (SUCCEEDED(hr)) return hr;
    std::string text;
    if (CalleeErrorText(callee, iid, text))
        throw EOleSysError(text.empty() ? SysErrorMessage(static_cast<DWORD>(hr)) : text, hr);
    return hr;
}

HRESULT OleCheckCall(HRESULT hr, IUnknown* callee, REFIID iid) {
    if (SUCCEEDED(hr)) return hr;
    std::string text;
    if (!CalleeErrorText(callee, iid, text) || text.empty())
        text = SysErrorMessage(static_cast<DWORD>(hr));
    throw EOleSysError(text, hr);
}

// ------------------------------------------------------------------------

TComObject::TComObject(TComObjectFactory& Factory) : factory_(Factory) {
    factory_.ComServer().AdjustObjectCount(true);
}

TComObject::~TComObject() {
    // The server may decide to quit here; nothing of that may unwind
    // through the caller's Release.
    Reported([&] { factory_.ComServer().AdjustObjectCount(false); });
}

HRESULT TComObject::QueryInterface(REFIID iid, void** out) noexcept {
    return ObjQueryInterface(iid, out);
}
ULONG TComObject::AddRef() noexcept { return ObjAddRef(); }
ULONG TComObject::Release() noexcept { return ObjRelease(); }

HRESULT TComObject::InterfaceSupportsErrorInfo(REFIID iid) noexcept {
    return GetInterface(iid) ? S_OK : S_FALSE;
}

HRESULT TComObject::ObjQueryInterface(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = GetInterface(iid);
    if (!*out) return E_NOINTERFACE;
    ObjAddRef();
    return S_OK;
}

ULONG TComObject::ObjAddRef() noexcept {
    return static_cast<ULONG>(::InterlockedIncrement(&refCount_));
}

ULONG TComObject::ObjRelease() noexcept {
    LONG n = ::InterlockedDecrement(&refCount_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

void* TComObject::GetInterface(REFIID iid) noexcept {
    // One pointer answers IUnknown, always the same, for COM's identity rule.
    if (iid == IID_IUnknown || iid == IID_ISupportErrorInfo)
        return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
}

HRESULT TComObject::SafeCallException(REFIID iid) noexcept {
    return factory_.SafeCallException(iid);
}

HRESULT TTypedComObject::QueryInterface(REFIID iid, void** out) noexcept {
    return ObjQueryInterface(iid, out);
}
ULONG TTypedComObject::AddRef() noexcept { return ObjAddRef(); }
ULONG TTypedComObject::Release() noexcept { return ObjRelease(); }

HRESULT TTypedComObject::GetClassInfo(ITypeInfo** TypeInfo) noexcept {
    if (!TypeInfo) return E_POINTER;
    *TypeInfo = nullptr;
    return SafeCall(IID_IProvideClassInfo, [&] {
        auto* typed = dynamic_cast<TTypedComObjectFactory*>(&Factory());
        if (!typed) return TYPE_E_ELEMENTNOTFOUND;
        *TypeInfo = typed->ClassInfo().Detach();
        return S_OK;
    });
}

void* TTypedComObject::GetInterface(REFIID iid) noexcept {
    if (iid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo*>(this);
    return TComObject::GetInterface(iid);
}

// ------------------------------------------------------------------------

namespace {
const char kTypeLibMarshaler[] = "{00020424-0000-0000-C000-000000000046}";
}  // namespace

// Class registration under HKEY_CLASSES_ROOT, or, once that is refused (a
// standard user on Windows), under the user's own HKCU\Software\Classes for
// the rest of the registration.
class ClassesWriter {
public:
    void Write(const std::string& path, const char* name, const std::string& value) {
        Write(path, name, WideString(value));
    }
    // Paths go in wide, so that every folder name arrives whole.
    void Write(const std::string& path, const char* name, const std::wstring& value) {
        RegKey key;
        LONG rc = Create(path, key);
        if (rc == ERROR_ACCESS_DENIED && !perUser_) {
            rc = SwitchToPerUser();
            if (rc == ERROR_SUCCESS) rc = Create(path, key);
        }
        if (rc == ERROR_SUCCESS)
            rc = ::RegSetValueExW(key.get(), name ? WideString(name).c_str() : nullptr, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        if (rc != ERROR_SUCCESS)
            throw EOleRegistrationError("Error creating system registry entry " + RootName() +
                                        "\\" + path + ": " + SysErrorMessage(rc));
    }

private:
    LONG Create(const std::string& path, RegKey& key) {
        return ::RegCreateKeyExA(perUser_ ? userClasses_.get() : HKEY_CLASSES_ROOT, path.c_str(),
                                 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    }
    LONG SwitchToPerUser() {
        LONG rc = ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, 0,
                                    KEY_WRITE, nullptr, userClasses_.put(), nullptr);
        if (rc == ERROR_SUCCESS) perUser_ = true;
        return rc;
    }
    std::string RootName() const {
        return perUser_ ? "HKEY_CURRENT_USER\\Software\\Classes" : "HKEY_CLASSES_ROOT";
    }

    bool perUser_ = false;
    RegKey userClasses_;
};

namespace {

// Removes a registration wherever it was written; a key that is not there
// is no error.
void DeleteClassesKey(const std::string& path) {
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    RegKey userClasses;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_ALL_ACCESS,
                        userClasses.put()) == ERROR_SUCCESS)
        ::RegDeleteTreeA(userClasses.get(), path.c_str());
}

const char* ThreadingModelName(TThreadingModel model) {
    switch (model) {
        case tmApartment: return "Apartment";
        case tmFree: return "Free";
        case tmBoth: return "Both";
        case tmNeutral: return "Neutral";
        default: return nullptr;
    }
}

}  // namespace

TComObjectFactory::TComObjectFactory(TComServerObject& ComServer, TComObjectCreator Creator,
                                     REFCLSID ClassID, const std::string& ClassName,
                                     const std::string& Description,
                                     TClassInstancing Instancing, TThreadingModel ThreadingModel)
    : className_(ClassName),
      description_(Description),
      server_(ComServer),
      creator_(Creator),
      classId_(ClassID),
      instancing_(Instancing),
      threading_(ThreadingModel) {
    ComClassManager().AddObjectFactory(this);
}

TComObjectFactory::~TComObjectFactory() {
    RevokeClassObject();
    ComClassManager().RemoveObjectFactory(this);
}

HRESULT TComObjectFactory::QueryInterface(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG TComObjectFactory::AddRef() noexcept {
    return static_cast<ULONG>(server_.AdjustFactoryCount(true));
}
ULONG TComObjectFactory::Release() noexcept {
    return static_cast<ULONG>(server_.AdjustFactoryCount(false));
}

HRESULT TComObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ::SetErrorInfo(0, nullptr);
    try {
        TComObject* object = CreateComObject();
        object->ObjAddRef();
        HRESULT hr = object->ObjQueryInterface(iid, out);
        object->ObjRelease();
        return hr;
    } catch (...) {
        return SafeCallException(IID_IClassFactory);
    }
}

HRESULT TComObjectFactory::LockServer(BOOL lock) noexcept {
    if (lock) {
        ::InterlockedIncrement(&locks_);
    } else {
        // Taken only while one is held, so the count never goes below zero.
        LONG held = locks_;
        for (;;) {
            if (held <= 0) return E_UNEXPECTED;
            LONG seen = ::InterlockedCompareExchange(&locks_, held - 1, held);
            if (seen == held) break;
            held = seen;
        }
    }
    // As at an object's release: what the server makes of its last lock is
    // the program's business, so an error there is the program's message
    // and not the client's failure.
    Reported([&] { server_.AdjustObjectCount(lock != FALSE); });
    return S_OK;
}

HRESULT TComObjectFactory::SafeCallException(REFIID iid) noexcept {
    std::string source;
    try {
        source = ProgID();
    } catch (...) {
        // A class whose name cannot be read is named by nothing.
    }
    return HandleSafeCallException(iid, source);
}

TComObject* TComObjectFactory::CreateComObject() { return creator_(*this); }

void TComObjectFactory::RegisterClassObject() {
    if (instancing_ == ciInternal || registration_) return;
    DWORD flags = instancing_ == ciSingleInstance ? REGCLS_SINGLEUSE : REGCLS_MULTIPLEUSE;
    if (server_.IsStartSuspended()) flags |= REGCLS_SUSPENDED;
    DWORD cookie = 0;
    OleCheck(::CoRegisterClassObject(classId_, static_cast<IClassFactory*>(this),
                                     CLSCTX_LOCAL_SERVER, flags, &cookie),
             "Cannot make the class " + GuidToString(classId_) + " available to other programs");
    registration_ = cookie;
}

void TComObjectFactory::RevokeClassObject() {
    if (DWORD cookie = std::exchange(registration_, 0)) ::CoRevokeClassObject(cookie);
}

std::string TComObjectFactory::ProgID() const {
    if (className_.empty()) return {};
    return server_.ServerName() + "." + className_;
}

void TComObjectFactory::UpdateRegistry(bool Register) {
    if (instancing_ == ciInternal) return;
    std::string classKey = "CLSID\\" + GuidToString(classId_);
    std::string progId = ProgID();
    if (Register) {
        ClassesWriter classes;
        WriteClassKeys(classes);
    } else {
        if (!progId.empty()) DeleteClassesKey(progId);
        DeleteClassesKey(classKey);
    }
}

void TComObjectFactory::WriteClassKeys(ClassesWriter& classes) {
    std::string classKey = "CLSID\\" + GuidToString(classId_);
    std::string progId = ProgID();
    std::string serverKey = server_.ServerKeyName();
    classes.Write(classKey, nullptr, description_);
    classes.Write(classKey + "\\" + serverKey, nullptr, ProgramCommand(server_.ServerFilePath()));
    if (const char* model = ThreadingModelName(threading_))
        if (serverKey == "InprocServer32")
            classes.Write(classKey + "\\" + serverKey, "ThreadingModel", model);
    if (!progId.empty()) {
        classes.Write(progId, nullptr, description_);
        classes.Write(progId + "\\CLSID", nullptr, GuidToString(classId_));
        classes.Write(classKey + "\\ProgID", nullptr, progId);
    }
}

// ------------------------------------------------------------------------

namespace {
std::string TypeInfoName(ITypeInfo* info, std::string* doc = nullptr) {
    Bstr name, docString;
    OleCheck(info->GetDocumentation(MEMBERID_NIL, name.put(), docString.put(), nullptr, nullptr),
             "Cannot read the name of a type in the type library");
    if (doc) *doc = AnsiString(docString.get());
    return AnsiString(name.get());
}

// The interfaces a class implements that the type library's own
// registration leaves out: only automation interfaces get their marshaler
// from it.
std::vector<ComPtr<ITypeInfo>> NonAutomationInterfaces(ITypeInfo* classInfo) {
    std::vector<ComPtr<ITypeInfo>> result;
    TypeAttr attr(classInfo, "Cannot read a type of the type library");
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> info;
        const char what[] = "Cannot read the interfaces of a class in the type library";
        OleCheck(classInfo->GetRefTypeOfImplType(i, &ref), what);
        OleCheck(classInfo->GetRefTypeInfo(ref, info.put()), what);
        TypeAttr itf(info.get(), "Cannot read a type of the type library");
        if (itf->typekind == TKIND_INTERFACE &&
            !(itf->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)))
            result.push_back(info);
    }
    return result;
}
}  // namespace

TTypedComObjectFactory::TTypedComObjectFactory(TComServerObject& ComServer,
                                               TComObjectCreator Creator, REFCLSID ClassID,
                                               TClassInstancing Instancing,
                                               TThreadingModel ThreadingModel)
    : TComObjectFactory(ComServer, Creator, ClassID, "", "", Instancing, ThreadingModel) {
    // Factories are made before COM and the application are up, where an
    // error has no message box yet: a type library that cannot be read is
    // reported when the class is registered or asked for it.
    try {
        ClassInfo();
    } catch (...) {
    }
}

ComPtr<ITypeInfo> TTypedComObjectFactory::ClassInfo() {
    if (!classInfo_) {
        ComPtr<ITypeLib> library = ComServer().GetTypeLibrary();
        if (!library)
            throw EOleSysError("The program's type library is not loaded", TYPE_E_CANTLOADLIBRARY);
        ComPtr<ITypeInfo> info;
        OleCheck(library->GetTypeInfoOfGuid(ClassID(), info.put()),
                 "The type library does not describe the class " + GuidToString(ClassID()));
        className_ = TypeInfoName(info.get(), &description_);
        classInfo_ = info;
    }
    return classInfo_;
}

void TTypedComObjectFactory::UpdateRegistry(bool Register) {
    if (Instancing() == ciInternal) return;
    ComPtr<ITypeInfo> info = ClassInfo();
    ComPtr<ITypeLib> library;
    UINT index = 0;
    const std::string what = "Cannot read the type library of the class " + GuidToString(ClassID());
    OleCheck(info->GetContainingTypeLib(library.put(), &index), what);
    std::string libId, version;
    {
        LibAttr libAttr(library.get(), what);
        libId = GuidToString(libAttr->guid);
        version = std::to_string(libAttr->wMajorVerNum) + "." + std::to_string(libAttr->wMinorVerNum);
    }

    std::vector<ComPtr<ITypeInfo>> interfaces = NonAutomationInterfaces(info.get());
    std::string classKey = "CLSID\\" + GuidToString(ClassID());
    if (Register) {
        ClassesWriter classes;
        WriteClassKeys(classes);
        classes.Write(classKey + "\\TypeLib", nullptr, libId);
        for (auto& itf : interfaces) {
            TypeAttr attr(itf.get(), "Cannot read a type of the type library");
            std::string key = "Interface\\" + GuidToString(attr->guid);
            classes.Write(key, nullptr, TypeInfoName(itf.get()));
            classes.Write(key + "\\ProxyStubClsid", nullptr, kTypeLibMarshaler);
            classes.Write(key + "\\ProxyStubClsid32", nullptr, kTypeLibMarshaler);
            classes.Write(key + "\\TypeLib", nullptr, libId);
            classes.Write(key + "\\TypeLib", "Version", version);
        }
    } else {
        for (auto& itf : interfaces) {
            TypeAttr attr(itf.get(), "Cannot read a type of the type library");
            DeleteClassesKey("Interface\\" + GuidToString(attr->guid));
        }
        TComObjectFactory::UpdateRegistry(false);
    }
}

// ------------------------------------------------------------------------

void TComClassManager::AddObjectFactory(TComObjectFactory* Factory) {
    factories_.push_back(Factory);
}

void TComClassManager::RemoveObjectFactory(TComObjectFactory* Factory) {
    factories_.erase(std::remove(factories_.begin(), factories_.end(), Factory),
                     factories_.end());
}

void TComClassManager::ForEachFactory(
    TComServerObject* ComServer, const std::function<void(TComObjectFactory&)>& FactoryProc) {
    std::vector<TComObjectFactory*> snapshot = factories_;
    for (TComObjectFactory* factory : snapshot) {
        // Skip one that an earlier call destroyed.
        if (std::find(factories_.begin(), factories_.end(), factory) == factories_.end()) continue;
        if (&factory->ComServer() == ComServer) FactoryProc(*factory);
    }
}

TComObjectFactory* TComClassManager::GetFactoryFromClassID(REFCLSID ClassID) const {
    for (TComObjectFactory* factory : factories_)
        if (factory->ClassID() == ClassID) return factory;
    return nullptr;
}

TComClassManager& ComClassManager() {
    static TComClassManager manager;
    return manager;
}

namespace {
TInitHook SaveInitProc = nullptr;

// A program without COM would look alive to its clients while their calls
// time out: a failure stops the start with its message.
void InitComObj() {
    if (SaveInitProc) SaveInitProc();
    if (CoInitFlags != -1)
        OleCheck(::CoInitializeEx(nullptr, static_cast<DWORD>(CoInitFlags)),
                 "Cannot initialise COM");
    // Embedded options pages and the clipboard need OLE as well; in a
    // multithreaded apartment it would refuse, and the program never asks
    // for one.
    if (CoInitFlags == -1 || !(CoInitFlags & COINIT_MULTITHREADED))
        OleCheck(::OleInitialize(nullptr), "Cannot initialise OLE");
}
}  // namespace

TInitHook ChainComInitHook(TInitHook previous) {
    SaveInitProc = previous;
    return InitComObj;
}

}  // namespace automation
