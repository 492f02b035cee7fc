# shellcheck shell=bash
# The variables set here are read by the scripts, and those read here are set by them.
# shellcheck disable=SC2034,SC2154
#
# What the benchmark scripts share; sourced by them, never run on its own: the command line, the
# build folder, tools installed when missing, folders removed on every way out, and the results
# block each script writes into bench/README.md with how its figures were made.
#
# The scripts keep their state in plain variables (build_dir, keep, data, work, ...); the
# functions below read and set them by those names.

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root_dir=$(dirname "$bench_dir")
# shellcheck source-path=SCRIPTDIR source=../scripts/processes.sh
source "$root_dir/scripts/processes.sh"

# --- command line and build folder -------------------------------------------------------------

is_count() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }

# Reads "[BUILD_DIR] [--NAME N]... [--keep DIR]" into build_dir, one variable per NAME and keep.
# $1: the names that take a whole number above 0, space-separated; $2: "keep" when --keep DIR is
# taken, else ""; then the script's arguments.
parse_arguments() {
    local counts=" $1 " keep_taken=$2
    shift 2
    while [ $# -gt 0 ]; do
        if [[ $1 == --?* && $counts == *" ${1#--} "* ]]; then
            if [ $# -lt 2 ] || ! is_count "$2"; then
                echo "$1 needs a whole number above 0" >&2
                exit 2
            fi
            printf -v "${1#--}" '%s' "$2"
            shift 2
            continue
        fi
        case $1 in
        --keep)
            [ "$keep_taken" = keep ] || { echo "unknown option $1" >&2; usage >&2; exit 2; }
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
}

# The synopsis in the running script's header comment, the line "#   bash bench/NAME.sh ...".
synopsis() { sed -n 's/^#   \(bash bench\/\)/\1/p' "$0" | head -n 1; }

# --help of the scripts that generate a database; a script with other options defines its own
# usage after sourcing this file.
usage() {
    synopsis
    echo "  --rows N     readings in the generated file (default $rows, ten years)"
    echo "  --runs R     measurements of every case, medians reported (default 3)"
    echo "  --keep DIR   keep the generated files in DIR and reuse them on the next run"
}

# The build folder as given, else relative to the project root; build-bench when none is given.
# Leaves build_dir absolute.
resolve_build_dir() {
    build_dir=${build_dir:-build-bench}
    if [ ! -d "$build_dir" ] && [ -d "$root_dir/$build_dir" ]; then
        build_dir=$root_dir/$build_dir
    fi
    [ -d "$build_dir" ] || { echo "no build folder $build_dir" >&2; exit 2; }
    build_dir=$(cd "$build_dir" && pwd)
}

# Exits, saying how to build them, unless every benchmark program named is in BUILD_DIR/bench.
# A build folder has them only when it was configured with POWERLOG_BUILD_BENCH on.
require_bench_programs() {
    local program
    for program in "$@"; do
        [ -x "$build_dir/bench/$program" ] || {
            echo "$build_dir/bench/$program is missing; build the benchmarks with" >&2
            echo "  cmake -S $root_dir -B $build_dir -DPOWERLOG_BUILD_BENCH=ON" >&2
            echo "  cmake --build $build_dir -j2 --target $*" >&2
            exit 2
        }
    done
}

# --- tools -------------------------------------------------------------------------------------

# Installs Debian packages with apt-get, without questions, as root or through sudo.
install_packages() {
    echo "Installing: $*" >&2
    local sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "$@" >&2
}

# The sqlite3 shell makes the generated files (gen_energy.sh) and some baselines.
require_sqlite3() {
    command -v sqlite3 >/dev/null || install_packages sqlite3
}

# --- folders and clean-up ----------------------------------------------------------------------

# Runs the function named $1 on every way out: the end, a failure, Ctrl+C, kill or a closed
# terminal, with the exit code a signal gives.
trap_cleanup() {
    # shellcheck disable=SC2064 # the function's name is meant to be fixed now
    trap "$1" EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}

# The folder of the generated files (data: --keep DIR, else a temporary folder named after $1)
# and a work folder inside it, so that copies live on the same disk. Both go at the end, except
# a kept data folder.
make_data_folders() {
    if [ -n "$keep" ]; then
        mkdir -p "$keep"
        data=$(cd "$keep" && pwd)
    else
        data=$(mktemp -d "${TMPDIR:-/tmp}/powerlog-$1.XXXXXX")
    fi
    work=$(mktemp -d "$data/work.XXXXXX")
    child=""
    trap_cleanup remove_data_folders
}

remove_data_folders() {
    trap - EXIT INT TERM HUP
    if [ -n "$child" ]; then
        # The whole group: a benchmark may have a sqlite3 shell running under it.
        kill -TERM -- "-$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    rm -rf "$work"
    [ -n "$keep" ] || rm -rf "$data"
}

# Runs a command in a process group of its own, in the background so that a signal reaches the
# trap at once.
run_interruptible() {
    setsid "$@" &
    child=$!
    local code=0
    wait "$child" || code=$?
    child=""
    return "$code"
}

elapsed() { echo $(($(date +%s) - $1)); }

# --- data --------------------------------------------------------------------------------------

# The generated file of --rows readings in the data folder, made unless it is there from an
# earlier run, and the name of its copy after the first open. Sets generated, prepared, started
# (the time the whole run began) and generation (how the file came to be).
generate_data() {
    generated=$data/energy-$rows.mdb
    prepared=$data/energy-$rows-prepared.mdb
    started=$(date +%s)
    if [ -f "$generated" ]; then
        generation="reused from $data"
    else
        echo "Generating $rows readings into $generated" >&2
        run_interruptible bash "$bench_dir/gen_energy.sh" --rows "$rows" "$generated"
        generation="generated in $(elapsed "$started") s"
    fi
}

# The start of a script that times the benchmark programs PROGRAM... of a build folder on a
# generated database: "[BUILD_DIR] [--rows N] [--runs R] [--keep DIR]" from the script's
# arguments (after --), the programs and the sqlite3 shell checked, the folders made (the
# temporary one named after NAME) and the data generated.
#   start_data_benchmark NAME PROGRAM... -- ARGUMENTS...
start_data_benchmark() {
    local name=$1 programs=()
    shift
    while [ "$1" != -- ]; do
        programs+=("$1")
        shift
    done
    shift
    build_dir=""
    rows=31536000 # ten years of readings every 10 s
    runs=3
    keep=""
    parse_arguments "rows runs" keep "$@"
    resolve_build_dir
    require_bench_programs "${programs[@]}"
    require_sqlite3
    make_data_folders "$name"
    generate_data
}

# --- figures -----------------------------------------------------------------------------------

# The median of the numbers on standard input, one a line; $1 (default: nothing) when there are
# none.
median_of_lines() {
    sort -g | awk -v none="${1-}" '
        { v[NR] = $1 }
        END {
            if (NR == 0) {
                if (none != "")
                    print none
                exit
            }
            if (NR % 2)
                print v[(NR + 1) / 2]
            else
                print (v[NR / 2] + v[NR / 2 + 1]) / 2
        }'
}

whole() { awk '{ printf "%d", $1 }' <<<"$1"; }
one() { awk '{ printf "%.1f", $1 }' <<<"$1"; }
two() { awk '{ printf "%.2f", $1 }' <<<"$1"; }

# --- bench/README.md ---------------------------------------------------------------------------

# "N CPUs (model), Linux release".
machine_description() {
    local cpu_model
    cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
    echo "$(nproc) CPUs ($cpu_model), Linux $(uname -r)"
}

qt_and_sqlite_versions() {
    echo "Qt $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo '?'), SQLite $(sqlite3 --version | cut -d' ' -f1)"
}

# When the figures were measured, with which command line ($1) and which build (build_dir): its
# type and the commit it was built from.
describe_measurement() {
    local source_dir built_from="unknown sources"
    source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build_dir/CMakeCache.txt" 2>/dev/null || true)
    if [ -n "$source_dir" ] && git -C "$source_dir" rev-parse --short HEAD >/dev/null 2>&1; then
        built_from="commit $(git -C "$source_dir" rev-parse --short HEAD)"
        [ -z "$(git -C "$source_dir" status --porcelain --untracked-files=no 2>/dev/null)" ] ||
            built_from="$built_from with uncommitted changes"
    fi
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') with"
    echo
    echo '```sh'
    echo "$1"
    echo '```'
    echo
    echo "Build: \`$build_dir\` ($(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt" 2>/dev/null), $built_from)."
}

