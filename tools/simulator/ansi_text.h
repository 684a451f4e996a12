// The database holds its texts in the ANSI code page (the original product's is 936, GBK); the plant
// file is UTF-8. Conversion goes through the system's ANSI code page, as the server reads it back.
#pragma once

#include <string>
#include <string_view>

namespace sim {

struct AnsiText {
    std::string bytes;
    bool lossless = true;  // false when some character has no form in the ANSI code page
};

// Invalid UTF-8 gives an empty, lossy result.
AnsiText toAnsi(std::string_view utf8);

unsigned ansiCodePage();

}  // namespace sim
