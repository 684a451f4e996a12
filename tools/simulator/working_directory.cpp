#include "tools/simulator/working_directory.h"

#include <windows.h>

#include <stdexcept>

namespace sim {

namespace {

// Creates every missing directory along an ANSI path.
bool createDirectories(const std::string& path) {
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const std::string prefix = path.substr(0, i);
        if (prefix.empty() || prefix.back() == ':') continue;  // root or drive
        if (!CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
}

}  // namespace

std::string configDatabasePath(const std::string& workingDirectory) {
    return workingDirectory + "\\Out\\scada.dat";
}

std::string writeConfigDatabaseFile(const std::string& workingDirectory, const configdb::SystemTexts& texts) {
    if (!createDirectories(workingDirectory + "\\Out"))
        return "cannot create " + workingDirectory + "\\Out (error " + std::to_string(GetLastError()) + ")";
    configdb::SystemInfoRecord record;
    try {
        record = configdb::makeSystemInfoRecord(texts);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    const std::string path = configDatabasePath(workingDirectory);
    return configdb::writeConfigDatabase(path, record) ? std::string{} : "cannot write " + path;
}

}  // namespace sim
