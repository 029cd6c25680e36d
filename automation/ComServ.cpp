#include "automation/ComServ.h"

#include "automation/ServiceProviderMarshal.h"
#include "ui/Forms.h"

#include <memory>

extern "C" IMAGE_DOS_HEADER __ImageBase;

using namespace ui;

namespace automation {

TComServer* ComServer = nullptr;

namespace {

TInitHook SaveInitProc = nullptr;
DWORD MainThreadID = 0;

// The shutdown question; the wording is the program's own.
const char SAutomationWarning[] = "Automation warning";
const char SNoCloseActiveServer1[] =
    "Other programs are still using objects that Kestrix serves for them. If Kestrix "
    "closes now, those programs may fail.";
const char SNoCloseActiveServer2[] = "\r\n\r\nClose Kestrix anyway?";

// Entry points that old systems lack, looked up when needed.
template <class F>
F Ole32Entry(const char* name) {
    HMODULE ole32 = ::GetModuleHandleA("ole32.dll");
    return ole32 ? reinterpret_cast<F>(::GetProcAddress(ole32, name)) : nullptr;
}
using CoServerProcessProc = ULONG(WINAPI*)();
using CoResumeProc = HRESULT(WINAPI*)();

HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

TComServer::TComServer() : TComServer(CommandLineParams(::GetCommandLineA())) {}

TComServer::TComServer(const std::vector<std::string>& Params)
    : InProcess(ThisModule() != ::GetModuleHandleA(nullptr)), Mode(ServerStartMode(Params)) {}

TComServer::~TComServer() {
    ComClassManager().ForEachFactory(this, [](TComObjectFactory& factory) { delete &factory; });
    if (ITypeLib* library = static_cast<ITypeLib*>(
            ::InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&TypeLibrary), nullptr)))
        library->Release();
}

int TComServer::AdjustObjectCount(bool Created) {
    // In a run for a client, COM's own count of the process decides the
    // end, so that an activation under way is not cut off.
    bool processCount = !InProcess && Mode == ssAutomation;
    if (Created) {
        LONG count = ::InterlockedIncrement(&ActiveObjects);
        if (processCount)
            if (auto addRef = Ole32Entry<CoServerProcessProc>("CoAddRefServerProcess")) addRef();
        return count;
    }
    LONG count = ::InterlockedDecrement(&ActiveObjects);
    if (processCount) {
        if (auto release = Ole32Entry<CoServerProcessProc>("CoReleaseServerProcess")) {
            if (release() == 0) HandleLastRelease();
            return count;
        }
    }
    if (count == 0) HandleLastRelease();
    return count;
}

int TComServer::AdjustFactoryCount(bool Created) {
    return Created ? ::InterlockedIncrement(&LiveFactories)
                   : ::InterlockedDecrement(&LiveFactories);
}

std::wstring TComServer::ServerFilePath() { return ModuleFilePath(); }

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
    // A registration run shows nothing: the program main ends right after
    // Application.Initialize.
    if (RegistrationRun()) return;
    // The class objects go out through stubs of the program's own, made as
    // they are published; the system's choice holds again afterwards.
    ServiceProviderMarshal marshal;
    ComClassManager().ForEachFactory(
        this, [](TComObjectFactory& factory) { factory.RegisterClassObject(); });
}

void TComServer::HandleLastRelease() {
    if (InProcess) return;
    bool shutdown = Mode == ssAutomation;
    ui::ScopeExit postQuit([&] {
        if (!shutdown) return;
        // Not every system suspends the class objects when the count falls
        // to zero: withdraw them, so that a new client starts a fresh
        // program instead of reaching one that is quitting. The quit itself
        // must come whatever happens here.
        try {
            ComClassManager().ForEachFactory(
                this, [](TComObjectFactory& factory) { factory.RevokeClassObject(); });
        } catch (...) {
        }
        ui::Application.PostQuit(MainThreadID);
    });
    if (OnLastObjectReleased) OnLastObjectReleased(shutdown);
}

// ------------------------------------------------------------------------

std::wstring ModuleFilePath() { return ModuleFileName(ThisModule()); }

std::string ModuleBaseName() {
    std::wstring path = ModuleFilePath();
    std::wstring name = path.substr(FolderOf(path).size());
    size_t dot = name.rfind(L'.');
    return AnsiString(name.c_str(), static_cast<int>(dot == std::wstring::npos ? name.size() : dot));
}

ComPtr<ITypeLib> LoadTypeLibraryFile(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    // Registration is done separately, at every start.
    OleCheck(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()),
             "Cannot load the type library of " + Quoted(path));
    return library;
}

namespace {
// The path as every reader of the registry can take it. Some read the type
// library's path in the 8-bit code page (the type-library marshaler of Wine
// does, so another process could not call the program); a path the code
// page cannot spell is written in its short form, which names the same
// file, where the system has one.
std::wstring RegisteredPath(const std::wstring& path) {
    auto spelled = [](const std::wstring& p) {
        BOOL lost = FALSE;
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, p.c_str(), -1, nullptr, 0, nullptr,
                              &lost);
        return !lost;
    };
    if (spelled(path)) return path;
    DWORD n = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    std::wstring shortPath(n, L'\0');
    if (n == 0 || ::GetShortPathNameW(path.c_str(), shortPath.data(), n) + 1 != n) return path;
    shortPath.resize(n - 1);
    return spelled(shortPath) ? shortPath : path;
}
}  // namespace

