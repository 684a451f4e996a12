// scadasim's command line (see README.md).
#pragma once

#include "rtdb/standin/rt_image.h"
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
    // Set: the published memory is corrupt in this way (for testing the server against it).
    std::optional<rtimage::Corruption> corruption;
    bool corruptDescriptor = false;  // the memory descriptor claims twice the database's size
    std::string help;  // set: --help was given, and this is the text to show
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

Options parseOptions(int argc, char** argv);  // throws UsageError

}  // namespace sim
