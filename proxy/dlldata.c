/* Proxy/stub DLL entry points for the OPC DA and OPC Common interfaces.
 * Built with REGISTER_PROXY_DLL, so DllRegisterServer registers every
 * interface under HKCR\Interface with ProxyStubClsid32 naming the proxy
 * factory, and the factory under HKCR\CLSID.
 *
 * The factory's class ID is our own and fixed:
 *     {52D0DA83-4E5C-4386-9F48-AA69C5A56260}
 * The rpcproxy.h default would be the IID of whichever interface widl puts
 * first in the first proxy file, which moves when the IDL grows and would
 * leave the registrations of an older install pointing at a class this DLL
 * no longer serves. tests/conformance checks the registration. */
#include <objbase.h>

#define PROXY_CLSID_IS {0x52d0da83, 0x4e5c, 0x4386, {0x9f, 0x48, 0xaa, 0x69, 0xc5, 0xa5, 0x62, 0x60}}
#include <rpcproxy.h>

#ifdef __cplusplus
extern "C" {
#endif

EXTERN_PROXY_FILE(opcda)
EXTERN_PROXY_FILE(opccomn)

PROXYFILE_LIST_START
    REFERENCE_PROXY_FILE(opcda),
    REFERENCE_PROXY_FILE(opccomn),
PROXYFILE_LIST_END

DLLDATA_ROUTINES(aProxyFileList, GET_DLL_CLSID)

#ifdef __cplusplus
}
#endif
