#include "wine_process.h"

#include "dialog_watchdog.h"

#include "com/string_convert.h"

#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace korvex::test {

namespace {

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + " (error " + std::to_string(GetLastError()) + ")");
}

// One argument as CommandLineToArgvW and the C runtime split the command line again.
std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    for (auto it = arg.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != arg.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == arg.end()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted += *it;
    }
    return quoted + L"\"";
}

struct Handle {
    HANDLE value = nullptr;
    Handle() = default;
    explicit Handle(HANDLE h) : value(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(Handle&& other) noexcept : value(std::exchange(other.value, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(value, other.value);
        return *this;
    }
    ~Handle() {
        if (value) CloseHandle(value);
    }
};

// Our end overlapped (a reader can be stopped at any time, a writer can time out), the child's
// end inheritable. A named pipe, because anonymous pipes cannot do overlapped IO.
std::pair<Handle, Handle> makePipe(bool childWrites) {
    static std::atomic<unsigned> counter{0};
    const std::wstring name = L"\\\\.\\pipe\\korvex-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(counter.fetch_add(1));
    const DWORD direction = childWrites ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND;
    Handle ours(CreateNamedPipeW(name.c_str(), direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
    if (!ours.value) throw systemError("cannot create a pipe for the child");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const DWORD access = (childWrites ? GENERIC_WRITE : GENERIC_READ) | FILE_READ_ATTRIBUTES;
    Handle childs(CreateFileW(name.c_str(), access, 0, &inherit, OPEN_EXISTING, 0, nullptr));
    if (!childs.value) throw systemError("cannot open the child's end of a pipe");
    return {std::move(ours), std::move(childs)};
}

Handle inheritableNul() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr));
    if (!nul.value) throw systemError("cannot open NUL");
    return nul;
}

// Children inherit every inheritable handle that exists while they are created: the child ends
// of two children started at once must not cross (a pipe would never report its end).
std::mutex spawnLock;

constexpr auto kDrainGrace = std::chrono::seconds(2);

}  // namespace

struct ChildProcess::State {
    PROCESS_INFORMATION process{};
    Handle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread outputReader;
    std::thread errorReader;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string output;
    std::string errors;
    bool outputCaptured = false;
    bool outputOpen = false;
    int openReaders = 0;

    ~State() {
        stopReaders();
        if (process.hThread) CloseHandle(process.hThread);
        if (process.hProcess) CloseHandle(process.hProcess);
    }

    void startReader(std::thread& thread, Handle pipe, std::string State::*target, bool isOutput) {
        {
            std::lock_guard lock(mutex);
            ++openReaders;
            if (isOutput) outputOpen = true;
        }
        thread = std::thread([this, pipe = std::move(pipe), target, isOutput]() mutable {
            read(pipe.value, target);
            std::lock_guard lock(mutex);
            --openReaders;
            if (isOutput) outputOpen = false;
            changed.notify_all();
        });
    }

    void read(HANDLE pipe, std::string State::*target) {
        Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        char buffer[16384];
        for (;;) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = event.value;
            if (!ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)
                return;  // ERROR_BROKEN_PIPE: every writer has closed its end
            const HANDLE waits[] = {event.value, stop.value};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIo(pipe);
                DWORD ignored = 0;
                GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);  // `buffer` is ours again
                return;
            }
            DWORD got = 0;
            if (!GetOverlappedResult(pipe, &overlapped, &got, FALSE)) return;
            std::lock_guard lock(mutex);
            (this->*target).append(buffer, got);
            changed.notify_all();
        }
    }

    // Waits up to `grace` for the pipes to report their end, then stops reading.
    void drain(std::chrono::milliseconds grace) {
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, grace, [&] { return openReaders == 0; });
        }
        stopReaders();
    }

    void stopReaders() {
        if (stop.value) SetEvent(stop.value);
        if (outputReader.joinable()) outputReader.join();
        if (errorReader.joinable()) errorReader.join();
    }
};

std::string binDirectory() {
    if (const char* fromEnv = std::getenv("KORVEX_BIN_DIR"); fromEnv && *fromEnv) {
        std::string dir = fromEnv;
        if (dir.starts_with("/")) dir = "Z:" + dir;  // the host's / is drive Z: in a Wine prefix
        for (char& c : dir)
            if (c == '/') c = '\\';
        while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
        return dir;
    }
    return testProgramDirectory();
}

std::string testProgramDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.erase(path.find_last_of(L'\\'));
    return com::toUtf8(path);
}

