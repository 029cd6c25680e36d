// An add-on object with a dual interface of the contract: IDispatch is
// answered from the contract's type library, so scripts and the type-library
// marshaler reach the same vtable methods.
#pragma once

#include "addons/common/AddonServer.h"

namespace addons {

// The vtable view of a dual interface of the contract; raises when the
// library does not describe it.
ui::ComPtr<ITypeInfo> ContractTypeInfo(REFIID iid);

template <class Itf, class... More>
class TAutoObject : public automation::TComImpl<automation::TComObject, Itf, More...> {
public:
    explicit TAutoObject(automation::TComObjectFactory& factory)
        : automation::TComImpl<automation::TComObject, Itf, More...>(factory) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return this->SafeCall(IID_IDispatch, [&] {
            *info = TypeInfo().Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) noexcept override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        return this->SafeCall(IID_IDispatch, [&] {
            return ::DispGetIDsOfNames(TypeInfo().get(), names, count, ids);
        });
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep,
                                     UINT* argErr) noexcept override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ui::ComPtr<ITypeInfo> info;
        try {
            info = TypeInfo();
        } catch (...) {
            return E_UNEXPECTED;
        }
        return ::DispInvoke(static_cast<Itf*>(this), info.get(), id, flags, params, result, excep,
                            argErr);
    }

private:
    ui::ComPtr<ITypeInfo> TypeInfo() {
        if (!typeInfo_) typeInfo_ = ContractTypeInfo(__uuidof(Itf));
        return typeInfo_;
    }
    ui::ComPtr<ITypeInfo> typeInfo_;
};

}  // namespace addons
