// Base classes of the program's COM objects and class factories, the server
// interface they report to, and the helpers that carry errors across COM.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>

#include "ui/Exception.h"
#include "ui/Handles.h"
#include "ui/Strings.h"

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace automation {

// Flags for CoInitializeEx at start-up, or -1 for none. The program's
// objects live in the user-interface thread's apartment; with flags chosen
// the server publishes its class objects suspended and resumes them all at
// once after registration.
extern int CoInitFlags;

// Text in the program's 8-bit code page to and from UTF-16, as ui has it.
using ui::AnsiString;
using ui::WideString;
using ui::Utf8;
using ui::WideFromUtf8;

// A class identifier in canonical form: braces, upper-case hexadecimal.
std::string GuidToString(const GUID& guid);

// ------------------------------------------------------------------------
// Errors across COM.

// Inside a catch block: records the current exception as the thread's error
// information (for iid, naming source) and returns the status to hand out.
HRESULT HandleSafeCallException(REFIID iid, const std::string& source) noexcept;

// For a caller of a method of ours through iid: a failure for which the
// callee set error information was raised by it, and is raised here again
// as EOleSysError; any other status is returned.
HRESULT RaiseCalleeError(HRESULT hr, IUnknown* callee, REFIID iid);

// Raises every failure, with the callee's error information when it set any
// and the system's text for the status otherwise.
HRESULT OleCheckCall(HRESULT hr, IUnknown* callee, REFIID iid);

// Errors that no caller can take (raised while an object is released or a
// lock dropped) go to this handler, called inside the catch block; the
// program main sets it to show them. Without one they are dropped.
using TErrorHandler = void (*)();
extern TErrorHandler ErrorHandler;
// Inside a catch block: hands the current exception to ErrorHandler.
void ReportCurrentError() noexcept;
// Runs fn; an exception it raises goes to ErrorHandler.
template <class F>
void Reported(F&& fn) noexcept {
    try {
        fn();
    } catch (...) {
        ReportCurrentError();
    }
}

// ------------------------------------------------------------------------
// Type information.

// The attributes of a type (TypeAttr) or of a type library (LibAttr), read
// at construction (a failure raises with what) and released by their
// owner at the end of the scope.
template <class Owner, class Attr>
class TypeInfoAttr {
public:
    TypeInfoAttr(Owner* owner, const std::string& what) : owner_(owner) {
        ui::OleCheck(Get(owner, &attr_), what);
    }
    TypeInfoAttr(const TypeInfoAttr&) = delete;
    TypeInfoAttr& operator=(const TypeInfoAttr&) = delete;
    ~TypeInfoAttr() {
        if (attr_) Release(owner_, attr_);
    }
    const Attr* operator->() const { return attr_; }

private:
    static HRESULT Get(ITypeInfo* info, TYPEATTR** attr) { return info->GetTypeAttr(attr); }
    static HRESULT Get(ITypeLib* library, TLIBATTR** attr) { return library->GetLibAttr(attr); }
    static void Release(ITypeInfo* info, TYPEATTR* attr) { info->ReleaseTypeAttr(attr); }
    static void Release(ITypeLib* library, TLIBATTR* attr) { library->ReleaseTLibAttr(attr); }

    Owner* owner_;
    Attr* attr_ = nullptr;
};
using TypeAttr = TypeInfoAttr<ITypeInfo, TYPEATTR>;
using LibAttr = TypeInfoAttr<ITypeLib, TLIBATTR>;

// ------------------------------------------------------------------------
// The server of a module, as factories and objects see it.

class TComServerObject {
public:
    virtual ~TComServerObject() = default;
    virtual int AdjustObjectCount(bool Created) = 0;
    virtual int AdjustFactoryCount(bool Created) = 0;
    virtual std::string GetHelpFile() = 0;
    virtual std::wstring ServerFilePath() = 0;
    virtual std::string ServerKeyName() = 0;
    virtual std::string ServerName() = 0;
    virtual bool IsStartSuspended() = 0;
    virtual ui::ComPtr<ITypeLib> GetTypeLibrary() = 0;
    virtual void SetHelpFile(const std::string& Value) = 0;
};

enum TClassInstancing { ciInternal, ciSingleInstance, ciMultiInstance };
enum TThreadingModel { tmSingle, tmApartment, tmFree, tmBoth, tmNeutral };

class TComObjectFactory;
// Where a registration writes: HKEY_CLASSES_ROOT, or the user's classes.
class ClassesWriter;

// ------------------------------------------------------------------------
// Objects.

// Reference counting (interlocked), ISupportErrorInfo, and the server's
// object count for the object's life.
class TComObject : public ISupportErrorInfo {
public:
    explicit TComObject(TComObjectFactory& Factory);
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;
    virtual ~TComObject();

    // COM methods, here and in every class of objects and factories, are
    // noexcept: an exception must never unwind into a caller's frames.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    HRESULT ObjQueryInterface(REFIID iid, void** out) noexcept;
    ULONG ObjAddRef() noexcept;
    ULONG ObjRelease() noexcept;
    TComObjectFactory& Factory() const { return factory_; }

protected:
    // The pointer that answers iid, or null; derived classes add theirs and
    // fall back to their base.
    virtual void* GetInterface(REFIID iid) noexcept;

    // Runs a method's body so that no exception leaves it: a raised error
    // becomes the returned status, with error information set. Error
    // information left from an earlier call is cleared first, so a status
    // returned without it is known to be a plain status.
    template <class F>
    HRESULT SafeCall(REFIID iid, F&& body) noexcept {
        ::SetErrorInfo(0, nullptr);
        try {
            return body();
        } catch (...) {
            return SafeCallException(iid);
        }
    }
    HRESULT SafeCallException(REFIID iid) noexcept;

private:
    TComObjectFactory& factory_;
    volatile LONG refCount_ = 0;
};

// Adds IProvideClassInfo, from the type library of the factory.
class TTypedComObject : public TComObject, public IProvideClassInfo {
public:
    using TComObject::TComObject;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** TypeInfo) noexcept override;

protected:
    void* GetInterface(REFIID iid) noexcept override;
};

