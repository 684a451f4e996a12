// Values as text: parsing a command-line value into an item's canonical type, and printing any
// VARIANT a server hands out, as text or as JSON.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace opcclient {

// "VT_R4 (float)", "VT_BOOL (boolean)", ...
std::string typeName(VARTYPE type);

struct ParsedValue {
    bool ok = false;
    std::string problem;  // when !ok: why `text` is not a value of the type
};

// Parses `text` as a value of `type` into `out` (which must be VT_EMPTY). Numbers use '.' as the
// decimal point whatever the locale; booleans are true/false, on/off, yes/no or 1/0.
ParsedValue parseValue(std::string_view text, VARTYPE type, VARIANT& out);

// Shortest text that reads back as the same value; "(empty)" for VT_EMPTY.
std::string formatValue(const VARIANT& value);
// Numbers as numbers, booleans as booleans, VT_EMPTY as null, the rest as text.
nlohmann::json valueToJson(const VARIANT& value);

}  // namespace opcclient