std::string programPath(std::string_view program) {
    if (program.find_first_of("\\/") != std::string_view::npos) return std::string(program);
    return binDirectory() + "\\" + std::string(program);
}

std::vector<DWORD> runningProcesses(std::string_view exeName) {
    std::vector<DWORD> ids;
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.value) return ids;
    const std::wstring wanted = com::fromUtf8(exeName);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.value, &entry); more; more = Process32NextW(snapshot.value, &entry)) {
        if (_wcsicmp(entry.szExeFile, wanted.c_str()) == 0) ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

ChildProcess::ChildProcess(std::string_view program, const std::vector<std::string>& args,
                           const ProcessOptions& options)
    : state_(std::make_unique<State>()) {
    DialogWatchdog::instance();

    const std::wstring path = com::fromUtf8(programPath(program));
    std::wstring commandLine = quoteArgument(path);
    for (const std::string& arg : args) commandLine += L" " + quoteArgument(com::fromUtf8(arg));
    const std::wstring workingDirectory = com::fromUtf8(options.workingDirectory);

    std::lock_guard spawn(spawnLock);
    Handle stdinChild = inheritableNul(), stdoutChild, stderrChild, outputOurs, errorsOurs;
    std::tie(outputOurs, stdoutChild) = makePipe(true);
    if (options.separateErrors) std::tie(errorsOurs, stderrChild) = makePipe(true);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = stdinChild.value;
    startup.hStdOutput = stdoutChild.value;
    startup.hStdError = options.separateErrors ? stderrChild.value : stdoutChild.value;
    // Under load Wine now and then loses a new process before its first instruction and reports
    // ERROR_INTERNAL_ERROR; none of the child's code has run then, so starting it again is safe.
    constexpr int kStartAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &state_->process))
            break;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == kStartAttempts)
            throw systemError("cannot start " + com::toUtf8(path));
        std::this_thread::sleep_for(std::chrono::milliseconds(100 * attempt));
    }

    // The child ends close when this scope ends: from then on only the child holds them.
    if (outputOurs.value) {
        state_->outputCaptured = true;
        state_->startReader(state_->outputReader, std::move(outputOurs), &State::output, true);
    }
    if (errorsOurs.value) state_->startReader(state_->errorReader, std::move(errorsOurs), &State::errors, false);
}

ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}

ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        release();
        state_ = std::move(other.state_);
    }
    return *this;
}

ChildProcess::~ChildProcess() { release(); }

void ChildProcess::release() noexcept {
    if (!state_) return;
    kill();
    state_.reset();  // stops the readers, closes the handles
}

DWORD ChildProcess::id() const { return state_->process.dwProcessId; }

HANDLE ChildProcess::handle() const { return state_->process.hProcess; }

bool ChildProcess::running() const { return WaitForSingleObject(state_->process.hProcess, 0) == WAIT_TIMEOUT; }

std::optional<DWORD> ChildProcess::exitCode() const {
    if (running()) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(state_->process.hProcess, &code);
    return code;
}

bool ChildProcess::waitForLine(std::string_view line, milliseconds timeout) {
    State& s = *state_;
    if (!s.outputCaptured) throw std::logic_error("waitForLine: the output is not captured");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(s.mutex);
    std::size_t scanned = 0;  // complete lines before this offset are checked already
    auto matches = [&](std::string_view candidate) {
        if (candidate.ends_with('\r')) candidate.remove_suffix(1);
        return candidate == line;
    };
    for (bool expired = false;; expired = s.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
        for (std::size_t end; (end = s.output.find('\n', scanned)) != std::string::npos; scanned = end + 1) {
            if (matches(std::string_view(s.output).substr(scanned, end - scanned))) return true;
        }
        if (!s.outputOpen) return matches(std::string_view(s.output).substr(scanned));
        if (expired) return false;
    }
}

std::optional<DWORD> ChildProcess::waitForExit(milliseconds timeout) {
    if (WaitForSingleObject(state_->process.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    state_->drain(kDrainGrace);
    return exitCode();
}

void ChildProcess::kill() {
    if (running()) {
        TerminateProcess(state_->process.hProcess, kKilledExitCode);
        WaitForSingleObject(state_->process.hProcess, 10000);
    }
}

std::string ChildProcess::output() const {
    std::lock_guard lock(state_->mutex);
    return state_->output;
}

std::string ChildProcess::errors() const {
    std::lock_guard lock(state_->mutex);
    return state_->errors;
}


}  // namespace korvex::test
