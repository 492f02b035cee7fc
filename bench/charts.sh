#!/usr/bin/env bash
# The charts on ten years of readings: daily, monthly and yearly charts through
# ChartQueries::series, the opening of the charts window through DatabaseReader and
# ChartSource, and each choice of its energy view until that chart is drawn; the reads next to
# the old way of reading a chart on the same engine and file (one GROUP BY over the whole Energy
# table per chart).
#
#   bash bench/charts.sh [BUILD_DIR] [--rows N] [--runs R] [--keep DIR]
#
# Builds nothing: BUILD_DIR (default build-bench), configured with -DPOWERLOG_BUILD_BENCH=ON, must
# hold bench/bench_charts. The generated database and its copy after the first open go to a
# temporary folder that is removed at the end, also when the script is interrupted; with --keep DIR
# they go to DIR and stay, and a later run with the same DIR and --rows (of this script or of
# database.sh) reuses them. Prints a Markdown table and writes it to bench/README.md under "Charts".
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
command_line="bash bench/charts.sh${*:+ $*}"

start_data_benchmark charts bench_charts bench_charts_window -- "$@"

# --- run ---------------------------------------------------------------------------------------

results=$work/results.txt
echo "Charts: $runs run(s)" >&2
if ! run_interruptible "$build_dir/bench/bench_charts" --source "$generated" \
    --prepared "$prepared" --work "$work" --runs "$runs" >"$results"; then
    echo "bench_charts failed; its figures so far:" >&2
    cat "$results" >&2
    exit 1
fi
echo "Charts window: $runs opening(s)" >&2
# The window reads the prepared file in place, read-only, as the program would.
mkdir -p "$work/window"
ln -sf "$prepared" "$work/window/DbEnergy.mdb"
if ! run_interruptible "$build_dir/bench/bench_charts_window" --folder "$work/window" \
    --runs "$runs" >>"$results"; then
    echo "bench_charts_window failed" >&2
    exit 1
fi
total=$(elapsed "$started")
grep -qx 'baseline_agrees=yes' "$results" || {
    echo "the baseline's charts were not compared with ours" >&2
    exit 1
}

value() { sed -n "s/^$1=//p" "$results"; }

# One line of the table: label, ours (ms), baseline label, baseline (ms), goal text, the most
# ours may take (ms) and the least ratio (empty for none).
row() {
    awk -v l="$1" -v o="$2" -v bl="$3" -v b="$4" -v goal="$5" -v most="$6" -v least="$7" '
        BEGIN {
            ours = o < 10 ? sprintf("%.2f", o) : sprintf("%.1f", o)
            base = b == "" ? "" : sprintf("%.0f", b)
            ratio = (b != "" && o > 0) ? b / o : ""
            shown = ratio == "" ? "" : sprintf("%.0f×", ratio)
            met = o <= most
            if (least != "")
                met = met && ratio != "" && ratio >= least
            printf "| %s | %s | %s | %s | %s | %s | %s |\n", l, ours, bl, base, shown, goal,
                met ? "yes" : "**no**"
        }'
}

table=$work/table.md
{
    echo "| measure | Powerlog ms | baseline | baseline ms | × faster | goal | met |"
    echo "|---|---:|---|---:|---:|---|---|"
    row "daily chart, \`ChartQueries::series\`" "$(value ours_daily_ms)" \
        "\`GROUP BY\` minute and day over \`Energy\`" "$(value baseline_daily_ms)" \
        "≤ 15 ms, ≥ 1000×" 15 1000
    row "monthly chart, \`ChartQueries::series\`" "$(value ours_monthly_ms)" \
        "\`GROUP BY\` day over \`Energy\`" "$(value baseline_monthly_ms)" \
        "≤ 10 ms, ≥ 1000×" 10 1000
    row "yearly chart, \`ChartQueries::series\`" "$(value ours_yearly_ms)" \
        "\`GROUP BY\` year over \`Energy\`" "$(value baseline_yearly_ms)" \
        "≤ 10 ms, ≥ 1000×" 10 1000
    row "opening the charts window, first request to \`chartRead\`" "$(value opening_ms)" \
        "" "" "≤ 60 ms" 60 ""
    row "opening the charts window, \`show()\` to its first chart drawn (offscreen)" \
        "$(value window_opening_ms)" "" "" "≤ 60 ms" 60 ""
    row "energy view chosen, daily chart drawn (offscreen)" "$(value window_energy_daily_ms)" \
        "" "" "≤ 60 ms" 60 ""
    row "energy view, monthly chosen to drawn" "$(value window_energy_monthly_ms)" "" "" \
        "≤ 60 ms" 60 ""
    row "energy view, yearly chosen to drawn" "$(value window_energy_yearly_ms)" "" "" \
        "≤ 60 ms" 60 ""
} >"$table"

# One paragraph, folded at 100 columns.
footer=$(fold -s -w 100 <<<"Powerlog: medians of $runs run(s) over $(value dates) dates spread \
from $(value first_day) to $(value last_day), on one read-only connection; the slowest read took \
$(one "$(value ours_daily_max_ms)") ms (daily), $(one "$(value ours_monthly_max_ms)") ms (monthly) \
and $(one "$(value ours_yearly_max_ms)") ms (yearly); the medians took \
$(two "$(value ours_daily_cpu_ms)"), $(two "$(value ours_monthly_cpu_ms)") and \
$(two "$(value ours_yearly_cpu_ms)") ms of CPU. Opening: medians of $runs run(s), each with a new \
reader and source, ending with the daily chart of $(value opening_day) (slowest \
$(one "$(value opening_max_ms)") ms). Baseline: medians of $runs run(s) on \
$(value baseline_date); its groups gave the same three charts as ours. \
$(whole "$(value rows)") readings (generated file \
$(du -h "$generated" | cut -f1), after its first open $(du -h "$prepared" | cut -f1); \
$generation). Whole run: $total s." | sed 's/ *$//')

# --- bench/README.md ---------------------------------------------------------------------------

machine() { echo "Machine: $(machine_description), $(qt_and_sqlite_versions)."; }
publish_results charts machine Charts \
    "\`charts.sh\` times the charts' reads on a large generated file."
