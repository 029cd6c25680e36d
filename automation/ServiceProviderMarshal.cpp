#include "automation/ServiceProviderMarshal.h"

#include "ui/Exception.h"
#include "ui/Handles.h"

// The factory of the proxy and stub (ServiceProviderProxy.c).
extern "C" HRESULT ServiceProviderPSFactory(const CLSID* clsid, IUnknown** factory);

namespace automation {

namespace {
// The class of the proxy and stub factory; known to this process only.
const CLSID kServiceProviderPSClsid = {
    0x89d706e5, 0xec76, 0x4100, {0x96, 0xf9, 0x81, 0xbe, 0xaf, 0xd4, 0x98, 0x80}};
}  // namespace

ServiceProviderMarshal::ServiceProviderMarshal() {
    ui::ComPtr<IUnknown> factory;
    ui::OleCheck(ServiceProviderPSFactory(&kServiceProviderPSClsid, factory.put()),
             "Cannot make the marshaling code of the program's class objects");
    ui::OleCheck(::CoRegisterClassObject(kServiceProviderPSClsid, factory.get(), CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &classObject_.cookie),
             "Cannot make the marshaling code of the program's class objects");
    hadPrevious_ = SUCCEEDED(::CoGetPSClsid(IID_IServiceProvider, &previous_));
    ui::OleCheck(::CoRegisterPSClsid(IID_IServiceProvider, kServiceProviderPSClsid),
             "Cannot make the marshaling code of the program's class objects");
}

ServiceProviderMarshal::~ServiceProviderMarshal() {
    // COM has no way to forget a registered proxy and stub, only to name
    // another one.
    if (hadPrevious_) ::CoRegisterPSClsid(IID_IServiceProvider, previous_);
}

ServiceProviderMarshal::ClassObject::~ClassObject() {
    if (cookie) ::CoRevokeClassObject(cookie);
}

}  // namespace automation
