// The program's own proxy and stub of IServiceProvider: a stub made while
// it is registered serves another apartment through the system's proxy,
// and the system's choice comes back afterwards.
#include "automation/ServiceProviderMarshal.h"
#include "tests/support/TestSupport.h"
#include "ui/Handles.h"

#include <gtest/gtest.h>
#include <servprov.h>

using automation::ServiceProviderMarshal;
using ui::ComPtr;

namespace {

const GUID kService = {0x5b0e41d2, 0x0d8a, 0x4c3e, {0x9f, 0x61, 0x2a, 0x7c, 0x11, 0x5d, 0x43, 0x90}};

// Offers itself as kService and nothing else.
struct Provider : IServiceProvider {
    volatile LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == IID_IUnknown || iid == IID_IServiceProvider ? this : nullptr;
        return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = ::InterlockedDecrement(&refs);
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID iid, void** out) override {
        if (service == kService) return QueryInterface(iid, out);
        return *out = nullptr, E_NOINTERFACE;
    }
};

struct Call {
    IStream* stream = nullptr;
    HRESULT known = E_FAIL, unknown = S_OK;
};

DWORD WINAPI CallFromAnotherApartment(void* param) noexcept {
    Call& call = *static_cast<Call*>(param);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ComPtr<IServiceProvider> remote;
        ComPtr<IUnknown> service, none;
        if (SUCCEEDED(::CoGetInterfaceAndReleaseStream(call.stream, IID_IServiceProvider,
                                                       remote.put_void()))) {
            call.known = remote->QueryService(kService, IID_IUnknown, service.put_void());
            call.unknown = remote->QueryService(IID_IUnknown, IID_IUnknown, none.put_void());
        }
    }
    ::CoUninitialize();
    return 0;
}

TEST(ServiceProviderMarshal, ItsStubServesAnotherApartmentAndTheSystemsChoiceComesBack) {
    CLSID before = {}, after = {};
    const HRESULT hadBefore = ::CoGetPSClsid(IID_IServiceProvider, &before);
    ComPtr<IServiceProvider> provider = ComPtr<IServiceProvider>::Attach(new Provider);
    Call call;
    {
        ServiceProviderMarshal marshal;
        ASSERT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(IID_IServiceProvider,
                                                                provider.get(), &call.stream));
        // Made without the system's large proxy library, which Wine
        // relocates into private memory.
        EXPECT_EQ(nullptr, ::GetModuleHandleA("actxprxy.dll"));
    }
    EXPECT_EQ(hadBefore, ::CoGetPSClsid(IID_IServiceProvider, &after));
    if (SUCCEEDED(hadBefore)) EXPECT_EQ(before, after);

    ui::KernelHandle thread(::CreateThread(nullptr, 0, CallFromAnotherApartment, &call, 0, nullptr));
    ASSERT_TRUE(testing_support::PumpUntil(
        [&] { return ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }, 10000));
    EXPECT_EQ(S_OK, call.known);
    EXPECT_EQ(E_NOINTERFACE, call.unknown);
}

}  // namespace
