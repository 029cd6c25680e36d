#include "addons/common/PluginObject.h"

#include "automation/ComObj.h"
#include "ui/Strings.h"

using namespace ui;

namespace addons {

TPluginObject::TPluginObject(automation::TComObjectFactory& factory, const wchar_t* name,
                             const wchar_t* description, const CLSID& options)
    : TAutoObject(factory), name_(name), description_(description), options_(options) {}

HRESULT TPluginObject::GetPluginInfo(BSTR* Name, BSTR* Description, BSTR* OptionsObjectName,
                                     HRESULT* Result) noexcept {
    if (!Name || !Description || !OptionsObjectName || !Result) return E_POINTER;
    *Name = *Description = *OptionsObjectName = nullptr;
    *Result = S_OK;
    return SafeCall(IID_IKestrixPlugin, [&] {
        Bstr name(name_);
        Bstr description(description_);
        Bstr options(WideString(automation::GuidToString(options_)).c_str());
        if (!name.get() || !description.get() || !options.get()) return E_OUTOFMEMORY;
        *Name = name.Detach();
        *Description = description.Detach();
        *OptionsObjectName = options.Detach();
        return S_OK;
    });
}

HRESULT TPluginObject::Execute(IUnknown* ImageStream, LONG ParentWnd, HRESULT* Result) noexcept {
    if (!Result) return E_POINTER;
    *Result = S_OK;
    return SafeCall(IID_IKestrixPlugin, [&] {
        Run(ImageStream, reinterpret_cast<HWND>(static_cast<LONG_PTR>(ParentWnd)));
        return S_OK;
    });
}

}  // namespace addons
