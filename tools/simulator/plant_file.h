// The plant description file (TOML) that the simulator serves: stations with their analog and
// switch points, how each analog value moves, and the configuration database's texts.
// The format is described in README.md.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class SignalKind { Constant, Ramp, Sine, RandomWalk, Clock };

struct SignalSpec {
    SignalKind kind = SignalKind::Constant;
    double period = 0.0;  // seconds
    double amplitude = 0.0;
};

// Texts are UTF-8 as in the file; `line` is the line of the entry's name, for later faults.
struct AnalogSpec {
    std::string name;
    std::string description;
    double highLimit = 0.0;
    double lowLimit = 0.0;
    bool writable = false;
    double value = 0.0;
    SignalSpec signal;
    int line = 0;
};

struct SwitchSpec {
    std::string name;
    std::string description;
    bool writable = false;
    std::uint8_t state = 0;
    double togglePeriod = 0.0;  // seconds; 0 = never toggles
    int line = 0;
};

struct StationSpec {
    std::string name;
    bool transfer = false;
    std::vector<AnalogSpec> analogs;
    std::vector<SwitchSpec> switches;
    int line = 0;
};

struct SystemTextSpec {
    std::string productLabel = "Korvex SCADA";
    std::string rightsNotice = "Copyright (C) Korvex Automation. All rights reserved.";
    std::string companyName = "Korvex Automation";
    std::string webAddress = "www.korvex.example";
    int line = 0;
};

struct PlantSpec {
    SystemTextSpec system;
    std::vector<StationSpec> stations;
};

// A fault in a plant file; what() reads "<file>, line <n>, column <c>: <fault>".
class PlantError : public std::runtime_error {
public:
    PlantError(std::string_view source, int line, int column, const std::string& fault);
    int line() const { return line_; }

private:
    int line_;
};

PlantSpec parsePlant(std::string_view text, std::string_view sourceName);
PlantSpec loadPlantFile(const std::string& path);

}  // namespace sim
