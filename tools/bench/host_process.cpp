#include "host_process.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace bench {
namespace {

constexpr double kClockTicksPerSecond = 100;  // USER_HZ of Linux on x86

std::string HostFile(int hostPid, const char* name) {
    std::ifstream file("Z:\\proc\\" + std::to_string(hostPid) + "\\" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

double StatusKilobytes(const std::string& status, const std::string& field) {
    const auto at = status.find(field + ":");
    return at == std::string::npos ? 0 : std::strtod(status.c_str() + at + field.size() + 1, nullptr);
}

}  // namespace

int FindHostProcess(std::string_view program) {
    char prefix[1024] = "";
    GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    const std::string wantedPrefix = std::string("WINEPREFIX=") + prefix;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("Z:\\proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const int pid = std::atoi(name.c_str());
        if (HostFile(pid, "cmdline").find(program) == std::string::npos) continue;
        // Entries of the environment end with a NUL, so a prefix is not taken for a longer one.
        const std::string environment = HostFile(pid, "environ");
        if (*prefix && environment.find(wantedPrefix + '\0') == std::string::npos) continue;
        return pid;
    }
    return 0;
}

double HostCpuSeconds(int hostPid) {
    const std::string stat = HostFile(hostPid, "stat");
    const auto end = stat.rfind(')');
    if (end == std::string::npos) return 0;
    // After the command's name: state, then fields 4 to 13, then utime and stime (fields 14, 15).
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    for (int i = 3; i <= 13; ++i) fields >> field;
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) / kClockTicksPerSecond;
}

double HostPrivateBytes(int hostPid) {
    const std::string status = HostFile(hostPid, "status");
    return (StatusKilobytes(status, "RssAnon") + StatusKilobytes(status, "VmSwap")) * 1024;
}

}  // namespace bench
