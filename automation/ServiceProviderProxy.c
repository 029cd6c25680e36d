/* The proxy and stub of IServiceProvider that widl makes from the system's
   IDL (see ServiceProviderMarshal.h), with what this compiler's headers
   leave out for generated C code: plain GUID references in its parameter
   blocks, and the RPC runtime's IUnknown proxies. */
#define __WIDL_proxy
#include <objbase.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#include "servprov_p.c"

/* The local form of QueryService, which the generated code maps onto the
   remote one on each side of a call. */
HRESULT CALLBACK IServiceProvider_QueryService_Proxy(IServiceProvider* This, REFGUID guidService,
                                                     REFIID riid, void** ppvObject)
{
    return IServiceProvider_RemoteQueryService_Proxy(This, guidService, riid,
                                                     (IUnknown**)ppvObject);
}

HRESULT __RPC_STUB IServiceProvider_QueryService_Stub(IServiceProvider* This, REFGUID guidService,
                                                      REFIID riid, IUnknown** ppvObject)
{
    return This->lpVtbl->QueryService(This, guidService, riid, (void**)ppvObject);
}

/* The factory of the proxies and stubs: the RPC runtime keeps it in this
   static block, which its count never frees. */
static CStdPSFactoryBuffer factoryBuffer;

/* A stub that goes releases the factory that made it, as every proxy and
   stub library does. */
ULONG STDMETHODCALLTYPE CStdStubBuffer_Release(IRpcStubBuffer* This)
{
    return NdrCStdStubBuffer_Release(This, (IPSFactoryBuffer*)&factoryBuffer);
}

/* The factory, under the class clsid. */
HRESULT ServiceProviderPSFactory(const CLSID* clsid, IUnknown** factory)
{
    static const ProxyFileInfo* files[] = {(const ProxyFileInfo*)&servprov_ProxyFileInfo, NULL};
    return NdrDllGetClassObject(clsid, &IID_IUnknown, (void**)factory, files, clsid,
                                &factoryBuffer);
}
