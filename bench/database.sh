#!/usr/bin/env bash
# The energy database on ten years of readings: the first open of a file that has only its
# Energy table, recording into it, and compacting it, each next to a baseline measured in the
# same run (the sqlite3 shell or a bare loop of prepared inserts).
#
#   bash bench/database.sh [BUILD_DIR] [--rows N] [--runs R] [--keep DIR]
#
# Builds nothing: BUILD_DIR (default build-bench), configured with -DPOWERLOG_BUILD_BENCH=ON, must
# hold bench/bench_database_open and bench/bench_database_insert. The generated database goes to a
# temporary folder that is removed at the end, also when the script is interrupted; with --keep DIR
# it goes to DIR and stays, and a later run with the same DIR and --rows reuses it. Prints a
# Markdown table and writes it to bench/README.md under "Energy database".
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
command_line="bash bench/database.sh${*:+ $*}"

start_data_benchmark database bench_database_open bench_database_insert -- "$@"

# --- runs --------------------------------------------------------------------------------------

results=$work/results
mkdir -p "$results"
for ((i = 1; i <= runs; i++)); do
    echo "Run $i of $runs: first open" >&2
    run_interruptible "$build_dir/bench/bench_database_open" --source "$generated" \
        --work "$work" >"$results/open-$i.txt"
    echo "Run $i of $runs: inserts and compaction" >&2
    run_interruptible "$build_dir/bench/bench_database_insert" --source "$generated" \
        --prepared "$prepared" --work "$work" >"$results/insert-$i.txt"
done
total=$(elapsed "$started")

# The median over the runs of one figure of one program.
median() {
    cat "$results/$1"-*.txt | sed -n "s/^$2=//p" | median_of_lines nan
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
footer="Medians of $runs run(s) on $(whole "$(open_m rows)") readings ($sizes; $generation).
Every case works on a fresh copy; the insert cases use the file after its first open. Whole run:
$total s. A window-thread gap is the time between two ticks of a 1 ms timer on the thread that
drives the writer, as the window's thread would; its baseline runs the same timer for 5 s beside
one other thread of the process that only spins. Of each longest gap, the thread was ready to
run but had no CPU for $(one "$(open_m writer_open_gap_ready_ms)") ms (open), $(one "$(insert_m insert_gap_ready_ms)") ms (inserts), $(one "$(insert_m compact_gap_ready_ms)") ms (compaction) and
$(one "$(open_m busy_gap_ready_ms)") ms (beside the spinning thread), as the kernel's schedstat counts it. With nothing
else running in the process the timer's longest gap in 5 s was $(one "$(open_m idle_gap_ms)") ms."

# --- bench/README.md ---------------------------------------------------------------------------

machine() {
    echo "Machine: $(machine_description), $(qt_and_sqlite_versions)."
    echo "Disk of the temporary folder:"
    echo
    echo '```'
    df -hT "$data"
    echo '```'
}
publish_results database machine "Energy database" \
    "\`database.sh\` times the energy database on a large generated file."
