// The program's own proxy and stub of IServiceProvider: a call between two
// apartments goes through them, and the system's choice comes back after.
#include "automation/ServiceProviderMarshal.h"
#include "tests/support/TestSupport.h"
#include "ui/Handles.h"

#include <gtest/gtest.h>
#include <servprov.h>

using automation::ServiceProviderMarshal;
using ui::ComPtr;

namespace {

const GUID kService = {0x5b0e41d2, 0x0d8a, 0x4c3e, {0x9f, 0x61, 0x2a, 0x7c, 0x11, 0x5d, 0x43, 0x90}};
const CLSID kProviderClass = {
    0x0f3c8a77, 0x61b4, 0x4d2a, {0x8e, 0x05, 0x93, 0x1c, 0x6a, 0xd2, 0x27, 0x4b}};

// Offers itself as kService; its class identifies it on the other side.
class Provider : public IServiceProvider, public IPersist {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IServiceProvider)
            *out = static_cast<IServiceProvider*>(this);
        else if (iid == IID_IPersist)
            *out = static_cast<IPersist*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = ::InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID iid, void** out) override {
        if (service == kService) return QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override { return *id = kProviderClass, S_OK; }

private:
    volatile LONG refs_ = 1;
};

// What the other apartment saw.
struct Call {
    IStream* stream = nullptr;
    HRESULT known = E_FAIL, unknown = S_OK;
    CLSID seen = {};
};

DWORD WINAPI CallFromAnotherApartment(void* param) noexcept {
    Call& call = *static_cast<Call*>(param);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        ServiceProviderMarshal marshal;
        ComPtr<IServiceProvider> remote;
        if (SUCCEEDED(::CoGetInterfaceAndReleaseStream(call.stream, IID_IServiceProvider,
                                                       remote.put_void()))) {
            ComPtr<IPersist> persist, none;
            call.known = remote->QueryService(kService, IID_IPersist, persist.put_void());
            if (persist) persist->GetClassID(&call.seen);
            call.unknown = remote->QueryService(kProviderClass, IID_IPersist, none.put_void());
        }
    } catch (...) {
        call.known = E_UNEXPECTED;
    }
    ::CoUninitialize();
    return 0;
}

TEST(ServiceProviderMarshal, QueryServiceCrossesApartmentsAndTheSystemsChoiceComesBack) {
    CLSID before = {}, after = {};
    const HRESULT hadBefore = ::CoGetPSClsid(IID_IServiceProvider, &before);
    {
        ServiceProviderMarshal marshal;
        ComPtr<IServiceProvider> provider = ComPtr<IServiceProvider>::Attach(new Provider);
        Call call;
        ASSERT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(IID_IServiceProvider,
                                                                provider.get(), &call.stream));
        ui::KernelHandle thread(
            ::CreateThread(nullptr, 0, CallFromAnotherApartment, &call, 0, nullptr));
        ASSERT_TRUE(thread);
        ASSERT_TRUE(testing_support::PumpUntil(
            [&] { return ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }, 10000));
        EXPECT_EQ(S_OK, call.known);
        EXPECT_EQ(kProviderClass, call.seen);
        EXPECT_EQ(E_NOINTERFACE, call.unknown);
        // The system's proxy library is large and, under Wine, relocated into
        // private memory: the program's own code stood in for it.
        EXPECT_EQ(nullptr, ::GetModuleHandleA("actxprxy.dll"));
    }
    EXPECT_EQ(hadBefore, ::CoGetPSClsid(IID_IServiceProvider, &after));
    if (SUCCEEDED(hadBefore)) EXPECT_EQ(before, after);
}

}  // namespace
