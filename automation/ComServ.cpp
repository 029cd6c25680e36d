#include "automation/ComServ.h"

#include "ui/Forms.h"

#include <memory>

extern "C" IMAGE_DOS_HEADER __ImageBase;

using namespace ui;

namespace automation {

TComServer* ComServer = nullptr;

namespace {

TInitProc SaveInitProc = nullptr;
DWORD MainThreadID = 0;

HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

TComServer::TComServer() : InProcess(ThisModule() != ::GetModuleHandleA(nullptr)) {}

TComServer::~TComServer() {
    ComClassManager().ForEachFactory(this, [](TComObjectFactory& factory) { delete &factory; });
    if (ITypeLib* library = static_cast<ITypeLib*>(
            ::InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&TypeLibrary), nullptr)))
        library->Release();
}

int TComServer::AdjustObjectCount(bool Created) {
    if (Created) return ::InterlockedIncrement(&ActiveObjects);
    LONG count = ::InterlockedDecrement(&ActiveObjects);
    if (count == 0) HandleLastRelease();
    return count;
}

int TComServer::AdjustFactoryCount(bool Created) {
    return Created ? ::InterlockedIncrement(&LiveFactories)
                   : ::InterlockedDecrement(&LiveFactories);
}

std::string TComServer::ServerFilePath() { return ModuleFilePath(); }

std::string TComServer::ServerKeyName() {
    return InProcess ? "InprocServer32" : "LocalServer32";
}

std::string TComServer::ServerName() {
    if (!ServerNameOverride.empty()) return ServerNameOverride;
    if (TypeLibrary) return TypeLibraryName(TypeLibrary);
    return ModuleBaseName();
}

void TComServer::EnsureTypeLibrary() {
    if (TypeLibrary) return;
    ITypeLib* loaded = LoadTypeLibraryFile(ModuleFilePath()).Detach();
    // Two racing loaders leave exactly one library in place.
    if (ITypeLib* old = static_cast<ITypeLib*>(::InterlockedExchangePointer(
            reinterpret_cast<void* volatile*>(&TypeLibrary), loaded)))
        old->Release();
}

ComPtr<ITypeLib> TComServer::GetTypeLibrary() {
    EnsureTypeLibrary();
    return ComPtr<ITypeLib>::Copy(TypeLibrary);
}

void TComServer::UpdateRegistration(bool Register) {
    if (TypeLibrary) {
        if (Register)
            RegisterTypeLibraryFile(TypeLibrary, ModuleFilePath());
        else
            UnregisterTypeLibraryEntry(TypeLibrary);
    }
    Registering = Register;
    ComClassManager().ForEachFactory(this, [this](TComObjectFactory& factory) {
        if (factory.Instancing() != ciInternal) factory.UpdateRegistry(Registering);
    });
}

void TComServer::StartServer() {
    // The factories asked for the library when they were made, where a
    // failure could not be reported; one that is missing stops the start.
    EnsureTypeLibrary();
    try {
        UpdateRegistration(Mode != ssUnregister);
    } catch (const EOleRegistrationError&) {
        // A user who may not register still gets a working program.
        if (Mode == ssRegister) throw;
    }
    ComClassManager().ForEachFactory(
        this, [](TComObjectFactory& factory) { factory.RegisterClassObject(); });
}

void TComServer::HandleLastRelease() {
    if (InProcess) return;
    bool shutdown = Mode == ssAutomation;
    struct PostQuit {
        bool& shutdown;
        ~PostQuit() {
            if (shutdown) ::PostThreadMessageA(MainThreadID, WM_QUIT, 0, 0);
        }
    } post{shutdown};
    if (OnLastObjectReleased) OnLastObjectReleased(shutdown);
}

// ------------------------------------------------------------------------

std::string ModuleFilePath() {
    std::string path(262, '\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameA(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);  // a longer path was cut off
    }
}

std::string ModuleBaseName() {
    std::string path = ModuleFilePath();
    std::string name = path.substr(FolderOf(path).size());
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

ComPtr<ITypeLib> LoadTypeLibraryFile(const std::string& path) {
    ComPtr<ITypeLib> library;
    // Registration is done separately, at every start.
    OleCheck(::LoadTypeLibEx(WideString(path).c_str(), REGKIND_NONE, library.put()));
    return library;
}

void RegisterTypeLibraryFile(ITypeLib* library, const std::string& path) {
    std::wstring file = WideString(path);
    std::wstring helpDir = WideString(FolderOf(path));
    HRESULT hr = ::RegisterTypeLib(library, file.data(), helpDir.data());
    if (hr == TYPE_E_REGISTRYACCESS || hr == E_ACCESSDENIED) {
        // A standard user registers for himself; not every system has it.
        using ForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
        if (auto forUser = reinterpret_cast<ForUser>(::GetProcAddress(
                ::GetModuleHandleA("OLEAUT32.DLL"), "RegisterTypeLibForUser")))
            hr = forUser(library, file.data(), helpDir.data());
    }
    OleCheck(hr);
}

void UnregisterTypeLibraryEntry(ITypeLib* library) {
    using Unregister = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    HMODULE oleaut = ::GetModuleHandleA("OLEAUT32.DLL");
    if (!oleaut) return;
    auto unregister = reinterpret_cast<Unregister>(::GetProcAddress(oleaut, "UnRegisterTypeLib"));
    auto forUser =
        reinterpret_cast<Unregister>(::GetProcAddress(oleaut, "UnRegisterTypeLibForUser"));
    if (!unregister) return;
    TLIBATTR* attr = nullptr;
    OleCheck(library->GetLibAttr(&attr));
    std::unique_ptr<TLIBATTR, std::function<void(TLIBATTR*)>> release(
        attr, [library](TLIBATTR* a) { library->ReleaseTLibAttr(a); });
    // Either registration may be the one in place; results do not matter.
    unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    if (forUser)
        forUser(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
}

std::string TypeLibraryName(ITypeLib* library) {
    Bstr name;
    OleCheck(library->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr));
    return AnsiString(name.get());
}

void ServerInitHook() {
    if (SaveInitProc) SaveInitProc();
    if (!ComServer) return;
    // Class objects are registered suspended only when COM was initialised
    // with chosen flags; they are then made available all at once.
    bool suspended = CoInitFlags != -1;
    ComServer->Suspended = suspended;
    ComServer->StartServer();
    if (suspended) ::CoResumeClassObjects();
}

namespace {
struct ComServUnit {
    ComServUnit() {
        InitComObjUnit();
        MainThreadID = ::GetCurrentThreadId();
        server.reset(new TComServer());
        ComServer = server.get();
        if (!ComServer->IsInprocServer()) {
            SaveInitProc = InitProc;
            InitProc = ServerInitHook;
        }
    }
    ~ComServUnit() {
        server.reset();
        ComServer = nullptr;
    }
    std::unique_ptr<TComServer> server;
};
}  // namespace

void InitComServUnit() { static ComServUnit unit; }

namespace {
const bool kUnitInitialized = (InitComServUnit(), true);
}

}  // namespace automation
