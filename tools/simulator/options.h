// scadasim's command line (see README.md).
#pragma once

#include "tools/simulator/registry_settings.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

namespace sim {

constexpr const char* kDefaultPipe = "\\\\.\\pipe\\korvex-scadasim";

struct Options {
    std::string plantFile;         // default: sample-plant.toml next to the program
    std::string workingDirectory;  // default: %TEMP%\korvex-scada
    std::chrono::milliseconds tick{500};
    std::string pipeName = kDefaultPipe;
    bool startFrozen = false;
    // Set: write the registry values the server reads.
    std::optional<ServerSettings> registry;
    std::string help;  // set: --help was given, and this is the text to show
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

Options parseOptions(int argc, char** argv);  // throws UsageError

}  // namespace sim
