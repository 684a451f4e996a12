// The command-line client (korvex-opc.exe) as a child process against the runtime simulator and
// the server program of tests/support/server_processes.h.
#pragma once

#include "tests/support/server_processes.h"
#include "tests/support/wine_process.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <vector>

namespace korvex::test {

struct ClientRun {
    DWORD exitCode = 0xFFFFFFFF;  // this when it did not end in time
    std::string output;
    std::string errors;
};

// Runs korvex-opc.exe with `args` to its end.
ClientRun RunClient(const std::vector<std::string>& args, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Every line of `output` parsed as JSON; a line that does not parse fails the test.
std::vector<nlohmann::json> JsonLines(const std::string& output);

using ClientSession = ServerProcesses;

}  // namespace korvex::test
