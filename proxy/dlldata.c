/* Proxy/stub DLL entry points for the OPC DA and OPC Common interfaces.
 * The class ID of the proxy factory is the IID of the first interface in the
 * first proxy file (the rpcproxy.h default), as for every MIDL-style proxy DLL.
 * Built with REGISTER_PROXY_DLL, so DllRegisterServer registers every
 * interface under HKCR\Interface. */
#include <objbase.h>
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
