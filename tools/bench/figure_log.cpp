#include "figure_log.h"

#include "machine_description.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace bench {
namespace {

std::string Number(double value) {
    char text[32];
    const double magnitude = std::fabs(value);
    std::snprintf(text, sizeof text, magnitude >= 100 || value == std::floor(value) ? "%.0f" : magnitude >= 1 ? "%.2f" : "%.3g",
                  value);
    return text;
}

}  // namespace

FigureLog& FigureLog::Instance() {
    static FigureLog log;
    return log;
}

std::optional<double> RatioTo(double value, double baseline) {
    if (!std::isfinite(value) || !std::isfinite(baseline) || baseline <= 0) return std::nullopt;
    return value / baseline;
}

const Figure& FigureLog::Add(Figure figure) {
    std::string line = "  " + figure.what + ": " + Number(figure.value) + " " + figure.unit;
    if (figure.baseline) {
        line += "  | baseline " + figure.baseline->what + ": " + Number(figure.baseline->value) + " " +
                figure.baseline->unit;
        if (figure.ratio) line += ", ratio " + Number(*figure.ratio) + "x";
    }
    if (!figure.goal.empty())
        line += "  | goal " + figure.goal + (figure.met ? (*figure.met ? ": met" : ": MISSED") : "");
    std::printf("%s\n", line.c_str());
    if (!figure.note.empty()) std::printf("      (%s)\n", figure.note.c_str());
    std::fflush(stdout);
    figures_.push_back(std::move(figure));
    return figures_.back();
}

void FigureLog::DescribeMachineNow() { machine_ = DescribeMachine(); }

void FigureLog::AddSeries(const std::string& name, std::vector<std::pair<double, double>> points) {
    series_[name] = std::move(points);
}

bool FigureLog::WriteJson(const std::string& path) const {
    nlohmann::ordered_json report;
    nlohmann::ordered_json machine = nlohmann::ordered_json::object();
    for (const auto& [name, value] : machine_) machine[name] = value;
    report["machine"] = machine;
    nlohmann::ordered_json figures = nlohmann::ordered_json::array();
    for (const Figure& f : figures_) {
        nlohmann::ordered_json entry;
        entry["section"] = f.section;
        entry["figure"] = f.what;
        entry["value"] = std::isfinite(f.value) ? nlohmann::ordered_json(f.value) : nlohmann::ordered_json();
        entry["unit"] = f.unit;
        if (f.baseline) {
            entry["baseline"] = {{"what", f.baseline->what}, {"value", f.baseline->value}, {"unit", f.baseline->unit}};
        } else {
            entry["baseline"] = nullptr;
        }
        entry["ratio"] = f.ratio ? nlohmann::ordered_json(*f.ratio) : nlohmann::ordered_json();
        entry["goal"] = f.goal.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(f.goal);
        entry["met"] = f.met ? nlohmann::ordered_json(*f.met) : nlohmann::ordered_json();
        if (!f.note.empty()) entry["note"] = f.note;
        figures.push_back(std::move(entry));
    }
    report["figures"] = figures;
    nlohmann::ordered_json series = nlohmann::ordered_json::object();
    for (const auto& [name, points] : series_) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const auto& [x, y] : points) list.push_back({x, y});
        series[name] = list;
    }
    report["series"] = series;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << report.dump(2) << '\n';
    return static_cast<bool>(file);
}

void FigureLog::PrintGoals() const {
    bool any = false;
    for (const Figure& f : figures_) {
        if (f.goal.empty()) continue;
        if (!any) std::printf("\n== goals ==\n");
        any = true;
        std::printf("  %-7s %s: %s %s (goal %s)\n", f.met ? (*f.met ? "met" : "MISSED") : "-", f.what.c_str(),
                    Number(f.value).c_str(), f.unit.c_str(), f.goal.c_str());
    }
    std::fflush(stdout);
}

}  // namespace bench
