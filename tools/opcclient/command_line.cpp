#include "tools/opcclient/command_line.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <memory>

namespace opcclient {

namespace {

constexpr const char* kCommandNames[] = {"status", "browse", "props", "read", "write", "watch", "error", "servers"};

// The whole command line as CLI11 sees it, writing into `options`.
std::unique_ptr<CLI::App> commandLine(Options& options) {
    auto app =
        std::make_unique<CLI::App>("A client of a local OPC DA server, by default Korvex.OPCServer.2.", "korvex-opc");
    app->allow_windows_style_options(false);  // item IDs may start with '/'
    app->fallthrough();                       // the global options may stand after the command too
    app->get_formatter()->label("SUBCOMMAND", "COMMAND");
    app->get_formatter()->label("Subcommands", "Commands");
    app->add_option("--server", options.progId, "the server to connect to (default Korvex.OPCServer.2)")
        ->option_text("PROGID");
    app->add_flag("--json", options.json, "one JSON object per line instead of text");
    app->add_subcommand("status", "The server's status: state, vendor, version, start and current time, groups.");

    CLI::App* browse = app->add_subcommand("browse", "Lists the branches and items below ITEM-ID, one level down.");
    browse->add_option("ITEM-ID", options.operands, "where to start (default: the root)")->expected(0, 1);
    browse->add_flag("--flat", options.flat, "every item below, by full item ID");
    browse->add_option("--filter", options.filter, "only names matching PATTERN (the server's wildcards, e.g. P*)")
        ->option_text("PATTERN");

    app->add_subcommand("props", "The item's properties: id, description and value of each.")
        ->add_option("ITEM-ID", options.operands)
        ->required()
        ->expected(1);

    CLI::App* read = app->add_subcommand("read", "Reads the items once, through a group of this client.");
    read->add_option("ITEM-ID", options.operands)->required();
    const auto from = [&options](ReadSource source) { return [&options, source] { options.source = source; }; };
    CLI::Option* device =
        read->add_flag_callback("--device", from(ReadSource::device), "fresh from the data source (the default)");
    CLI::Option* cache = read->add_flag_callback("--cache", from(ReadSource::cache),
                                                 "from the server's cache (filled by its update cycle)");
    CLI::Option* maxAge = read->add_option_function<DWORD>(
                                  "--max-age",
                                  [&options](DWORD ms) {
                                      options.source = ReadSource::maxAge;
                                      options.maxAgeMs = ms;
                                  },
                                  "from the cache when its value is at most MS old")
                              ->option_text("MS");
    device->excludes(cache)->excludes(maxAge);
    cache->excludes(maxAge);

    app->add_subcommand("write",
                        "Writes the values; each is read as the item's canonical type (numbers with '.',\n"
                        "booleans as true/false, on/off, yes/no or 1/0).")
        ->add_option("ITEM-ID=VALUE", options.operands)
        ->required();

    CLI::App* watch = app->add_subcommand("watch", "Prints every data change the server sends, until Ctrl-C.");
    watch->add_option("ITEM-ID", options.operands)->required();
    watch->add_option("--rate", options.rateMs, "requested update rate (default 1000)")->option_text("MS");
    watch->add_option("--deadband", options.deadbandPercent, "percent deadband of the group, 0 to 100 (default 0)")
        ->option_text("PERCENT")
        ->check(CLI::Range(0.0f, 100.0f));
    watch->add_option("--duration", options.durationSeconds, "stop after this long")->option_text("SECONDS");

    app->add_subcommand("error", "The server's text for a status code: 0xC0040007, -1073479673 or OPC_E_UNKNOWNITEMID.")
        ->add_option("CODE", options.operands)
        ->required()
        ->expected(1);

    app->add_subcommand("servers",
                        "The machine's OPC DA servers, from the OPC server list: ProgID, CLSID and name of each\n"
                        "(--server does not apply).");

    for (CLI::App* command : app->get_subcommands({})) command->fallthrough();
    app->footer(
        "COMMAND --help shows the details of a command.\n\n"
        "exit codes: 0 done; 1 a call or an item failed; 2 bad command line or value;\n"
        "3 no server (not registered, or it could not start); 4 the connection to the server was lost.");
    return app;
}

std::optional<Command> commandOf(const CLI::App& app) {
    const auto chosen = app.get_subcommands();
    if (chosen.empty()) return std::nullopt;
    for (std::size_t i = 0; i < std::size(kCommandNames); ++i)
        if (chosen[0]->get_name() == kCommandNames[i]) return Command(i);
    return std::nullopt;
}

}  // namespace

Options parseCommandLine(const std::vector<std::string>& args) {
    Options options;
    const auto app = commandLine(options);
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes the arguments last first
    try {
        app->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
    } catch (const CLI::ParseError& error) {
        const std::vector<std::string> extra = app->remaining();
        if (!commandOf(*app) && !extra.empty() && !extra[0].starts_with("-"))
            throw UsageError("unknown command \"" + extra[0] + "\"");
        throw UsageError(error.what());
    }
    options.command = commandOf(*app);
    if (options.help) return options;
    if (!options.command) throw UsageError("no command given");
    if (options.durationSeconds && !(*options.durationSeconds > 0.0 && std::isfinite(*options.durationSeconds)))
        throw UsageError("--duration: a number of seconds above 0");
    return options;
}

std::string helpText(std::optional<Command> command) {
    Options options;
    const auto app = commandLine(options);
    if (!command) return app->help();
    return app->get_subcommand(kCommandNames[static_cast<int>(*command)])->help("korvex-opc");
}

}  // namespace opcclient
