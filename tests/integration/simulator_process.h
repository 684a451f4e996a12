// Starts scadasim.exe for an integration test and captures its output. Minimal on purpose: to be
// replaced by the generic process fixture (tests/support/wine_process.h) once that exists.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvex::test {

class SimulatorProcess {
public:
    // Starts the simulator from the directory of the test program (or KORVEX_BIN_DIR) with `args`;
    // stdout and stderr are captured together.
    explicit SimulatorProcess(const std::vector<std::string>& args);
    // Kills the process if it is still running: no test leaves a simulator behind.
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // True once the "ready" line arrived; false on timeout or when the process ended first.
    bool waitForReady(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The exit code, or none when it is still running after `timeout`.
    std::optional<DWORD> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string output() const;
    void kill();

    static std::string binDirectory();
    static std::string samplePlant() { return binDirectory() + "\\sample-plant.toml"; }

private:
    void readOutput(HANDLE pipe);

    PROCESS_INFORMATION process_{};
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    bool outputClosed_ = false;
};

// A fresh directory under %TEMP% for one test, removed with its content at the end.
class TempDirectory {
public:
    explicit TempDirectory(const std::string& tag);
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name, const std::string& content) const;  // writes it, returns its path

private:
    std::string path_;
};

}  // namespace korvex::test
