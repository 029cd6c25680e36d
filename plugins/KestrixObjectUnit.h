// The plug-in directory: the program's own COM object that lists the
// installed plug-ins and creates plug-in instances.
#pragma once

#include "automation/ComObj.h"
#include "plugins/kestrix_TLB.h"

// Per-user key whose subkeys, named by plug-in identifiers, are the
// installed plug-ins.
constexpr char kPluginsKey[] = "Software\\Orvane\\Kestrix\\Plugins";

class TKestrixObject : public automation::TComImpl<automation::TTypedComObject, IKestrixObject> {
public:
    using TComImpl::TComImpl;

    HRESULT STDMETHODCALLTYPE GetPluginList(BSTR* PluginList) noexcept override;
    HRESULT STDMETHODCALLTYPE AddPlugin(BSTR FileName) noexcept override;
    HRESULT STDMETHODCALLTYPE RemovePlugin(BSTR FileName) noexcept override;
    HRESULT STDMETHODCALLTYPE GetPlugin(BSTR PluginNick,
                                        IKestrixPlugin** PluginInstance) noexcept override;
};

// The factory of KestrixObject, made when the unit is initialised.
automation::TComObjectFactory& KestrixObjectFactory();
