#!/usr/bin/env bash
# Kills the program and the command-line tool with SIGKILL at random moments and checks what
# they leave on disk.
#
#   bash scripts/crash_consistency.sh [KILLS [OTHER_KILLS]] [--build DIR] [--work DIR]
#
# KILLS (default 100) recording kills, OTHER_KILLS (default 30) kills of each other kind:
#
# recording   One database for every round, so it grows and each start recovers what the
#             last kill left. Each round a fresh simulator pushes a reading every 20 ms on the
#             ST interface; the program is killed 0.3 to 3 s after its first new row. Then
#             powerlog-cli check must be content (integrity, and the half-hour and day
#             summaries equal to a recomputation from Energy), and the rows added must be the
#             readings the simulator wrote out whole, less at most the readings in flight
#             (see max_in_flight below), never more.
# compaction  A database of 300,000 rows with its summaries; powerlog-cli compact is killed at a
#             random moment of a compaction. DbEnergy.mdb must be there, intact, with the same
#             rows and summaries, and the next compaction must complete.
# rebuild     A file of 1,500,000 rows without the summary tables (bench/gen_energy.sh); the
#             program is started on it and killed at a random moment of the summaries' build,
#             several times in a row on the same file. DbEnergy.mdb must be there and intact
#             after every kill; after each series the next start must complete the summaries
#             and powerlog-cli check must be content.
#
# A failure prints the round and the moment of the kill and keeps the database of that round
# under the work folder's failures/ (the work folder then stays). Prints a summary; exit 0
# when every round passed, 1 otherwise, 2 on a wrong command line.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${POWERLOG_BUILD_DIR:-$root/build}
kills=100
other_kills=30
work_parent=${TMPDIR:-/tmp}
counts=()
while [ $# -gt 0 ]; do
    case $1 in
    --build | --work)
        [ $# -ge 2 ] || { echo "$1 needs a folder" >&2; exit 2; }
        [ "$1" = --build ] && build_dir=$2 || work_parent=$2
        shift 2
        ;;
    -h | --help) sed -n '5p' "$0" | sed 's/^#   //'; exit 0 ;;
    *)
        [[ $1 =~ ^[1-9][0-9]*$ ]] || { echo "counts must be whole numbers above 0" >&2; exit 2; }
        counts+=("$1")
        shift
        ;;
    esac
