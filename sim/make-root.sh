#!/bin/sh
# Lays out a simulated router root: the fake clients, the scenarios, the router files and the UCI
# configuration. Run the daemon with MODEM_STATUS_ROOT set to that root.
#   make-root.sh DIR [SCENARIO]
set -eu

usage() {
  echo "usage: $0 DIR [SCENARIO]" >&2
  exit 2
}
if [ $# -lt 1 ] || [ $# -gt 2 ]; then usage; fi
dir=$1
scenario=${2:-default}
case $0 in
  */*) here=${0%/*} ;;
  *) here=. ;;
esac
here=$(cd "$here" && pwd)

if [ ! -d "$here/scenarios/$scenario" ]; then
  echo "make-root: no scenario '$scenario' in $here/scenarios" >&2
  exit 1
fi
mkdir -p "$dir/usr/bin" "$dir/usr/sbin" "$dir/sbin" "$dir/bin" "$dir/sim" "$dir/tmp/corvane"
dir=$(cd "$dir" && pwd)
# Few processes: tests lay out many roots on busy machines.
fake=$(cat "$here/fake")
clients="usr/bin/mmcli usr/bin/qmicli sbin/home-network.sh bin/uname usr/sbin/gpio usr/sbin/i2cset"
for client in $clients; do
  printf '%s\n' "$fake" >"$dir/$client"
done
# shellcheck disable=SC2086  # the list is meant to be split
(cd "$dir" && chmod 755 $clients)

if [ -e "$dir/sim/scenarios" ]; then rm -rf "$dir/sim/scenarios"; fi
cp -R "$here/scenarios" "$dir/sim/scenarios"
cp -R "$here/router/." "$dir/"

# Router files a scenario brings (files/ of its ancestors first, then its own).
chain=
name=$scenario
depth=0
while [ -n "$name" ]; do
  if [ ! -d "$here/scenarios/$name" ] || [ $depth -ge 8 ]; then
    echo "make-root: unknown scenario or parent loop: $name" >&2
    exit 1
  fi
  depth=$((depth + 1))
  chain="$name $chain"
  parent=
  if [ -r "$here/scenarios/$name/parent" ]; then read -r parent <"$here/scenarios/$name/parent"; fi
  name=$parent
done
for name in $chain; do
  if [ -d "$here/scenarios/$name/files" ]; then cp -R "$here/scenarios/$name/files/." "$dir/"; fi
done

printf '%s\n' "$scenario" >"$dir/sim/active"
: >"$dir/sim/calls.log"
if [ -e "$dir/sim/unknown.log" ]; then rm -f "$dir/sim/unknown.log"; fi
