#include "simulator_process.h"

#include <shellapi.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace korvex::test {

namespace {

std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::string SimulatorProcess::binDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    dir.erase(dir.find_last_of('\\'));
    if (exists(dir + "\\scadasim.exe")) return dir;
    // ctest passes the host path; the host's / is drive Z: in a default Wine prefix.
    if (const char* bin = std::getenv("KORVEX_BIN_DIR")) {
        std::string fromEnv = bin;
        if (fromEnv.starts_with("/")) fromEnv = "Z:" + fromEnv;
        for (char& c : fromEnv)
            if (c == '/') c = '\\';
        return fromEnv;
    }
    return dir;
}

SimulatorProcess::SimulatorProcess(const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) throw std::runtime_error("cannot create the output pipe");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    const std::string program = binDirectory() + "\\scadasim.exe";
    std::string commandLine = quoteArgument(program);
    for (const std::string& arg : args) commandLine += " " + quoteArgument(arg);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process_);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        throw std::runtime_error("cannot start " + program + " (error " + std::to_string(GetLastError()) + ")");
    }
    reader_ = std::thread([this, readEnd] { readOutput(readEnd); });
}

SimulatorProcess::~SimulatorProcess() {
    kill();
    if (reader_.joinable()) reader_.join();
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

void SimulatorProcess::readOutput(HANDLE pipe) {
    char buffer[1024];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        std::lock_guard lock(mutex_);
        output_.append(buffer, got);
        changed_.notify_all();
    }
    CloseHandle(pipe);
    std::lock_guard lock(mutex_);
    outputClosed_ = true;
    changed_.notify_all();
}

bool SimulatorProcess::waitForReady(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    auto ready = [&] {
        return output_.starts_with("ready\r\n") || output_.starts_with("ready\n") ||
               output_.find("\nready\n") != std::string::npos || output_.find("\nready\r\n") != std::string::npos;
    };
    changed_.wait_for(lock, timeout, [&] { return ready() || outputClosed_; });
    return ready();
}

std::optional<DWORD> SimulatorProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    if (reader_.joinable()) reader_.join();  // the output is complete once the process is gone
    return code;
}

std::string SimulatorProcess::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

void SimulatorProcess::kill() {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 10000);
    }
}

TempDirectory::TempDirectory(const std::string& tag) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "korvex-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64());
    if (!CreateDirectoryA(path_.c_str(), nullptr)) throw std::runtime_error("cannot create " + path_);
}

TempDirectory::~TempDirectory() {
    // SHFileOperation wants a double-NUL-terminated list.
    std::string from = path_ + '\0';
    SHFILEOPSTRUCTA op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&op);
}

std::string TempDirectory::file(const std::string& name, const std::string& content) const {
    const std::string path = path_ + "\\" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

}  // namespace korvex::test
