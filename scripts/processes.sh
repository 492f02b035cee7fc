# shellcheck shell=bash
# The variable `sleeper` set here is read by the scripts' clean-up traps.
# shellcheck disable=SC2034
#
# Waiting on processes, shared by the long-run scripts and the benchmarks; sourced, never run on
# its own.

# A wait that a signal can cut short (a foreground sleep would hold the trap back); the trap
# finds the sleeping process in $sleeper.
pause() {
    sleep "$1" &
    sleeper=$!
    wait "$sleeper" || true
    sleeper=""
}

# Waits up to $1 seconds for the command after it to succeed.
wait_until() {
    local limit=$(($1 * 20))
    shift
    for _ in $(seq "$limit"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

# Ends the script unless the build folder $1 holds the program, the simulator, powerlog-cli
# and the empty database.
require_built_programs() {
    local f
    for f in powerlog powerlog-gateway-sim powerlog-cli DbEnergy.mdb; do
        [ -e "$1/$f" ] || {
            echo "$1/$f is missing: build the targets powerlog powerlog-gateway-sim" \
                "powerlog-cli empty_database" >&2
            exit 2
        }
    done
}

# Ends process $1 with signal $2 (default TERM), then with KILL if it is still there after $3
# tenths of a second (default 100), and reaps it.
stop_process() {
    local pid=$1 signal=${2:-TERM} limit=${3:-100}
    kill -"$signal" "$pid" 2>/dev/null || return 0
    for _ in $(seq "$limit"); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