done
[ ${#counts[@]} -le 2 ] || { echo "two counts at most" >&2; exit 2; }
[ ${#counts[@]} -lt 1 ] || kills=${counts[0]}
[ ${#counts[@]} -lt 2 ] || other_kills=${counts[1]}
build_dir=$(cd "$build_dir" && pwd)
require_built_programs "$build_dir"
command -v sqlite3 >/dev/null || { echo "the sqlite3 shell is missing (apt-get install sqlite3)" >&2; exit 2; }

push_ms=20
# Readings that may be missing after a kill: the one being written (an insert returns once its
# commit is synced), those queued behind it for the writer's thread, those read from the
# socket but not yet handed to the writer, and those the simulator wrote into the socket after
# the program was gone but before it saw the connection end. The queue holds what arrives
# while one commit is being synced, so the bound is the readings of 500 ms (a synced commit on
# a loaded disk stays well below that) and one more.
max_in_flight=$((500 / push_ms + 1))
compaction_rows=300000
rebuild_rows=1500000
kills_per_series=5 # rebuild kills on the same file before a start is let complete

work=$(mktemp -d "$work_parent/powerlog-crash.XXXXXX")
failures=$work/failures
started=()
keep_work=""

cleanup() {
    trap - EXIT INT TERM HUP
    local pid
    for pid in "${started[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ -z "$keep_work" ]; then
        rm -rf "$work"
    else
        echo "crash: the work folder stays: $work" >&2
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

say() { echo "crash: $*" >&2; }

forget() {
    local kept=() p
    for p in "${started[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
    started=(${kept[@]+"${kept[@]}"})
}

# Seconds as a decimal, uniform in [$1, $2).
random_between() { awk -v lo="$1" -v hi="$2" -v s="$RANDOM$RANDOM" 'BEGIN { srand(s); printf "%.3f", lo + rand() * (hi - lo) }'; }

now_s() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now_s)" 'BEGIN { printf "%.3f", b - a }'; }

sql() { sqlite3 -cmd '.timeout 10000' "$@"; }
row_count() { sql "$1" 'SELECT count(*) FROM Energy;'; }
integrity() { sql "$1" 'PRAGMA integrity_check;' 2>&1 | paste -sd ' '; }
has_trigger() {
    [ "$(sql "$1" "SELECT count(*) FROM sqlite_master WHERE name = 'EnergySummariesOnInsert';")" = 1 ]
}

failed_rounds=0
# Keeps the folder $2 as failures/$1 and counts the failure; $3 says what went wrong.
round_failed() {
    mkdir -p "$failures"
    cp -a "$2" "$failures/$1"
    failed_rounds=$((failed_rounds + 1))
    keep_work=1
    say "FAILED $1: $3 (kept in $failures/$1)"
}

# The program on folder $1, headless, with settings $2, its own runtime and configuration
# folders; sets program_pid. Nothing may leave this machine: any web request goes to a dead
# port on loopback.
start_program() {
    local folder=$1 settings=$2 runtime
    runtime=$(dirname "$settings")/runtime
    mkdir -p "$runtime" "$(dirname "$settings")/config"
    chmod 700 "$runtime"
    env -u POWERLOG_HOME -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$(dirname "$settings")/config" \
        XDG_RUNTIME_DIR="$runtime" POWERLOG_UPDATE_URL= http_proxy=http://127.0.0.1:9 \
        https_proxy=http://127.0.0.1:9 HTTP_PROXY=http://127.0.0.1:9 \
        HTTPS_PROXY=http://127.0.0.1:9 no_proxy=127.0.0.1,::1 NO_PROXY=127.0.0.1,::1 \
        "$build_dir/powerlog" --folder "$folder" --settings "$settings" \
        >>"$(dirname "$settings")/powerlog.log" 2>&1 &
    program_pid=$!
    started+=("$program_pid")
}

kill_now() {
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
    forget "$1"
}

end_in_order() {
    kill -TERM "$1" 2>/dev/null || true
    for _ in $(seq 600); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill_now "$1"
}

# --- recording ---------------------------------------------------------------------------------

recording() {
    local dir=$work/recording folder=$work/recording/program
    mkdir -p "$folder"
    cp "$build_dir/DbEnergy.mdb" "$folder/"
    chmod 600 "$folder/DbEnergy.mdb"
    local db=$folder/DbEnergy.mdb begin
    begin=$(now_s)
    rec_max_missing=0
    rec_total_missing=0
    rec_total_sent=0
    rec_intact=0
    local round
    for ((round = 1; round <= kills; round++)); do
        local before sent after added missing delay out sim check_out
        before=$(row_count "$db")
        out=$dir/sim.out
        "$build_dir/powerlog-gateway-sim" --port 0 --seed "$round" --st-push \
            --st-push-interval "$push_ms" --stats "$dir/sim.stats" >"$out" 2>"$dir/sim.err" &
        sim=$!
        started+=("$sim")
        wait_until 10 grep -q '^listening on' "$out" || { say "the simulator did not start"; exit 1; }
        printf '[Option]\nServerIP=127.0.0.1\nServerPORT=%s\nInterface=1\nLanguage=eng\n[Start]\nRecAuto=1\n' \
            "$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$out")" >"$dir/settings.ini"
        start_program "$folder" "$dir/settings.ini"
        new_row() { [ "$(row_count "$db")" -gt "$before" ]; }
        if ! wait_until 30 new_row; then
            kill_now "$program_pid"
            kill_now "$sim"
            round_failed "recording-$round" "$folder" "nothing recorded within 30 s"
            continue
        fi
        delay=$(random_between 0.3 3)
        sleep "$delay"
        kill_now "$program_pid"
        kill -TERM "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
        forget "$sim"
        sent=$(sed -n 's/^readings_sent=//p' "$dir/sim.stats")
        rec_total_sent=$((rec_total_sent + sent))

        local problem=""
        if [ ! -f "$db" ]; then
            problem="DbEnergy.mdb is missing"
        elif ! check_out=$("$build_dir/powerlog-cli" --folder "$folder" check 2>&1); then
            problem="powerlog-cli check: $(echo "$check_out" | paste -sd ' ')"
        else
            after=$(row_count "$db")
            added=$((after - before))
            missing=$((sent - added))
            [ "$missing" -le "$rec_max_missing" ] || rec_max_missing=$missing
            rec_total_missing=$((rec_total_missing + missing))
            if [ "$missing" -lt 0 ]; then
                problem="$added rows added, only $sent readings sent"
            elif [ "$missing" -gt "$max_in_flight" ]; then
                problem="$missing of $sent readings missing (at most $max_in_flight in flight)"
            fi
        fi
        if [ -n "$problem" ]; then
            round_failed "recording-$round" "$folder" "killed ${delay} s after the first row: $problem"
            # The next round goes on with a fresh file.
            rm -f "$db" "$db-wal" "$db-shm"
            cp "$build_dir/DbEnergy.mdb" "$folder/"
            chmod 600 "$db"
        else
            rec_intact=$((rec_intact + 1))
        fi
        [ $((round % 10)) -ne 0 ] ||
            say "recording: $round/$kills kills, $(row_count "$db") rows, most missing $rec_max_missing"
    done
    rec_rows=$(row_count "$db")
    rec_seconds=$(since "$begin")
}

# --- a database with its summaries, made once ----------------------------------------------------

# Generates $1 rows into $2 (a file without summaries) unless it is there.
generate() {
    [ -f "$2" ] || bash "$root/bench/gen_energy.sh" --rows "$1" "$2" >/dev/null
}

# --- compaction --------------------------------------------------------------------------------

compaction() {
    local dir=$work/compaction folder=$work/compaction/program
    mkdir -p "$folder"
    generate "$compaction_rows" "$work/energy-$compaction_rows.mdb"
    cp "$work/energy-$compaction_rows.mdb" "$folder/DbEnergy.mdb"
    local db=$folder/DbEnergy.mdb
    # The summaries are built as at the program's start.
    "$build_dir/powerlog-cli" --folder "$folder" check >/dev/null 2>&1 ||
        { say "the compaction database could not be prepared"; exit 1; }
    local rows t0 full begin
    rows=$(row_count "$db")
    t0=$(now_s)
    "$build_dir/powerlog-cli" --folder "$folder" compact >/dev/null 2>&1 ||
        { say "a first compaction failed"; exit 1; }
    full=$(since "$t0")
    say "compaction: $rows rows, a whole compaction takes $full s"
    begin=$(now_s)
    comp_intact=0
    local round
    for ((round = 1; round <= other_kills; round++)); do
        local delay pid problem="" check_out
        delay=$(random_between 0 "$full")
        "$build_dir/powerlog-cli" --folder "$folder" compact >/dev/null 2>&1 &
        pid=$!
        started+=("$pid")
        sleep "$delay"
        kill_now "$pid"
        if [ ! -f "$db" ]; then
            problem="DbEnergy.mdb is missing (there: $(find "$folder" -mindepth 1 -printf '%f '))"
        elif [ "$(integrity "$db")" != ok ]; then
            problem="integrity: $(integrity "$db")"
        elif [ "$(row_count "$db")" != "$rows" ]; then
            problem="$(row_count "$db") rows instead of $rows"
        elif ! check_out=$("$build_dir/powerlog-cli" --folder "$folder" check 2>&1); then
            problem="powerlog-cli check: $(echo "$check_out" | paste -sd ' ')"
        elif ! check_out=$("$build_dir/powerlog-cli" --folder "$folder" compact 2>&1); then
            problem="the next compaction failed: $(echo "$check_out" | paste -sd ' ')"
        elif [ "$(row_count "$db")" != "$rows" ] || [ "$(integrity "$db")" != ok ]; then
            problem="after the next compaction: $(row_count "$db") rows, integrity $(integrity "$db")"
        fi
        if [ -n "$problem" ]; then
            round_failed "compaction-$round" "$folder" "killed after ${delay} s: $problem"
            rm -rf "$folder"
            mkdir -p "$folder"
            cp "$work/energy-$compaction_rows.mdb" "$db"
            "$build_dir/powerlog-cli" --folder "$folder" check >/dev/null 2>&1 || true
        else
            comp_intact=$((comp_intact + 1))
        fi
        [ $((round % 10)) -ne 0 ] || say "compaction: $round/$other_kills kills"
    done
    comp_rows=$rows
    comp_seconds=$(since "$begin")
}

# --- rebuild of the summaries ------------------------------------------------------------------

rebuild() {
    local dir=$work/rebuild folder=$work/rebuild/program
    mkdir -p "$folder"
    generate "$rebuild_rows" "$work/energy-$rebuild_rows.mdb"
    printf '[Option]\nServerIP=127.0.0.1\nServerPORT=9\nLanguage=eng\n' >"$dir/settings.ini"
    local db=$folder/DbEnergy.mdb t0 full begin
    # One whole build, for the length of the kills' window.
    cp "$work/energy-$rebuild_rows.mdb" "$db"
    t0=$(now_s)
    start_program "$folder" "$dir/settings.ini"
    wait_until 600 has_trigger "$db" || { say "the summaries were never built"; exit 1; }
    full=$(since "$t0")
    end_in_order "$program_pid"
    say "rebuild: $rebuild_rows rows, a start that builds the summaries takes $full s"
    begin=$(now_s)
    rebuild_intact=0
    rebuild_completed=0
    local round=0 series=0
    while [ "$round" -lt "$other_kills" ]; do
        series=$((series + 1))
        cp "$work/energy-$rebuild_rows.mdb" "$db"
        rm -f "$db-journal" "$db-wal" "$db-shm"
        local in_series=0 series_ok=1
        while [ "$in_series" -lt "$kills_per_series" ] && [ "$round" -lt "$other_kills" ]; do
            round=$((round + 1))
            in_series=$((in_series + 1))
            local delay problem=""
            delay=$(random_between 0.2 "$full")
            start_program "$folder" "$dir/settings.ini"
            sleep "$delay"
            kill_now "$program_pid"
            if [ ! -f "$db" ]; then
                problem="DbEnergy.mdb is missing"
            elif [ "$(integrity "$db")" != ok ]; then
                problem="integrity: $(integrity "$db")"
            elif [ "$(row_count "$db")" != "$rebuild_rows" ]; then
                problem="$(row_count "$db") rows instead of $rebuild_rows"
            fi
            if [ -n "$problem" ]; then
                round_failed "rebuild-$round" "$folder" "killed ${delay} s after the start: $problem"
                series_ok=0
                break
            fi
            rebuild_intact=$((rebuild_intact + 1))
        done
        [ "$series_ok" = 1 ] || continue
        # The next start completes the summaries.
        local check_out
        start_program "$folder" "$dir/settings.ini"
        if ! wait_until 600 has_trigger "$db"; then
            round_failed "rebuild-series-$series" "$folder" "the start after the kills never completed the summaries"
            kill_now "$program_pid"
            continue
        fi
        end_in_order "$program_pid"
        if ! check_out=$("$build_dir/powerlog-cli" --folder "$folder" check 2>&1); then
            round_failed "rebuild-series-$series" "$folder" "powerlog-cli check: $(echo "$check_out" | paste -sd ' ')"
            continue
        fi
        rebuild_completed=$((rebuild_completed + 1))
        say "rebuild: $round/$other_kills kills, series $series completed"
    done
    rebuild_series=$series
    rebuild_seconds=$(since "$begin")
}

say "$kills recording kills, $other_kills compaction kills, $other_kills rebuild kills; work folder $work"
recording
compaction
rebuild

echo "crash: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "recording: $rec_intact of $kills kills left an intact database with its summaries; $rec_rows rows; most readings missing after a kill $rec_max_missing (bound $max_in_flight: $push_ms ms pushes), $rec_total_missing in all of $rec_total_sent sent; $rec_seconds s"
echo "compaction: $comp_intact of $other_kills kills of powerlog-cli compact left DbEnergy.mdb intact with its $comp_rows rows, and the next compaction completed; $comp_seconds s"
echo "rebuild: $rebuild_intact of $other_kills kills during the summaries' build of $rebuild_rows rows left DbEnergy.mdb intact; $rebuild_completed of $rebuild_series following starts completed the summaries with powerlog-cli check content; $rebuild_seconds s"
if [ "$failed_rounds" -gt 0 ]; then
    echo "FAILED: $failed_rounds round(s); see $failures"
    exit 1
fi
echo "crash: passed"
