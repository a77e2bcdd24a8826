#!/usr/bin/env bash
# The stubs below are called by the sourced init script, which shellcheck does not follow.
# shellcheck disable=SC2317,SC2034,SC1091
# Checks the OpenWrt package scripts: shellcheck, and the init and hotplug logic run against
# stubs of the router's helpers (rc.common's config and procd functions, pidof, kill).
set -u
here=$(cd "$(dirname "$0")" && pwd)
files=$here/../../packaging/openwrt/files
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pass=0
fail=0

check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    printf 'FAIL %s\n--- expected\n%s\n--- actual\n%s\n' "$1" "$2" "$3"
  fi
}

if out=$(shellcheck -s bash "$0" 2>&1); then pass=$((pass + 1)); else fail=$((fail + 1)); printf "FAIL shellcheck %s\n%s\n" "$0" "$out"; fi
# Lint every shell script of the package.
for script in "$files/modem-statusd.init" "$files/modem-statusd.hotplug"; do
  if out=$(shellcheck -s sh -e SC3043 "$script" 2>&1); then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    printf 'FAIL shellcheck %s\n%s\n' "$script" "$out"
  fi
done

# The init script against stubs: config values come from CFG_<option> variables, procd calls are
# recorded one per line.
run_init() {
  (
    log=$work/procd.log
    : >"$log"
    config_load() { echo "config_load $*" >>"$log"; }
    config_get() {
      local var=$1 option=$3 default=${4:-}
      eval "value=\${CFG_$option-\$default}"
      eval "$var=\$value"
    }
    config_get_bool() { config_get "$@"; }
    mkdir() { echo "mkdir $*" >>"$log"; }
    procd_open_instance() { echo "open" >>"$log"; }
    procd_set_param() { echo "set $*" >>"$log"; }
    procd_append_param() { echo "append $*" >>"$log"; }
    procd_close_instance() { echo "close" >>"$log"; }
    procd_add_reload_trigger() { echo "trigger $*" >>"$log"; }
    # shellcheck disable=SC1090
    . "$files/modem-statusd.init"
    start_service
    service_triggers
    cat "$log"
  )
}

expected_common='config_load zel
mkdir -m 0755 /tmp/corvane
open
set command /usr/sbin/modem-statusd -j /tmp/corvane/modemstatus.json'
expected_tail='set respawn
set stdout 1
set stderr 1
set term_timeout 5
close
trigger zel zel_gpsd network'

check "init defaults" "$expected_common
$expected_tail" "$(run_init)"

check "init with every choice" "$expected_common
append command -f /tmp/status.csv
append command -i
append command -d
append command -c
$expected_tail" "$(CFG_csv_file=/tmp/status.csv CFG_influx=1 CFG_debug=1 CFG_print_values=1 run_init)"

# The hotplug script with pidof and kill stubbed on PATH.
mkdir -p "$work/bin"
cat >"$work/bin/pidof" <<'STUB'
#!/bin/sh
[ "$1" = modem-statusd ] && echo "${FAKE_PIDS-}"
STUB
cat >"$work/bin/kill" <<'STUB'
#!/bin/sh
echo "kill $*" >>"$KILL_LOG"
STUB
chmod +x "$work/bin/pidof" "$work/bin/kill"

run_hotplug() {  # run_hotplug INTERFACE ACTION PIDS
  : >"$work/kill.log"
  # kill is a shell builtin: run the script in a shell where the builtin is shadowed by a function
  PATH="$work/bin:$PATH" KILL_LOG="$work/kill.log" INTERFACE=$1 ACTION=$2 FAKE_PIDS=$3 \
    sh -c 'kill() { "$(dirname "$(command -v pidof)")/kill" "$@"; }; . "$0"' \
    "$files/modem-statusd.hotplug"
  cat "$work/kill.log"
}

check "hotplug ifup" "kill -s USR1 123" "$(run_hotplug wwan ifup 123)"
check "hotplug ifdown, two daemons" "kill -s USR2 123
kill -s USR2 456" "$(run_hotplug wwan ifdown '123 456')"
check "hotplug other interface" "" "$(run_hotplug lan ifup 123)"
check "hotplug other action" "" "$(run_hotplug wwan ifupdate 123)"
check "hotplug no daemon" "" "$(run_hotplug wwan ifup '')"

echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
