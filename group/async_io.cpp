// IOPCAsyncIO2 and IOPCAsyncIO3 of the group: each call checks its items now and queues one request
// for those that pass; the update thread executes it in a later tick (async_execution.cpp). The
// DA 1.0 IOPCAsyncIO is offered but refuses every call.
#include "group/opc_group.h"

#include "com/com_boundary.h"
#include "com/task_memory.h"
#include "group/item_checks.h"

#include <new>

using korvex::com::ErrorArray;

namespace {

using Operation = AsyncRequest::Operation;
using Source = AsyncRequest::Source;

std::unique_ptr<AsyncRequest> NewRequest(Operation operation, Source source, DWORD transactionId) {
    return std::unique_ptr<AsyncRequest>(new (std::nothrow) AsyncRequest(operation, source, transactionId));
}

// Appends a write as the request keeps it: the value copied, quality and timestamp only as
// specified. Nothing is appended when the value cannot be copied.
HRESULT AppendWrite(AsyncRequest& request, const VARIANT& value, const OPCITEMVQT* vqt) {
    OPCITEMVQT& copy = request.writes.emplace_back();
    VariantInit(&copy.vDataValue);
    if (vqt) {
        copy.bQualitySpecified = vqt->bQualitySpecified;
        copy.wQuality = vqt->wQuality;
        copy.bTimeStampSpecified = vqt->bTimeStampSpecified;
        copy.ftTimeStamp = vqt->ftTimeStamp;
    }
    const HRESULT copied = VariantCopy(&copy.vDataValue, const_cast<VARIANT*>(&value));
    if (FAILED(copied)) request.writes.pop_back();
    return copied;
}

}  // namespace

template <class AddItem>
HRESULT COPCGroup::QueueItems(DWORD count, const OPCHANDLE* handles, bool inputsGiven, bool write,
                              std::unique_ptr<AsyncRequest> request, DWORD* pdwCancelID, HRESULT** ppErrors,
                              AddItem addItem) {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (pdwCancelID == nullptr || ppErrors == nullptr) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    // A null input array would be read past: refused like an empty one.
    if (handles == nullptr || !inputsGiven) return E_INVALIDARG;
    ErrorArray errors;
    if (!request || FAILED(errors.allocate(count))) return E_OUTOFMEMORY;
    bool groupActive = false;
    const std::vector<ItemView> views = ViewItems(count, handles, groupActive);
    try {
        request->serverHandles.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            errors[i] = write ? CheckWriteable(views[i]) : CheckReadable(views[i]);
            if (errors[i] == S_OK) errors[i] = addItem(*request, i);
            if (errors[i] == S_OK) request->serverHandles.push_back(handles[i]);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // Nothing to do: the client gets no per-item errors either.
    if (request->serverHandles.empty()) return E_FAIL;
    request->clientGroupHandle = state().clientGroupHandle;
    const DWORD cancelId = requests_.Append(std::move(request));
    if (cancelId == 0) return E_OUTOFMEMORY;
    *pdwCancelID = cancelId;
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return result;
}

HRESULT COPCGroup::QueueRefresh(std::unique_ptr<AsyncRequest> request, const DWORD* maxAge, DWORD* pdwCancelID) {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (pdwCancelID == nullptr) return E_POINTER;
    *pdwCancelID = 0;
    if (!request) return E_OUTOFMEMORY;
    {
        std::lock_guard guard(lock_);
        if (!state_.active || items_.empty()) return E_FAIL;
        try {
            for (const GroupItem& item : items_.list()) {
                if (item.active && item.point->descriptor().IsReadable())
                    request->serverHandles.push_back(item.serverHandle());
            }
            if (maxAge) request->maxAges.assign(request->serverHandles.size(), *maxAge);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        request->clientGroupHandle = state_.clientGroupHandle;
    }
    if (request->serverHandles.empty()) return E_FAIL;
    const DWORD cancelId = requests_.Append(std::move(request));
    if (cancelId == 0) return E_OUTOFMEMORY;
    *pdwCancelID = cancelId;
    return S_OK;
}

HRESULT COPCGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                        HRESULT** ppErrors) try {
    return QueueItems(dwCount, phServer, true, false, NewRequest(Operation::Read, Source::Device, dwTransactionID),
                      pdwCancelID, ppErrors, [](AsyncRequest&, DWORD) { return S_OK; });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                              DWORD* pdwCancelID, HRESULT** ppErrors) try {
    return QueueItems(dwCount, phServer, pdwMaxAge != nullptr, false,
                      NewRequest(Operation::Read, Source::ByMaxAge, dwTransactionID), pdwCancelID, ppErrors,
                      [pdwMaxAge](AsyncRequest& request, DWORD i) {
                          request.maxAges.push_back(pdwMaxAge[i]);
                          return S_OK;
                      });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                         DWORD* pdwCancelID, HRESULT** ppErrors) try {
    return QueueItems(
        dwCount, phServer, pItemValues != nullptr, true, NewRequest(Operation::Write, Source::Device, dwTransactionID),
        pdwCancelID, ppErrors,
        [pItemValues](AsyncRequest& request, DWORD i) { return AppendWrite(request, pItemValues[i], nullptr); });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                            DWORD* pdwCancelID, HRESULT** ppErrors) try {
    return QueueItems(dwCount, phServer, pItemVQT != nullptr, true,
                      NewRequest(Operation::Write, Source::Device, dwTransactionID), pdwCancelID, ppErrors,
                      [pItemVQT](AsyncRequest& request, DWORD i) {
                          return AppendWrite(request, pItemVQT[i].vDataValue, &pItemVQT[i]);
                      });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) try {
    const Source source = dwSource == OPC_DS_CACHE ? Source::Cache : Source::Device;
    return QueueRefresh(NewRequest(Operation::Refresh, source, dwTransactionID), nullptr, pdwCancelID);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID) try {
    return QueueRefresh(NewRequest(Operation::Refresh, Source::ByMaxAge, dwTransactionID), &dwMaxAge, pdwCancelID);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Cancel2(DWORD dwCancelID) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    // Only marks the request: the update thread reports the cancellation when it reaches it.
    return requests_.Cancel(dwCancelID) ? S_OK : E_FAIL;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetEnable(BOOL bEnable) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    std::lock_guard guard(lock_);
    callbacksEnabled_ = bEnable;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::GetEnable(BOOL* pbEnable) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (pbEnable == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *pbEnable = callbacksEnabled_;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Read(DWORD, OPCDATASOURCE, DWORD, OPCHANDLE*, DWORD* pTransactionID, HRESULT** ppErrors) try {
    return pTransactionID && ppErrors ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Write(DWORD, DWORD, OPCHANDLE*, VARIANT*, DWORD* pTransactionID, HRESULT** ppErrors) try {
    return pTransactionID && ppErrors ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Refresh(DWORD, OPCDATASOURCE, DWORD* pTransactionID) try {
    return pTransactionID ? E_NOTIMPL : E_POINTER;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Cancel(DWORD) try { return E_NOTIMPL; } catch (...) {
    return korvex::com::ExceptionToHResult();
}
