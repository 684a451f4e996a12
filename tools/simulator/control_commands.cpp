#include "tools/simulator/control_commands.h"

#include "rtdb/rt_library.h"
#include "rtdb/standin/rt_image.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

std::string ok(const std::string& data = {}) { return data.empty() ? "ok\n" : "ok " + data + "\n"; }
std::string error(const std::string& why) { return "error " + why + "\n"; }

std::string hex64(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string hexBytes(const std::vector<std::byte>& bytes) {
    if (bytes.empty()) return "-";
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::byte b : bytes) {
        text += kDigits[std::to_integer<unsigned>(b) >> 4];
        text += kDigits[std::to_integer<unsigned>(b) & 15];
    }
    return text;
}

std::optional<double> parseDouble(const std::string& text) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint8_t> parseState(const std::string& text) {
    if (text == "on" || text == "true") return 1;
    if (text == "off" || text == "false") return 0;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 255) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::string formatDouble(double value) {
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "nan";
}

}  // namespace

std::optional<std::vector<std::string>> splitCommandLine(std::string_view line) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string token;
        if (line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) return std::nullopt;
                if (line[i] == '"') break;
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                token += line[i];
            }
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') token += line[i++];
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

ControlChannel::Reply ControlCommands::execute(const std::string& line) {
    const auto tokens = splitCommandLine(line);
    if (!tokens) return {error("unclosed quote"), {}};
    if (tokens->empty()) return {error("empty command"), {}};
    const std::string& command = tokens->front();
    const std::vector<std::string> args(tokens->begin() + 1, tokens->end());
    if (command == "quit" && args.empty()) return {ok(), [this] { window_.requestQuit(); }};
    return {run(command, args, line), {}};
}

std::string ControlCommands::run(const std::string& command, const std::vector<std::string>& args,
                                 const std::string& line) {
    const bool noArgs = args.empty();
    if (command == "ping" && noArgs) return ok();
    if (command == "status" && noArgs)
        return ok(std::string("frozen=") + (simulation_.frozen() ? "1" : "0") +
                  " hung=" + (window_.hung() ? "1" : "0") + " window=" + (window_.alive() ? "1" : "0") +
                  " messages=" + std::to_string(messages_.snapshot().size()));
    if (command == "window" && noArgs)
        return ok(hex64(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(window_.handle()))));
    if (command == "server-window" && noArgs) {
        std::uint64_t serverWindow;
        std::memcpy(&serverWindow, mailbox_ + rt::mailbox::kServerWindow, sizeof serverWindow);
        return ok(hex64(serverWindow));
    }
    if (command == "get" && args.size() == 3) return point(args, false);
    if (command == "set" && args.size() == 4) return point(args, true);
    if (command == "freeze" && noArgs) {
        simulation_.freeze();
        return ok();
    }
    if (command == "thaw" && noArgs) {
        simulation_.thaw(Clock::now());
        return ok();
    }
    if (command == "messages" && noArgs) return listMessages();
    if (command == "clear-messages" && noArgs) {
        messages_.clear();
        return ok();
    }
    if (command == "close-window" && noArgs)
        return window_.close() ? ok() : error("the window thread did not close the window (hung?)");
    if (command == "hang" && args.size() <= 1) return hang(args);
    if (command == "resume" && noArgs) {
        window_.resume();
        return ok();
    }
    return error("unknown command or wrong arguments: " + line);
}

std::string ControlCommands::point(const std::vector<std::string>& args, bool set) {
    const std::string& station = args[0];
    const std::string& kindName = args[1];
    const std::string& pointName = args[2];
    int kind;
    if (kindName == "analog")
        kind = rt::kAnalogKind;
    else if (kindName == "switch")
        kind = rt::kSwitchKind;
    else
        return error("kind must be analog or switch, not " + kindName);
    const auto ref = simulation_.find(station, kind, pointName);
    if (!ref) return error("no " + kindName + " point \"" + pointName + "\" in station \"" + station + "\"");

    if (!set) {
        return kind == rt::kAnalogKind ? ok(formatDouble(simulation_.analogValue(ref->index)))
                                       : ok(std::to_string(simulation_.switchState(ref->index)));
    }
    if (kind == rt::kAnalogKind) {
        const auto value = parseDouble(args[3]);
        if (!value) return error("not a number: " + args[3]);
        simulation_.setAnalog(ref->index, *value, Clock::now());
    } else {
        const auto state = parseState(args[3]);
        if (!state) return error("not a switch state (on, off, true, false or 0-255): " + args[3]);
        simulation_.setSwitch(ref->index, *state, Clock::now());
    }
    return ok();
}

std::string ControlCommands::hang(const std::vector<std::string>& args) {
    std::optional<std::chrono::milliseconds> duration;
    if (!args.empty()) {
        const auto seconds = parseDouble(args[0]);
        if (!seconds || !(*seconds >= 0.0)) return error("not a number of seconds: " + args[0]);
        duration = std::chrono::milliseconds(static_cast<long long>(*seconds * 1000.0));
    }
    if (window_.hung()) return error("hung already");
    return window_.hang(duration) ? ok() : error("the window thread did not stop pumping");
}

std::string ControlCommands::listMessages() const {
    const auto messages = messages_.snapshot();
    std::string reply = ok(std::to_string(messages.size()));
    for (const RecordedMessage& m : messages)
        reply += std::to_string(m.code) + (m.applied ? " applied " : " ignored ") + hexBytes(m.payload) + "\n";
    return reply;
}

}  // namespace sim
