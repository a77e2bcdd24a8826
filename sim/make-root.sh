#!/bin/sh
# Lays out a simulated router root: the fake clients, the scenarios, the router files and the UCI
# configuration. Run the daemon with MODEM_STATUS_ROOT set to that root.
#   make-root.sh DIR [SCENARIO]
set -eu

usage() {
  echo "usage: $0 DIR [SCENARIO]" >&2
  exit 2
}
[ $# -ge 1 ] && [ $# -le 2 ] || usage
dir=$1
scenario=${2:-default}
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -d "$here/scenarios/$scenario" ]; then
  echo "make-root: no scenario '$scenario' in $here/scenarios" >&2
  exit 1
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

mkdir -p "$dir/usr/bin" "$dir/usr/sbin" "$dir/sbin" "$dir/bin" "$dir/sim" "$dir/tmp/corvane"
for client in usr/bin/mmcli usr/bin/qmicli sbin/home-network.sh bin/uname usr/sbin/gpio \
  usr/sbin/i2cset; do
  cp "$here/fake" "$dir/$client"
  chmod 755 "$dir/$client"
done

rm -rf "$dir/sim/scenarios"
cp -R "$here/scenarios" "$dir/sim/scenarios"
cp -R "$here/router/." "$dir/"

# Router files a scenario brings (files/ of its ancestors first, then its own).
chain=
name=$scenario
while [ -n "$name" ]; do
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
rm -f "$dir/sim/unknown.log"
