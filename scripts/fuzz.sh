#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour checks) and runs each in
# turn, for SECONDS (default 60) or for N executions, then prints one line per target:
# executions, executions per second and findings. The seeds of tests/fuzz/corpus/<target>/ are
# copied into a working corpus in the build folder, which later runs go on from; the tree's
# corpus is never written. Any crash, leak, time-out or memory file a target leaves makes the
# script fail and name it.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET | --runs N] [TARGET...]
#
# POWERLOG_FUZZ_BUILD_DIR sets the build folder (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: $0 [SECONDS_PER_TARGET | --runs N] [TARGET...]" >&2
    exit 64
}

limit=(-max_total_time=60)
case "${1:-}" in
--runs)
    [[ "${2:-}" =~ ^[0-9]+$ ]] || usage
    limit=(-runs="$2")
    shift 2
    ;;
-*) usage ;;
'' | *[!0-9]*) ;;
*)
    limit=(-max_total_time="$1")
    shift
    ;;
esac

# Each target with the longest input worth trying: a few frames, a small file, a few rows.
declare -A max_len=(
    [fuzz_frameassembler]=4096
    [fuzz_frames]=512
    [fuzz_openpassword]=256
    [fuzz_openhmac]=512
    [fuzz_settings]=1024
    [fuzz_updatecheck]=4200 # just above the largest version file accepted
    [fuzz_chartseries]=128
    [fuzz_exportformat]=512
)
all=(fuzz_frameassembler fuzz_frames fuzz_openpassword fuzz_openhmac fuzz_settings
    fuzz_updatecheck fuzz_chartseries fuzz_exportformat)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for target in "${targets[@]}"; do
    [ -n "${max_len[$target]:-}" ] || { echo "unknown target: $target" >&2; exit 64; }
done

# clang and its fuzzing runtime, beside the project's own packages.
missing=()
for p in clang-14 libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
fi
bash scripts/install-deps.sh

build="${POWERLOG_FUZZ_BUILD_DIR:-build-fuzz}"
CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DPOWERLOG_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
nice -n 10 cmake --build "$build" -j2 --target "${targets[@]}"

mkdir -p "$build/fuzz-logs"
rows=()
artefacts=()
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    found="$build/artifacts/$target"
    log="$build/fuzz-logs/$target.log"
    mkdir -p "$corpus"
    cp -n tests/fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
    rm -rf "$found"
    mkdir -p "$found"
    echo "== $target (${limit[*]}, log: $log)"
    status=0
    nice -n 10 "$build/fuzz/$target" "${limit[@]}" -max_len="${max_len[$target]}" \
        -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 -artifact_prefix="$found/" \
        "$corpus" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
    findings=$(find "$found" -type f | wc -l)
    if [ "$status" -ne 0 ] && [ "$findings" -eq 0 ]; then
        echo "$target stopped with status $status without a finding; see $log" >&2
        findings=1
    fi
    while IFS= read -r file; do artefacts+=("$file"); done < <(find "$found" -type f)
    rows+=("$(printf '%-22s %14s %10s %9s' "$target" "${executions:-?}" "${rate:-?}" "$findings")")
done

echo
printf '%-22s %14s %10s %9s\n' target executions exec/s findings
printf '%s\n' "${rows[@]}"
if [ ${#artefacts[@]} -gt 0 ]; then
    echo
    echo "Inputs that broke a target (replay: $build/fuzz/<target> FILE):"
    printf '  %s\n' "${artefacts[@]}"
    exit 1
fi
