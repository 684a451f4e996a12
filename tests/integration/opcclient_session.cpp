#include "tests/integration/opcclient_session.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

namespace korvex::test {

ClientRun RunClient(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    ProcessOptions options;
    options.separateErrors = true;
    ChildProcess client("korvex-opc.exe", args, options);
    ClientRun run;
    if (const std::optional<DWORD> code = client.waitForExit(timeout)) {
        run.exitCode = *code;
    } else {
        client.kill();
        ADD_FAILURE() << "korvex-opc did not end within " << timeout.count() << " ms";
    }
    run.output = client.output();
    run.errors = client.errors();
    return run;
}

std::vector<nlohmann::json> JsonLines(const std::string& output) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        try {
            objects.push_back(nlohmann::json::parse(line));
        } catch (const nlohmann::json::parse_error& error) {
            ADD_FAILURE() << "not JSON: " << line << " (" << error.what() << ")";
        }
    }
    return objects;
}

}  // namespace korvex::test