// A concrete object class: Base (TComObject or TTypedComObject) plus the
// interfaces it implements, which QueryInterface then answers (and
// IDispatch, through the first of them that derives from it).
template <class Base, class... Interfaces>
class TComImpl : public Base, public Interfaces... {
public:
    using Base::Base;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        return this->ObjQueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return this->ObjAddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return this->ObjRelease(); }

protected:
    void* GetInterface(REFIID iid) noexcept override {
        void* found = nullptr;
        ((found = found ? found : Match<Interfaces>(iid)), ...);
        return found ? found : Base::GetInterface(iid);
    }

private:
    template <class I>
    void* Match(REFIID iid) noexcept {
        if (iid == __uuidof(I)) return static_cast<I*>(this);
        if constexpr (std::is_base_of_v<IDispatch, I>)
            if (iid == IID_IDispatch) return static_cast<IDispatch*>(static_cast<I*>(this));
        return nullptr;
    }
};

// ------------------------------------------------------------------------
// Factories.

using TComObjectCreator = TComObject* (*)(TComObjectFactory& Factory);
template <class T>
TComObject* CreateComObjectOf(TComObjectFactory& Factory) {
    return new T(Factory);
}

// The class factory of one class of objects, owned by the class manager
// until its server destroys it. Its own reference count is the server's
// factory count.
class TComObjectFactory : public IClassFactory {
public:
    TComObjectFactory(TComServerObject& ComServer, TComObjectCreator Creator, REFCLSID ClassID,
                      const std::string& ClassName, const std::string& Description,
                      TClassInstancing Instancing, TThreadingModel ThreadingModel = tmSingle);
    TComObjectFactory(const TComObjectFactory&) = delete;
    TComObjectFactory& operator=(const TComObjectFactory&) = delete;
    // Withdraws the class object from the system.
    virtual ~TComObjectFactory();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                             void** out) noexcept override;
    // A lock keeps the server as a live object does. An unlock while no
    // lock is held fails (E_UNEXPECTED) and changes nothing, so that it
    // never releases what live objects hold.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;

    // Makes the class creatable by every client of the system
    // (REGCLS_MULTIPLEUSE for ciMultiInstance), suspended when the server
    // starts suspended; ciInternal classes stay private.
    void RegisterClassObject();
    // Takes the class object back (a server that is about to quit).
    void RevokeClassObject();
    bool ClassObjectRegistered() const { return registration_ != 0; }

    // Writes (true) or removes (false) the class's registration: the CLSID
    // key, the ProgID and the server key with the server's path. Writes go
    // to HKEY_CLASSES_ROOT, or to HKCU\Software\Classes where that is
    // refused; a failure raises EOleRegistrationError.
    virtual void UpdateRegistry(bool Register);

    // A new object of the class, not yet referenced.
    virtual TComObject* CreateComObject();

    TComServerObject& ComServer() const { return server_; }
    const CLSID& ClassID() const { return classId_; }
    const std::string& ClassName() const { return className_; }
    const std::string& Description() const { return description_; }
    // ServerName.ClassName, or empty for a class without a name.
    std::string ProgID() const;

    // Inside a catch block: the current exception as the returned status,
    // with error information naming this class; never raises.
    HRESULT SafeCallException(REFIID iid) noexcept;
    TClassInstancing Instancing() const { return instancing_; }
    TThreadingModel ThreadingModel() const { return threading_; }

