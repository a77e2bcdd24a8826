#!/bin/sh
# Starts a private D-Bus system bus and the fake ModemManager for a simulated router root, and
# prints the bus address (use it as DBUS_SYSTEM_BUS_ADDRESS). `--stop` ends both.
#   start-bus.sh DIR
#   start-bus.sh --stop DIR
set -eu

usage() {
  echo "usage: $0 [--stop] DIR" >&2
  exit 2
}
stop=0
if [ "${1:-}" = --stop ]; then
  stop=1
  shift
fi
if [ $# -ne 1 ] || [ ! -d "$1/sim" ]; then usage; fi
case $0 in
  */*) here=${0%/*} ;;
  *) here=. ;;
esac
here=$(cd "$here" && pwd)
dir=$(cd "$1" && pwd)
bus=$dir/sim/bus

stop_pid() { # FILE: ends the process named in FILE and waits for it (at most 5 s)
  if [ -r "$1" ]; then
    read -r pid <"$1" || pid=
    if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then
      n=0
      # A zombie counts as gone: whoever adopted it reaps it in its own time.
      while kill -0 "$pid" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null &&
        [ $n -lt 50 ]; do
        sleep 0.05
        n=$((n + 1))
      done
    fi
    rm -f "$1"
  fi
}

if [ $stop -eq 1 ]; then
  stop_pid "$bus/fake-modemmanager.pid"
  stop_pid "$bus/dbus-daemon.pid"
  rm -f "$dir/sim/fake-modemmanager.ready"
  exit 0
fi

for tool in dbus-daemon /usr/bin/python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "start-bus: $tool is not installed" >&2
    exit 1
  fi
done
mkdir -p "$bus"
address=unix:path=$bus/socket
# Anyone on this bus may own any name and call anything: it only ever holds the fake.
cat >"$bus/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>$address</listen>
  <auth>EXTERNAL</auth>
  <!-- room for the answers of scenarios with huge strings (fill) -->
  <limit name="max_message_size">268435456</limit>
  <limit name="max_incoming_bytes">536870912</limit>
  <limit name="max_outgoing_bytes">536870912</limit>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
rm -f "$bus/socket" "$dir/sim/fake-modemmanager.ready"
dbus-daemon --config-file="$bus/bus.conf" --fork --print-pid=3 3>"$bus/dbus-daemon.pid" >/dev/null
DBUS_SYSTEM_BUS_ADDRESS=$address /usr/bin/python3 "$here/fake-modemmanager" "$dir" \
  </dev/null >>"$bus/fake-modemmanager.log" 2>&1 &
echo $! >"$bus/fake-modemmanager.pid"
n=0
while [ ! -e "$dir/sim/fake-modemmanager.ready" ]; do
  if [ $n -ge 100 ] || ! kill -0 "$(cat "$bus/fake-modemmanager.pid")" 2>/dev/null; then
    echo "start-bus: the fake ModemManager did not start:" >&2
    cat "$bus/fake-modemmanager.log" >&2
    "$0" --stop "$dir"
    exit 1
  fi
  sleep 0.1
  n=$((n + 1))
done
printf '%s\n' "$address"
