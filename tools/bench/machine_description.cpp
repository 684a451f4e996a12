#include "machine_description.h"

#include <windows.h>

#include <fstream>
#include <string>
#include <thread>

namespace bench {
namespace {

// Under Wine the host's / is drive Z:, so the host's own description is readable from here.
std::string HostFileLine(const char* path, const std::string& startingWith) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        if (line.starts_with(startingWith)) {
            const auto colon = line.find(':');
            std::string value = colon == std::string::npos ? line : line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            return value;
        }
    return "";
}

std::string WineVersion() {
    using Version = const char*(CDECL*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    // Through void (*)(), the type GCC lets stand for any function type.
    const auto version =
        ntdll ? reinterpret_cast<Version>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")))
              : nullptr;
    return version ? version() : "not Wine";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> DescribeMachine() {
    std::vector<std::pair<std::string, std::string>> machine;
    machine.emplace_back("processor", HostFileLine("Z:\\proc\\cpuinfo", "model name"));
    machine.emplace_back("cores", std::to_string(std::thread::hardware_concurrency()));
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
    machine.emplace_back("memory", std::to_string(memory.ullTotalPhys >> 20) + " MB");
    machine.emplace_back("wine", WineVersion());
    std::string host = HostFileLine("Z:\\etc\\os-release", "PRETTY_NAME=");
    if (host.starts_with("PRETTY_NAME=")) host = host.substr(12);
    std::erase(host, '"');
    machine.emplace_back("host", host);
    std::ifstream load("Z:\\proc\\loadavg");
    std::string one, five, fifteen;
    load >> one >> five >> fifteen;
    machine.emplace_back("load average at start (1, 5, 15 min)", one + " " + five + " " + fifteen);
    return machine;
}

}  // namespace bench
