#!/usr/bin/env bash
# Builds the Release benchmarks (build-bench) and prints one table of what the daemon costs: the
# RunProgram micro-benchmarks, status cycles and idle time of the real daemon against the simulated
# router, the cost per cycle of each way to ModemManager (mmcli or D-Bus), the CPU, programs and
# memory per cycle of the three ways to the modem with the real mmcli and qmicli (mmcli + qmicli,
# D-Bus + qmicli, D-Bus + libqmi; private namespaces, so root), the bytes each Influx record costs
# on the wire, render times and the stripped program sizes. Nothing here passes or fails on a time.
#
#   scripts/bench.sh           idle over 3 windows of 20 s, wire cost over 30 records per setting,
#                              memory of the libqmi way over 200 cycles (about 15 minutes in all)
#   scripts/bench.sh --quick   idle over 3 windows of 3 s, fewer cycles and records, memory over
#                              30 cycles (development)
#
# Set BENCH_OUT=DIR to keep the raw results (JSON) there.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${BENCH_BUILD_DIR:-$top/build-bench}
idle_window=20
cycles=15
records=30
long_cycles=200
if [ "${1:-}" = "--quick" ]; then
  idle_window=3
  cycles=6
  records=10
  long_cycles=30
fi
out=${BENCH_OUT:-$(mktemp -d)}
mkdir -p "$out"

step() { printf '== %s\n' "$*" >&2; }

step "building (Release) in $build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMODEM_STATUS_BENCH=ON \
  -DMODEM_STATUS_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

step "RunProgram against the child alone and the literal read loop"
"$build/bench/exec_bench" --benchmark_out="$out/exec.json" --benchmark_out_format=json \
  >/dev/null
step "render times"
"$build/bench/render_bench" --benchmark_out="$out/render.json" --benchmark_out_format=json \
  >/dev/null 2>&1
step "$cycles status cycles against the simulator"
python3 "$top/bench/daemon_run.py" cycles "$build" "$cycles" >"$out/cycles.json"
step "$cycles status cycles each way to ModemManager (mmcli, dbus) against the fake service"
if [ -x /usr/bin/mmcli ] && command -v dbus-daemon >/dev/null; then
  python3 "$top/bench/daemon_run.py" access "$build" "$cycles" >"$out/access.json"
fi
step "$cycles status cycles each way to the modem with the real clients, $long_cycles more for memory"
# Writes {"skipped": REASON} itself where mmcli, qmicli, dbus-daemon, unshare or umockdev-run is
# missing or namespaces cannot be made.
python3 "$top/bench/modem_ways.py" "$build" "$cycles" "$long_cycles" >"$out/ways.json"
step "wire cost of Influx records: $records records per setting through a counting proxy"
if command -v influxd >/dev/null && command -v openssl >/dev/null; then
  python3 "$top/bench/wire_cost.py" "$build" "$records" >"$out/wire.json"
fi
step "idle between cycles: 3 windows of ${idle_window} s"
python3 "$top/bench/daemon_run.py" idle "$build" "$idle_window" >"$out/idle.json"

step "stripped sizes"
{
  for bin in modem-statusd modem-status-api; do
    strip -o "$out/$bin.host" "$build/$bin"
    printf '%s (host %s)\t%d bytes\n' "$bin" "$(uname -m)" "$(stat -c %s "$out/$bin.host")"
  done
  # The mipsel programs are built (MinSizeRel, as scripts/mipsel-build.sh builds them) in a tree of
  # their own next to that script's, with the sysroot it made.
  mipsel_top=${MIPSEL_BUILD_DIR:-$top/build-mipsel}
  if [ -f "$mipsel_top/sysroot/.complete" ] && command -v mipsel-linux-gnu-strip >/dev/null; then
    if cmake -S "$top" -B "$mipsel_top/bench" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mipsel-sysroot.cmake" \
         -DMIPSEL_SYSROOT="$mipsel_top/sysroot" -DCMAKE_BUILD_TYPE=MinSizeRel \
         -DMODEM_STATUS_TESTS=OFF >"$out/mipsel-build.log" 2>&1 &&
       cmake --build "$mipsel_top/bench" -j2 --target modem-statusd modem-status-api \
         >>"$out/mipsel-build.log" 2>&1; then
      for bin in modem-statusd modem-status-api; do
        mipsel-linux-gnu-strip -o "$out/$bin.mipsel" "$mipsel_top/bench/$bin"
        printf '%s (mipsel, MinSizeRel)\t%d bytes\n' "$bin" "$(stat -c %s "$out/$bin.mipsel")"
      done
    else
      printf 'mipsel programs\tbuild failed (%s)\n' "$out/mipsel-build.log"
    fi
  else
    printf 'mipsel programs\tno sysroot: run scripts/mipsel-build.sh once\n'
  fi
} >"$out/sizes.txt"

python3 "$top/bench/make_table.py" "$out"
[ -n "${BENCH_OUT:-}" ] || rm -rf "$out"
