// Base of a client's IOPCDataCallback sink (the command-line client, the tools and the tests are
// clients): every callback returns S_OK and does nothing, so that a sink overrides only those it
// listens to.
//
//     class CountingSink final : public DataCallbackSink<CountingSink, no_module_lock> {
//         HRESULT STDMETHODCALLTYPE OnDataChange(...) override;
//     };
#pragma once

#include "com/com_object.h"

#include "opcda.h"

namespace korvex::com {

template <class Derived, class... Options>
class DataCallbackSink : public ComObject<Derived, IOPCDataCallback, Options...> {
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                             FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};

}  // namespace korvex::com
