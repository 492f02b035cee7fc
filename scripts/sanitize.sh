#!/usr/bin/env bash
# Builds everything with AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer
# into ./build-san (or $POWERLOG_SANITIZE_BUILD_DIR) and runs the whole test suite headless
# there. Any finding aborts the process that met it, so the test fails and prints the report.
# Not part of .ci/run: the instrumented suite takes several times as long.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir="${POWERLOG_SANITIZE_BUILD_DIR:-build-san}"

# The build itself runs instrumented tools (the empty database, the manual, the icons), so the
# same options hold for it as for the tests.
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

# g++ leaves float-to-integer conversions that overflow out of "undefined"; they are checked too.
# The benchmarks are built as well, so that their scripts can run on this build.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPOWERLOG_SANITIZE=address,undefined,float-cast-overflow -DPOWERLOG_BUILD_BENCH=ON >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
# Each test's time limit is raised in this build (tests/CMakeLists.txt).
ctest --test-dir "$build_dir" --output-on-failure -j 2 -LE long
