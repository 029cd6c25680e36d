// The program as a COM server: its type library, the registration of the
// type library and of its classes at every start, and the publishing of its
// class factories from Application.Initialize.
#pragma once

#include "automation/ComObj.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace automation {

enum TServerStartMode : unsigned char { ssNormal = 0, ssAutomation = 1, ssRegister = 2, ssUnregister = 3 };

using TLastReleaseEvent = std::function<void(bool& Shutdown)>;

class TComServer : public TComServerObject {
public:
    // The start mode comes from the process's command line.
    TComServer();
    explicit TComServer(const std::vector<std::string>& Params);
    // Destroys the factories of this server first.
    ~TComServer() override;

    int AdjustObjectCount(bool Created) override;
    int AdjustFactoryCount(bool Created) override;
    std::string GetHelpFile() override { return HelpFile; }
    std::wstring ServerFilePath() override;
    std::string ServerKeyName() override;
    std::string ServerName() override;
    bool IsStartSuspended() override { return Suspended; }
    ui::ComPtr<ITypeLib> GetTypeLibrary() override;
    void SetHelpFile(const std::string& Value) override { HelpFile = Value; }

    // Brings the registration up to date and, unless this run only
    // registers or unregisters, publishes every factory.
    void StartServer();
    // Loads the program's type library once; raises when it cannot.
    void EnsureTypeLibrary();
    // Registers (true) or unregisters the type library and every factory.
    void UpdateRegistration(bool Register);
    // The shutdown decision when the last object has gone.
    void HandleLastRelease();

    int ObjectCount() const { return ActiveObjects; }
    int FactoryCount() const { return LiveFactories; }
    TServerStartMode StartMode() const { return Mode; }
    bool IsInprocServer() const { return InProcess; }
    // A run that registers or unregisters and then ends, showing nothing.
    bool RegistrationRun() const { return Mode == ssRegister || Mode == ssUnregister; }

    TLastReleaseEvent OnLastObjectReleased;

private:
    friend void ServerInitHook();
    friend bool ConfirmServerShutdown();
    volatile LONG ActiveObjects = 0;
    volatile LONG LiveFactories = 0;
    ITypeLib* volatile TypeLibrary = nullptr;
    std::string ServerNameOverride;
    std::string HelpFile;
    bool InProcess = false;
    TServerStartMode Mode = ssNormal;
    bool Suspended = false;
    bool Registering = false;
    bool Interactive = true;
};

// The one server of the process while a ComServerInstance holds it.
extern TComServer* ComServer;

// The process's server for the owner's life: OLEAUT32 kept loaded, the
// server made from the command line and published as ComServer. Its end
// destroys the server's factories, which withdraws their class objects.
class ComServerInstance {
public:
    ComServerInstance();
    ComServerInstance(const ComServerInstance&) = delete;
    ComServerInstance& operator=(const ComServerInstance&) = delete;
    ~ComServerInstance();
    TComServer& operator*() const { return *server_; }
    TComServer* operator->() const { return server_.get(); }

private:
    ui::Module oleAut_;
    std::unique_ptr<TComServer> server_;
};

// The application's init hook: the hook before it (COM) first, then the
// server's start.
void ServerInitHook();
// Installs ServerInitHook after previous; returns the hook to install.
TInitHook ChainServerInitHook(TInitHook previous);
// The terminate procedure: true when the program may close, asking the user
// while other programs still hold objects of it.
bool ConfirmServerShutdown();

// The parameters of a command line as the program sees them: the program
// itself first, then the arguments, with quotes removed.
std::vector<std::string> CommandLineParams(const std::string& CommandLine);
// True when a parameter after the program is '-' or '/' followed by exactly
// Word, in any letter case; the second form looks at the process's own
// command line.
bool HasServerSwitch(const std::string& Word, const std::vector<std::string>& Params);
bool HasServerSwitch(const std::string& Word);
// How a run with these parameters starts.
TServerStartMode ServerStartMode(const std::vector<std::string>& Params);

// The module's file, in full; its name without folder and extension in the
// code page, as registry key names take it.
std::wstring ModuleFilePath();
std::string ModuleBaseName();
ui::ComPtr<ITypeLib> LoadTypeLibraryFile(const std::wstring& path);
void RegisterTypeLibraryFile(ITypeLib* library, const std::wstring& path);
void UnregisterTypeLibraryEntry(ITypeLib* library);
std::string TypeLibraryName(ITypeLib* library);

}  // namespace automation