void RegisterTypeLibraryFile(ITypeLib* library, const std::wstring& path) {
    std::wstring file = RegisteredPath(path);
    std::wstring helpDir = FolderOf(file);
    HRESULT hr = ::RegisterTypeLib(library, file.data(), helpDir.data());
    if (hr == TYPE_E_REGISTRYACCESS || hr == E_ACCESSDENIED) {
        // A standard user registers for himself; not every system has it.
        using ForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
        if (auto forUser = reinterpret_cast<ForUser>(::GetProcAddress(
                ::GetModuleHandleA("OLEAUT32.DLL"), "RegisterTypeLibForUser")))
            hr = forUser(library, file.data(), helpDir.data());
    }
    OleCheck(hr, "Cannot register the type library of " + Quoted(path));
}

void UnregisterTypeLibraryEntry(ITypeLib* library) {
    using Unregister = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    HMODULE oleaut = ::GetModuleHandleA("OLEAUT32.DLL");
    if (!oleaut) return;
    auto unregister = reinterpret_cast<Unregister>(::GetProcAddress(oleaut, "UnRegisterTypeLib"));
    auto forUser =
        reinterpret_cast<Unregister>(::GetProcAddress(oleaut, "UnRegisterTypeLibForUser"));
    if (!unregister) return;
    LibAttr attr(library, "Cannot read the attributes of the type library");
    // Either registration may be the one in place; results do not matter.
    unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    if (forUser)
        forUser(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
}

std::string TypeLibraryName(ITypeLib* library) {
    Bstr name;
    OleCheck(library->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr),
             "Cannot read the name of the type library");
    return AnsiString(name.get());
}

void ServerInitHook() {
    if (SaveInitProc) SaveInitProc();
    if (!ComServer) return;
    // Class objects are registered suspended only when COM was initialised
    // with chosen flags; they are then made available all at once.
    auto resume = Ole32Entry<CoResumeProc>("CoResumeClassObjects");
    ComServer->Suspended =
        CoInitFlags != -1 && Ole32Entry<void*>("CoInitializeEx") != nullptr && resume != nullptr;
    ComServer->StartServer();
    if (ComServer->Suspended && !ComServer->RegistrationRun())
        OleCheck(resume(), "Cannot make the program's classes available to other programs");
}

bool ConfirmServerShutdown() {
    if (!ComServer || ComServer->ActiveObjects <= 0 || !ComServer->Interactive) return true;
    std::string text = std::string(SNoCloseActiveServer1) + SNoCloseActiveServer2;
    // Yes/No, warning icon, "No" preselected, modal for the whole thread.
    return ::MessageBoxA(nullptr, text.c_str(), SAutomationWarning,
                         MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL) == IDYES;
}

std::vector<std::string> CommandLineParams(const std::string& CommandLine) {
    std::vector<std::string> params;
    size_t i = 0, n = CommandLine.size();
    for (;;) {
        while (i < n && (CommandLine[i] == ' ' || CommandLine[i] == '\t')) ++i;
        if (i >= n) break;
        std::string param;
        bool quoted = false;
        for (; i < n && (quoted || (CommandLine[i] != ' ' && CommandLine[i] != '\t')); ++i) {
            if (CommandLine[i] == '"')
                quoted = !quoted;
            else
                param += CommandLine[i];
        }
        params.push_back(param);
    }
    return params;
}

bool HasServerSwitch(const std::string& Word, const std::vector<std::string>& Params) {
    for (size_t i = 1; i < Params.size(); ++i) {
        const std::string& p = Params[i];
        if (p.size() != Word.size() + 1 || (p[0] != '-' && p[0] != '/')) continue;
        if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, p.c_str() + 1, -1, Word.c_str(),
                             -1) == CSTR_EQUAL)
            return true;
    }
    return false;
}

bool HasServerSwitch(const std::string& Word) {
    return HasServerSwitch(Word, CommandLineParams(::GetCommandLineA()));
}

TServerStartMode ServerStartMode(const std::vector<std::string>& Params) {
    if (HasServerSwitch("AUTOMATION", Params) || HasServerSwitch("EMBEDDING", Params))
        return ssAutomation;
    if (HasServerSwitch("REGSERVER", Params)) return ssRegister;
    if (HasServerSwitch("UNREGSERVER", Params)) return ssUnregister;
    return ssNormal;
}

ComServerInstance::ComServerInstance() {
    ComClassManager();  // made first, so that it outlives the server
    MainThreadID = ::GetCurrentThreadId();
    // Kept loaded for the server's life, so that its entry points looked up
    // by handle stay valid.
    UINT oldMode = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    oleAut_.reset(::LoadLibraryA("OLEAUT32.DLL"));
    ::SetErrorMode(oldMode);
    server_ = std::make_unique<TComServer>();
    ComServer = server_.get();
}

ComServerInstance::~ComServerInstance() {
    server_.reset();
    ComServer = nullptr;
}

TInitHook ChainServerInitHook(TInitHook previous) {
    SaveInitProc = previous;
    return ServerInitHook;
}

}  // namespace automation
