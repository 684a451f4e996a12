// write: IOPCSyncIO::Write through a group of this client, each value parsed as its item's
// canonical type. Nothing is written unless every value parses.
#include "tools/opcclient/commands.h"

#include "tools/opcclient/item_group.h"
#include "tools/opcclient/value_text.h"

#include "com/variant.h"

#include <vector>

namespace opcclient {

int runWrite(const Connection& connection, const Options& options, Output& out) {
    std::vector<std::string> itemIds;
    std::vector<std::string> texts;
    for (const std::string& operand : options.operands) {
        const auto equals = operand.find('=');
        if (equals == std::string::npos || equals == 0)
            throw UsageError("write: \"" + operand + "\" is not ITEM-ID=VALUE");
        itemIds.push_back(operand.substr(0, equals));
        texts.push_back(operand.substr(equals + 1));
    }
    const ItemGroup group(connection, itemIds, false);

    int exitCode = kExitOk;
    std::vector<OPCHANDLE> handles;
    std::vector<korvex::com::Variant> values;
    std::vector<std::size_t> written;  // positions in the command line of the items written
    for (std::size_t i = 0; i < group.items().size(); ++i) {
        const GroupItem& item = group.items()[i];
        if (FAILED(item.addResult)) {
            out.itemFailure(connection, item.itemId, item.addResult);
            exitCode = kExitFailed;
            continue;
        }
        korvex::com::Variant value;
        const ParsedValue parsed = parseValue(texts[i], item.canonicalType, value.get());
        if (!parsed.ok) throw UsageError(item.itemId + ": " + parsed.problem + "; nothing written");
        handles.push_back(item.serverHandle);
        values.push_back(std::move(value));
        written.push_back(i);
    }
    if (handles.empty()) return exitCode;

    std::vector<VARIANT> raw;
    for (const korvex::com::Variant& value : values) raw.push_back(value.get());  // shallow: `values` owns them
    const auto sync = group.require<IOPCSyncIO>("IOPCSyncIO");
    HRESULT* errors = nullptr;
    connection.check(sync->Write(static_cast<DWORD>(handles.size()), handles.data(), raw.data(), &errors), "Write");
    for (std::size_t k = 0; k < written.size(); ++k) {
        const std::string& itemId = itemIds[written[k]];
        if (FAILED(errors[k])) {
            out.itemFailure(connection, itemId, errors[k]);
            exitCode = kExitFailed;
            continue;
        }
        const std::string note = errors[k] == S_OK ? "" : " (" + connection.describe(errors[k]) + ")";
        if (options.json) {
            nlohmann::json line{{"item", itemId}, {"value", valueToJson(values[k].get())}, {"written", true}};
            if (errors[k] != S_OK) line["status"] = statusJson(connection, errors[k]);
            out.object(line);
        } else {
            out.line(itemId + "  " + formatValue(values[k].get()) + "  written" + note);
        }
    }
    CoTaskMemFree(errors);
    return exitCode;
}

}  // namespace opcclient
