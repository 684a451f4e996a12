// The group's synchronous and asynchronous IO. Canned rules:
//   timestamps     a value read from the cache carries its item's timestamp, one read from
//                  OPC_DS_DEVICE kDeviceTimestamp, one read with a max age {maxAge, item's high part}
//   writes         store the value (VT_EMPTY: OPC_E_BADTYPE), a VQT also its quality and timestamp
//                  when specified
//   DA 1.0 async   no callbacks; the transaction ID is the echo of what the call received
//   DA 2.0/3.0     without an IOPCDataCallback: CONNECT_E_NOCONNECTION; cancel IDs count from
//                  0x7001; the callback comes from the callback worker after the call returned,
//                  with the valid items only; a refresh covers the active items of an active group
//                  (else E_FAIL); Cancel2 of a known cancel ID answers OnCancelComplete
#include "canned_group.h"

#include "callback_worker.h"
#include "canned_space.h"
#include "conformance_protocol.h"
#include "opc_memory.h"

#include "com/task_memory.h"
#include "opcerror.h"

#include <memory>
#include <span>

namespace conformance {

using korvex::com::ClearVariant;
using korvex::com::ComPtr;
using korvex::com::ErrorArray;
using korvex::com::TaskArray;

namespace {

bool validSource(OPCDATASOURCE source) { return source == OPC_DS_CACHE || source == OPC_DS_DEVICE; }

FILETIME maxAgeStamp(DWORD maxAge, const FILETIME& timestamp) { return {maxAge, timestamp.dwHighDateTime}; }

}  // namespace

void CannedGroup::Delivery::add(const Item& item, FILETIME timestamp) {
    clientHandles.push_back(item.clientHandle);
    values.emplace_back().copyFrom(item.value.get());
    qualities.push_back(item.quality);
    timestamps.push_back(timestamp);
    errors.push_back(S_OK);
}

HRESULT CannedGroup::storeValue(Item& item, const VARIANT& value) {
    if (V_VT(&value) == VT_EMPTY) return OPC_E_BADTYPE;
    if (const HRESULT hr = item.value.copyFrom(value); FAILED(hr)) return hr;
    item.quality = kCannedQuality;
    return S_OK;
}

HRESULT CannedGroup::callbackSink(ComPtr<IOPCDataCallback>& sink) {
    sink = callbackPoint_->sink();
    return sink ? S_OK : CONNECT_E_NOCONNECTION;
}

DWORD CannedGroup::newCancelId(DWORD transactionId) {
    const DWORD cancelId = ++lastCancelId_;
    transactions_[cancelId] = transactionId;
    return cancelId;
}

void CannedGroup::post(Callback kind, ComPtr<IOPCDataCallback> sink, DWORD transactionId, Delivery delivery) {
    auto shared = std::make_shared<Delivery>(std::move(delivery));
    const OPCHANDLE group = state_.clientHandle;
    // The task holds the group: the server stays up until the client has its answer.
    CallbackWorker::instance().post([kind, sink, transactionId, group, shared, self = ComPtr<CannedGroup>(this)] {
        Delivery& d = *shared;
        std::vector<VARIANT> values;
        for (const korvex::com::Variant& value : d.values) values.push_back(value.get());
        const auto count = static_cast<DWORD>(d.clientHandles.size());
        const HRESULT masterError = korvex::com::itemsResult(d.errors);
        HRESULT masterQuality = S_OK;
        for (WORD quality : d.qualities)
            if ((quality & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) masterQuality = S_FALSE;
        switch (kind) {
        case Callback::dataChange:
            sink->OnDataChange(transactionId, group, masterQuality, masterError, count, d.clientHandles.data(),
                               values.data(), d.qualities.data(), d.timestamps.data(), d.errors.data());
            break;
        case Callback::readComplete:
            sink->OnReadComplete(transactionId, group, masterQuality, masterError, count, d.clientHandles.data(),
                                 values.data(), d.qualities.data(), d.timestamps.data(), d.errors.data());
            break;
        case Callback::writeComplete:
            sink->OnWriteComplete(transactionId, group, masterError, count, d.clientHandles.data(), d.errors.data());
            break;
        }
    });
}

// IOPCSyncIO, IOPCSyncIO2 -------------------------------------------------------------------------

HRESULT CannedGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                          HRESULT** ppErrors) {
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0 || !validSource(dwSource)) return E_INVALIDARG;
    TaskArray<OPCITEMSTATE, FreeItemState> states;
    ErrorArray errors;
    if (FAILED(states.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        const Item* item = findItem(phServer[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        OPCITEMSTATE& state = states[i];
        state.hClient = item->clientHandle;
        state.ftTimeStamp = dwSource == OPC_DS_DEVICE ? kDeviceTimestamp : item->timestamp;
        state.wQuality = item->quality;
        errors[i] = item->value.copyTo(&state.vDataValue);
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppItemValues = states.release();
    *ppErrors = errors.release();
    return hr;
}

HRESULT CannedGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        Item* item = findItem(phServer[i]);
        errors[i] = item ? storeValue(*item, pItemValues[i]) : OPC_E_INVALIDHANDLE;
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return hr;
}

HRESULT CannedGroup::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                                WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
    *ppvValues = nullptr;
    *ppwQualities = nullptr;
    *ppftTimeStamps = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    TaskArray<VARIANT, ClearVariant> values;
    TaskArray<WORD> qualities;
    TaskArray<FILETIME> timestamps;
    ErrorArray errors;
    if (FAILED(values.allocate(dwCount)) || FAILED(qualities.allocate(dwCount)) ||
        FAILED(timestamps.allocate(dwCount)) || FAILED(errors.allocate(dwCount)))
        return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        const Item* item = findItem(phServer[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        qualities[i] = item->quality;
        timestamps[i] = maxAgeStamp(pdwMaxAge[i], item->timestamp);
        errors[i] = item->value.copyTo(&values[i]);
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppvValues = values.release();
    *ppwQualities = qualities.release();
    *ppftTimeStamps = timestamps.release();
    *ppErrors = errors.release();
    return hr;
}

HRESULT CannedGroup::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) {
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        Item* item = findItem(phServer[i]);
        const OPCITEMVQT& vqt = pItemVQT[i];
        errors[i] = item ? storeValue(*item, vqt.vDataValue) : OPC_E_INVALIDHANDLE;
        if (FAILED(errors[i])) continue;
        if (vqt.bQualitySpecified) item->quality = vqt.wQuality;
        if (vqt.bTimeStampSpecified) item->timestamp = vqt.ftTimeStamp;
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return hr;
}

// IOPCAsyncIO (DA 1.0) ----------------------------------------------------------------------------

HRESULT CannedGroup::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                          DWORD* pTransactionID, HRESULT** ppErrors) {
    *pTransactionID = 0;
    *ppErrors = nullptr;
    if (dwCount == 0 || !validSource(dwSource)) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) errors[i] = findItem(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE;
    *pTransactionID =
        (Echo{} << dwConnection << static_cast<int>(dwSource) << std::span<const OPCHANDLE>(phServer, dwCount))
            .value();
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return hr;
}

HRESULT CannedGroup::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                           DWORD* pTransactionID, HRESULT** ppErrors) {
    *pTransactionID = 0;
    const HRESULT hr = Write(dwCount, phServer, pItemValues, ppErrors);
    if (SUCCEEDED(hr))
        *pTransactionID = (Echo{} << dwConnection << std::span<const OPCHANDLE>(phServer, dwCount)).value();
    return hr;
}

HRESULT CannedGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
    *pTransactionID = 0;
    if (!validSource(dwSource)) return E_INVALIDARG;
    *pTransactionID = (Echo{} << dwConnection << static_cast<int>(dwSource)).value();
    return S_OK;
}

