#!/usr/bin/env bash
# MODEM_STATUS_DBUS and MODEM_STATUS_QMI take AUTO, ON or OFF: each is configured with its library
# (libdbus-1, libqmi-glib) visible to pkg-config and hidden from it (a pkg-config folder holding libudev
# alone), and the outcome is checked: the ways the configure step reports, or its failure.
#   way_option.sh CMAKE WORK_DIR
set -u
cmake=$1
work=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work/no-libs"
udev_pc=$(pkg-config --variable=pcfiledir libudev)/libudev.pc
ln -s "$udev_pc" "$work/no-libs/libudev.pc"
fail=0

# case NAME VALUE LIBS(yes|no) EXPECT(text the log must hold; "fail:" prefix: configure must fail)
# [QMI VALUE]: MODEM_STATUS_QMI, OFF unless given (the libraries come and go together).
check() {
  local name=$1 value=$2 libs=$3 expect=$4 qmi=${5:-OFF} log=$work/$1.log rc=0
  local env=()
  [ "$libs" = no ] && env=(PKG_CONFIG_LIBDIR="$work/no-libs" PKG_CONFIG_PATH=)
  env "${env[@]}" "$cmake" -S "$source_dir" -B "$work/$name" -DMODEM_STATUS_TESTS=OFF \
    -DMODEM_STATUS_DBUS="$value" -DMODEM_STATUS_QMI="$qmi" >"$log" 2>&1 || rc=$?
  case "$expect" in
    fail:*) [ "$rc" -ne 0 ] && grep -q "${expect#fail:}" "$log" && return 0 ;;
    *) [ "$rc" -eq 0 ] && grep -q "$expect" "$log" && return 0 ;;
  esac
  echo "FAIL $name (MODEM_STATUS_DBUS=$value, libraries $libs, exit $rc): expected '$expect'"
  cat "$log"
  fail=1
}

check auto-found AUTO yes 'Ways to the modem in this build: mmcli qmicli dbus$'
check auto-missing AUTO no 'Ways to the modem in this build: mmcli qmicli$'
check on-found ON yes 'Ways to the modem in this build: mmcli qmicli dbus$'
check on-missing ON no 'fail:MODEM_STATUS_DBUS is ON, but dbus-1 was not found'
check off OFF yes 'Ways to the modem in this build: mmcli qmicli$'
check old-boolean-off false yes 'Ways to the modem in this build: mmcli qmicli$'
check unknown maybe yes "fail:MODEM_STATUS_DBUS is 'maybe': use AUTO, ON or OFF"
if pkg-config --exists qmi-glib; then
  check qmi-auto-found OFF yes 'Ways to the modem in this build: mmcli qmicli libqmi$' AUTO
  check qmi-on-found OFF yes 'Ways to the modem in this build: mmcli qmicli libqmi$' ON
fi
check qmi-auto-missing OFF no 'Ways to the modem in this build: mmcli qmicli$' AUTO
check qmi-on-missing OFF no 'fail:MODEM_STATUS_QMI is ON, but qmi-glib was not found' ON
check both-found AUTO yes 'Ways to the modem in this build: mmcli qmicli dbus' AUTO

[ "$fail" -eq 0 ] && echo "way options: AUTO, ON and OFF with and without libdbus-1 and libqmi-glib"
exit "$fail"
