// Turns a plant file's content into what the database image and the configuration database hold:
// texts converted from UTF-8 to the ANSI code page and checked against their fields.
#pragma once

#include "tools/rtlib/config_database.h"
#include "tools/rtlib/rt_image.h"
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
