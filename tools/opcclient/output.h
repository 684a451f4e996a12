// Everything the client prints: results on stdout (text lines, or one JSON object per line), and
// failures on stderr. UTF-8 throughout; whole lines, flushed at once, from any thread.
#pragma once

#include "tools/opcclient/connection.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace opcclient {

class Output {
public:
    explicit Output(bool json);

    bool json() const { return json_; }
    void line(std::string_view text);
    void object(const nlohmann::json& value);
    // "korvex-opc: <text>" on stderr.
    void error(std::string_view text);

    // One item that failed: "korvex-opc: <item>: <code and text>" on stderr; with --json also
    // {"item": ..., "error": {"code": "0x...", "name": ..., "text": ...}} on stdout.
    void itemFailure(const Connection& connection, std::string_view itemId, HRESULT code);

private:
    void write(std::FILE* stream, std::string_view text);
    bool json_;
};

// {"code": "0xC0040007", "name": "OPC_E_UNKNOWNITEMID", "text": "..."}
nlohmann::json statusJson(const Connection& connection, HRESULT code);

}  // namespace opcclient
