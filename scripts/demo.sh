#!/usr/bin/env bash
# Installs what is missing, builds, and starts Powerlog against its built-in simulated gateway.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec "./${POWERLOG_BUILD_DIR:-build}/powerlog" --demo "$@"
