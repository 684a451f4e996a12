// The client's command line: `korvex-opc [--server PROGID] [--json] COMMAND [ARGS] [OPTIONS]`.
// Global options may stand anywhere; each command accepts only its own options.
#pragma once

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace opcclient {

enum class Command { status, browse, props, read, write, watch, error, servers };

enum class ReadSource { device, cache, maxAge };

inline constexpr const char* kDefaultProgId = "Korvex.OPCServer.2";

struct Options {
    std::optional<Command> command;  // none: general help
    std::vector<std::string> operands;
    std::string progId = kDefaultProgId;
    bool json = false;
    bool help = false;

    // browse
    bool flat = false;
    std::string filter;
    // read
    ReadSource source = ReadSource::device;
    DWORD maxAgeMs = 0;
    // watch
    DWORD rateMs = 1000;
    float deadbandPercent = 0.0f;
    std::optional<double> durationSeconds;  // none: until Ctrl-C
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// `args` without the program name. Throws UsageError with a message fit for the user.
Options parseCommandLine(const std::vector<std::string>& args);

// The general help, or one command's.
std::string helpText(std::optional<Command> command);

}  // namespace opcclient
