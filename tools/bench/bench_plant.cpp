#include "bench_plant.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace bench {
namespace {

std::string Numbered(const char* prefix, int width, int number) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%0*d", prefix, width, number);
    return text;
}

}  // namespace

std::vector<rtimage::Station> MakePlant(const PlantShape& shape) {
    const int analogs = shape.pointsPerStation / 2;
    const int switches = shape.pointsPerStation - analogs;
    std::vector<rtimage::Station> plant;
    plant.reserve(shape.stations);
    for (int s = 0; s < shape.stations; ++s) {
        rtimage::Station& station = plant.emplace_back();
        station.name = Numbered("Station", 3, s);
        station.transfer = true;
        for (int p = 0; p < analogs; ++p)
            station.analogs.push_back({Numbered("AI", 4, p), "Analog input", 100.0, 0.0, true, p * 0.5});
        for (int p = 0; p < switches; ++p)
            station.switches.push_back({Numbered("DI", 4, p), "Switch input", true, static_cast<std::uint8_t>(p % 2)});
    }
    return plant;
}

PublishedPlant::PublishedPlant(std::span<const rtimage::Station> plant)
    : runtime_(plant), access_(nullptr, rtdb::Settings{false, true}) {
    if (!access_.IsScadaRunning() || !access_.AttachDatabase())
        throw std::runtime_error("the published plant cannot be attached");
}

}  // namespace bench
