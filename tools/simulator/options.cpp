#include "tools/simulator/options.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <climits>
#include <map>
#include <string>

namespace sim {

namespace {

std::string programDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    const auto slash = text.find_last_of("\\/");
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

std::string defaultWorkingDirectory() {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    std::string dir(temp, length);
    if (!dir.empty() && dir.back() != '\\') dir += '\\';
    return dir + "korvex-scada";
}

// A registry setting: a number, or `absent` to remove the value.
CLI::Option* addSetting(CLI::App& app, const std::string& name, std::optional<std::uint32_t>& setting,
                        const std::string& description) {
    const auto set = [&setting, name](const std::string& text) {
        std::uint32_t value = 0;
        if (text == "absent")
            setting.reset();
        else if (CLI::detail::lexical_cast(text, value))
            setting = value;
        else
            throw CLI::ValidationError(name, "\"" + text + "\" is neither a number nor absent");
    };
    return app.add_option_function<std::string>(name, set, description + ", implies --registry")
        ->option_text("0|1|absent");
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    Options options;
    ServerSettings settings{{}, 1, 0};
    int tickMs = 500;
    CLI::App app("The stand-in of the SCADA runtime (see its README).", "scadasim");
    app.add_option("--plant", options.plantFile, "plant file (default: sample-plant.toml next to the program)")
        ->option_text("FILE");
    app.add_option("--workdir", options.workingDirectory, "SCADA working directory (default: %TEMP%\\korvex-scada)")
        ->option_text("DIR");
    app.add_option("--period-ms", tickMs, "simulation tick (default 500)")
        ->option_text("N")
        ->check(CLI::Range(1, INT_MAX));
    app.add_option("--pipe", options.pipeName, "control channel (default " + options.pipeName + ")")
        ->option_text("NAME");
    app.add_flag("--frozen", options.startFrozen, "start with the simulation frozen");
    bool writeRegistry = false;
    app.add_flag("--registry", writeRegistry, "write the registry values the server reads");
    const CLI::Option* writeable =
        addSetting(app, "--writeable", settings.writeable, "\"OPC Server Writeable\" (default 1)");
    const CLI::Option* onlyTransfer =
        addSetting(app, "--only-transfer", settings.onlyTransfer, "\"OPC Server Only Show Tranfer Tag\" (default 0)");
    // "descriptor" is not a corruption of the image itself: it is told apart after parsing.
    constexpr int kDescriptor = -1;
    int corruption = 0;
    const std::map<std::string, int> corruptions{
        {"counts", static_cast<int>(rtimage::Corruption::StationCount) + 1},
        {"offsets", static_cast<int>(rtimage::Corruption::TableOffset) + 1},
        {"runs", static_cast<int>(rtimage::Corruption::PointRun) + 1},
        {"names", static_cast<int>(rtimage::Corruption::UnterminatedNames) + 1},
        {"descriptor", kDescriptor}};
    app.add_option("--corrupt", corruption, "publish a corrupt database: counts, offsets, runs, names or descriptor")
        ->option_text("KIND")
        ->transform(CLI::CheckedTransformer(corruptions));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options.help = app.help();
        return options;
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    if (corruption == kDescriptor)
        options.corruptDescriptor = true;
    else if (corruption > 0)
        options.corruption = static_cast<rtimage::Corruption>(corruption - 1);
    options.tick = std::chrono::milliseconds(tickMs);
    if (options.plantFile.empty()) options.plantFile = programDirectory() + "\\sample-plant.toml";
    if (options.workingDirectory.empty()) options.workingDirectory = defaultWorkingDirectory();
    while (options.workingDirectory.size() > 3 &&
           (options.workingDirectory.back() == '\\' || options.workingDirectory.back() == '/'))
        options.workingDirectory.pop_back();
    if (writeRegistry || writeable->count() > 0 || onlyTransfer->count() > 0) {
        settings.workingDirectory = options.workingDirectory;
        options.registry = settings;
    }
    return options;
}

}  // namespace sim
