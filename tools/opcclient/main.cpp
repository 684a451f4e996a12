// korvex-opc.exe: a command-line client of local OPC DA servers (see `korvex-opc --help`).
#include "tools/opcclient/command_line.h"
#include "tools/opcclient/commands.h"
#include "tools/opcclient/connection.h"
#include "tools/opcclient/output.h"

#include "com/string_convert.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace opcclient;

// The arguments as UTF-8, whatever the console's code page.
std::vector<std::string> arguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(korvex::com::toUtf8(wide[i]));
    LocalFree(wide);
    return args;
}

int run(const Options& options, Output& out) {
    if (*options.command == Command::servers) return runServers(options, out);
    const Connection connection(options.progId);
    switch (*options.command) {
    case Command::status: return runStatus(connection, options, out);
    case Command::browse: return runBrowse(connection, options, out);
    case Command::props: return runProps(connection, options, out);
    case Command::read: return runRead(connection, options, out);
    case Command::write: return runWrite(connection, options, out);
    case Command::watch: return runWatch(connection, options, out);
    case Command::error: return runError(connection, options, out);
    case Command::servers: break;
    }
    return kExitUsage;
}

}  // namespace

int main() {
    Options options;
    try {
        options = parseCommandLine(arguments());
    } catch (const UsageError& error) {
        std::fprintf(stderr, "korvex-opc: %s\n(korvex-opc --help shows the commands)\n", error.what());
        return kExitUsage;
    }
    Output out(options.json);
    if (options.help || !options.command) {
        std::fputs(helpText(options.command).c_str(), stdout);
        return kExitOk;
    }
    // A multithreaded apartment: data changes arrive on COM's threads while the main thread waits.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int exitCode;
    try {
        exitCode = run(options, out);
    } catch (const UsageError& error) {
        out.error(error.what());
        exitCode = kExitUsage;
    } catch (const ClientError& error) {
        out.error(error.what());
        exitCode = error.exitCode;
    }
    CoUninitialize();
    return exitCode;
}
