#!/bin/sh
# make bench-plot: draws build/bench/report.json (written by make bench) into two PNG files beside
# it: the histogram of how old the values were when they reached the client, and the changes per
# second one client received over the number of items. Installs gnuplot on first use.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
out="$repo/build/bench"
report="$out/report.json"
[ -f "$report" ] || { echo "bench-plot: $report is missing: run make bench first" >&2; exit 1; }
if ! command -v gnuplot >/dev/null 2>&1; then
    echo "Installing gnuplot with apt (first run only)..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gnuplot-nox >/dev/null
fi

# One data file per series: "x y" lines.
python3 - "$report" "$out" <<'SERIES'
import json, sys
report = json.load(open(sys.argv[1]))
for name, points in report.get("series", {}).items():
    with open(f"{sys.argv[2]}/{name}.dat", "w") as f:
        for x, y in points:
            f.write(f"{x} {y}\n")
SERIES

latency="$out/latency_histogram_ms_50000_items.dat"
changes="$out/changes_per_second_by_items.dat"
if [ -s "$latency" ]; then
    gnuplot <<PLOT
set terminal pngcairo size 900,500
set output "$out/latency-histogram.png"
set title "Age of a value on arrival at the client: 50,000 items, update rate 200 ms"
set xlabel "ms from the change in the runtime's memory to OnDataChange (10 ms bins)"
set ylabel "changes"
set style fill solid 0.6
set boxwidth 10
set xrange [0:*]
set yrange [0:*]
plot "$latency" using (10 * floor(\$1 / 10) + 5):2 smooth freq with boxes notitle
PLOT
    echo "wrote $out/latency-histogram.png"
fi
if [ -s "$changes" ]; then
    gnuplot <<PLOT
set terminal pngcairo size 900,500
set output "$out/changes-per-second.png"
set title "Data changes one client receives: one group at 200 ms, every item changing every tick"
set xlabel "items"
set ylabel "changes per second"
set format y "%.0f"
set key left top
set xrange [0:*]
set yrange [0:*]
plot "$changes" using 1:2 with linespoints lw 2 pt 7 title "received", \
     "$changes" using 1:(\$1 * 5) with lines dt 2 title "every item every 200 ms"
PLOT
    echo "wrote $out/changes-per-second.png"
fi
