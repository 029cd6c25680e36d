#include "plugins/KestrixObjectUnit.h"

#include "automation/ComServ.h"
#include "plugins/KestrixCommUnit.h"
#include "ui/Exception.h"
#include "ui/Handles.h"

#include <vector>

using namespace automation;
using namespace ui;

HRESULT TKestrixObject::GetPluginList(BSTR* PluginList) noexcept {
    if (!PluginList) return E_POINTER;
    *PluginList = nullptr;
    std::vector<std::string> names;
    // What was collected before a failure is handed out all the same.
    auto handOut = [&] {
        std::string text = PluginListText(names);
        if (!text.empty()) *PluginList = ::SysAllocString(WideString(text).c_str());
    };
    HRESULT hr = SafeCall(IID_IKestrixObject, [&]() -> HRESULT {
        RegKey key;
        if (::RegOpenKeyA(HKEY_CURRENT_USER, kPluginsKey, key.put()) != ERROR_SUCCESS) {
            RegKey created;
            ::RegCreateKeyA(HKEY_CURRENT_USER, kPluginsKey, created.put());
            return S_OK;
        }
        // A name has at most 255 characters, but in a multi-byte code page
        // that is more bytes than 261: the buffer grows until it fits.
        std::vector<char> name(261);
        for (DWORD index = 0;;) {
            LONG rc = ::RegEnumKeyA(key.get(), index, name.data(), static_cast<DWORD>(name.size()));
            if (rc == ERROR_MORE_DATA && name.size() < 4096) {
                name.resize(name.size() * 2);
                continue;
            }
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS) throw Exception("Error enumerating registry items");
            names.emplace_back(name.data());
            ++index;
        }
        return S_OK;
    });
    try {
        handOut();
    } catch (...) {
        hr = SafeCallException(IID_IKestrixObject);
    }
    // The caller learns that the list is incomplete from the status alone.
    return FAILED(hr) ? E_FAIL : hr;
}

HRESULT TKestrixObject::AddPlugin(BSTR FileName) noexcept { return S_OK; }

HRESULT TKestrixObject::RemovePlugin(BSTR FileName) noexcept { return S_OK; }

HRESULT TKestrixObject::GetPlugin(BSTR PluginNick, IKestrixPlugin** PluginInstance) noexcept {
    if (!PluginInstance) return E_POINTER;
    *PluginInstance = nullptr;
    return SafeCall(IID_IKestrixObject, [&]() -> HRESULT {
        CLSID classId;
        std::string nick = AnsiString(PluginNick);
        std::wstring given = PluginNick ? std::wstring(PluginNick, ::SysStringLen(PluginNick)) : L"";
        OleCheck(::CLSIDFromString(WideString(nick).c_str(), &classId),
                 Quoted(given) + " is no plug-in identifier");
        ComPtr<IUnknown> object;
        OleCheck(::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                    IID_IUnknown, object.put_void()),
                 "Cannot create the plug-in " + nick);
        if (!object) return E_FAIL;
        HRESULT hr = object->QueryInterface(IID_IKestrixPlugin,
                                            reinterpret_cast<void**>(PluginInstance));
        // A plug-in that fails must not hand out a pointer as well.
        if (FAILED(hr) && *PluginInstance) {
            (*PluginInstance)->Release();
            *PluginInstance = nullptr;
        }
        return hr;
    });
}

TComObjectFactory& KestrixObjectFactory() {
    static TComObjectFactory* factory = [] {
        InitComServUnit();
        return new TTypedComObjectFactory(*ComServer, &CreateComObjectOf<TKestrixObject>,
                                          CLSID_KestrixObject, ciMultiInstance, tmApartment);
    }();
    return *factory;
}

namespace {
const bool kUnitInitialized = (KestrixObjectFactory(), true);
}
