#!/usr/bin/env bash
# A long run of the program against gateway simulators whose faults change while it records:
# no faults, silence, a NACK storm, frames cut by a close, junk between frames, split frames and
# no greeting, one minute each, over and over, with event sessions recycled throughout.
#
#   bash scripts/soak.sh [MINUTES] [--build DIR]     (default: 60 minutes, build/)
#
# Two programs run side by side, headless, each with its own folder, settings file and
# simulator on 127.0.0.1:
#   st    the ST interface, a reading pushed every 250 ms on its event session
#   auto  automatic mode, a reading asked for every 10 s, with the monitor session open
# Every 5 s the resident memory and the open descriptors of both are sampled. At the end each
# simulator is stopped first (its last figures written), then each program with SIGTERM, whose
# ordered shutdown writes every queued reading. It passes when, for both programs:
#   - the resident memory grew by less than 1 MiB from the end of the warm-up (5 minutes, or a
#     third of a shorter run) to the end,
#   - the open descriptors at the end are no more than the warm-up saw, and never rose above
#     that by more than 2 (a connection being replaced),
#   - the rows of Energy equal the readings the simulator wrote out whole,
#   - powerlog-cli check is content (integrity, summaries equal to a recomputation).
# Prints a summary; exit 0 when all is well, 1 on a failure, 2 on a wrong command line.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${POWERLOG_BUILD_DIR:-$root/build}
minutes=60
while [ $# -gt 0 ]; do
    case $1 in
    --build)
        [ $# -ge 2 ] || { echo "--build needs a folder" >&2; exit 2; }
        build_dir=$2
        shift 2
        ;;
    -h | --help) sed -n '6p' "$0" | sed 's/^#   //'; exit 0 ;;
    *)
        [[ $1 =~ ^[1-9][0-9]*$ ]] || { echo "MINUTES must be a whole number above 0" >&2; exit 2; }
        minutes=$1
        shift
        ;;
    esac
done
build_dir=$(cd "$build_dir" && pwd)
require_built_programs "$build_dir"
command -v sqlite3 >/dev/null || { echo "the sqlite3 shell is missing (apt-get install sqlite3)" >&2; exit 2; }

duration=$((minutes * 60))
warmup=$((duration >= 900 ? 300 : duration / 3))
sample_every=5
phase_seconds=60
recycle_seconds=45
rss_limit_kib=1024
fd_slack=2

work=$(mktemp -d "${TMPDIR:-/tmp}/powerlog-soak.XXXXXX")
started=() # every process this script started
sleeper=""

