#!/usr/bin/env bash
# Runs the modem fault sequence against one daemon for many rounds (every fault scenario in turn,
# the healthy router between them) and prints what the daemon holds after each phase; fails when
# descriptors, child processes or memory grow.  scripts/soak.sh [rounds]   (default 10: ~300 passes)
# CI runs the same test with one round as part of the end-to-end suite.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target e2e_tests modem-statusd
start=$SECONDS
MODEM_STATUS_SOAK_ROUNDS=$rounds "$build/tests/e2e_tests" \
  --gtest_filter='FaultE2E.ModemFaultsKeepTheCadenceTheValuesAndTheHoldings'
echo "soak: $rounds rounds in $((SECONDS - start)) s"
