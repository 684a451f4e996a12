// The control channel's commands (see README.md): one command line in, one reply out. Replies
// start with "ok" or "error"; "messages" follows its "ok <n>" line with n lines.
#pragma once

#include "tools/simulator/control_channel.h"
#include "tools/simulator/message_log.h"
#include "tools/simulator/runtime_window.h"
#include "tools/simulator/simulation.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Splits a command line at blanks; a token in double quotes may hold blanks, \" and \\.
// Null when a quote is not closed.
std::optional<std::vector<std::string>> splitCommandLine(std::string_view line);

class ControlCommands {
public:
    ControlCommands(Simulation& simulation, MessageLog& messages, RuntimeWindow& window, const std::byte* mailbox)
        : simulation_(simulation), messages_(messages), window_(window), mailbox_(mailbox) {}

    ControlChannel::Reply execute(const std::string& line);

private:
    std::string run(const std::string& command, const std::vector<std::string>& args, const std::string& line);
    std::string point(const std::vector<std::string>& args, bool set);
    std::string hang(const std::vector<std::string>& args);
    std::string listMessages() const;

    Simulation& simulation_;
    MessageLog& messages_;
    RuntimeWindow& window_;
    const std::byte* mailbox_;
};

}  // namespace sim
