// What the add-on DLLs share as in-process COM servers: the server object
// their factories and objects report to, a factory that also writes the
// keys an embeddable control or a plug-in needs, and the DLL's exports.
#pragma once

#include "automation/ComObj.h"
#include "kestrix.h"  // the contract, generated from plugins/kestrix.idl

#include <string>

namespace addons {

// The DLL's own module, set when it is loaded.
extern HINSTANCE ModuleInstance;

// The server of one add-on DLL: counts live objects, locks and held class
// objects, so that the DLL unloads only when nothing of it is in use.
class TAddonServer : public automation::TComServerObject {
public:
    static TAddonServer& Instance();

    int AdjustObjectCount(bool Created) override;
    int AdjustFactoryCount(bool Created) override;
    std::string GetHelpFile() override { return {}; }
    std::wstring ServerFilePath() override;
    std::string ServerKeyName() override { return "InprocServer32"; }
    std::string ServerName() override { return serverName_; }
    bool IsStartSuspended() override { return false; }
    // The contract's type library, which each add-on carries as TYPELIB 1.
    ui::ComPtr<ITypeLib> GetTypeLibrary() override;
    void SetHelpFile(const std::string&) override {}

    bool InUse() const { return objects_ > 0 || factories_ > 0; }
    // The first part of the DLL's ProgIDs.
    void SetServerName(const std::string& name) { serverName_ = name; }

private:
    volatile LONG objects_ = 0;
    volatile LONG factories_ = 0;
    ui::ComPtr<ITypeLib> library_;
    std::string serverName_ = "Kestrix";
};

enum class TAddonClassKind { Plugin, OptionsControl };

// The class factory of an add-on class. Registering a plug-in class also
// lists it under the plug-in key; an options control gets the keys by which
// containers know an embeddable control.
class TAddonFactory : public automation::TComObjectFactory {
public:
    TAddonFactory(automation::TComObjectCreator Creator, REFCLSID ClassID,
                  const std::string& ClassName, const std::string& Description,
                  TAddonClassKind Kind);
    void UpdateRegistry(bool Register) override;

private:
    TAddonClassKind kind_;
};

// Made by each add-on: its factories, created once on first use.
void CreateAddonFactories();

// The misc status an options control reports and registers.
inline constexpr DWORD kControlMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                                            OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                                            OLEMISC_SETCLIENTSITEFIRST;

// The plug-in key of the program, under HKEY_CURRENT_USER.
inline constexpr char kPluginsKey[] = "Software\\Orvane\\Kestrix\\Plugins";

}  // namespace addons