cleanup() {
    trap - EXIT INT TERM HUP
    [ -z "$sleeper" ] || kill "$sleeper" 2>/dev/null || true
    local pid
    for pid in "${started[@]}"; do stop_process "$pid" TERM 50; done
    [ -n "${keep_work:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

say() { echo "soak: $*" >&2; }

# --- the two runs ------------------------------------------------------------------------------

declare -A sim_pid program_pid

# $1 name, $2 seed, then the simulator's extra flags.
start_simulator() {
    local name=$1 seed=$2 dir=$work/$1
    shift 2
    mkdir -p "$dir"
    "$build_dir/powerlog-gateway-sim" --port 0 --seed "$seed" --hour 19 \
        --fault-cycle "$phase_seconds" --recycle-events "$recycle_seconds" \
        --stats "$dir/sim.stats" "$@" >"$dir/sim.out" 2>"$dir/sim.err" &
    sim_pid[$name]=$!
    started+=("$!")
    wait_until 10 grep -q '^listening on 127.0.0.1:' "$dir/sim.out" ||
        { say "the $name simulator did not start"; exit 1; }
}

# $1 name, then the settings' extra lines.
start_program() {
    local name=$1 dir=$work/$1 port
    shift
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/sim.out")
    mkdir -p "$dir/program" "$dir/config" "$dir/runtime"
    chmod 700 "$dir/runtime"
    cp "$build_dir/DbEnergy.mdb" "$dir/program/"
    chmod 600 "$dir/program/DbEnergy.mdb"
    printf '[Option]\nServerIP=127.0.0.1\nServerPORT=%s\nLanguage=eng\n%s\n' "$port" \
        "$(printf '%s\n' "$@")" >"$dir/settings.ini"
    # Nothing may leave this machine: any web request goes to a dead port on loopback.
    env -u POWERLOG_HOME -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime" \
        POWERLOG_UPDATE_URL= http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 \
        HTTP_PROXY=http://127.0.0.1:9 HTTPS_PROXY=http://127.0.0.1:9 no_proxy=127.0.0.1,::1 \
        NO_PROXY=127.0.0.1,::1 \
        "$build_dir/powerlog" --folder "$dir/program" --settings "$dir/settings.ini" \
        >"$dir/powerlog.log" 2>&1 &
    program_pid[$name]=$!
    started+=("$!")
}

runs=(st auto)
start_simulator st 7 --st-push --st-push-interval 250
start_simulator auto 11
start_program st "Interface=1" "[Start]" "RecAuto=1"
# Lost=0: unanswered requests never end automatic mode, so polling goes on through the faults.
start_program auto "Interface=0" "[Timer]" "Agg=10" "[Frame]" "Lost=0" "[Start]" "Auto=1" "RecAuto=1"

say "$minutes min, warm-up $warmup s, work folder $work"
for name in "${runs[@]}"; do
    say "$name: simulator pid ${sim_pid[$name]}, program pid ${program_pid[$name]}"
done

# --- sampling ----------------------------------------------------------------------------------

samples=$work/samples.tsv # seconds name rss_kib fds
: >"$samples"
begin=$(date +%s)
failed=()
while :; do
    now=$(($(date +%s) - begin))
    for name in "${runs[@]}"; do
        pid=${program_pid[$name]}
        if ! kill -0 "$pid" 2>/dev/null; then
            say "the $name program ended by itself after $now s"
            failed+=("$name: ended by itself after $now s")
            break 2
        fi
        rss=$(awk '$1 == "VmRSS:" { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
        fds=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
        printf '%s\t%s\t%s\t%s\n' "$now" "$name" "$rss" "$fds" >>"$samples"
    done
    [ "$now" -lt "$duration" ] || break
    if [ $((now % 300)) -lt "$sample_every" ]; then
        say "$now s: $(awk -F'\t' -v t="$now" '$1 == t { printf "%s rss %d KiB fds %d; ", $2, $3, $4 }' "$samples")"
    fi
    pause "$sample_every"
done

# --- ordered end -------------------------------------------------------------------------------

for name in "${runs[@]}"; do
    stop_process "${sim_pid[$name]}" TERM 100
done
pause 3 # what the simulators wrote is read and queued
for name in "${runs[@]}"; do
    stop_process "${program_pid[$name]}" TERM 600
done
started=()

# --- verdict -----------------------------------------------------------------------------------

stat_value() { sed -n "s/^$2=//p" "$1"; }

summary=$work/summary.txt
: >"$summary"
for name in "${runs[@]}"; do
    dir=$work/$name
    read -r rss_warm fds_warm fds_warm_max rss_end fds_end fds_max rss_max < <(
        awk -F'\t' -v n="$name" -v w="$warmup" '
            $2 != n { next }
            $1 <= w { rss_warm = $3; fds_warm = $4; if ($4 > fwmax) fwmax = $4 }
            $1 >= w { if ($4 > fmax) fmax = $4; if ($3 > rmax) rmax = $3 }
            { rss_end = $3; fds_end = $4 }
            END { print rss_warm + 0, fds_warm + 0, fwmax + 0, rss_end + 0, fds_end + 0, fmax + 0, rmax + 0 }' "$samples")
    sent=$(stat_value "$dir/sim.stats" readings_sent)
    connections=$(stat_value "$dir/sim.stats" connections)
    phases=$(stat_value "$dir/sim.stats" fault_phases_started)
    rows=$(sqlite3 -readonly "$dir/program/DbEnergy.mdb" 'SELECT count(*) FROM Energy;' 2>&1 || true)
    check_out=$("$build_dir/powerlog-cli" --folder "$dir/program" check 2>&1) && check=ok || check="failed"
    growth=$((rss_end - rss_warm))
    {
        echo "$name: rss warm-up $rss_warm KiB, end $rss_end KiB, growth $growth KiB (max after warm-up $rss_max KiB)"
        echo "$name: fds warm-up $fds_warm (max $fds_warm_max), end $fds_end, max after warm-up $fds_max"
        echo "$name: readings sent $sent, rows recorded $rows, connections $connections, fault phases $phases"
        echo "$name: powerlog-cli check $check"
    } >>"$summary"
    [ "$growth" -lt "$rss_limit_kib" ] || failed+=("$name: resident memory grew by $growth KiB")
    [ "$fds_end" -le "$fds_warm_max" ] ||
        failed+=("$name: $fds_end descriptors at the end, the warm-up saw at most $fds_warm_max")
    [ "$fds_max" -le $((fds_warm_max + fd_slack)) ] ||
        failed+=("$name: up to $fds_max descriptors, the warm-up saw at most $fds_warm_max")
    [ "$rows" = "$sent" ] || failed+=("$name: $rows rows recorded, $sent readings sent")
    [ "$check" = ok ] || failed+=("$name: powerlog-cli check: $check_out")
done

echo "soak: $minutes min ending $(date -u '+%Y-%m-%d %H:%M UTC'), warm-up $warmup s, fault phases of $phase_seconds s, event sessions recycled every $recycle_seconds s"
cat "$summary"
if [ ${#failed[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failed[@]}"
    keep_work=1
    echo "soak: the samples, logs and databases stay in $work"
    exit 1
fi
echo "soak: passed"
