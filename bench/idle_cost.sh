#!/usr/bin/env bash
# Idle cost of the running program: CPU time, wakeups and memory of powerlog left recording
# against the gateway simulator, with its window shown and hidden in the notification area, and
# of powerlogd, the background recorder,
# next to the CPU time the sqlite3 shell needs for the same hour of durable inserts.
#
#   bash bench/idle_cost.sh [BUILD_DIR] [--seconds N] [--runs N] [--warmup N]
#
# Everything runs on this machine: the simulator listens on 127.0.0.1, the windows go to a
# private Xvfb display, and every process and folder the script starts is removed at the end,
# also when it is interrupted. Prints a Markdown table and writes it to bench/README.md.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
command_line="bash bench/idle_cost.sh${*:+ $*}"

build_dir=""
seconds=120
runs=3
warmup=15
refresh=10       # seconds between readings, as [Timer] Agg
baseline_rows=360 # one hour of readings at that refresh

usage() {
    sed -n '6p' "${BASH_SOURCE[0]}" | sed 's/^#   //'
    echo "  --seconds N  sampling window per measurement (default 120)"
    echo "  --runs N     measurements per case, medians reported (default 3)"
    echo "  --warmup N   seconds between the start and the window (default 15)"
}

parse_arguments "seconds runs warmup" "" "$@"
[ "$seconds" -ge $((2 * refresh)) ] || { echo "--seconds must be at least $((2 * refresh))" >&2; exit 2; }

resolve_build_dir
for f in powerlog powerlog-gateway-sim DbEnergy.mdb; do
    [ -e "$build_dir/$f" ] || {
        echo "$build_dir/$f is missing: build the targets powerlog powerlog-gateway-sim" \
            "powerlog-mkdb empty_database first" >&2
        exit 2
    }
done

# --- tools -------------------------------------------------------------------------------------

