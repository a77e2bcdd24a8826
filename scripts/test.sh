#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test; then the whole suite again
# under AddressSanitizer+UBSan, the threaded tests under ThreadSanitizer, a short run of every
# fuzz target and, where a mipsel toolchain can be installed, the router build for 32-bit MIPS
# with its unit tests under qemu-mipsel.
#   scripts/test.sh            every stage (what CI runs)
#   scripts/test.sh --quick    the plain build and tests only
# FUZZ_SECONDS sets the fuzz time per target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

started=$SECONDS
passed=0
# Runs ctest and adds its count of passed tests to the summary line printed at the end.
run_ctest() {
  local log
  log=$(mktemp)
  ctest "$@" --output-on-failure -j2 2>&1 | tee "$log"
  local n
  n=$(sed -n 's/^100% tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${n:-0}))
  rm -f "$log"
}
stage() {
  printf '\n==== %s (at %ds) ====\n' "$1" "$((SECONDS - started))"
}

werror=OFF
[ -n "${CI:-}" ] && werror=ON

stage "setup"
bash scripts/setup.sh

stage "build"
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DMODEM_STATUS_WERROR=$werror >/dev/null
cmake --build "$build" -j2

stage "tests"
run_ctest --test-dir "$build"

if [ "$quick" = 1 ]; then
  stage "done (quick: sanitizer stages skipped)"
  echo "$passed passed, 0 failed"
  exit 0
fi

# The fake clients run under umockdev's preload in the udev tests: gcc's ASan runtime must not
# insist on being loaded first.
export ASAN_OPTIONS=${ASAN_OPTIONS:-verify_asan_link_order=0:detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# A report makes the process exit with 66, which every test checking the exit status sees.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=0:exitcode=66:second_deadlock_stack=1}

stage "build: AddressSanitizer + UBSan"
# Sanitizer builds at -O1 without the release flags: quicker to build, still fast enough to run.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1)
cmake -S . -B build-asan -DMODEM_STATUS_WERROR=$werror -DMODEM_STATUS_ASAN=ON \
  "${sanitizer_flags[@]}" >/dev/null
cmake --build build-asan -j2

stage "tests: AddressSanitizer + UBSan (whole suite)"
# The browser test runs in the plain stage only: it adds a minute and no new use of the programs.
run_ctest --test-dir build-asan -LE browser

stage "build: ThreadSanitizer"
cmake -S . -B build-tsan -DMODEM_STATUS_WERROR=$werror -DMODEM_STATUS_TSAN=ON \
  "${sanitizer_flags[@]}" >/dev/null
cmake --build build-tsan -j2 --target modem-statusd modem-status-api unit_tests e2e_tests

stage "tests: ThreadSanitizer (end-to-end and threaded unit tests)"
run_ctest --test-dir build-tsan -L e2e
run_ctest --test-dir build-tsan -L unit \
  -R 'Concurrency|SnapshotWriter|GpsListener|ProgramRun|ToolsOnPath|StatusApi|Delivery|StopEvent'

stage "fuzz: ${FUZZ_SECONDS:-20} s per target"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

# The router's build: 32-bit, with every way to the modem; its unit tests run under qemu-mipsel.
# The sysroot it makes is kept under ~/.cache and reused by later runs.
if why=$(bash scripts/mipsel-build.sh --check); then
  stage "mipsel: cross build, unit tests under qemu-mipsel ($why)"
  log=$(mktemp)
  bash scripts/mipsel-build.sh 2>&1 | tee "$log"
  n=$(sed -n 's/^qemu-mipsel: \([0-9]*\) tests passed, 0 failed (exit status 0)$/\1/p' "$log")
  passed=$((passed + ${n:-0}))
  rm -f "$log"
else
  stage "mipsel: SKIPPED, the toolchain cannot be installed here: $why"
fi

stage "done in $((SECONDS - started))s"
echo "$passed passed, 0 failed"
