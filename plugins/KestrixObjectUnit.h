// The plug-in directory as a COM object of the program, for plug-ins and
// other programs: it wraps the directory's own code (PluginDirectory.h).
#pragma once

#include "automation/ComObj.h"
#include "plugins/PluginDirectory.h"
#include "plugins/kestrix_TLB.h"

class TKestrixObject : public automation::TComImpl<automation::TTypedComObject, IKestrixObject> {
public:
    using TComImpl::TComImpl;

    HRESULT STDMETHODCALLTYPE GetPluginList(BSTR* PluginList) noexcept override;
    HRESULT STDMETHODCALLTYPE AddPlugin(BSTR FileName) noexcept override;
    HRESULT STDMETHODCALLTYPE RemovePlugin(BSTR FileName) noexcept override;
    HRESULT STDMETHODCALLTYPE GetPlugin(BSTR PluginNick,
                                        IKestrixPlugin** PluginInstance) noexcept override;
};

// The directory's line of a class table: every client served by the one
// running program, in the user-interface thread's apartment.
inline constexpr automation::ComClassEntry kKestrixObjectClass = {
    &CLSID_KestrixObject, &automation::CreateComObjectOf<TKestrixObject>,
    automation::ciMultiInstance, automation::tmApartment};

// The factory of KestrixObject that the class table made; raises when the
// process has not registered the class.
automation::TComObjectFactory& KestrixObjectFactory();
