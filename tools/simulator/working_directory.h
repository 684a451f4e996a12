// The SCADA project's working directory: the simulator writes the configuration database there,
// as <working directory>\Out\scada.dat, where the server looks for it.
#pragma once

#include "rtdb/standin/config_database.h"

#include <string>

namespace sim {

std::string configDatabasePath(const std::string& workingDirectory);

// Creates the directories as needed. Returns an error text, empty on success.
std::string writeConfigDatabaseFile(const std::string& workingDirectory, const configdb::SystemTexts& texts);

}  // namespace sim