HRESULT CannedGroup::Cancel(DWORD dwTransactionID) { return (Echo{} << dwTransactionID).code(); }

// IOPCAsyncIO2, IOPCAsyncIO3 ----------------------------------------------------------------------

HRESULT CannedGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                          HRESULT** ppErrors) {
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    ComPtr<IOPCDataCallback> sink;
    if (const HRESULT hr = callbackSink(sink); FAILED(hr)) return hr;
    if (dwCount == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    Delivery delivery;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        const Item* item = findItem(phServer[i]);
        errors[i] = item ? S_OK : OPC_E_INVALIDHANDLE;
        if (item) delivery.add(*item, item->timestamp);
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    if (delivery.clientHandles.empty()) return hr;
    *pdwCancelID = newCancelId(dwTransactionID);
    post(Callback::readComplete, sink, dwTransactionID, std::move(delivery));
    return hr;
}

HRESULT CannedGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                           DWORD* pdwCancelID, HRESULT** ppErrors) {
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    ComPtr<IOPCDataCallback> sink;
    if (const HRESULT hr = callbackSink(sink); FAILED(hr)) return hr;
    if (dwCount == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    Delivery delivery;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        Item* item = findItem(phServer[i]);
        errors[i] = item ? S_OK : OPC_E_INVALIDHANDLE;
        if (!item) continue;
        delivery.clientHandles.push_back(item->clientHandle);
        delivery.errors.push_back(storeValue(*item, pItemValues[i]));  // reported in the callback
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    if (delivery.clientHandles.empty()) return hr;
    *pdwCancelID = newCancelId(dwTransactionID);
    post(Callback::writeComplete, sink, dwTransactionID, std::move(delivery));
    return hr;
}

HRESULT CannedGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
    *pdwCancelID = 0;
    ComPtr<IOPCDataCallback> sink;
    if (const HRESULT hr = callbackSink(sink); FAILED(hr)) return hr;
    if (!validSource(dwSource)) return E_INVALIDARG;
    Delivery delivery;
    std::lock_guard lock(mutex_);
    if (!state_.active) return E_FAIL;
    for (const auto& [handle, item] : items_)
        if (item.active) delivery.add(item, dwSource == OPC_DS_DEVICE ? kDeviceTimestamp : item.timestamp);
    if (delivery.clientHandles.empty()) return E_FAIL;
    *pdwCancelID = newCancelId(dwTransactionID);
    post(Callback::dataChange, sink, dwTransactionID, std::move(delivery));
    return S_OK;
}

