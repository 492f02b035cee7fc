#!/usr/bin/env bash
# The energy database on ten years of readings: the first open of a file that has only its
# Energy table, recording into it, and compacting it, each next to a baseline measured in the
# same run (the sqlite3 shell or a bare loop of prepared inserts).
#
#   bash bench/database.sh [BUILD_DIR] [--rows N] [--runs R] [--keep DIR]
#
# Builds nothing: BUILD_DIR (default build-bench) must hold bench/bench_database_open and
# bench/bench_database_insert. The generated database goes to a temporary folder that is
# removed at the end, also when the script is interrupted; with --keep DIR it goes to DIR and
# stays, and a later run with the same DIR and --rows reuses it. Prints a Markdown table and
# writes it to bench/README.md under "Energy database".
set -euo pipefail

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root_dir=$(dirname "$bench_dir")
command_line="bash bench/database.sh${*:+ $*}"

build_dir=""
rows=31536000 # ten years of readings every 10 s
runs=3
keep=""

usage() {
    sed -n '6p' "${BASH_SOURCE[0]}" | sed 's/^#   //'
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
open_bench=$build_dir/bench/bench_database_open
insert_bench=$build_dir/bench/bench_database_insert
for f in "$open_bench" "$insert_bench"; do
    [ -x "$f" ] || {
        echo "$f is missing: cmake --build $build_dir -j2 --target bench_database_open" \
            "bench_database_insert" >&2
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
    data=$(mktemp -d "${TMPDIR:-/tmp}/powerlog-database.XXXXXX")
fi
# The copies live beside the generated file, on the same disk.
work=$(mktemp -d "$data/work.XXXXXX")
child=""

cleanup() {
    trap - EXIT INT TERM HUP
    if [ -n "$child" ]; then
        # The whole group: a benchmark may have a sqlite3 shell running under it.
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

# --- runs --------------------------------------------------------------------------------------

results=$work/results
mkdir -p "$results"
for ((i = 1; i <= runs; i++)); do
    echo "Run $i of $runs: first open" >&2
    run "$open_bench" --source "$generated" --work "$work" >"$results/open-$i.txt"
    echo "Run $i of $runs: inserts and compaction" >&2
    run "$insert_bench" --source "$generated" --prepared "$prepared" --work "$work" \
        >"$results/insert-$i.txt"
done
total=$(elapsed "$started")

# The median over the runs of one figure of one program.
median() {
    cat "$results/$1"-*.txt | sed -n "s/^$2=//p" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# One line of the table: label, ours, baseline label, baseline, number format, goal text, and
# the goal as "ratio<=X" or "value<=X" (or "" for none).
row() {
    awk -v l="$1" -v o="$2" -v bl="$3" -v b="$4" -v fmt="$5" -v goal="$6" -v test="$7" '
        BEGIN {
            ours = sprintf(fmt, o)
            base = b == "" ? "" : sprintf(fmt, b)
            ratio = (b != "" && b > 0) ? o / b : ""
            shown = ratio == "" ? "" : sprintf("%.2f×", ratio)
            met = ""
            if (test != "") {
                split(test, t, "<=")
                v = t[1] == "ratio" ? ratio : o
                met = (v != "" && v <= t[2]) ? "yes" : "**no**"
            }
            printf "| %s | %s | %s | %s | %s | %s | %s |\n", l, ours, bl, base, shown, goal, met
        }'
}

open_m() { median open "$1"; }
insert_m() { median insert "$1"; }

table=$work/table.md
{
    echo "| measure | Powerlog | baseline | baseline value | × baseline | goal | met |"
    echo "|---|---:|---|---:|---:|---|---|"
    row "first open of a file with only \`Energy\`, s" "$(open_m ours_open_s)" \
        "sqlite3 shell, one transaction" "$(open_m shell_open_s)" "%.1f" "≤ 1.2×" "ratio<=1.2"
    row "peak \`-wal\` during the first open, MiB" "$(open_m ours_peak_wal_mib)" \
        "the same shell" "$(open_m shell_peak_wal_mib)" "%.2f" "≤ 64 MiB" "value<=64"
    row "peak \`-journal\` during the first open, MiB" "$(open_m ours_peak_journal_mib)" \
        "the same shell" "$(open_m shell_peak_journal_mib)" "%.2f" "" ""
    row "longest wait between two progress reports, s" "$(open_m ours_progress_gap_s)" \
        "" "" "%.1f" "" ""
    row "first open through \`DatabaseWriter\`, until \`opened()\`, s" "$(open_m writer_open_s)" \
        "sqlite3 shell, one transaction" "$(open_m shell_open_s)" "%.1f" "" ""
    row "longest window-thread gap during that open, ms" "$(open_m writer_open_gap_ms)" \
        "1 ms timer beside a spinning thread" "$(open_m busy_gap_ms)" "%.1f" "≤ 5 ms" "value<=5"
    row "window-thread gaps above 5 ms during that open, per minute" \
        "$(open_m writer_open_gaps_per_min)" "1 ms timer beside a spinning thread" \
        "$(open_m busy_gaps_per_min)" "%.1f" "none" "value<=0"
    row "\`insert()\` until committed, median of 500, ms" "$(insert_m insert_median_ms)" \
        "bare prepared INSERT, median" "$(insert_m loop_median_ms)" "%.2f" "≤ 2 ms" "value<=2"
    row "\`insert()\` until committed, p99 of 500, ms" "$(insert_m insert_p99_ms)" \
        "bare prepared INSERT, p99" "$(insert_m loop_p99_ms)" "%.2f" "" ""
    row "longest window-thread gap during 500 inserts, ms" "$(insert_m insert_gap_ms)" \
        "1 ms timer beside a spinning thread" "$(insert_m busy_gap_ms)" "%.1f" "≤ 5 ms" "value<=5"
    row "\`compact()\` of the whole file, s" "$(insert_m compact_s)" \
        "sqlite3 shell, VACUUM INTO" "$(insert_m vacuum_s)" "%.1f" "" ""
    row "longest window-thread gap during \`compact()\`, ms" "$(insert_m compact_gap_ms)" \
        "1 ms timer beside a spinning thread" "$(insert_m busy_gap_ms)" "%.1f" "≤ 5 ms" "value<=5"
    row "window-thread gaps above 5 ms during \`compact()\`, per minute" \
        "$(insert_m compact_gaps_per_min)" "1 ms timer beside a spinning thread" \
        "$(insert_m busy_gaps_per_min)" "%.1f" "none" "value<=0"
} >"$table"

sizes="generated file $(du -h "$generated" | cut -f1), after its first open $(du -h "$prepared" | cut -f1), compacted $(awk '{ printf "%.0f MiB", $1 }' <<<"$(insert_m compacted_mib)")"
whole() { awk '{ printf "%d", $1 }' <<<"$1"; }
one() { awk '{ printf "%.1f", $1 }' <<<"$1"; }
footer="Medians of $runs run(s) on $(whole "$(open_m rows)") readings ($sizes; $generation).
Every case works on a fresh copy; the insert cases use the file after its first open. Whole run:
$total s. A window-thread gap is the time between two ticks of a 1 ms timer on the thread that
drives the writer, as the window's thread would; its baseline runs the same timer for 5 s beside
one other thread of the process that only spins. Of each longest gap, the thread was ready to
run but had no CPU for $(one "$(open_m writer_open_gap_ready_ms)") ms (open), $(one "$(insert_m insert_gap_ready_ms)") ms (inserts), $(one "$(insert_m compact_gap_ready_ms)") ms (compaction) and
$(one "$(open_m busy_gap_ready_ms)") ms (beside the spinning thread), as the kernel's schedstat counts it. With nothing
else running in the process the timer's longest gap in 5 s was $(one "$(open_m idle_gap_ms)") ms."
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
    echo "<!-- database:begin -->"
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') with"
    echo
    echo '```sh'
    echo "$command_line"
    echo '```'
    echo
    echo "Build: \`$build_dir\` ($(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt" 2>/dev/null), $built_from)."
    echo "Machine: $(nproc) CPUs ($cpu_model), Linux $(uname -r)," \
        "Qt $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo '?'), SQLite $(sqlite3 --version | cut -d' ' -f1)."
    echo "Disk of the temporary folder:"
    echo
    echo '```'
    df -hT "$data"
    echo '```'
    echo
    cat "$table"
    echo
    echo "$footer"
    echo "<!-- database:end -->"
} >"$block"
readme=$bench_dir/README.md
if [ -f "$readme" ] && grep -q '^<!-- database:begin -->$' "$readme"; then
    awk -v f="$block" '
        /^<!-- database:begin -->$/ { while ((getline line < f) > 0) print line; skip = 1; next }
        /^<!-- database:end -->$/ { skip = 0; next }
        !skip' "$readme" >"$work/readme.new"
else
    {
        [ ! -f "$readme" ] || { cat "$readme"; echo; }
        echo "## Energy database"
        echo
        echo "\`database.sh\` times the energy database on a large generated file."
        echo
        cat "$block"
    } >"$work/readme.new"
fi
cat "$work/readme.new" >"$readme"
