#include "plugins/KestrixObjectUnit.h"

#include "plugins/KestrixCommUnit.h"
#include "ui/Exception.h"

#include <vector>

using namespace automation;
using namespace ui;

HRESULT TKestrixObject::GetPluginList(BSTR* PluginList) noexcept {
    // A null out-pointer is a caller's fault, answered as COM answers it,
    // not a write through null.
    if (!PluginList) return E_POINTER;
    *PluginList = nullptr;
    std::vector<std::string> names;
    HRESULT hr = SafeCall(IID_IKestrixObject, [&]() -> HRESULT {
        plugin_directory::ReadPluginIds(names);
        return S_OK;
    });
    // What was collected before a failure is handed out all the same.
    try {
        std::string text = PluginListText(names);
        if (!text.empty()) *PluginList = ::SysAllocString(WideString(text).c_str());
    } catch (...) {
        hr = SafeCallException(IID_IKestrixObject);
    }
    // The caller learns that the list is incomplete from the status alone.
    return FAILED(hr) ? E_FAIL : hr;
}

HRESULT TKestrixObject::AddPlugin(BSTR FileName) noexcept { return S_OK; }

HRESULT TKestrixObject::RemovePlugin(BSTR FileName) noexcept { return S_OK; }

HRESULT TKestrixObject::GetPlugin(BSTR PluginNick, IKestrixPlugin** PluginInstance) noexcept {
    // As GetPluginList: no instance is made for nowhere to go.
    if (!PluginInstance) return E_POINTER;
    *PluginInstance = nullptr;
    return SafeCall(IID_IKestrixObject, [&]() -> HRESULT {
        std::wstring given = PluginNick ? std::wstring(PluginNick, ::SysStringLen(PluginNick)) : L"";
        ComPtr<IKestrixPlugin> plugin;
        HRESULT hr = plugin_directory::CreatePlugin(given, plugin);
        *PluginInstance = plugin.Detach();
        return hr;
    });
}

TComObjectFactory& KestrixObjectFactory() {
    TComObjectFactory* factory = ComClassManager().GetFactoryFromClassID(CLSID_KestrixObject);
    if (!factory)
        throw EOleSysError("The plug-in directory's class is not registered in this process",
                           CLASS_E_CLASSNOTAVAILABLE);
    return *factory;
}
