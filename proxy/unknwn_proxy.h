/* The IUnknown proxy entries of rpcrt4 that generated proxy vtables start
 * with. mingw-w64's unknwn.h does not declare them; the generated *_p.c files
 * are compiled with this header forced in front (-include). */
#ifndef KORVEX_UNKNWN_PROXY_H
#define KORVEX_UNKNWN_PROXY_H

#include <unknwn.h>

#ifdef __cplusplus
extern "C" {
#endif

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);

#ifdef __cplusplus
}
#endif

#endif
