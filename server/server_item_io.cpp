// IOPCItemIO of the server object: reads and writes of points named by item ID, without a group.
// They go through the same point reads, caches and write test as a group's synchronous IO; values
// come back in the point's canonical type.
#include "server/opc_server.h"

#include "addrspace/address_space.h"
#include "com/task_memory.h"
#include "group/freshness.h"
#include "group/item_resolution.h"
#include "group/write_test.h"
#include "opcerror.h"
#include "server/process_state.h"

using korvex::com::ErrorArray;
using korvex::com::TaskArray;

namespace {

// Resolution and the rights the operation needs.
ResolvedPoint ResolveForIO(LPCWSTR itemId, bool write) {
    ResolvedPoint resolved = ResolvePoint(server::AddressSpace(), itemId, KindAliases::ignore);
    if (FAILED(resolved.error)) return resolved;
    const PointDescriptor& d = resolved.point->descriptor();
    if (write ? !d.IsWriteable() : !d.IsReadable()) return {OPC_E_BADRIGHTS, nullptr};
    return resolved;
}

}  // namespace

HRESULT COPCServer::Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                         WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
    if (server::IsFailed()) return E_FAIL;
    if (!ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors) return E_POINTER;
    if (dwCount == 0 || pszItemIDs == nullptr || pdwMaxAge == nullptr) return E_INVALIDARG;
    *ppvValues = nullptr;
    *ppwQualities = nullptr;
    *ppftTimeStamps = nullptr;
    *ppErrors = nullptr;
    const COPCAddressSpaceMgt& space = server::AddressSpace();
    if (!space.IsBuilt()) return E_FAIL;
    TaskArray<VARIANT, korvex::com::ClearVariant> values;
    TaskArray<WORD> qualities;
    TaskArray<FILETIME> timestamps;
    ErrorArray errors;
    if (FAILED(values.allocate(dwCount)) || FAILED(qualities.allocate(dwCount)) ||
        FAILED(timestamps.allocate(dwCount)) || FAILED(errors.allocate(dwCount)))
        return E_OUTOFMEMORY;

    for (DWORD i = 0; i < dwCount; ++i) {
        const ResolvedPoint resolved = ResolveForIO(pszItemIDs[i], false);
        if (FAILED(resolved.error)) {
            errors[i] = resolved.error;
            continue;
        }
        COPCItem& point = *resolved.point;
        values::ValueRecord record = point.Snapshot();
        FILETIME now;
        CoFileTimeNow(&now);
        const DWORD maxAge = pdwMaxAge[i];
        const bool fromCache = maxAge == 0xFFFFFFFF || IsFresh(record.timestamp, maxAge, now);
        if (!fromCache && !space.ReadPointIntoCache(point, record)) {
            errors[i] = E_FAIL;
            continue;
        }
        errors[i] = values::GetValue(record, point.canonicalType(), VT_EMPTY, &values[i], &qualities[i], &timestamps[i]);
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppvValues = values.release();
    *ppwQualities = qualities.release();
    *ppftTimeStamps = timestamps.release();
    *ppErrors = errors.release();
    return result;
}

HRESULT COPCServer::WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) {
    if (server::IsFailed()) return E_FAIL;
    if (ppErrors == nullptr) return E_POINTER;
    if (dwCount == 0 || pszItemIDs == nullptr || pItemVQT == nullptr) return E_INVALIDARG;
    const COPCAddressSpaceMgt& space = server::AddressSpace();
    if (!space.IsBuilt()) return E_FAIL;
    *ppErrors = nullptr;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;

    for (DWORD i = 0; i < dwCount; ++i) {
        const ResolvedPoint resolved = ResolveForIO(pszItemIDs[i], true);
        if (FAILED(resolved.error)) {
            errors[i] = resolved.error;
            continue;
        }
        const OPCITEMVQT& vqt = pItemVQT[i];
        errors[i] = TestAndWritePoint(space, *resolved.point, vqt.vDataValue,
                                      vqt.bQualitySpecified ? &vqt.wQuality : nullptr,
                                      vqt.bTimeStampSpecified ? &vqt.ftTimeStamp : nullptr);
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return result;
}
