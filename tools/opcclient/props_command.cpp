// props: IOPCItemProperties, every property of one item with its value.
#include "tools/opcclient/commands.h"

#include "tools/opcclient/value_text.h"

#include "com/string_convert.h"

#include <cstdio>

namespace opcclient {

int runProps(const Connection& connection, const Options& options, Output& out) {
    const auto properties = connection.require<IOPCItemProperties>("IOPCItemProperties", "item properties");
    const std::string& itemId = options.operands[0];
    std::wstring wideId = korvex::com::fromUtf8(itemId);

    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    connection.check(properties->QueryAvailableProperties(wideId.data(), &count, &ids, &descriptions, &types),
                     "QueryAvailableProperties(" + itemId + ")");
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT read = count ? properties->GetItemProperties(wideId.data(), count, ids, &values, &errors) : S_OK;

    int exitCode = kExitOk;
    for (DWORD i = 0; i < count && SUCCEEDED(read); ++i) {
        const std::string description = korvex::com::toUtf8(descriptions[i] ? descriptions[i] : L"");
        if (FAILED(errors[i])) {
            out.itemFailure(connection, itemId + " property " + std::to_string(ids[i]), errors[i]);
            exitCode = kExitFailed;
            continue;
        }
        std::string value = formatValue(values[i]);
        // The canonical data type is a VARTYPE number; its name says more.
        if (ids[i] == OPC_PROPERTY_DATATYPE && V_VT(&values[i]) == VT_I2) value += " " + typeName(V_I2(&values[i]));
        if (options.json) {
            out.object({{"item", itemId}, {"id", ids[i]}, {"description", description},
                        {"type", typeName(types[i])}, {"value", valueToJson(values[i])}});
        } else {
            char prefix[16];
            std::snprintf(prefix, sizeof prefix, "%5lu  ", static_cast<unsigned long>(ids[i]));
            std::string padded = description;
            if (padded.size() < 28) padded.resize(28, ' ');
            out.line(prefix + padded + "  " + value);
        }
    }
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(descriptions[i]);
        if (values) VariantClear(&values[i]);
    }
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    connection.check(read, "GetItemProperties(" + itemId + ")");
    return exitCode;
}

}  // namespace opcclient
