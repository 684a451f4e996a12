// read: one synchronous read of the items through a group of this client: IOPCSyncIO::Read from
// the device or the cache, or IOPCSyncIO2::ReadMaxAge.
#include "tools/opcclient/commands.h"

#include "tools/opcclient/item_group.h"
#include "tools/opcclient/item_value_format.h"

#include <vector>

namespace opcclient {

namespace {

struct ReadResult {
    VARIANT value;
    WORD quality = 0;
    FILETIME timestamp{};
    HRESULT error = S_OK;
};

// The values in the order of `handles`.
std::vector<ReadResult> readItems(const Connection& connection, const ItemGroup& group, const Options& options,
                                  std::vector<OPCHANDLE>& handles) {
    const DWORD count = static_cast<DWORD>(handles.size());
    std::vector<ReadResult> results(count);
    for (ReadResult& result : results) VariantInit(&result.value);
    HRESULT* errors = nullptr;
    if (options.source == ReadSource::maxAge) {
        const auto sync = group.require<IOPCSyncIO2>("IOPCSyncIO2");
        std::vector<DWORD> maxAges(count, options.maxAgeMs);
        VARIANT* values = nullptr;
        WORD* qualities = nullptr;
        FILETIME* times = nullptr;
        connection.check(sync->ReadMaxAge(count, handles.data(), maxAges.data(), &values, &qualities, &times, &errors),
                         "ReadMaxAge");
        for (DWORD i = 0; i < count; ++i) {
            results[i] = {values[i], qualities[i], times[i], errors[i]};  // takes over the value
        }
        CoTaskMemFree(values);
        CoTaskMemFree(qualities);
        CoTaskMemFree(times);
    } else {
        const auto sync = group.require<IOPCSyncIO>("IOPCSyncIO");
        const OPCDATASOURCE source = options.source == ReadSource::cache ? OPC_DS_CACHE : OPC_DS_DEVICE;
        OPCITEMSTATE* states = nullptr;
        connection.check(sync->Read(source, count, handles.data(), &states, &errors), "Read");
        for (DWORD i = 0; i < count; ++i) {
            results[i] = {states[i].vDataValue, states[i].wQuality, states[i].ftTimeStamp, errors[i]};
        }
        CoTaskMemFree(states);
    }
    CoTaskMemFree(errors);
    return results;
}

}  // namespace

int runRead(const Connection& connection, const Options& options, Output& out) {
    const ItemGroup group(connection, options.operands, true);
    std::vector<OPCHANDLE> handles = group.serverHandles();
    std::vector<ReadResult> results;
    if (!handles.empty()) results = readItems(connection, group, options, handles);

    int exitCode = kExitOk;
    std::size_t next = 0;  // the next result, for the next accepted item
    for (const GroupItem& item : group.items()) {
        if (FAILED(item.addResult)) {
            out.itemFailure(connection, item.itemId, item.addResult);
            exitCode = kExitFailed;
            continue;
        }
        ReadResult& result = results[next++];
        if (FAILED(result.error)) {
            out.itemFailure(connection, item.itemId, result.error);
            exitCode = kExitFailed;
        } else {
            const ItemValue value{item.itemId, &result.value, result.quality, result.timestamp};
            if (options.json)
                out.object(itemValueJson(value));
            else
                out.line(itemValueLine(value));
        }
        VariantClear(&result.value);
    }
    return exitCode;
}

}  // namespace opcclient
