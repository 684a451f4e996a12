// The control channel's transport: a named pipe (byte mode) that takes one command per line and
// answers each with the handler's reply. Every client connection is served by its own thread.
#pragma once

#include <functional>
#include <string>

namespace sim {

class ControlChannel {
public:
    // Maps a command line (without its line end) to the reply text (complete lines). When `then`
    // is set, it runs once the client has the reply, and the connection closes (used by quit).
    struct Reply {
        std::string text;
        std::function<void()> then;
    };
    using Handler = std::function<Reply(const std::string& line)>;

    // Throws std::runtime_error when the pipe cannot be created (e.g. another simulator owns it).
    ControlChannel(std::string pipeName, Handler handler);
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

private:
    void* createInstance(bool first) const;
    void listen(void* pipe);
    void serve(void* pipe) const;

    std::string pipeName_;
    Handler handler_;
};

}  // namespace sim
