// IOPCItemSamplingMgt of the group: the server samples every item at its group's update rate and
// buffers nothing, so the interface exists only to refuse. Nothing is allocated or written.
#include "group/opc_group.h"

#include "com/com_boundary.h"

HRESULT COPCGroup::SetItemSamplingRate(DWORD, OPCHANDLE*, DWORD*, DWORD** ppdwRevisedSamplingRate,
                                       HRESULT** ppErrors) try {
    return ppdwRevisedSamplingRate && ppErrors ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::GetItemSamplingRate(DWORD, OPCHANDLE*, DWORD** ppdwSamplingRate, HRESULT** ppErrors) try {
    return ppdwSamplingRate && ppErrors ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::ClearItemSamplingRate(DWORD, OPCHANDLE*, HRESULT** ppErrors) try {
    return ppErrors ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetItemBufferEnable(DWORD, OPCHANDLE*, BOOL*, HRESULT** ppErrors) try {
    return ppErrors ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::GetItemBufferEnable(DWORD, OPCHANDLE*, BOOL** ppbEnable, HRESULT** ppErrors) try {
    return ppbEnable && ppErrors ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
