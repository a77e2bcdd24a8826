#!/usr/bin/env bash
# Builds the programs, lays out a simulated router in a temporary folder and runs modem-statusd
# against it, showing the key values of its JSON snapshot every few seconds until Ctrl-C.
#
#   scripts/demo.sh                 healthy modem
#   SCENARIO=ca-none scripts/demo.sh
#   INTERVAL=5 KEEP_ROOT=1 scripts/demo.sh
#
# Ctrl-C stops the daemon and everything it started and removes the folder (unless KEEP_ROOT=1).
# When the daemon ends by itself, the demo shows its last output and ends with its status.
set -euo pipefail
cd "$(dirname "$0")/.."

scenario=${SCENARIO:-default}
interval=${INTERVAL:-3}
build=${BUILD_DIR:-build}

echo "== installing what is missing"
bash scripts/setup.sh
echo "== building"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target modem-statusd modem-status-api

root=$(mktemp -d "${TMPDIR:-/tmp}/modem-demo.XXXXXX")
daemon_pid=
group=
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$daemon_pid" ] && kill -0 "$daemon_pid" 2>/dev/null; then
    echo
    echo "== stopping modem-statusd (pid $daemon_pid)"
    kill -INT "$daemon_pid" 2>/dev/null || true
    for _ in $(seq 30); do
      kill -0 "$daemon_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$daemon_pid" 2>/dev/null || true
  fi
  if [ -n "$group" ]; then
    # The daemon leads its own process group: end whatever of it is left (clients it started).
    kill -KILL -- "-$group" 2>/dev/null || true
  fi
  if [ -n "$daemon_pid" ]; then wait "$daemon_pid" 2>/dev/null || true; fi
  if [ "${KEEP_ROOT:-0}" = 1 ]; then
    echo "== the simulated router stays in $root"
  else
    rm -rf "$root"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== laying out a simulated router in $root (scenario $scenario)"
sh sim/make-root.sh "$root" "$scenario"
snapshot=$root/tmp/corvane/modemstatus.json
csv=$root/tmp/corvane/status.csv
log=$root/daemon.log

# Job control for this one start: the daemon gets a process group of its own (so Ctrl-C reaches
# only this script, which then stops the daemon in order) and keeps the default SIGINT action.
set -m
env -i "MODEM_STATUS_ROOT=$root" "PATH=$root/usr/sbin:/usr/bin:/bin" \
  "$build/modem-statusd" -j "$snapshot" -f "$csv" </dev/null >"$log" 2>&1 &
daemon_pid=$!
group=$daemon_pid
set +m
echo "== modem-statusd started (pid $daemon_pid), output in $log; Ctrl-C to stop"

show() {
  local state
  if kill -0 "$daemon_pid" 2>/dev/null; then
    state="running (pid $daemon_pid)"
  else
    state="ended"
  fi
  local calls=0 last_call=
  if [ -s "$root/sim/calls.log" ]; then
    calls=$(wc -l <"$root/sim/calls.log")
    last_call=$(tail -n 1 "$root/sim/calls.log")
  fi
  printf '\n== %s  scenario %s  daemon %s\n' "$(date +%T)" "$(cat "$root/sim/active")" "$state"
  printf '   client calls: %s%s\n' "$calls" "${last_call:+ (last: $last_call)}"
  if [ -s "$root/sim/unknown.log" ]; then
    printf '   unanswered requests: %s\n' "$(sort -u "$root/sim/unknown.log" | tr '\n' ';')"
  fi
  python3 - "$snapshot" <<'PY'
import re, sys

path = sys.argv[1]
try:
    text = open(path, encoding="utf-8", errors="replace").read()
except OSError:
    print("   snapshot: not written yet")
    sys.exit(0)
# Values are written without escaping, so read the entries by their fixed frame, not as JSON.
entries = re.findall(
    r'\{"name":"(.*?)","value":"(.*?)","lastChange":"(-?\d+)","lastUpdate":"(-?\d+)"\}',
    text, re.S)
time = re.match(r'\{"time": (-?\d+)', text)
print("   snapshot: %d values%s" % (len(entries), ", time %s" % time.group(1) if time else ""))
values = {}
for name, value, change, update in entries:
    shown = value.replace("\n", "\\n")
    values[name] = shown + (" (expired)" if update == "-1" else "")
groups = [
    ("unit", ["Sn_s", "SystemName_s", "SwVersion_s", "UpTime_i", "LanIpAddr_s"]),
    ("modem", ["ModemSwVersion_s", "IMEI_s", "ICCID_s", "IMSI_s", "PhoneNumber_s", "Apn_s"]),
    ("link", ["Protocol_s", "Connection_s", "PdpIpAddr_s", "ScMode_s", "ScMcc_i", "ScMnc_i",
              "HnName_s"]),
    ("signal", ["SignalPercent_s", "UeRssi_i", "ScRsrp_i", "ScRsrq_i", "ScSinr_f", "Qmi_ScSnr_f",
                "QmiTxPwr_f", "Qmi_CaBand_i", "ScEarfcn_i", "ScFb_i"]),
    ("traffic", ["WWanRxBytes_i", "WWanTxBytes_i", "AtRxBytes_i", "AtTxBytes_i"]),
    ("gps", ["Lat_f", "Lon_f", "GeoHash_s"]),
]
listed = set()
for title, names in groups:
    present = [(n, values[n]) for n in names if n in values]
    listed.update(names)
    if present:
        print("   %-8s %s" % (title, "  ".join("%s=%s" % p for p in present)))
rest = [n for n in values if n not in listed]
if rest:
    print("   %-8s %d more: %s" % ("other", len(rest), " ".join(rest)))
PY
  if [ -s "$csv" ]; then
    printf '   csv: %s\n' "$(tail -c 160 "$csv" | tr -d '\n')"
  fi
  if [ -s "$root/tmp/corvane/post_state.json" ]; then
    printf '   post state: %s\n' "$(head -c 160 "$root/tmp/corvane/post_state.json" | tr -d '\n')"
  fi
  # What the web server's status endpoint would answer now.
  local api
  api=$(env -i "MODEM_STATUS_ROOT=$root" "$build/modem-status-api" 2>&1 | tr -d '\r' || true)
  if [ -n "$api" ]; then
    printf '   status api: %s; body %s bytes\n' "$(printf '%s\n' "$api" | head -n 1 | cut -c1-60)" \
      "$(printf '%s' "$api" | sed '1,/^$/d' | wc -c)"
  fi
  printf '   daemon says: %s\n' "$(tail -n 1 "$log" 2>/dev/null | cut -c1-120)"
}

while :; do
  sleep "$interval"
  show
  if ! kill -0 "$daemon_pid" 2>/dev/null; then
    wait "$daemon_pid" && status=0 || status=$?
    daemon_pid=
    echo
    echo "== modem-statusd ended with status $status; its last output:"
    tail -n 15 "$log"
    exit "$status"
  fi
done
