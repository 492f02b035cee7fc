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
