// IOPCItemSamplingMgt of the group: the server samples every item at its group's update rate and
// buffers nothing, so the interface exists only to refuse. Nothing is allocated or written.
#include "group/opc_group.h"

HRESULT COPCGroup::SetItemSamplingRate(DWORD, OPCHANDLE*, DWORD*, DWORD** ppdwRevisedSamplingRate, HRESULT** ppErrors) {
    return ppdwRevisedSamplingRate && ppErrors ? E_NOTIMPL : E_POINTER;
}

HRESULT COPCGroup::GetItemSamplingRate(DWORD, OPCHANDLE*, DWORD** ppdwSamplingRate, HRESULT** ppErrors) {
    return ppdwSamplingRate && ppErrors ? E_NOTIMPL : E_POINTER;
}

HRESULT COPCGroup::ClearItemSamplingRate(DWORD, OPCHANDLE*, HRESULT** ppErrors) {
    return ppErrors ? E_NOTIMPL : E_POINTER;
}

HRESULT COPCGroup::SetItemBufferEnable(DWORD, OPCHANDLE*, BOOL*, HRESULT** ppErrors) {
    return ppErrors ? E_NOTIMPL : E_POINTER;
}

HRESULT COPCGroup::GetItemBufferEnable(DWORD, OPCHANDLE*, BOOL** ppbEnable, HRESULT** ppErrors) {
    return ppbEnable && ppErrors ? E_NOTIMPL : E_POINTER;
}
