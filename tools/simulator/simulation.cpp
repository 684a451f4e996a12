#include "tools/simulator/simulation.h"

#include "rtdb/rt_library.h"

#include <stdexcept>

namespace sim {

Simulation::Simulation(const rtimage::ImageView& view, const PlantSpec& plant, const PlantImage& image,
                       Clock::time_point now) {
    if (view.stationCount() != plant.stations.size() || image.stations.size() != plant.stations.size())
        throw std::logic_error("the image does not hold this plant");
    for (std::size_t s = 0; s < plant.stations.size(); ++s) {
        const StationSpec& station = plant.stations[s];
        const rtimage::Station& ansiStation = image.stations[s];
        for (std::size_t i = 0; i < station.analogs.size(); ++i) {
            const AnalogSpec& spec = station.analogs[i];
            const PointRef ref{rt::kAnalogKind, analogs_.size()};
            byName_.try_emplace(key(station.name, ref.kind, spec.name), ref);
            byAnsiName_.try_emplace(key(ansiStation.name, ref.kind, ansiStation.analogs[i].name), ref);
            Analog analog{view.analog(s, i), AnalogSignal(spec.signal, spec.lowLimit, spec.highLimit,
                                                          static_cast<std::uint32_t>(ref.index))};
            analog.signal.restart(spec.value, now);
            analogs_.push_back(std::move(analog));
        }
        for (std::size_t i = 0; i < station.switches.size(); ++i) {
            const SwitchSpec& spec = station.switches[i];
            const PointRef ref{rt::kSwitchKind, switches_.size()};
            byName_.try_emplace(key(station.name, ref.kind, spec.name), ref);
            byAnsiName_.try_emplace(key(ansiStation.name, ref.kind, ansiStation.switches[i].name), ref);
            const auto period =
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(spec.togglePeriod));
            switches_.push_back({view.switchPoint(s, i), period, now + period});
        }
    }
}

std::string Simulation::key(std::string_view station, int kind, std::string_view point) {
    std::string k(station);
    k += '\0';
    k += static_cast<char>('0' + kind);
    k += '\0';
    k += point;
    return k;
}

void Simulation::tick(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (frozen_) return;
    for (Analog& a : analogs_)
        if (a.signal.moves()) rtimage::storeLiveDouble(a.record + rt::analog::kValue, a.signal.valueAt(now));
    for (Switch& s : switches_) {
        if (s.togglePeriod <= Clock::duration::zero() || now < s.nextToggle) continue;
        std::byte& state = s.record[rt::status::kState];
        state = state == std::byte{0} ? std::byte{1} : std::byte{0};
        s.nextToggle = now + s.togglePeriod;
    }
}

void Simulation::freeze() {
    std::lock_guard lock(mutex_);
    frozen_ = true;
}

void Simulation::thaw(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (!frozen_) return;
    frozen_ = false;
    for (Analog& a : analogs_) a.signal.restart(rtimage::readDouble(a.record + rt::analog::kValue), now);
    for (Switch& s : switches_) s.nextToggle = now + s.togglePeriod;
}

bool Simulation::frozen() const {
    std::lock_guard lock(mutex_);
    return frozen_;
}

std::optional<PointRef> Simulation::find(std::string_view station, int kind, std::string_view point) const {
    const auto it = byName_.find(key(station, kind, point));
    return it == byName_.end() ? std::nullopt : std::optional(it->second);
}

std::optional<PointRef> Simulation::findAnsi(std::string_view station, int kind, std::string_view point) const {
    const auto it = byAnsiName_.find(key(station, kind, point));
    return it == byAnsiName_.end() ? std::nullopt : std::optional(it->second);
}

void Simulation::setAnalog(std::size_t index, double value, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    Analog& a = analogs_.at(index);
    rtimage::storeLiveDouble(a.record + rt::analog::kValue, value);
    a.signal.restart(value, now);
}

void Simulation::setSwitch(std::size_t index, std::uint8_t state, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    Switch& s = switches_.at(index);
    s.record[rt::status::kState] = std::byte{state};
    s.nextToggle = now + s.togglePeriod;
}

double Simulation::analogValue(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return rtimage::readDouble(analogs_.at(index).record + rt::analog::kValue);
}

std::uint8_t Simulation::switchState(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return std::to_integer<std::uint8_t>(switches_.at(index).record[rt::status::kState]);
}

}  // namespace sim
