#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) and runs
# each for a bounded time: scripts/fuzz.sh [seconds-per-target] [target-name-filter]
# Seeds come from fuzz/seeds/<target>/; new inputs go to build-fuzz/corpus/<target>/. A crash,
# a sanitizer report, an input that takes over 10 s or a leak leaves its input in
# build-fuzz/findings/ and makes the script fail. The targets' own output is discarded (libFuzzer
# keeps its report); each target's log is build-fuzz/<target>.log. FUZZ_JOBS targets run at once
# (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
filter=${2:-}
out=${FUZZ_BUILD_DIR:-build-fuzz}
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B "$out" -DMODEM_STATUS_FUZZ=ON -DMODEM_STATUS_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" -j2
mkdir -p "$out/findings"
jobs=${FUZZ_JOBS:-2}

# Runs one target; its summary line goes to <log>.result, its exit status is the script's verdict.
run_one() {
  local bin=$1 name corpus seeds t0=$SECONDS
  name=$(basename "$bin")
  corpus=$out/corpus/$name
  mkdir -p "$corpus"
  seeds=fuzz/seeds/${name#fuzz_}
  [ -d "$seeds" ] || seeds=
  if "$bin" -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$out/findings/$name-" "$corpus" ${seeds:+"$seeds"} >"$out/$name.log" 2>&1; then
    local runs speed cov
    runs=$(grep -m1 'stat::number_of_executed_units' "$out/$name.log" | awk '{print $2}')
    speed=$(grep -m1 'stat::average_exec_per_sec' "$out/$name.log" | awk '{print $2}')
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$out/$name.log" | tail -1)
    printf '%-24s ok: %s runs (%s/s), %s, %d s\n' "$name" "${runs:-?}" "${speed:-?}" \
      "${cov:-cov: ?}" $((SECONDS - t0)) >"$out/$name.result"
  else
    { printf '%-24s FAILED (see %s)\n' "$name" "$out/$name.log"; tail -30 "$out/$name.log"; } \
      >"$out/$name.result"
    return 1
  fi
}

status=0
started=$SECONDS
names=()
for bin in "$out"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  case "$name" in *"$filter"*) ;; *) continue ;; esac
  names+=("$name")
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || status=1; done
  run_one "$bin" &
done
while [ "$(jobs -rp | wc -l)" -gt 0 ]; do wait -n || status=1; done
for name in "${names[@]}"; do cat "$out/$name.result"; done
echo "fuzzing took $((SECONDS - started)) s ($jobs targets at a time)"
exit $status
