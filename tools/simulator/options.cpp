#include "tools/simulator/options.h"

#include <windows.h>

#include <charconv>
#include <string_view>

namespace sim {

const char* const kUsage =
    "usage: scadasim [--plant=FILE] [--workdir=DIR] [--period-ms=N] [--pipe=NAME] [--frozen]\n"
    "                [--registry] [--writeable=0|1|absent] [--only-transfer=0|1|absent]\n";

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

std::uint32_t number(std::string_view option, std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        throw UsageError(std::string(option) + " needs a number, not \"" + std::string(text) + "\"");
    return value;
}

std::optional<std::uint32_t> setting(std::string_view option, std::string_view text) {
    if (text == "absent") return std::nullopt;
    return number(option, text);
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    Options options;
    ServerSettings settings{{}, 1, 0};
    bool writeRegistry = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : arg.substr(equals + 1);
        const bool hasValue = equals != std::string_view::npos;
        if (name == "--plant" && hasValue) {
            options.plantFile = value;
        } else if (name == "--workdir" && hasValue) {
            options.workingDirectory = value;
        } else if (name == "--period-ms" && hasValue) {
            options.tick = std::chrono::milliseconds(number(name, value));
            if (options.tick.count() == 0) throw UsageError("--period-ms must be at least 1");
        } else if (name == "--pipe" && hasValue) {
            options.pipeName = value;
        } else if (name == "--frozen" && !hasValue) {
            options.startFrozen = true;
        } else if (name == "--registry" && !hasValue) {
            writeRegistry = true;
        } else if (name == "--writeable" && hasValue) {
            settings.writeable = setting(name, value);
            writeRegistry = true;
        } else if (name == "--only-transfer" && hasValue) {
            settings.onlyTransfer = setting(name, value);
            writeRegistry = true;
        } else if (name == "--help" || name == "-h" || name == "/?") {
            options.help = true;
        } else {
            throw UsageError("unknown option " + std::string(arg));
        }
    }
    if (options.plantFile.empty()) options.plantFile = programDirectory() + "\\sample-plant.toml";
    if (options.workingDirectory.empty()) options.workingDirectory = defaultWorkingDirectory();
    while (options.workingDirectory.size() > 3 &&
           (options.workingDirectory.back() == '\\' || options.workingDirectory.back() == '/'))
        options.workingDirectory.pop_back();
    if (writeRegistry) {
        settings.workingDirectory = options.workingDirectory;
        options.registry = settings;
    }
    return options;
}

}  // namespace sim
