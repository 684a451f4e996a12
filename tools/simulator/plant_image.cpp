#include "tools/simulator/plant_image.h"

#include "tools/simulator/ansi_text.h"

namespace sim {

namespace {

class TextConverter {
public:
    TextConverter(std::string_view source, std::vector<std::string>& warnings)
        : source_(source), warnings_(warnings) {}

    std::string convert(const std::string& utf8, std::size_t maxBytes, int line, const char* what) {
        AnsiText text = toAnsi(utf8);
        if (!text.lossless)
            warnings_.push_back(std::string(source_) + ", line " + std::to_string(line) + ": " + what + " \"" +
                                utf8 + "\" is not representable in the ANSI code page " +
                                std::to_string(ansiCodePage()));
        if (text.bytes.size() > maxBytes)
            throw PlantError(source_, line, 1,
                             std::string(what) + " \"" + utf8 + "\" takes " + std::to_string(text.bytes.size()) +
                                 " bytes in the ANSI code page; at most " + std::to_string(maxBytes) + " fit");
        return std::move(text.bytes);
    }

private:
    std::string_view source_;
    std::vector<std::string>& warnings_;
};

}  // namespace

PlantImage toPlantImage(const PlantSpec& plant, std::string_view sourceName) {
    PlantImage image;
    TextConverter text(sourceName, image.warnings);
    constexpr auto kName = rtimage::kMaxNameBytes;
    constexpr auto kDescription = rtimage::kMaxDescriptionBytes;

    for (const StationSpec& s : plant.stations) {
        rtimage::Station station{text.convert(s.name, kName, s.line, "station name"), s.transfer, {}, {}};
        for (const AnalogSpec& a : s.analogs)
            station.analogs.push_back({text.convert(a.name, kName, a.line, "point name"),
                                       text.convert(a.description, kDescription, a.line, "description"),
                                       a.highLimit, a.lowLimit, a.writable, a.value});
        for (const SwitchSpec& w : s.switches)
            station.switches.push_back({text.convert(w.name, kName, w.line, "point name"),
                                        text.convert(w.description, kDescription, w.line, "description"),
                                        w.writable, w.state});
        image.stations.push_back(std::move(station));
    }
    const SystemTextSpec& sys = plant.system;
    constexpr auto kText = configdb::kMaxTextBytes;
    image.system = {text.convert(sys.productLabel, kText, sys.line, "product"),
                    text.convert(sys.rightsNotice, kText, sys.line, "rights"),
                    text.convert(sys.companyName, kText, sys.line, "company"),
                    text.convert(sys.webAddress, kText, sys.line, "web")};
    return image;
}

}  // namespace sim
