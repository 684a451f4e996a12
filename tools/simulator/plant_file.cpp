#include "tools/simulator/plant_file.h"

#include <toml++/toml.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>

namespace sim {

PlantError::PlantError(std::string_view source, int line, int column, const std::string& fault)
    : std::runtime_error(std::string(source) + ", line " + std::to_string(line) + ", column " +
                         std::to_string(column) + ": " + fault),
      line_(line) {}

namespace {

// Reads one file's tables, turning every fault into a PlantError at the offending node.
class PlantReader {
public:
    explicit PlantReader(std::string_view source) : source_(source) {}

    [[noreturn]] void fail(const toml::node& at, const std::string& fault) const {
        const auto& begin = at.source().begin;
        throw PlantError(source_, static_cast<int>(begin.line), static_cast<int>(begin.column), fault);
    }

    static int lineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

    void allowOnly(const toml::table& table, std::initializer_list<std::string_view> keys,
                   std::string_view what) const {
        for (const auto& [key, node] : table) {
            bool known = false;
            for (std::string_view k : keys) known = known || key.str() == k;
            if (!known) fail(node, "unknown key \"" + std::string(key.str()) + "\" in " + std::string(what));
        }
    }

    const toml::table& table(const toml::node& node, std::string_view what) const {
        if (const toml::table* t = node.as_table()) return *t;
        fail(node, std::string(what) + " must be a table");
    }

    std::string requiredString(const toml::table& table, std::string_view key, std::string_view what) const {
        const toml::node* node = table.get(key);
        if (!node) fail(table, std::string(what) + " has no " + std::string(key));
        return string(*node, key);
    }

    std::optional<std::string> optionalString(const toml::table& table, std::string_view key) const {
        const toml::node* node = table.get(key);
        if (!node) return std::nullopt;
        return string(*node, key);
    }

    std::optional<double> optionalNumber(const toml::table& table, std::string_view key) const {
        const toml::node* node = table.get(key);
        if (!node) return std::nullopt;
        if (!node->is_number()) fail(*node, std::string(key) + " must be a number");
        return node->value<double>();
    }

    std::optional<bool> optionalBool(const toml::table& table, std::string_view key) const {
        const toml::node* node = table.get(key);
        if (!node) return std::nullopt;
        if (!node->is_boolean()) fail(*node, std::string(key) + " must be true or false");
        return node->value<bool>();
    }

    double positiveNumber(const toml::table& table, std::string_view key, std::string_view what) const {
        const toml::node* node = table.get(key);
        if (!node) fail(table, std::string(what) + " has no " + std::string(key));
        const double value = *optionalNumber(table, key);
        if (!(value > 0.0)) fail(*node, std::string(key) + " must be greater than 0");
        return value;
    }

    const toml::array* tableArray(const toml::table& table, std::string_view key) const {
        const toml::node* node = table.get(key);
        if (!node) return nullptr;
        const toml::array* array = node->as_array();
        if (!array || !array->is_array_of_tables())
            fail(*node, std::string(key) + " must be an array of tables ([[...]])");
        return array;
    }

    SystemTextSpec system(const toml::node& node) const {
        const toml::table& t = table(node, "system");
        allowOnly(t, {"product", "rights", "company", "web"}, "system");
        SystemTextSpec spec;
        spec.productLabel = optionalString(t, "product").value_or(spec.productLabel);
        spec.rightsNotice = optionalString(t, "rights").value_or(spec.rightsNotice);
        spec.companyName = optionalString(t, "company").value_or(spec.companyName);
        spec.webAddress = optionalString(t, "web").value_or(spec.webAddress);
        spec.line = lineOf(t);
        return spec;
    }

    StationSpec station(const toml::table& t) const {
        allowOnly(t, {"name", "transfer", "analog", "switch"}, "station");
        StationSpec spec;
        spec.name = requiredString(t, "name", "station");
        spec.transfer = optionalBool(t, "transfer").value_or(false);
        spec.line = lineOf(*t.get("name"));
        if (const toml::array* analogs = tableArray(t, "analog"))
            for (const toml::node& a : *analogs) spec.analogs.push_back(analog(*a.as_table()));
        if (const toml::array* switches = tableArray(t, "switch"))
            for (const toml::node& s : *switches) spec.switches.push_back(switchPoint(*s.as_table()));
        return spec;
    }

private:
    std::string string(const toml::node& node, std::string_view key) const {
        if (!node.is_string()) fail(node, std::string(key) + " must be a string");
        return *node.value<std::string>();
    }

