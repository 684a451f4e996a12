// Turns a plant file's content into what the database image and the configuration database hold:
// texts converted from UTF-8 to the ANSI code page and checked against their fields.
#pragma once

#include "rtdb/standin/config_database.h"
#include "rtdb/standin/rt_image.h"
#include "tools/simulator/plant_file.h"

#include <string>
#include <vector>

namespace sim {

struct PlantImage {
    std::vector<rtimage::Station> stations;
    configdb::SystemTexts system;
    std::vector<std::string> warnings;  // texts that the ANSI code page cannot hold exactly
};

// Throws PlantError (naming the entry's line) when a text is too long for its field.
PlantImage toPlantImage(const PlantSpec& plant, std::string_view sourceName);

}  // namespace sim
