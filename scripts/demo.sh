#!/usr/bin/env bash
# Builds the programs, lays out a simulated router in a temporary folder, starts a local InfluxDB
# 1.x on loopback and runs modem-statusd against them with the snapshot, the CSV and Influx
# posting, while a GPS feeder sends position sentences to the daemon's socket. lighttpd serves the
# status page and the status CGI on a free loopback port, as the router's web server does. Every
# few seconds it shows the key values published and the page's address until Ctrl-C.
#
#   scripts/demo.sh                 healthy modem
#   SCENARIO=ca-none scripts/demo.sh
#   INTERVAL=5 KEEP_ROOT=1 scripts/demo.sh
#
# Ctrl-C stops the daemon, the feeder, lighttpd and InfluxDB and removes the folder (unless KEEP_ROOT=1).
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
influx_pid=
feeder_pid=
web_pid=
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$feeder_pid" ]; then kill "$feeder_pid" 2>/dev/null || true; wait "$feeder_pid" 2>/dev/null || true; fi
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
  if [ -n "$web_pid" ]; then
    echo "== stopping lighttpd (pid $web_pid)"
    kill "$web_pid" 2>/dev/null || true
    wait "$web_pid" 2>/dev/null || true
  fi
  if [ -n "$influx_pid" ]; then
    echo "== stopping InfluxDB (pid $influx_pid)"
    kill "$influx_pid" 2>/dev/null || true
    wait "$influx_pid" 2>/dev/null || true
  fi
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

# A local InfluxDB 1.x on a free loopback port, with its data in the simulated router's folder.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
influx_port=$(free_port)
influx_dir=$root/influxdb
mkdir -p "$influx_dir"
cat >"$influx_dir/influxdb.conf" <<CONF
reporting-enabled = false
bind-address = "127.0.0.1:$(free_port)"
[meta]
  dir = "$influx_dir/meta"
[data]
  dir = "$influx_dir/data"
  wal-dir = "$influx_dir/wal"
  query-log-enabled = false
[monitor]
  store-enabled = false
[http]
  bind-address = "127.0.0.1:$influx_port"
  log-enabled = false
CONF
influxd -config "$influx_dir/influxdb.conf" >"$influx_dir/influxd.log" 2>&1 &
influx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$influx_port/ping" 2>/dev/null | grep -q 204 && break
  sleep 0.1
done
curl -s -XPOST "http://127.0.0.1:$influx_port/query" --data-urlencode "q=CREATE DATABASE routerdb" >/dev/null
echo "== InfluxDB listening on 127.0.0.1:$influx_port (database routerdb)"

# The status page and the CGI behind lighttpd on a free loopback port, laid out as on the router:
# /modem-status/ from www/, /cgi-bin/modem-status-api the built CGI reading this root.
web_dir=$root/web
mkdir -p "$web_dir/cgi-bin"
ln -s "$(pwd)/$build/modem-status-api" "$web_dir/cgi-bin/modem-status-api"
web_port=
for _ in 1 2 3 4 5; do
  port=$(free_port)
  cat >"$web_dir/lighttpd.conf" <<CONF
server.modules = ( "mod_cgi", "mod_alias", "mod_setenv" )
server.bind = "127.0.0.1"
server.port = $port
server.document-root = "$(pwd)/www"
server.errorlog = "$web_dir/error.log"
index-file.names = ( "index.html" )
mimetype.assign = ( ".html" => "text/html", ".js" => "text/javascript", ".css" => "text/css", ".png" => "image/png" )
alias.url = ( "/cgi-bin/" => "$web_dir/cgi-bin/" )
setenv.add-environment = ( "MODEM_STATUS_ROOT" => "$root" )
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ( "" => "" ) }
CONF
  lighttpd -D -f "$web_dir/lighttpd.conf" </dev/null >"$web_dir/lighttpd.log" 2>&1 &
  web_pid=$!
  for _ in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/modem-status/"; then
      web_port=$port
      break 2
    fi
    kill -0 "$web_pid" 2>/dev/null || break # the port was taken meanwhile: try another
    sleep 0.05
  done
  kill "$web_pid" 2>/dev/null || true
  wait "$web_pid" 2>/dev/null || true
  web_pid=
done
if [ -n "$web_port" ]; then
  page_url="http://127.0.0.1:$web_port/modem-status/"
  echo "== status page: $page_url (lighttpd with the status CGI)"
else
  page_url=
  echo "== lighttpd did not start (see $web_dir/error.log): no status page" >&2
fi

# Posting: every 10 seconds to that server, measurement modem_status.
sed -i "/^config status_gather/a\\
\\toption influx_url 'http://127.0.0.1:$influx_port'\\
\\toption database 'routerdb'\\
\\toption schema 'modem_status'\\
\\toption account 'demo'\\
\\toption instance 'bench 1'" "$root/etc/config/zel"

# The GPS feeder: a position sentence every 2 seconds, walking slowly north-east.
python3 - "$root/tmp/corvane/gps.socket" <<'PY' &
import socket, sys, time
path = sys.argv[1]
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
step = 0
while True:
    now = time.gmtime()
    lat = 4807.038 + step * 0.01
    lon = 1131.000 + step * 0.01
    body = "GPGGA,%02d%02d%02d,%.3f,N,%09.3f,E,1,08,0.9,545.4,M,46.9,M,," % (
        now.tm_hour, now.tm_min, now.tm_sec, lat, lon)
    check = 0
    for c in body:
        check ^= ord(c)
    try:
        sock.sendto(("$%s*%02X\r\n" % (body, check)).encode(), path)
    except OSError:
        pass  # the daemon has not bound its socket yet
    step += 1
    time.sleep(2)
PY
feeder_pid=$!

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
  local points
  points=$(curl -s -G "http://127.0.0.1:$influx_port/query" --data-urlencode "db=routerdb" \
    --data-urlencode "q=SELECT count(UeRssi) FROM modem_status" |
    python3 -c 'import json,sys; r=json.load(sys.stdin)["results"][0]; print(r["series"][0]["values"][0][1] if "series" in r else 0)' 2>/dev/null || echo "?")
  printf '   influxdb: %s records in routerdb.modem_status\n' "$points"
  # What the web server's status endpoint would answer now.
  local api
  api=$(env -i "MODEM_STATUS_ROOT=$root" "$build/modem-status-api" 2>&1 | tr -d '\r' || true)
  if [ -n "$api" ]; then
    printf '   status api: %s; body %s bytes\n' "$(printf '%s\n' "$api" | head -n 1 | cut -c1-60)" \
      "$(printf '%s' "$api" | sed '1,/^$/d' | wc -c)"
  fi
  printf '   daemon says: %s\n' "$(tail -n 1 "$log" 2>/dev/null | cut -c1-120)"
  if [ -n "$page_url" ]; then
    printf '   status page: %s (open it in a browser)\n' "$page_url"
  fi
}

while :; do
  sleep "$interval"
  # In a subshell: bash parses the command substitutions of the view as it runs them, and a
  # Ctrl-C arriving during such a parse made this shell's interrupt trap fail with "unexpected
  # EOF while looking for matching ')'". The subshell ends quietly on Ctrl-C; this shell runs its
  # trap once the subshell is gone.
  (show)
  if ! kill -0 "$daemon_pid" 2>/dev/null; then
    wait "$daemon_pid" && status=0 || status=$?
    daemon_pid=
    echo
    echo "== modem-statusd ended with status $status; its last output:"
    tail -n 15 "$log"
    exit "$status"
  fi
done