protected:
    // The class's own keys, through the writer of the whole registration, so
    // that all of it lands in one place.
    void WriteClassKeys(ClassesWriter& classes);

    std::string className_;
    std::string description_;

private:
    TComServerObject& server_;
    TComObjectCreator creator_;
    CLSID classId_;
    TClassInstancing instancing_;
    TThreadingModel threading_;
    DWORD registration_ = 0;
    volatile LONG locks_ = 0;
};

// Takes the class's name and description from the server's type library,
// and registers the type library's identifier with the class, and the
// type-library marshaler for the class's interfaces that the library's own
// registration does not cover (those that are not automation interfaces).
class TTypedComObjectFactory : public TComObjectFactory {
public:
    TTypedComObjectFactory(TComServerObject& ComServer, TComObjectCreator Creator,
                           REFCLSID ClassID, TClassInstancing Instancing,
                           TThreadingModel ThreadingModel = tmSingle);

    // The class's type information; raises when the type library does not
    // describe the class.
    ui::ComPtr<ITypeInfo> ClassInfo();
    void UpdateRegistry(bool Register) override;

private:
    ui::ComPtr<ITypeInfo> classInfo_;
};

// ------------------------------------------------------------------------
// The factories of the module.

class TComClassManager {
public:
    void AddObjectFactory(TComObjectFactory* Factory);
    void RemoveObjectFactory(TComObjectFactory* Factory);
    // Calls FactoryProc for each factory of ComServer; the procedure may
    // destroy the factory it is given.
    void ForEachFactory(TComServerObject* ComServer,
                        const std::function<void(TComObjectFactory&)>& FactoryProc);
    TComObjectFactory* GetFactoryFromClassID(REFCLSID ClassID) const;

private:
    std::vector<TComObjectFactory*> factories_;
};
TComClassManager& ComClassManager();

// A line of a class table: a class that a server publishes, and how.
struct ComClassEntry {
    const CLSID* classId;
    TComObjectCreator creator;
    TClassInstancing instancing;
    TThreadingModel threading;
};

// Makes a typed factory on the server for each class of the table, in its
// order; the class manager owns them until the server destroys them.
template <size_t N>
void RegisterComClasses(TComServerObject& server, const ComClassEntry (&table)[N]) {
    for (const ComClassEntry& entry : table)
        new TTypedComObjectFactory(server, entry.creator, *entry.classId, entry.instancing,
                                   entry.threading);
}

// An init hook of the application, run by Application.Initialize; each
// runs the hook it replaced first.
using TInitHook = void (*)();
// COM's initialisation as an init hook after previous; returns the hook to
// install.
TInitHook ChainComInitHook(TInitHook previous);

}  // namespace automation
