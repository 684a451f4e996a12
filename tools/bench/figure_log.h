// Every figure of a run, with the baseline it is compared with, the ratio and the goal, kept for
// build/bench/report.json beside the printed report; and the series the plots are drawn from.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct Baseline {
    std::string what;
    double value = 0;
    std::string unit;
};

struct Figure {
    Figure(std::string section, std::string what, double value, std::string unit,
           std::optional<Baseline> baseline = std::nullopt, std::optional<double> ratio = std::nullopt,
           std::string goal = "", std::optional<bool> met = std::nullopt, std::string note = "")
        : section(std::move(section)), what(std::move(what)), value(value), unit(std::move(unit)),
          baseline(std::move(baseline)), ratio(ratio), goal(std::move(goal)), met(met), note(std::move(note)) {}

    std::string section;
    std::string what;
    double value = 0;
    std::string unit;
    std::optional<Baseline> baseline;
    // value / baseline: how many times the transport's (or the plain loop's) own cost the figure is.
    std::optional<double> ratio;
    std::string goal;        // as a reader would state it; empty: no goal
    std::optional<bool> met;  // none: no goal, or nothing to judge it on
    std::string note;
};

class FigureLog {
public:
    static FigureLog& Instance();

    // Records the figure, prints it as a line of the report, and returns it.
    const Figure& Add(Figure figure);
    // A named series for the plots, e.g. "latency_histogram_ms" or "changes_per_second".
    void AddSeries(const std::string& name, std::vector<std::pair<double, double>> points);
    // The machine's description, taken when the run begins.
    void DescribeMachineNow();
    // build/bench/report.json: the machine, every figure and every series. False when it cannot be written.
    bool WriteJson(const std::string& path) const;
    // The goals met and missed, one line each, at the end of the report.
    void PrintGoals() const;

private:
    std::vector<std::pair<std::string, std::string>> machine_;
    std::vector<Figure> figures_;
    std::map<std::string, std::vector<std::pair<double, double>>> series_;
};

// The ratio when the baseline is a real number, else none.
std::optional<double> RatioTo(double value, double baseline);

}  // namespace bench
