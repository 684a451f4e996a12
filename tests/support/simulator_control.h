// Test client of scadasim's control channel (tools/simulator/README.md): connects to its named pipe,
// sends commands and parses the replies. Every call is bounded in time; failures throw
// std::runtime_error with the command and the simulator's reply.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::test {

struct RecordedRuntimeMessage {
    std::uint32_t code = 0;
    bool applied = false;
    std::vector<std::byte> payload;
};

class SimulatorControl {
public:
    static constexpr const char* kDefaultPipe = R"(\\.\pipe\korvex-scadasim)";

    // Retries until the simulator's pipe accepts the connection or the timeout passes.
    explicit SimulatorControl(std::string pipeName = kDefaultPipe,
                              std::chrono::milliseconds connectTimeout = std::chrono::seconds(10));
    ~SimulatorControl();
    SimulatorControl(const SimulatorControl&) = delete;
    SimulatorControl& operator=(const SimulatorControl&) = delete;

    // Sends one command line; returns the reply line ("ok ..." or "error ...").
    std::string command(const std::string& line);
    // As command, but throws on an "error" reply; returns what follows "ok " (may be empty).
    std::string ok(const std::string& line);

    // Names are UTF-8, as in the plant file.
    void setAnalog(std::string_view station, std::string_view point, double value);
    void setSwitch(std::string_view station, std::string_view point, std::uint8_t state);
    double analog(std::string_view station, std::string_view point);
    std::uint8_t switchState(std::string_view station, std::string_view point);

    void closeWindow() { ok("close-window"); }
    // Stops the runtime window's message pump for `seconds` (none: until resume).
    void hang(std::optional<double> seconds = std::nullopt);
    void resume() { ok("resume"); }
    std::vector<RecordedRuntimeMessage> messages();
    void clearMessages() { ok("clear-messages"); }
    // Ends the simulator; returns once it has acknowledged.
    void quit();

    // A command-line token that survives blanks, quotes and backslashes in `text`.
    static std::string quote(std::string_view text);

private:
    void write(const std::string& text);
    std::string readLine();

    void* pipe_ = nullptr;
    void* event_ = nullptr;
    std::string pending_;
    std::chrono::milliseconds ioTimeout_{10000};
};

}  // namespace korvex::test
