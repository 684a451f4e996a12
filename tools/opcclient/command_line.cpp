#include "tools/opcclient/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace opcclient {

namespace {

struct CommandInfo {
    Command command;
    std::string_view name;
    std::string_view synopsis;
    std::string_view help;
    std::vector<std::string_view> options;  // the command's own options
    std::size_t minOperands;
    std::size_t maxOperands;
};

const std::array<CommandInfo, 7>& commands() {
    static const std::array<CommandInfo, 7> table{{
        {Command::status, "status", "status",
         "The server's status: state, vendor, version, start and current time, groups.", {}, 0, 0},
        {Command::browse, "browse", "browse [ITEM-ID] [--flat] [--filter PATTERN]",
         "Lists the branches and items below ITEM-ID (default: the root), one level down.\n"
         "  --flat             every item below, by full item ID\n"
         "  --filter PATTERN   only names matching PATTERN (the server's wildcards, e.g. P*)",
         {"--flat", "--filter"}, 0, 1},
        {Command::props, "props", "props ITEM-ID",
         "The item's properties: id, description and value of each.", {}, 1, 1},
        {Command::read, "read", "read ITEM-ID... [--device | --cache | --max-age MS]",
         "Reads the items once, through a group of this client.\n"
         "  --device        from the device, i.e. fresh from the data source (the default)\n"
         "  --cache         from the server's cache (filled by the server's update cycle)\n"
         "  --max-age MS    from the cache when its value is at most MS milliseconds old",
         {"--device", "--cache", "--max-age"}, 1, SIZE_MAX},
        {Command::write, "write", "write ITEM-ID=VALUE...",
         "Writes the values; each is read as the item's canonical type (numbers with '.',\n"
         "booleans as true/false, on/off, yes/no or 1/0).",
         {}, 1, SIZE_MAX},
        {Command::watch, "watch", "watch ITEM-ID... [--rate MS] [--deadband PERCENT] [--duration SECONDS]",
         "Subscribes to the items and prints every data change the server sends, until Ctrl-C.\n"
         "  --rate MS            requested update rate (default 1000)\n"
         "  --deadband PERCENT   percent deadband of the group, 0 to 100 (default 0)\n"
         "  --duration SECONDS   stop after this long",
         {"--rate", "--deadband", "--duration"}, 1, SIZE_MAX},
        {Command::error, "error", "error CODE",
         "The server's text for a status code: 0xC0040007, -1073479673 or OPC_E_UNKNOWNITEMID.", {}, 1, 1},
    }};
    return table;
}

const CommandInfo& infoOf(Command command) {
    return *std::find_if(commands().begin(), commands().end(), [&](const CommandInfo& c) { return c.command == command; });
}

bool takesValue(std::string_view option) {
    return option == "--server" || option == "--filter" || option == "--max-age" || option == "--rate" ||
           option == "--deadband" || option == "--duration";
}

template <class Number>
Number number(std::string_view option, std::string_view text) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty())
        throw UsageError(std::string(option) + ": \"" + std::string(text) + "\" is not a number");
    return value;
}

void setOption(Options& options, std::string_view option, const std::string& value) {
    if (option == "--server") {
        options.progId = value;
    } else if (option == "--filter") {
        options.filter = value;
    } else if (option == "--max-age") {
        options.source = ReadSource::maxAge;
        options.maxAgeMs = number<DWORD>(option, value);
    } else if (option == "--rate") {
        options.rateMs = number<DWORD>(option, value);
    } else if (option == "--deadband") {
        const float percent = number<float>(option, value);
        if (!(percent >= 0.0f && percent <= 100.0f)) throw UsageError("--deadband: a percentage from 0 to 100");
        options.deadbandPercent = percent;
    } else if (option == "--duration") {
        const double seconds = number<double>(option, value);
        if (!(seconds > 0.0 && std::isfinite(seconds))) throw UsageError("--duration: a number of seconds above 0");
        options.durationSeconds = seconds;
    } else if (option == "--flat") {
        options.flat = true;
    } else if (option == "--device") {
        options.source = ReadSource::device;
    } else if (option == "--cache") {
        options.source = ReadSource::cache;
    } else if (option == "--json") {
        options.json = true;
    } else if (option == "--help" || option == "-h") {
        options.help = true;
    }
}

}  // namespace

Options parseCommandLine(const std::vector<std::string>& args) {
    Options options;
    std::vector<std::string_view> given;  // command options, checked once the command is known
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg.starts_with("-") && arg.size() > 1 && !(arg[1] >= '0' && arg[1] <= '9')) {
            std::string value;
            std::string_view option = arg;
            if (const auto equals = arg.find('='); equals != std::string_view::npos) {
                option = arg.substr(0, equals);
                value = arg.substr(equals + 1);
                if (!takesValue(option)) throw UsageError(std::string(option) + " takes no value");
            } else if (takesValue(option)) {
                if (i + 1 == args.size()) throw UsageError(std::string(option) + " needs a value");
                value = args[++i];
            }
            const bool global = option == "--server" || option == "--json" || option == "--help" || option == "-h";
            const bool known = global || std::any_of(commands().begin(), commands().end(), [&](const CommandInfo& c) {
                                   return std::find(c.options.begin(), c.options.end(), option) != c.options.end();
                               });
            if (!known) throw UsageError("unknown option " + std::string(option));
            if (!global) given.push_back(option);
            setOption(options, option, value);
        } else if (!options.command) {
            const auto found = std::find_if(commands().begin(), commands().end(),
                                            [&](const CommandInfo& c) { return c.name == arg; });
            if (found == commands().end()) throw UsageError("unknown command \"" + std::string(arg) + "\"");
            options.command = found->command;
        } else {
            options.operands.emplace_back(arg);
        }
    }
    if (options.help) return options;
    if (!options.command) throw UsageError("no command given");
    const CommandInfo& info = infoOf(*options.command);
    for (std::string_view option : given) {
        if (std::find(info.options.begin(), info.options.end(), option) == info.options.end())
            throw UsageError(std::string(info.name) + " takes no option " + std::string(option));
    }
    if (std::count(given.begin(), given.end(), "--device") + std::count(given.begin(), given.end(), "--cache") +
            std::count(given.begin(), given.end(), "--max-age") > 1)
        throw UsageError("read: --device, --cache and --max-age exclude each other");
    if (options.operands.size() < info.minOperands || options.operands.size() > info.maxOperands)
        throw UsageError("usage: korvex-opc " + std::string(info.synopsis));
    return options;
}

std::string helpText(std::optional<Command> command) {
    if (command) {
        const CommandInfo& info = infoOf(*command);
        return "usage: korvex-opc [--server PROGID] [--json] " + std::string(info.synopsis) + "\n\n" +
               std::string(info.help) + "\n";
    }
    std::string text =
        "usage: korvex-opc [--server PROGID] [--json] COMMAND [ARGS]\n\n"
        "A client of a local OPC DA server, by default Korvex.OPCServer.2.\n\n"
        "commands:\n";
    for (const CommandInfo& info : commands()) {
        const std::string_view summary = info.help.substr(0, info.help.find('\n'));
        text += "  " + std::string(info.synopsis) + "\n      " + std::string(summary) + "\n";
    }
    text +=
        "\n"
        "  --server PROGID   the server to connect to (default Korvex.OPCServer.2)\n"
        "  --json            one JSON object per line instead of text\n"
        "  COMMAND --help    the details of a command\n\n"
        "exit codes: 0 done; 1 a call or an item failed; 2 bad command line or value;\n"
        "3 no server (not registered, or it could not start); 4 the connection to the server was lost.\n";
    return text;
}

}  // namespace opcclient
