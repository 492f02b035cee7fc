#!/usr/bin/env bash
# The long database jobs on ten years of readings: the window thread's longest stall while the
# writer builds the index, the summaries and the hour table, builds the hour table alone and
# compacts, each next to the same timer beside a thread that only spins; and the time the
# program's end takes when it comes in the middle of the index, the hour table or the copy.
#
#   bash bench/longjobs.sh [BUILD_DIR] [--rows N] [--runs R] [--keep DIR]
#
# Builds nothing: BUILD_DIR (default build-bench), configured with -DPOWERLOG_BUILD_BENCH=ON, must
# hold bench/bench_long_jobs. The generated database goes to a temporary folder that is removed at
# the end, also when the script is interrupted; with --keep DIR it goes to DIR and stays, and a
# later run with the same DIR and --rows reuses it. Prints a Markdown table and writes it to
# bench/README.md under "Long database jobs".
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
command_line="bash bench/longjobs.sh${*:+ $*}"

start_data_benchmark longjobs bench_long_jobs -- "$@"

# --- runs --------------------------------------------------------------------------------------

results=$work/results
mkdir -p "$results"
for ((i = 1; i <= runs; i++)); do
    echo "Run $i of $runs" >&2
    run_interruptible "$build_dir/bench/bench_long_jobs" --source "$generated" \
        --prepared "$prepared" --work "$work" >"$results/jobs-$i.txt"
done
total=$(elapsed "$started")

# The median over the runs of one figure.
m() {
    cat "$results"/jobs-*.txt | sed -n "s/^$1=//p" | median_of_lines nan
}

# One line of the table: measure, value, number format, and the note in the third column.
row() {
    awk -v l="$1" -v v="$2" -v fmt="$3" -v n="${4:-}" 'BEGIN { printf "| %s | " fmt " | %s |\n", l, v, n }'
}

# The note of a longest gap: how much of it the thread waited for a CPU and how much the kernel
# counted it as running (the rest it slept), and how often a gap passed 5 ms. $1: the figures'
# prefix.
gap_note() {
    echo "$(one "$(m "$1_gap_ready_ms")") ms of it waiting for a CPU, $(one "$(m "$1_gap_running_ms")") ms counted as running; $(one "$(m "$1_gaps_per_min")") gaps above 5 ms a minute"
}

table=$work/table.md
{
    echo "| measure | value | note |"
    echo "|---|---:|---|"
    row "1 ms timer, nothing else running: longest gap, ms" "$(m idle_gap_ms)" "%.1f"
    row "1 ms timer beside a spinning thread: longest gap, ms" "$(m busy_gap_ms)" "%.1f" \
        "$(one "$(m busy_gap_ready_ms)") ms of it waiting for a CPU; $(one "$(m busy_gaps_per_min)") gaps above 5 ms a minute"
    row "first open of a file with only \`Energy\` (index, summaries, hours), s" "$(m build_s)" "%.1f"
    row "longest window-thread gap during it, ms" "$(m build_gap_ms)" "%.1f" "$(gap_note build)"
    row "hour table alone, s" "$(m hours_s)" "%.1f"
    row "longest window-thread gap during it, ms" "$(m hours_gap_ms)" "%.1f" "$(gap_note hours)"
    row "\`compact()\` of the whole file, s" "$(m compact_s)" "%.1f"
    row "longest window-thread gap during it, ms" "$(m compact_gap_ms)" "%.1f" "$(gap_note compact)"
    row "close during the index's creation, ms" "$(m close_index_ms)" "%.1f"
    row "close during the hour table's build, ms" "$(m close_hours_ms)" "%.1f"
    row "close during the compaction's copy, ms" "$(m close_compact_ms)" "%.1f"
} >"$table"

footer="Medians of $runs run(s) on $(whole "$(m rows)") readings ($generation). Every case works on a
fresh copy. A window-thread gap is the time between two ticks of a 1 ms timer on the thread that
drives the writer, as the window's thread would; the jobs run on a thread of their own at
SCHED_IDLE. Its baselines run the same timer for 5 s alone and beside one other thread of the
process that only spins. A close is the destruction of the writer, as the program's end does it,
once the job is under way: the job stops within its statement and the file stays whole. Whole
run: $total s."

# --- bench/README.md ---------------------------------------------------------------------------

machine() {
    echo "Machine: $(machine_description), $(qt_and_sqlite_versions)."
}
publish_results longjobs machine "Long database jobs" \
    "\`longjobs.sh\` times the window thread's stalls during the long database jobs and closing the program in their middle."
