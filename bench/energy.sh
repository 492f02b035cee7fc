#!/usr/bin/env bash
# Energy by the hour on ten years of readings: `powerlog-cli energy daily|monthly|yearly` timed as
# whole processes (start, read of EnergyHour, CSV out), next to the sqlite3 shell computing the
# same period's kWh straight from Energy with one literal query (consecutive readings at most
# 300 s apart, clipped to the period). Both totals must agree within 0.0015 kWh.
#
#   bash bench/energy.sh [BUILD_DIR] [--rows N] [--runs R] [--keep DIR]
#
# Builds nothing: BUILD_DIR (default build-bench) must hold powerlog-cli. The generated database
# and its copy after the first open (which builds the summaries and the hour table) go to a
# temporary folder removed at the end; with --keep DIR they stay in DIR and a later run with the
# same DIR and --rows reuses them. Prints a Markdown table and writes it to bench/README.md under
# "Energy".
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
command_line="bash bench/energy.sh${*:+ $*}"

start_data_benchmark energy -- "$@"
cli=$build_dir/powerlog-cli
[ -x "$cli" ] || { echo "$cli is missing; build it with cmake --build $build_dir --target powerlog-cli" >&2; exit 2; }

# --- the prepared file: summaries and hour table built by the first open -------------------------

if [ ! -f "$prepared" ]; then
    echo "Preparing $prepared (first open: summaries and hour table)" >&2
    mkdir -p "$work/prepare"
    cp "$generated" "$work/prepare/DbEnergy.mdb"
    prepare_started=$(date +%s)
    run_interruptible "$cli" --folder "$work/prepare" check >/dev/null
    preparation="built in $(elapsed "$prepare_started") s"
    mv "$work/prepare/DbEnergy.mdb" "$prepared"
    rm -rf "$work/prepare"
else
    preparation="reused"
fi
mkdir -p "$work/folder"
ln -sf "$prepared" "$work/folder/DbEnergy.mdb"
settings=$work/settings.ini
printf '[Tariff]\nPriceF1=0.30\nPriceF2=0.25\nPriceF3=0.20\n' >"$settings"

last_data=$(sqlite3 "$prepared" "SELECT max(Data) FROM Energy")
last_day=${last_data:0:10}
# A day, a month and a year well inside the recorded period.
middle_day=$(sqlite3 "$prepared" "SELECT date(min(Data), '+' || CAST((julianday(max(Data)) - julianday(min(Data))) / 2 AS INTEGER) || ' days') FROM Energy")

now_ms() { date +%s%3N; }

# Median wall time in ms of R runs of a command; its output of the last run in $work/out.txt.
time_runs() {
    local each times=()
    for ((each = 0; each < runs; each++)); do
        local begin end
        begin=$(now_ms)
        "$@" >"$work/out.txt"
        end=$(now_ms)
        times+=($((end - begin)))
    done
    printf '%s\n' "${times[@]}" | median_of_lines
}

# The literal query: the period's kWh from Energy alone. $1, $2: the period's first day and the
# first day after it.
literal_query() {
    cat <<SQL
SELECT printf('%.6f', coalesce(sum(w0 * (min(t1, hi) - max(t0, lo))), 0) / 3600000.0) FROM (
  SELECT CAST(strftime('%s', Data) AS INTEGER) AS t0, W AS w0,
         lead(CAST(strftime('%s', Data) AS INTEGER)) OVER (ORDER BY Data, rowid) AS t1,
         CAST(strftime('%s', '$1') AS INTEGER) AS lo, CAST(strftime('%s', '$2') AS INTEGER) AS hi
  FROM Energy
  WHERE W IS NOT NULL AND Data >= datetime('$1', '-300 seconds') AND Data < '$2'
) WHERE t1 - t0 BETWEEN 1 AND 300 AND min(t1, hi) > max(t0, lo);
SQL
}

results=$work/results.txt
: >"$results"
measure() {
    local period=$1 day=$2 from=$3 to=$4
    echo "energy $period $day: $runs run(s)" >&2
    local ours base ours_kwh base_kwh
    ours=$(time_runs "$cli" --folder "$work/folder" --settings "$settings" energy "$period" "$day")
    ours_kwh=$(awk -F, '$1 == "total" { print $2 }' "$work/out.txt")
    base=$(time_runs sqlite3 -readonly "$prepared" "$(literal_query "$from" "$to")")
    base_kwh=$(cat "$work/out.txt")
    awk -v a="$ours_kwh" -v b="$base_kwh" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= 0.0015) }' || {
        echo "energy $period $day: ours $ours_kwh kWh, the literal query $base_kwh kWh" >&2
        exit 1
    }
    echo "$period $ours $base $ours_kwh" >>"$results"
}

year=${middle_day:0:4}
month=${middle_day:0:7}
next_month=$(date -d "$month-01 +1 month" +%Y-%m-%d)
measure daily "$middle_day" "$middle_day" "$(date -d "$middle_day +1 day" +%Y-%m-%d)"
measure monthly "$middle_day" "$month-01" "$next_month"
measure yearly "$middle_day" "$year-01-01" "$((year + 1))-01-01"
total=$(elapsed "$started")

row() {
    awk -v l="$1" -v o="$2" -v b="$3" -v k="$4" '
        BEGIN {
            printf "| %s | %d | %d | %.0f× | %s | ≤ 300 ms | %s |\n", l, o, b, (o > 0 ? b / o : 0), k,
                o <= 300 ? "yes" : "**no**"
        }'
}
table=$work/table.md
{
    echo "| \`powerlog-cli energy\` | Powerlog ms (whole process) | literal query in the sqlite3 shell, ms | × faster | kWh (both) | goal | met |"
    echo "|---|---:|---:|---:|---:|---|---|"
    while read -r period ours base kwh; do
        row "$period $middle_day" "$ours" "$base" "$kwh"
    done <"$results"
} >"$table"

footer=$(fold -s -w 100 <<<"Medians of $runs run(s) each. Powerlog: the whole \`powerlog-cli\` \
process reading \`EnergyHour\` and printing the CSV with costs. Baseline: the sqlite3 shell, \
read-only, summing the same period's energy from \`Energy\` with one window-function query; both \
totals agreed within 0.0015 kWh. $(whole "$(sqlite3 "$prepared" "SELECT count(*) FROM Energy")") \
readings up to $last_day (generated file $(du -h "$generated" | cut -f1), $generation; \
prepared file $(du -h "$prepared" | cut -f1), $preparation). Whole run: $total s." | sed 's/ *$//')

machine() { echo "Machine: $(machine_description), $(qt_and_sqlite_versions)."; }
publish_results energy machine Energy \
    "\`energy.sh\` times \`powerlog-cli energy\` on a large generated file."
