#!/usr/bin/env bash
# Installs what is missing, builds, and starts Powerlog against its built-in simulated gateway.
# The demo records into the build's demo/ folder; on its first run that folder gets 400 days of
# generated history, so the charts have something to show.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
build=${POWERLOG_BUILD_DIR:-build}
demo=$build/demo
if [ ! -f "$demo/DbEnergy.mdb" ]; then
    mkdir -p "$demo"
    start=$(date -d "today -400 days" '+%Y-%m-%d 00:00:00')
    rows=$((($(date +%s) - $(date -d "$start" +%s)) / 10))
    bash bench/gen_energy.sh --rows "$rows" --from "$start" "$demo/DbEnergy.mdb"
fi
exec "./$build/powerlog" --demo "$@"