# Prints the table (the file $table) and the footer (the text $footer), and puts both into
# bench/README.md between the markers named $1, after when and how they were measured: the command
# line ($command_line), the build and what the function named $2 prints about the machine. $3 and
# $4, when given, are the heading and the sentence of a README that lacks the markers.
publish_results() {
    local marker=$1 describe_machine=$2 block=$work/block.md
    shift 2
    echo
    cat "$table"
    echo
    echo "$footer"
    {
        describe_measurement "$command_line"
        "$describe_machine"
        echo
        cat "$table"
        echo
        echo "$footer"
    } >"$block"
    write_readme_block "$marker" "$block" "$@"
}

# Puts the file $2 between the lines <!-- $1:begin --> and <!-- $1:end --> of bench/README.md, in
# place of what was there. A README without those lines gets them at its end, under the heading
# $3 and the sentence $4 when given. Works through $work/readme.new.
write_readme_block() {
    local marker=$1 block=$2 heading=${3:-} intro=${4:-}
    local readme=$bench_dir/README.md new=$work/readme.new
    if [ -f "$readme" ] && grep -q "^<!-- $marker:begin -->\$" "$readme"; then
        awk -v f="$block" -v begin="<!-- $marker:begin -->" -v end="<!-- $marker:end -->" '
            $0 == begin { print; while ((getline line < f) > 0) print line; print end; skip = 1; next }
            $0 == end { skip = 0; next }
            !skip' "$readme" >"$new"
    else
        {
            [ ! -f "$readme" ] || { cat "$readme"; echo; }
            if [ -n "$heading" ]; then
                echo "## $heading"
                echo
                echo "$intro"
                echo
            fi
            echo "<!-- $marker:begin -->"
            cat "$block"
            echo "<!-- $marker:end -->"
        } >"$new"
    fi
    cat "$new" >"$readme"
}
