#include "tools/simulator/control_channel.h"

#include <windows.h>

#include <stdexcept>
#include <thread>

namespace sim {

ControlChannel::ControlChannel(std::string pipeName, Handler handler)
    : pipeName_(std::move(pipeName)), handler_(std::move(handler)) {
    HANDLE first = createInstance(true);
    if (first == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create the control pipe " + pipeName_ + " (error " +
                                 std::to_string(GetLastError()) + ")");
    // The listener and the connection threads end with the process.
    std::thread([this, first] { listen(first); }).detach();
}

void* ControlChannel::createInstance(bool first) const {
    return CreateNamedPipeA(pipeName_.c_str(), PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096,
                            0, nullptr);
}

void ControlChannel::listen(void* pipe) {
    for (;;) {
        const bool connected = ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
        if (connected) {
            std::thread([this, pipe] { serve(pipe); }).detach();
        } else {
            CloseHandle(pipe);
        }
        while ((pipe = createInstance(false)) == INVALID_HANDLE_VALUE) Sleep(100);
    }
}

void ControlChannel::serve(void* pipe) const {
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    bool open = true;
    while (open && ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        std::size_t end;
        while (open && (end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const Reply reply = handler_(line);
            DWORD written = 0;
            if (!WriteFile(pipe, reply.text.data(), static_cast<DWORD>(reply.text.size()), &written, nullptr)) {
                open = false;
            } else if (reply.then) {
                FlushFileBuffers(pipe);  // waits until the client has read the reply
                reply.then();
                open = false;
            }
        }
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}

}  // namespace sim
