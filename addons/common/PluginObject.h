// The plug-in object of an add-on: it names itself and its options page,
// and runs on the picture it is handed, its errors reaching the caller as
// the contract's error information.
#pragma once

#include "addons/common/AutoObject.h"

namespace addons {

class TPluginObject : public TAutoObject<IKestrixPlugin> {
public:
    TPluginObject(automation::TComObjectFactory& factory, const wchar_t* name,
                  const wchar_t* description, const CLSID& options);

    HRESULT STDMETHODCALLTYPE GetPluginInfo(BSTR* Name, BSTR* Description,
                                            BSTR* OptionsObjectName,
                                            HRESULT* Result) noexcept final;
    HRESULT STDMETHODCALLTYPE Execute(IUnknown* ImageStream, LONG ParentWnd,
                                      HRESULT* Result) noexcept final;

protected:
    // What the plug-in does with the picture; raises what goes wrong.
    virtual void Run(IUnknown* imageStream, HWND parent) = 0;

private:
    const wchar_t* name_;
    const wchar_t* description_;
    CLSID options_;
};

}  // namespace addons
