// Programs of the build started by a test, owned by it: stdin from NUL, stdout and stderr through pipes
// that threads drain (a chatty child never blocks on a full pipe), waiting for a line of output,
// for the exit, and killing. The owner kills and reaps its process when it goes away, so a test
// that ends early (a failed ASSERT, an exception) leaves nothing running. Every ChildProcess
// starts the dialog watchdog (dialog_watchdog.h): no message box of a child can hang a test.
//
// Killing a COM server: Wine keeps the dead server's class registration until the wineserver
// restarts, and every later activation of that class fails with 0x800706BA. tests/wine/run.sh
// restarts the wineserver after each integration test program (KORVEX_RESTART_WINESERVER), not
// after each test: a test that kills a server belongs in a test program of its own, or at the end
// of its program.
#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::test {

// Paths and arguments are UTF-8 throughout.
//
// The folder of the build's programs: KORVEX_BIN_DIR (a host path, which ctest sets for
// integration tests) as a Windows path, else the folder of the running test program. The programs
// a test starts may be of the other architecture than the test: a 32-bit client of the 64-bit
// server, or the other way round.
std::string binDirectory();

// The folder of the running test program, where the DLLs of its own architecture are.
std::string testProgramDirectory();

// A program of the build by file name ("scadasim.exe"); a path with a folder stays as it is.
std::string programPath(std::string_view program);

// Ids of the running processes whose program file is `exeName` (no folder, any case).
std::vector<DWORD> runningProcesses(std::string_view exeName);

struct ProcessOptions {
    // stderr goes into output(), interleaved as written, unless this is set: then into errors().
    bool separateErrors = false;
    std::string workingDirectory;  // empty: the test's
};

class ChildProcess {
public:
    using milliseconds = std::chrono::milliseconds;
    static constexpr DWORD kKilledExitCode = 0xDEAD;

    // Starts `program` (see programPath) with `args`, each quoted as the C runtime splits them.
    // Throws std::runtime_error when it cannot be started.
    explicit ChildProcess(std::string_view program, const std::vector<std::string>& args = {},
                          const ProcessOptions& options = {});

    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) noexcept;
    // Kills the process if it still runs and waits until it is gone.
    ~ChildProcess();

    DWORD id() const;
    HANDLE handle() const;
    bool running() const;
    // None while it runs.
    std::optional<DWORD> exitCode() const;

    // True once stdout (with stderr unless separate) held the line `line` (a trailing '\r' is
    // ignored); false on timeout or when the output ended without it.
    bool waitForLine(std::string_view line, milliseconds timeout = std::chrono::seconds(20));
    // The exit code, or none when it still runs after `timeout`. Once it has ended, the output
    // is complete (or as complete as 2 s allow, if a grandchild holds the pipe open).
    std::optional<DWORD> waitForExit(milliseconds timeout = std::chrono::seconds(10));
    // TerminateProcess; returns once the process is gone (at most 10 s).
    void kill();

    // What arrived so far.
    std::string output() const;
    std::string errors() const;


    struct State;

private:
    explicit ChildProcess(std::unique_ptr<State> state);
    void release() noexcept;

    std::unique_ptr<State> state_;
};

}  // namespace korvex::test
