#include "automation/ComObj.h"
#include "ui/Exception.h"

// Turns the generated DEFINE_GUID declarations into the definitions; every
// other header is already in, so only the contract's identifiers are defined.
#include <initguid.h>

#include "plugins/kestrix_TLB.h"

using namespace ui;

ComPtr<IKestrixObject> CoKestrixObject::Create() {
    ComPtr<IUnknown> unknown;
    OleCheck(::CoCreateInstance(CLSID_KestrixObject, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                unknown.put_void()),
             "Cannot create the plug-in directory");
    ComPtr<IKestrixObject> directory;
    if (!unknown || FAILED(unknown.As(directory)) || !directory)
        throw EOleSysError("The plug-in directory does not support the interface IKestrixObject",
                           E_NOINTERFACE);
    return directory;
}

HRESULT CallGetPlugin(IKestrixObject& directory, const std::string& pluginNick,
                      ComPtr<IKestrixPlugin>& Instance) {
    Instance.reset();
    Bstr nick(automation::WideString(pluginNick).c_str());
    IKestrixPlugin* raw = nullptr;
    HRESULT hr = directory.GetPlugin(nick.get(), &raw);
    // A directory that fails must not leave a reference behind, but one
    // that does is released rather than leaked.
    ComPtr<IKestrixPlugin> got = ComPtr<IKestrixPlugin>::Attach(raw);
    automation::RaiseCalleeError(hr, &directory, IID_IKestrixObject);
    if (SUCCEEDED(hr)) Instance = std::move(got);
    return hr;
}

ComPtr<IKestrixPluginOptions> PluginOptionsOf(const ComPtr<IDispatch>& object) {
    ComPtr<IKestrixPluginOptions> options;
    OleCheck(object.As(options),
             "The plug-in's options object does not support IKestrixPluginOptions");
    return options;
}
