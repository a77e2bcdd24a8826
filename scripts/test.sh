#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B "$build" -DMODEM_STATUS_WERROR=$werror
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
