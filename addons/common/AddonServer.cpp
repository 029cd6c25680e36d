#include "addons/common/AddonServer.h"
#include "addons/common/AutoObject.h"

#include <olectl.h>

using namespace ui;

namespace addons {

HINSTANCE ModuleInstance = nullptr;

TAddonServer& TAddonServer::Instance() {
    static TAddonServer server;
    return server;
}

int TAddonServer::AdjustObjectCount(bool Created) {
    return Created ? ::InterlockedIncrement(&objects_) : ::InterlockedDecrement(&objects_);
}

int TAddonServer::AdjustFactoryCount(bool Created) {
    return Created ? ::InterlockedIncrement(&factories_) : ::InterlockedDecrement(&factories_);
}

std::wstring TAddonServer::ServerFilePath() { return ModuleFileName(ModuleInstance); }

ComPtr<ITypeLib> TAddonServer::GetTypeLibrary() {
    if (!library_)
        OleCheck(::LoadTypeLibEx(ServerFilePath().c_str(), REGKIND_NONE, library_.put()),
                 "Cannot load the plug-in contract from " + Quoted(ServerFilePath()));
    return library_;
}

TAddonFactory::TAddonFactory(automation::TComObjectCreator Creator, REFCLSID ClassID,
                             const std::string& ClassName, const std::string& Description,
                             TAddonClassKind Kind)
    : TComObjectFactory(TAddonServer::Instance(), Creator, ClassID, ClassName, Description,
                        automation::ciMultiInstance, automation::tmApartment),
      kind_(Kind) {}

namespace {
// The class key where the base registration put it: the machine's classes,
// or the user's where those were refused.
RegKey OpenClassKey(const std::string& classKey) {
    RegKey key;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, KEY_WRITE, key.put()) ==
        ERROR_SUCCESS)
        return key;
    std::string user = "Software\\Classes\\" + classKey;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, user.c_str(), 0, KEY_WRITE, key.put()) == ERROR_SUCCESS)
        return key;
    throw EOleRegistrationError("Cannot open the registration of " + classKey);
}

void WriteSubkey(HKEY parent, const char* sub, const std::string& value) {
    RegKey key;
    LONG rc = ::RegCreateKeyExA(parent, sub, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (rc == ERROR_SUCCESS)
        rc = ::RegSetValueExA(key.get(), nullptr, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw EOleRegistrationError(std::string("Cannot write the registry key ") + sub + ": " +
                                    SysErrorMessage(static_cast<DWORD>(rc)));
}
}  // namespace

void TAddonFactory::UpdateRegistry(bool Register) {
    std::string id = automation::GuidToString(ClassID());
    std::string pluginKey = std::string(kPluginsKey) + "\\" + id;
    if (!Register) {
        if (kind_ == TAddonClassKind::Plugin) ::RegDeleteTreeA(HKEY_CURRENT_USER, pluginKey.c_str());
        TComObjectFactory::UpdateRegistry(false);
        return;
    }
    TComObjectFactory::UpdateRegistry(true);
    if (kind_ == TAddonClassKind::OptionsControl) {
        RegKey key = OpenClassKey("CLSID\\" + id);
        WriteSubkey(key.get(), "Control", "");
        WriteSubkey(key.get(), "MiscStatus", std::to_string(kControlMiscStatus));
    } else {
        RegKey key;
        LONG rc = ::RegCreateKeyExA(HKEY_CURRENT_USER, pluginKey.c_str(), 0, nullptr, 0, KEY_WRITE,
                                    nullptr, key.put(), nullptr);
        if (rc != ERROR_SUCCESS)
            throw EOleRegistrationError("Cannot create the plug-in key HKEY_CURRENT_USER\\" +
                                        pluginKey + ": " + SysErrorMessage(static_cast<DWORD>(rc)));
    }
}

}  // namespace addons

namespace addons {

ComPtr<ITypeInfo> ContractTypeInfo(REFIID iid) {
    ComPtr<ITypeInfo> info;
    OleCheck(TAddonServer::Instance().GetTypeLibrary()->GetTypeInfoOfGuid(iid, info.put()),
             "The plug-in contract does not describe the interface " +
                 automation::GuidToString(iid));
    // A dual interface's vtable view, so that Invoke calls the vtable.
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, vtable.put())))
        return vtable;
    return info;
}

}  // namespace addons
