#include "simulator_control.h"

#include <windows.h>

#include <charconv>
#include <stdexcept>

namespace korvex::test {

namespace {

std::vector<std::byte> parseHexBytes(const std::string& text) {
    std::vector<std::byte> bytes;
    if (text == "-") return bytes;
    if (text.size() % 2 != 0) throw std::runtime_error("odd hex payload: " + text);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (ec != std::errc() || end != text.data() + i + 2) throw std::runtime_error("bad hex payload: " + text);
        bytes.push_back(static_cast<std::byte>(value));
    }
    return bytes;
}

std::string pointArgs(std::string_view station, const char* kind, std::string_view point) {
    return SimulatorControl::quote(station) + " " + kind + " " + SimulatorControl::quote(point);
}

}  // namespace

SimulatorControl::SimulatorControl(std::string pipeName, std::chrono::milliseconds connectTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + connectTimeout;
    for (;;) {
        HANDLE pipe = CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            pipe_ = pipe;
            break;
        }
        const DWORD error = GetLastError();
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error("cannot connect to " + pipeName + " (error " + std::to_string(error) + ")");
        if (error == ERROR_PIPE_BUSY)
            WaitNamedPipeA(pipeName.c_str(), 200);
        else
            Sleep(50);
    }
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

SimulatorControl::~SimulatorControl() {
    CloseHandle(pipe_);
    CloseHandle(event_);
}

void SimulatorControl::write(const std::string& text) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    DWORD written = 0;
    if (!WriteFile(pipe_, text.data(), static_cast<DWORD>(text.size()), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        throw std::runtime_error("cannot write to the simulator (error " + std::to_string(GetLastError()) + ")");
    if (WaitForSingleObject(event_, static_cast<DWORD>(ioTimeout_.count())) != WAIT_OBJECT_0) {
        CancelIo(pipe_);
        throw std::runtime_error("writing to the simulator timed out");
    }
    if (!GetOverlappedResult(pipe_, &overlapped, &written, FALSE) || written != text.size())
        throw std::runtime_error("cannot write to the simulator");
}

std::string SimulatorControl::readLine() {
    for (;;) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        char buffer[4096];
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_;
        DWORD got = 0;
        if (!ReadFile(pipe_, buffer, sizeof buffer, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)
            throw std::runtime_error("the simulator closed the channel (error " + std::to_string(GetLastError()) +
                                     ")");
        if (WaitForSingleObject(event_, static_cast<DWORD>(ioTimeout_.count())) != WAIT_OBJECT_0) {
            CancelIo(pipe_);
            WaitForSingleObject(event_, INFINITE);  // the cancelled read still owns `buffer` until it completes
            throw std::runtime_error("no reply from the simulator in time");
        }
        if (!GetOverlappedResult(pipe_, &overlapped, &got, FALSE) || got == 0)
            throw std::runtime_error("the simulator closed the channel");
        pending_.append(buffer, got);
    }
}

std::string SimulatorControl::command(const std::string& line) {
    write(line + "\n");
    return readLine();
}

std::string SimulatorControl::ok(const std::string& line) {
    const std::string reply = command(line);
    if (reply == "ok") return {};
    if (reply.starts_with("ok ")) return reply.substr(3);
    throw std::runtime_error("simulator command \"" + line + "\" failed: " + reply);
}

void SimulatorControl::setAnalog(std::string_view station, std::string_view point, double value) {
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    ok("set " + pointArgs(station, "analog", point) + " " + std::string(text, end));
}

void SimulatorControl::setSwitch(std::string_view station, std::string_view point, std::uint8_t state) {
    ok("set " + pointArgs(station, "switch", point) + " " + std::to_string(state));
}

double SimulatorControl::analog(std::string_view station, std::string_view point) {
    const std::string text = ok("get " + pointArgs(station, "analog", point));
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) throw std::runtime_error("not a number: " + text);
    return value;
}

std::uint8_t SimulatorControl::switchState(std::string_view station, std::string_view point) {
    const std::string text = ok("get " + pointArgs(station, "switch", point));
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 255)
        throw std::runtime_error("not a switch state: " + text);
    return static_cast<std::uint8_t>(value);
}

void SimulatorControl::hang(std::optional<double> seconds) {
    ok(seconds ? "hang " + std::to_string(*seconds) : std::string("hang"));
}

std::vector<RecordedRuntimeMessage> SimulatorControl::messages() {
    const std::string countText = ok("messages");
    std::size_t count = 0;
    const auto [end, ec] = std::from_chars(countText.data(), countText.data() + countText.size(), count);
    if (ec != std::errc() || end != countText.data() + countText.size())
        throw std::runtime_error("bad message count: " + countText);
    std::vector<RecordedRuntimeMessage> messages;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string line = readLine();  // "<code> applied|ignored <hex>"
        const auto first = line.find(' ');
        const auto second = line.find(' ', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            throw std::runtime_error("bad message line: " + line);
        RecordedRuntimeMessage m;
        m.code = static_cast<std::uint32_t>(std::stoul(line.substr(0, first)));
        m.applied = line.substr(first + 1, second - first - 1) == "applied";
        m.payload = parseHexBytes(line.substr(second + 1));
        messages.push_back(std::move(m));
    }
    return messages;
}

void SimulatorControl::quit() { ok("quit"); }

std::string SimulatorControl::quote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace korvex::test
