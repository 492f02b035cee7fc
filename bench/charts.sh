#!/usr/bin/env bash
# The charts on ten years of readings: daily, monthly and yearly charts through
# ChartQueries::series, and the opening of the charts window through DatabaseReader and
# ChartSource, each next to the old way of reading a chart on the same engine and file (one
# GROUP BY over the whole Energy table per chart).
#
#   bash bench/charts.sh [BUILD_DIR] [--rows N] [--runs R] [--keep DIR]
#
# Builds nothing: BUILD_DIR (default build-bench) must hold bench/bench_charts. The generated
# database and its copy after the first open go to a temporary folder that is removed at the
# end, also when the script is interrupted; with --keep DIR they go to DIR and stay, and a later
# run with the same DIR and --rows (of this script or of database.sh) reuses them. Prints a
# Markdown table and writes it to bench/README.md under "Charts".
set -euo pipefail

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root_dir=$(dirname "$bench_dir")
command_line="bash bench/charts.sh${*:+ $*}"

build_dir=""
rows=31536000 # ten years of readings every 10 s
runs=3
keep=""

usage() {
    sed -n '7p' "${BASH_SOURCE[0]}" | sed 's/^#   //'
    echo "  --rows N     readings in the generated file (default $rows, ten years)"
    echo "  --runs R     measurements of every case, medians reported (default 3)"
    echo "  --keep DIR   keep the generated files in DIR and reuse them on the next run"
}

is_count() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }

while [ $# -gt 0 ]; do
    case $1 in
    --rows | --runs)
        if [ $# -lt 2 ] || ! is_count "$2"; then
            echo "$1 needs a whole number above 0" >&2
            exit 2
        fi
        declare "${1#--}=$2"
        shift 2
        ;;
    --keep)
        [ $# -ge 2 ] || { echo "--keep needs a folder" >&2; exit 2; }
        keep=$2
        shift 2
        ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "unknown option $1" >&2; usage >&2; exit 2 ;;
    *)
        [ -z "$build_dir" ] || { echo "one build folder only" >&2; exit 2; }
        build_dir=$1
        shift
        ;;
    esac
done

# The build folder as given, else relative to the project root.
build_dir=${build_dir:-build-bench}
if [ ! -d "$build_dir" ] && [ -d "$root_dir/$build_dir" ]; then
    build_dir=$root_dir/$build_dir
fi
[ -d "$build_dir" ] || { echo "no build folder $build_dir" >&2; exit 2; }
build_dir=$(cd "$build_dir" && pwd)
charts_bench=$build_dir/bench/bench_charts
window_bench=$build_dir/bench/bench_charts_window
for program in "$charts_bench" "$window_bench"; do
    [ -x "$program" ] || {
        echo "$program is missing: cmake --build $build_dir -j2 --target bench_charts" \
            "bench_charts_window" >&2
        exit 2
    }
done

if ! command -v sqlite3 >/dev/null; then
    echo "Installing: sqlite3" >&2
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends sqlite3 >&2
fi

# --- folders and clean-up ----------------------------------------------------------------------

if [ -n "$keep" ]; then
    mkdir -p "$keep"
    data=$(cd "$keep" && pwd)
else
    data=$(mktemp -d "${TMPDIR:-/tmp}/powerlog-charts.XXXXXX")
fi
# The copy lives beside the generated file, on the same disk.
work=$(mktemp -d "$data/work.XXXXXX")
child=""

cleanup() {
    trap - EXIT INT TERM HUP
    if [ -n "$child" ]; then
        kill -TERM -- "-$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    rm -rf "$work"
    [ -n "$keep" ] || rm -rf "$data"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Runs a command in a process group of its own, in the background so that a signal reaches
# the trap at once.
run() {
    setsid "$@" &
    child=$!
    local code=0
    wait "$child" || code=$?
    child=""
    return "$code"
}

elapsed() { echo $(($(date +%s) - $1)); }

# --- data --------------------------------------------------------------------------------------

generated=$data/energy-$rows.mdb
prepared=$data/energy-$rows-prepared.mdb
started=$(date +%s)
if [ -f "$generated" ]; then
    generation="reused from $data"
else
    echo "Generating $rows readings into $generated" >&2
    run bash "$bench_dir/gen_energy.sh" --rows "$rows" "$generated"
    generation="generated in $(elapsed "$started") s"
fi

# --- run ---------------------------------------------------------------------------------------

results=$work/results.txt
echo "Charts: $runs run(s)" >&2
if ! run "$charts_bench" --source "$generated" --prepared "$prepared" --work "$work" \
    --runs "$runs" >"$results"; then
    echo "bench_charts failed; its figures so far:" >&2
    cat "$results" >&2
    exit 1
fi
echo "Charts window: $runs opening(s)" >&2
# The window reads the prepared file in place, read-only, as the program would.
mkdir -p "$work/window"
ln -sf "$prepared" "$work/window/DbEnergy.mdb"
if ! run "$window_bench" --folder "$work/window" --runs "$runs" >>"$results"; then
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
} >"$table"

one() { awk '{ printf "%.1f", $1 }' <<<"$1"; }
two() { awk '{ printf "%.2f", $1 }' <<<"$1"; }
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
$(awk '{ printf "%d", $1 }' <<<"$(value rows)") readings (generated file \
$(du -h "$generated" | cut -f1), after its first open $(du -h "$prepared" | cut -f1); \
$generation). Whole run: $total s." | sed 's/ *$//')
echo
cat "$table"
echo
echo "$footer"

# --- bench/README.md ---------------------------------------------------------------------------

cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build_dir/CMakeCache.txt" 2>/dev/null || true)
built_from="unknown sources"
if [ -n "$source_dir" ] && git -C "$source_dir" rev-parse --short HEAD >/dev/null 2>&1; then
    built_from="commit $(git -C "$source_dir" rev-parse --short HEAD)"
    [ -z "$(git -C "$source_dir" status --porcelain --untracked-files=no 2>/dev/null)" ] ||
        built_from="$built_from with uncommitted changes"
fi
block=$work/block.md
{
    echo "<!-- charts:begin -->"
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') with"
    echo
    echo '```sh'
    echo "$command_line"
    echo '```'
    echo
    echo "Build: \`$build_dir\` ($(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt" 2>/dev/null), $built_from)."
    echo "Machine: $(nproc) CPUs ($cpu_model), Linux $(uname -r)," \
        "Qt $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo '?'), SQLite $(sqlite3 --version | cut -d' ' -f1)."
    echo
    cat "$table"
    echo
    echo "$footer"
    echo "<!-- charts:end -->"
} >"$block"
readme=$bench_dir/README.md
if [ -f "$readme" ] && grep -q '^<!-- charts:begin -->$' "$readme"; then
    awk -v f="$block" '
        /^<!-- charts:begin -->$/ { while ((getline line < f) > 0) print line; skip = 1; next }
        /^<!-- charts:end -->$/ { skip = 0; next }
        !skip' "$readme" >"$work/readme.new"
else
    {
        [ ! -f "$readme" ] || { cat "$readme"; echo; }
        echo "## Charts"
        echo
        echo "\`charts.sh\` times the charts' reads on a large generated file."
        echo
        cat "$block"
    } >"$work/readme.new"
fi
cat "$work/readme.new" >"$readme"
