// error: the server's text for a status code, IOPCCommon::GetErrorString.
#include "tools/opcclient/commands.h"

#include "tools/opcclient/status_names.h"

#include "com/string_convert.h"

namespace opcclient {

int runError(const Connection& connection, const Options& options, Output& out) {
    const std::optional<HRESULT> code = parseStatusCode(options.operands[0]);
    if (!code) throw UsageError("\"" + options.operands[0] + "\" is not a status code (0x..., a number or a name)");
    const auto common = connection.require<IOPCCommon>("IOPCCommon", "error texts");
    LPWSTR text = nullptr;
    connection.check(common->GetErrorString(*code, &text), "GetErrorString(" + hexCode(*code) + ")");
    const std::string message = korvex::com::toUtf8(text ? text : L"");
    CoTaskMemFree(text);
    if (options.json) {
        out.object({{"code", hexCode(*code)}, {"name", statusName(*code)}, {"text", message}});
    } else {
        const std::string_view name = statusName(*code);
        out.line(hexCode(*code) + (name.empty() ? "" : " " + std::string(name)) + ": " + message);
    }
    return kExitOk;
}

}  // namespace opcclient
