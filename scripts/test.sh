#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless but those labelled long (run
# them with `ctest --test-dir build -L long`). The last lines are CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${POWERLOG_BUILD_DIR:-build}" --output-on-failure -j 2 -LE long