packages=(xvfb xauth trayer sqlite3 x11-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || install_packages "${missing[@]}"

# --- processes and clean-up --------------------------------------------------------------------

work=$(mktemp -d /tmp/powerlog-bench.XXXXXX)
started=()  # every process this script started, oldest first
sleeper=""

forget_process() {
    local pid=$1 kept=() p
    for p in "${started[@]}"; do [ "$p" = "$pid" ] || kept+=("$p"); done
    started=(${kept[@]+"${kept[@]}"})
}

cleanup() {
    trap - EXIT INT TERM HUP
    [ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null || true
    local i
    for ((i = ${#started[@]} - 1; i >= 0; i--)); do stop_process "${started[i]}"; done
    rm -rf "$work"
}
trap_cleanup cleanup

fail() {
    echo "idle_cost: $*" >&2
    exit 1
}

# --- private display, notification area, simulated gateway -------------------------------------

xauthority=$work/Xauthority
display=""
for n in $(seq 90 189); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    touch "$xauthority"
    xauth -q -f "$xauthority" add ":$n" . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -auth "$xauthority" >"$work/xvfb.log" 2>&1 &
    started+=("$!")
    xvfb_pid=$!
    if wait_until 10 env DISPLAY=":$n" XAUTHORITY="$xauthority" xwininfo -root; then
        display=":$n"
        break
    fi
    stop_process "$xvfb_pid"
    forget_process "$xvfb_pid"
done
[ -n "$display" ] || fail "no X display could be started"
x_env=(DISPLAY="$display" XAUTHORITY="$xauthority")

window_tree() { env "${x_env[@]}" xwininfo -root -tree 2>/dev/null; }

env "${x_env[@]}" trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
    >"$work/trayer.log" 2>&1 &
started+=("$!")
trayer_ready() { window_tree | grep -q '("panel" "trayer")'; }
wait_until 10 trayer_ready || fail "the notification area (trayer) did not start"

# The demo's busy evening, from the same seed every time, so runs see comparable households.
"$build_dir/powerlog-gateway-sim" --port 0 --hour 19 --seed 1 >"$work/sim.out" 2>"$work/sim.err" &
started+=("$!")
wait_until 10 grep -q '^listening on 127.0.0.1:' "$work/sim.out" || fail "the simulator did not start"
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")

# --- sampling ----------------------------------------------------------------------------------

clock_ticks=$(getconf CLK_TCK)

# utime + stime of the whole process, all threads, in clock ticks.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }

# Context switches of every thread now alive, one "tid count" line each.
switches() {
    local t
    for t in /proc/"$1"/task/*; do
        awk -v tid="${t##*/}" '/ctxt_switches/ { n += $2 } END { print tid, n }' "$t/status" 2>/dev/null
    done
}

# Switches since the first snapshot, by thread: threads that started meanwhile count from 0.
switch_delta() {
    awk 'NR == FNR { before[$1] = $2; next } { n += $2 - before[$1] } END { print n + 0 }' "$1" "$2"
}

status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

row_count() {
    sqlite3 -readonly -cmd '.timeout 5000' "$1" 'SELECT count(*) FROM Energy;'
}

seconds_now() { date +%s.%N; }

# Whether the main window is on screen: "shown", "hidden" (unmapped or never created).
window_state() {
    local id
    id=$(window_tree | awk '/"Powerlog  V\./ { print $1; exit }')
    [ -n "$id" ] || { echo hidden; return; }
    env "${x_env[@]}" xwininfo -id "$id" | grep -q 'Map State: IsViewable' && echo shown || echo hidden
}

results=$work/results.tsv # case run cpu_s_per_hour wakeups_per_s rss_kib hwm_kib rows xserver_s_per_hour

# One measurement of the program: $1 case name, $2 Minimized switch, $3 run number.
measure_program() {
    local name=$1 minimized=$2 run=$3 dir=$work/$1-$3
    mkdir -p "$dir/program" "$dir/runtime"
    chmod 700 "$dir/runtime"
    cp "$build_dir/DbEnergy.mdb" "$dir/program/"
    # The start-minimized switch is written where the settings window keeps it ([Option]) and
    # beside the other start switches, so either reading of the store starts hidden.
    cat >"$dir/settings.ini" <<EOF
[Option]
ServerIP=127.0.0.1
ServerPORT=$port
Interface=0
Language=eng
Minimized=$minimized

[Timer]
Agg=$refresh

[Start]
Auto=1
RecAuto=1
Minimized=$minimized
EOF
    if [ "$name" = recorder ]; then
        # The background recorder: no display, no window, no notification area.
        env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY XDG_RUNTIME_DIR="$dir/runtime" \
            "$build_dir/powerlogd" --folder "$dir/program" \
            --settings "$dir/settings.ini" >"$dir/powerlog.log" 2>&1 &
    else
        # No session bus: the icon goes to the X notification area that trayer provides.
        env -u DBUS_SESSION_BUS_ADDRESS "${x_env[@]}" XDG_RUNTIME_DIR="$dir/runtime" \
            QT_QPA_PLATFORM=xcb "$build_dir/powerlog" --folder "$dir/program" \
            --settings "$dir/settings.ini" >"$dir/powerlog.log" 2>&1 &
    fi
    local pid=$!
    started+=("$pid")

    pause "$warmup"
    kill -0 "$pid" 2>/dev/null || fail "$name ended during the warm-up (see its output below)
$(cat "$dir/powerlog.log")"
    if [ "$name" != recorder ]; then
        local want=shown
        [ "$minimized" = 1 ] && want=hidden
        local state
        state=$(window_state)
        [ "$state" = "$want" ] || fail "the window is $state, the $name case needs it $want"
    fi

    local db=$dir/program/DbEnergy.mdb rows0 cpu0 x0 t0 rows1 cpu1 x1 t1
    rows0=$(row_count "$db")
    switches "$pid" >"$dir/switches.0"
    cpu0=$(cpu_ticks "$pid")
    x0=$(cpu_ticks "$xvfb_pid")
    t0=$(seconds_now)
    pause "$seconds"
    t1=$(seconds_now)
    cpu1=$(cpu_ticks "$pid")
    x1=$(cpu_ticks "$xvfb_pid")
    switches "$pid" >"$dir/switches.1"
    local rss hwm
    rss=$(status_kib "$pid" VmRSS)
    hwm=$(status_kib "$pid" VmHWM)
    rows1=$(row_count "$db")
    kill -0 "$pid" 2>/dev/null || fail "powerlog ended during the measurement"

    local wakes
    wakes=$(switch_delta "$dir/switches.0" "$dir/switches.1")
    awk -v c="$name" -v r="$run" -v dt="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
        -v hz="$clock_ticks" -v cpu=$((cpu1 - cpu0)) -v x=$((x1 - x0)) -v w="$wakes" \
        -v rss="$rss" -v hwm="$hwm" -v rows=$((rows1 - rows0)) \
        'BEGIN { printf "%s\t%s\t%.3f\t%.2f\t%s\t%s\t%s\t%.3f\n",
                 c, r, cpu / hz * 3600 / dt, w / dt, rss, hwm, rows, x / hz * 3600 / dt }' \
        >>"$results"

    stop_process "$pid"
    forget_process "$pid"
    rm -rf "$dir"
}

# The sqlite3 shell writing one hour of readings, each in its own synced transaction.
baseline_sql=$work/baseline.sql
{
    echo "PRAGMA journal_mode=WAL;"
    echo "PRAGMA synchronous=FULL;"
    echo "CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT);"
    for ((i = 0; i < baseline_rows; i++)); do
        printf "INSERT INTO Energy VALUES (%d, %.1f, %d, %.1f, '2026-01-15 %02d:%02d:%02d');\n" \
            $((226 + i % 9)) "$(((i * 37) % 120 / 10)).$((i % 10))" $((150 + (i * 53) % 2900)) \
            "$((100000 + i * 8)).$((i % 10))" $((19 + i * refresh / 3600)) \
            $((i * refresh / 60 % 60)) $((i * refresh % 60))
    done
} >"$baseline_sql"

measure_baseline() {
    local run=$1 db=$work/baseline-$1.db cpu
    cpu=$({
        TIMEFORMAT='%3U %3S'
        time sqlite3 "$db" <"$baseline_sql" >/dev/null 2>"$work/baseline.err"
    } 2>&1)
    local rows
    rows=$(row_count "$db")
    [ "$rows" = "$baseline_rows" ] || fail "the baseline wrote $rows rows, not $baseline_rows"
    awk -v r="$run" -v u="${cpu% *}" -v s="${cpu#* }" -v rows="$rows" \
        'BEGIN { printf "baseline\t%s\t%.3f\t\t\t\t%s\t\n", r, u + s, rows }' >>"$results"
    rm -f "$db" "$db-wal" "$db-shm"
}

: >"$results"
echo "idle_cost: $runs run(s), ${warmup} s warm-up + ${seconds} s window per case, display" \
    "$display, simulator on 127.0.0.1:$port" >&2
for ((run = 1; run <= runs; run++)); do
    for c in visible:0 hidden:1 recorder:1; do
        echo "idle_cost: run $run/$runs, ${c%%:*}" >&2
        measure_program "${c%%:*}" "${c#*:}" "$run"
        tail -n 1 "$results" | awk -F'\t' '{ printf "  %.2f CPU-s/h, %.1f wakeups/s, %d rows\n", $3, $4, $7 }' >&2
    done
    measure_baseline "$run"
done

# --- report ------------------------------------------------------------------------------------

# Median of column $2 for case $1.
median() {
    awk -F'\t' -v c="$1" -v k="$2" '$1 == c && $k != "" { print $k }' "$results" | median_of_lines ""
}
range() {
    awk -F'\t' -v c="$1" -v k="$2" '$1 == c { print $k }' "$results" | sort -g |
        awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f–%.2f", lo, hi }'
}

expected_rows=$((seconds / refresh))
base=$(median baseline 3)
table=$work/table.md
{
    echo "| case | CPU-s per hour (range) | wakeups/s | VmRSS MiB | VmHWM MiB | rows per window (expected) | Xvfb CPU-s per hour | × baseline |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|"
    for c in visible hidden recorder; do
        label="window shown"
        [ $c = hidden ] && label="hidden in the notification area"
        [ $c = recorder ] && label="powerlogd, the background recorder"
        awk -v l="$label" -v cpu="$(median $c 3)" -v rg="$(range $c 3)" -v w="$(median $c 4)" \
            -v rss="$(median $c 5)" -v hwm="$(median $c 6)" -v rows="$(median $c 7)" \
            -v expected="$expected_rows" -v x="$(median $c 8)" -v b="$base" \
            'BEGIN { ratio = b > 0 ? cpu / b : 0
                     printf "| %s | %.2f (%s) | %.1f | %.1f | %.1f | %g (%d) | %.2f | %.0f× |\n",
                            l, cpu, rg, w, rss / 1024, hwm / 1024, rows, expected, x, ratio }'
    done
    awk -v cpu="$base" -v rg="$(range baseline 3)" -v n="$baseline_rows" \
        'BEGIN { printf "| baseline: sqlite3 shell, %d synced inserts | %.2f (%s) | | | | %d | | 1× |\n",
                 n, cpu, rg, n }'
} >"$table"

footer="Medians of $runs run(s); each run ${seconds} s after ${warmup} s of warm-up, reading every ${refresh} s."

# The figures go into bench/README.md between its result markers, with how they were made.
machine() {
    echo "Machine: $(machine_description), temporary folders on" \
        "$(df --output=fstype "$work" | tail -n 1 | tr -d ' '),"
    echo "$(qt_and_sqlite_versions)."
}
publish_results results machine

awk -F'\t' -v min=$((expected_rows / 2)) '$1 != "baseline" && $7 < min { bad = 1 } END { exit bad }' \
    "$results" || fail "a run recorded fewer than $((expected_rows / 2)) rows: its figures are not an idle cost"