HRESULT CannedGroup::Cancel2(DWORD dwCancelID) {
    ComPtr<IOPCDataCallback> sink;
    if (const HRESULT hr = callbackSink(sink); FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    const auto found = transactions_.find(dwCancelID);
    if (found == transactions_.end()) return E_FAIL;
    const DWORD transactionId = found->second;
    transactions_.erase(found);
    CallbackWorker::instance().post(
        [sink, transactionId, group = state_.clientHandle, self = ComPtr<CannedGroup>(this)] {
            sink->OnCancelComplete(transactionId, group);
        });
    return S_OK;
}

HRESULT CannedGroup::SetEnable(BOOL bEnable) {
    std::lock_guard lock(mutex_);
    enable_ = bEnable;
    return S_OK;
}

HRESULT CannedGroup::GetEnable(BOOL* pbEnable) {
    std::lock_guard lock(mutex_);
    *pbEnable = enable_;
    return S_OK;
}

HRESULT CannedGroup::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                                DWORD* pdwCancelID, HRESULT** ppErrors) {
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    ComPtr<IOPCDataCallback> sink;
    if (const HRESULT hr = callbackSink(sink); FAILED(hr)) return hr;
    if (dwCount == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    Delivery delivery;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        const Item* item = findItem(phServer[i]);
        errors[i] = item ? S_OK : OPC_E_INVALIDHANDLE;
        if (item) delivery.add(*item, maxAgeStamp(pdwMaxAge[i], item->timestamp));
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    if (delivery.clientHandles.empty()) return hr;
    *pdwCancelID = newCancelId(dwTransactionID);
    post(Callback::readComplete, sink, dwTransactionID, std::move(delivery));
    return hr;
}

HRESULT CannedGroup::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                              DWORD* pdwCancelID, HRESULT** ppErrors) {
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    ComPtr<IOPCDataCallback> sink;
    if (const HRESULT hr = callbackSink(sink); FAILED(hr)) return hr;
    if (dwCount == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    Delivery delivery;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        Item* item = findItem(phServer[i]);
        errors[i] = item ? S_OK : OPC_E_INVALIDHANDLE;
        if (!item) continue;
        const OPCITEMVQT& vqt = pItemVQT[i];
        const HRESULT stored = storeValue(*item, vqt.vDataValue);
        if (SUCCEEDED(stored) && vqt.bQualitySpecified) item->quality = vqt.wQuality;
        if (SUCCEEDED(stored) && vqt.bTimeStampSpecified) item->timestamp = vqt.ftTimeStamp;
        delivery.clientHandles.push_back(item->clientHandle);
        delivery.errors.push_back(stored);
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    if (delivery.clientHandles.empty()) return hr;
    *pdwCancelID = newCancelId(dwTransactionID);
    post(Callback::writeComplete, sink, dwTransactionID, std::move(delivery));
    return hr;
}

HRESULT CannedGroup::RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID) {
    *pdwCancelID = 0;
    ComPtr<IOPCDataCallback> sink;
    if (const HRESULT hr = callbackSink(sink); FAILED(hr)) return hr;
    Delivery delivery;
    std::lock_guard lock(mutex_);
    if (!state_.active) return E_FAIL;
    for (const auto& [handle, item] : items_)
        if (item.active) delivery.add(item, maxAgeStamp(dwMaxAge, item.timestamp));
    if (delivery.clientHandles.empty()) return E_FAIL;
    *pdwCancelID = newCancelId(dwTransactionID);
    post(Callback::dataChange, sink, dwTransactionID, std::move(delivery));
    return S_OK;
}

}  // namespace conformance
