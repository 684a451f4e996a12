// Symbolic names of the status codes an OPC DA client meets, both ways: "0xC0040007" reads better
// as OPC_E_UNKNOWNITEMID, and `error OPC_E_UNKNOWNITEMID` is easier to type than its number.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace opcclient {

// The name, or empty when the code is not one of the table.
std::string_view statusName(HRESULT code);

// A code given on the command line: a name of the table, 0x-hex, or a decimal (negative allowed).
std::optional<HRESULT> parseStatusCode(std::string_view text);

// "0xC0040007"
std::string hexCode(HRESULT code);

// The system's own message for the code (COM, RPC and Win32 codes), without the trailing line
// break; empty when it has none.
std::string systemMessage(HRESULT code);

}  // namespace opcclient
