// IOPCItemIO of the server object: reads and writes of points named by item ID, without a group.
// They go through the same point reads, caches and write test as a group's synchronous IO; values
// come back in the point's canonical type.
#include "server/opc_server.h"

#include "addrspace/address_space.h"
#include "com/com_boundary.h"
#include "com/task_memory.h"
#include "group/freshness.h"
#include "group/item_resolution.h"
#include "group/max_age_read_results.h"
#include "group/tested_write.h"
#include "opcerror.h"

using korvex::com::ErrorArray;

namespace {

// Resolution and the rights the operation needs.
ResolvedPoint ResolveForIO(const COPCAddressSpaceMgt& space, LPCWSTR itemId, bool write) {
    ResolvedPoint resolved = ResolvePoint(space, itemId, KindAliases::ignore);
    if (FAILED(resolved.error)) return resolved;
    const PointDescriptor& d = resolved.point->descriptor();
    if (write ? !d.IsWriteable() : !d.IsReadable()) return {OPC_E_BADRIGHTS, nullptr};
    return resolved;
}

}  // namespace

HRESULT COPCServer::Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues, WORD** ppwQualities,
                         FILETIME** ppftTimeStamps, HRESULT** ppErrors) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (!ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors) return E_POINTER;
    if (dwCount == 0 || pszItemIDs == nullptr || pdwMaxAge == nullptr) return E_INVALIDARG;
    *ppvValues = nullptr;
    *ppwQualities = nullptr;
    *ppftTimeStamps = nullptr;
    *ppErrors = nullptr;
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!space.IsBuilt()) return E_FAIL;
    MaxAgeReadResults results;
    if (FAILED(results.Allocate(dwCount))) return E_OUTOFMEMORY;

    FILETIME now;
    CoFileTimeNow(&now);
    for (DWORD i = 0; i < dwCount; ++i) {
        HRESULT& error = results.errors[i];
        const ResolvedPoint resolved = ResolveForIO(space, pszItemIDs[i], false);
        if (FAILED(resolved.error)) {
            error = resolved.error;
            continue;
        }
        COPCItem& point = *resolved.point;
        values::ValueRecord record = point.Snapshot();
        if (!ServeFromCache(record.timestamp, pdwMaxAge[i], now) && !space.ReadPointIntoCache(point, record)) {
            error = E_FAIL;
            continue;
        }
        error = values::GetValue(record, point.canonicalType(), VT_EMPTY, &results.values[i], &results.qualities[i],
                                 &results.timestamps[i]);
    }
    return results.HandOut(ppvValues, ppwQualities, ppftTimeStamps, ppErrors);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (ppErrors == nullptr) return E_POINTER;
    if (dwCount == 0 || pszItemIDs == nullptr || pItemVQT == nullptr) return E_INVALIDARG;
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!space.IsBuilt()) return E_FAIL;
    *ppErrors = nullptr;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;

    for (DWORD i = 0; i < dwCount; ++i) {
        const ResolvedPoint resolved = ResolveForIO(space, pszItemIDs[i], true);
        if (FAILED(resolved.error)) {
            errors[i] = resolved.error;
            continue;
        }
        const OPCITEMVQT& vqt = pItemVQT[i];
        errors[i] =
            TestAndWritePoint(space, *resolved.point, vqt.vDataValue, vqt.bQualitySpecified ? &vqt.wQuality : nullptr,
                              vqt.bTimeStampSpecified ? &vqt.ftTimeStamp : nullptr);
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return result;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
