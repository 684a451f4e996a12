// The plant file parser on any text; what it accepts is laid out into an image, which must open.
#include "rtdb/standin/rt_image.h"
#include "tools/simulator/plant_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::PlantSpec spec;
    try {
        spec = sim::parsePlant(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.toml");
    } catch (const sim::PlantError&) {
        return 0;
    }
    std::vector<rtimage::Station> plant;
    for (const sim::StationSpec& s : spec.stations) {
        rtimage::Station& station = plant.emplace_back(rtimage::Station{s.name, s.transfer, {}, {}});
        for (const sim::AnalogSpec& a : s.analogs)
            station.analogs.push_back({a.name, a.description, a.highLimit, a.lowLimit, a.writable, a.value});
        for (const sim::SwitchSpec& w : s.switches)
            station.switches.push_back({w.name, w.description, w.writable, w.state});
    }
    try {
        std::vector<std::byte> image = rtimage::buildImage(plant);
        if (!rtimage::ImageView::open(image.data(), image.size())) std::abort();
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