    AnalogSpec analog(const toml::table& t) const {
        allowOnly(t, {"name", "description", "high_limit", "low_limit", "writable", "value", "signal"},
                  "analog point");
        AnalogSpec spec;
        spec.name = requiredString(t, "name", "analog point");
        spec.description = optionalString(t, "description").value_or("");
        spec.highLimit = optionalNumber(t, "high_limit").value_or(0.0);
        spec.lowLimit = optionalNumber(t, "low_limit").value_or(0.0);
        spec.writable = optionalBool(t, "writable").value_or(false);
        spec.value = optionalNumber(t, "value").value_or(0.0);
        if (const toml::node* s = t.get("signal")) spec.signal = signal(table(*s, "signal"));
        spec.line = lineOf(*t.get("name"));
        return spec;
    }

    SignalSpec signal(const toml::table& t) const {
        allowOnly(t, {"kind", "period", "amplitude"}, "signal");
        const std::string kind = requiredString(t, "kind", "signal");
        SignalSpec spec;
        if (kind == "constant") {
            spec.kind = SignalKind::Constant;
        } else if (kind == "ramp") {
            spec.kind = SignalKind::Ramp;
        } else if (kind == "sine") {
            spec.kind = SignalKind::Sine;
        } else if (kind == "random_walk") {
            spec.kind = SignalKind::RandomWalk;
        } else if (kind == "clock") {
            spec.kind = SignalKind::Clock;
        } else {
            fail(*t.get("kind"),
                 "unknown signal kind \"" + kind + "\" (expected constant, ramp, sine, random_walk or clock)");
        }
        spec.amplitude = optionalNumber(t, "amplitude").value_or(0.0);
        if (spec.kind != SignalKind::Constant && spec.kind != SignalKind::Clock) spec.period = positiveNumber(t, "period", kind + " signal");
        return spec;
    }

    SwitchSpec switchPoint(const toml::table& t) const {
        allowOnly(t, {"name", "description", "writable", "state", "toggle_period"}, "switch point");
        SwitchSpec spec;
        spec.name = requiredString(t, "name", "switch point");
        spec.description = optionalString(t, "description").value_or("");
        spec.writable = optionalBool(t, "writable").value_or(false);
        if (const toml::node* state = t.get("state")) {
            // A raw state byte (e.g. 2) is allowed: readers must treat any nonzero byte as on.
            if (state->is_boolean()) {
                spec.state = *state->value<bool>() ? 1 : 0;
            } else if (state->is_integer() && *state->value<std::int64_t>() >= 0 &&
                       *state->value<std::int64_t>() <= 255) {
                spec.state = static_cast<std::uint8_t>(*state->value<std::int64_t>());
            } else {
                fail(*state, "state must be true, false or an integer from 0 to 255");
            }
        }
        if (t.get("toggle_period")) spec.togglePeriod = positiveNumber(t, "toggle_period", "switch point");
        spec.line = lineOf(*t.get("name"));
        return spec;
    }

    std::string source_;
};

}  // namespace

PlantSpec parsePlant(std::string_view text, std::string_view sourceName) {
    toml::table root;
    try {
        root = toml::parse(text, sourceName);
    } catch (const toml::parse_error& e) {
        const auto& begin = e.source().begin;
        throw PlantError(sourceName, static_cast<int>(begin.line), static_cast<int>(begin.column),
                         std::string(e.description()));
    }
    const PlantReader reader(sourceName);
    reader.allowOnly(root, {"system", "station"}, "the plant");
    PlantSpec plant;
    if (const toml::node* system = root.get("system")) plant.system = reader.system(*system);
    if (const toml::array* stations = reader.tableArray(root, "station"))
        for (const toml::node& s : *stations) plant.stations.push_back(reader.station(*s.as_table()));
    if (plant.stations.empty()) throw PlantError(sourceName, 1, 1, "the plant has no [[station]]");
    return plant;
}

PlantSpec loadPlantFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error(path + ": cannot open the plant file");
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return parsePlant(text, path);
}

}  // namespace sim
