// The simulated plant bound to the database image: moves the analog values and toggles switches on
// each tick, and applies values set from outside (runtime messages, the control channel).
// One lock guards every record write; lookups use maps fixed at construction and take no lock.
#pragma once

#include "rtdb/standin/rt_image.h"
#include "tools/simulator/analog_signal.h"
#include "tools/simulator/plant_file.h"
#include "tools/simulator/plant_image.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sim {

// A point of the plant: its kind (rt::kAnalogKind or rt::kSwitchKind) and its position among the
// points of that kind, counted over the whole plant in file order.
struct PointRef {
    int kind = 0;
    std::size_t index = 0;
};

class Simulation {
public:
    // `image` must be the conversion of `plant`, laid out in `view`.
    Simulation(const rtimage::ImageView& view, const PlantSpec& plant, const PlantImage& image,
               Clock::time_point now);

    void tick(Clock::time_point now);
    void freeze();
    void thaw(Clock::time_point now);  // movement resumes from the current values
    bool frozen() const;

    // Where names repeat within a station and kind, the first point wins.
    std::optional<PointRef> find(std::string_view stationUtf8, int kind, std::string_view pointUtf8) const;
    std::optional<PointRef> findAnsi(std::string_view stationAnsi, int kind, std::string_view pointAnsi) const;

    void setAnalog(std::size_t index, double value, Clock::time_point now);
    void setSwitch(std::size_t index, std::uint8_t state, Clock::time_point now);
    double analogValue(std::size_t index) const;
    std::uint8_t switchState(std::size_t index) const;

private:
    struct Analog {
        std::byte* record;
        AnalogSignal signal;
    };
    struct Switch {
        std::byte* record;
        Clock::duration togglePeriod;
        Clock::time_point nextToggle;
    };
    static std::string key(std::string_view station, int kind, std::string_view point);

    mutable std::mutex mutex_;
    bool frozen_ = false;
    std::vector<Analog> analogs_;
    std::vector<Switch> switches_;
    std::unordered_map<std::string, PointRef> byName_;
    std::unordered_map<std::string, PointRef> byAnsiName_;
};

}  // namespace sim
