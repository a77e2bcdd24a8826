#!/usr/bin/env bash
# Builds the daemon, the CGI and the unit tests for 32-bit MIPS (mipsel) with every way to the
# modem, runs the unit tests under qemu-mipsel and prints the ways built and the stripped sizes.
# The mipsel libraries go into a private sysroot of extracted packages; no mipsel package is
# installed on the host. The sysroot is kept between runs (and between clones) and made again
# only when its package list changes.
#   scripts/mipsel-build.sh            install what is missing, build, test
#   scripts/mipsel-build.sh --check    exit 0 when the toolchain is installed or can be, else
#                                      print why not and exit 1 (changes nothing)
# MIPSEL_BUILD_DIR: build folder (default build-mipsel); MIPSEL_SYSROOT: the sysroot (default
# under ~/.cache); MIPSEL_TEST_FILTER: gtest filter for the qemu run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=${MIPSEL_BUILD_DIR:-$top/build-mipsel}
sysroot=${MIPSEL_SYSROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/modem-status/mipsel-sysroot}
export DEBIAN_FRONTEND=noninteractive

tools=(g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user)
# What the programs and tests link against, for mipsel. libdbus is the D-Bus way to ModemManager,
# libqmi-glib (with GLib) the QMI way in process; zlib compresses the Influx request bodies.
sysroot_packages=(libcurl4-openssl-dev libudev-dev libdbus-1-dev libglib2.0-dev libqmi-glib-dev
                  libmbim-glib-dev zlib1g-dev libgtest-dev libgmock-dev libstdc++6)

started=$SECONDS
step() { printf '\n== %s (at %ds)\n' "$*" "$((SECONDS - started))"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

missing_tools=()
for p in "${tools[@]}"; do installed "$p" || missing_tools+=("$p"); done

if [ "${1:-}" = "--check" ]; then
  if [ ${#missing_tools[@]} -eq 0 ]; then echo "mipsel toolchain installed"; exit 0; fi
  command -v apt-get >/dev/null || { echo "no apt-get to install ${missing_tools[*]}"; exit 1; }
  if [ -n "$SUDO" ] && ! sudo -n true 2>/dev/null; then
    echo "not root and no sudo without a password to install ${missing_tools[*]}"; exit 1
  fi
  for p in "${missing_tools[@]}"; do
    if ! apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: [0-9]'; then
      echo "no installable $p in the package index"; exit 1
    fi
  done
  echo "mipsel toolchain installable: ${missing_tools[*]}"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
  step "adding the mipsel package index"
  $SUDO dpkg --add-architecture mipsel
  $SUDO apt-get update -qq
fi
if [ ${#missing_tools[@]} -gt 0 ]; then
  step "installing ${missing_tools[*]}"
  apt-cache policy g++-mipsel-linux-gnu | grep -q 'Candidate: (none)' && $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing_tools[@]}"
fi

# The sysroot: every mipsel package the list needs, extracted. Made under a lock (two checkouts
# may share it) into a fresh folder that replaces the old one only when whole.
# The marker names the packages and how the sysroot is laid out: either changing makes it anew.
want="relative-links ${sysroot_packages[*]}"
mkdir -p "$(dirname "$sysroot")"
exec 9>"$sysroot.lock"
flock 9
if [ "$(cat "$sysroot/.complete" 2>/dev/null)" != "$want" ]; then
  step "making the mipsel sysroot ($want)"
  [ -n "$(apt-cache policy libc6:mipsel | sed -n 's/.*Candidate: \([0-9]\)/\1/p')" ] ||
    $SUDO apt-get update -qq
  fresh=$sysroot.new
  rm -rf "$fresh"
  mkdir -p "$fresh/debs"
  roots=()
  for p in "${sysroot_packages[@]}"; do roots+=("$p:mipsel"); done
  (
    cd "$fresh/debs"
    # The recursive dependencies of the list, mipsel ones only (tools such as python3 that
    # the -dev packages pull in run on the host and are not needed here).
    # shellcheck disable=SC2046
    apt-get download -qq $(apt-cache depends --recurse --no-recommends --no-suggests \
        --no-conflicts --no-breaks --no-replaces --no-enhances --no-pre-depends "${roots[@]}" |
        grep -E '^[a-z0-9].*:mipsel$' | sort -u) 2>&1 |
      grep -v '^W: Download is performed unsandboxed' || true
    n=0
    for f in *.deb; do dpkg-deb -x "$f" "$fresh"; n=$((n + 1)); done
    echo "$n packages extracted"
  )
  rm -rf "$fresh/debs"
  # Some -dev packages link their .so to an absolute path (/lib/...): point those links inside the
  # sysroot, else the linker finds nothing there and quietly takes the static archive.
  find "$fresh" -type l -lname '/*' | while read -r link; do
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$fresh$(readlink "$link")")" "$link"
  done
  for p in libcurl.so libudev.so libdbus-1.so libgio-2.0.so libqmi-glib.so; do
    [ -e "$fresh/usr/lib/mipsel-linux-gnu/$p" ] || { echo "sysroot lacks $p" >&2; exit 1; }
  done
  echo "$want" >"$fresh/.complete"
  # Libraries found in an older sysroot stay in a build's cache: configure that build anew.
  rm -f "$out/build/CMakeCache.txt"
  rm -rf "$sysroot"
  mv "$fresh" "$sysroot"
else
  step "reusing the mipsel sysroot in $sysroot"
fi
exec 9>&-
# The build folder names its sysroot too (scripts/bench.sh looks for it there).
mkdir -p "$out"
if [ "$(readlink -f "$out/sysroot")" != "$(readlink -f "$sysroot")" ]; then
  rm -rf "$out/sysroot"
  ln -s "$sysroot" "$out/sysroot"
fi

step "configuring"
# Every way ON: a library missing from the sysroot fails here instead of leaving a way out.
cmake -S "$top" -B "$out/build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mipsel-sysroot.cmake" \
  -DMIPSEL_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=MinSizeRel -DMODEM_STATUS_WERROR=ON \
  -DMODEM_STATUS_DBUS=ON -DMODEM_STATUS_QMI=ON >/dev/null
step "building modem-statusd, modem-status-api and the unit tests"
cmake --build "$out/build" -j2 --target modem-statusd modem-status-api unit_tests mm_dbus_probe \
  qmi_link_tests

step "running the unit tests under qemu-mipsel"
# Tests that need the host's umockdev preload or network namespaces do not run under qemu.
log=$out/unit-tests.log
status=0
qemu-mipsel -L "$sysroot" "$out/build/tests/unit_tests" \
  --gtest_filter="${MIPSEL_TEST_FILTER:--*Udev*:*Umockdev*:*NetworkNamespace*}" --gtest_brief=1 \
  2>&1 | tee "$log" || status=$?
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -n 1)
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log" | tail -n 1)
echo "qemu-mipsel: ${passed:-0} tests passed, ${failed:-0} failed (exit status $status)"

step "both programs under qemu-mipsel"
# The daemon starts and prints its usage; the CGI serves a snapshot stamped in 2040 (fstat on the
# snapshot and the 64-bit time both matter here).
if qemu-mipsel -L "$sysroot" "$out/build/modem-statusd" -h 2>&1 | grep -q 'VERSION'; then
  echo "modem-statusd -h: usage printed"
else
  echo "modem-statusd -h under qemu-mipsel printed no usage" >&2
  status=1
fi
cgi_root=$(mktemp -d)
mkdir -p "$cgi_root/etc/config" "$cgi_root/tmp/corvane"
printf "config api 'api'\n\toption status 'enabled'\n" >"$cgi_root/etc/config/zel"
snapshot='{"time": 2208988800,"status": [{"name":"Sn_s","value":"SN","lastChange":"2208988800","lastUpdate":"2208988800"}]}'
printf '%s' "$snapshot" >"$cgi_root/tmp/corvane/modemstatus.json"
reply=$(MODEM_STATUS_ROOT=$cgi_root qemu-mipsel -L "$sysroot" "$out/build/modem-status-api" \
  </dev/null 2>&1 || true)
rm -rf "$cgi_root"
if [ "${reply%"$snapshot"}" != "$reply" ]; then
  echo "modem-status-api: served the snapshot stamped 2208988800 (2040)"
else
  printf 'modem-status-api under qemu-mipsel did not serve the snapshot:\n%s\n' "$reply" >&2
  status=1
fi

step "the D-Bus way under qemu-mipsel against the fake ModemManager"
# The D-Bus way's tests (tests/dbus/modem_access_test.py) with the mipsel daemon and probe: each
# is started through a wrapper that runs it under qemu-mipsel. The answers, two status tables and
# SIGINT: the rest (memory, the watchdog's timing, more tables) measures the host build, not qemu.
wrap=$out/qemu-wrappers
mkdir -p "$wrap"
for bin in modem-statusd tests/mm_dbus_probe; do
  printf '#!/bin/sh\nexec %s -L %s %s "$@"\n' "$(command -v qemu-mipsel)" "$sysroot" \
    "$out/build/$bin" >"$wrap/${bin##*/}"
  chmod +x "$wrap/${bin##*/}"
done
dbus_status=0
SOURCE_DIR=$top MODEM_STATUSD_BIN=$wrap/modem-statusd MM_DBUS_PROBE_BIN=$wrap/mm_dbus_probe \
  /usr/bin/python3 "$top/tests/dbus/modem_access_test.py" \
    ModemAccess.test_both_ways_give_the_same_records \
    ModemAccess.test_same_status_table_healthy \
    ModemAccess.test_same_status_table_hostile_network_name \
    ModemAccess.test_sigint_during_a_request_that_never_answers >"$out/dbus-tests.log" 2>&1 ||
  dbus_status=$?
case "$dbus_status" in
  0) grep -E '^(Ran|OK)' "$out/dbus-tests.log"; echo "D-Bus way: passed under qemu-mipsel" ;;
  77) echo "D-Bus way: SKIPPED (no mmcli or dbus-daemon on this host: run scripts/setup.sh)" ;;
  *) cat "$out/dbus-tests.log"
     echo "D-Bus way: FAILED under qemu-mipsel (exit status $dbus_status)" >&2; status=1 ;;
esac

step "the QMI way in process under qemu-mipsel against the fake qmi-proxy"
# The libqmi link's tests in private namespaces, the mipsel program run through qemu-mipsel. The
# memory test measures the host build, not qemu.
printf '#!/bin/sh\nexec %s -L %s %s "$@"\n' "$(command -v qemu-mipsel)" "$sysroot" \
  "$out/build/tests/qmi_link_tests" >"$wrap/qmi_link_tests"
chmod +x "$wrap/qmi_link_tests"
qmi_status=0
sh "$top/tests/qmi/run_in_namespace.sh" "$wrap/qmi_link_tests" --gtest_brief=1 \
  --gtest_filter="${MIPSEL_QMI_FILTER:--*Memory*}" >"$out/qmi-tests.log" 2>&1 || qmi_status=$?
case "$qmi_status" in
  0) grep -E '^\[  PASSED  \]' "$out/qmi-tests.log"; echo "QMI way: passed under qemu-mipsel" ;;
  77) echo "QMI way: SKIPPED (no private namespaces here: root needed)" ;;
  *) cat "$out/qmi-tests.log"
     echo "QMI way: FAILED under qemu-mipsel (exit status $qmi_status)" >&2; status=1 ;;
esac

step "ways to the modem built"
ways=$(sed -n 's/^MODEM_STATUS_WAYS_BUILT:INTERNAL=//p' "$out/build/CMakeCache.txt")
echo "configured: $ways"
# The binary itself tells: the D-Bus way links libdbus-1, the QMI way libqmi-glib.
if mipsel-linux-gnu-readelf -d "$out/build/modem-statusd" | grep -q 'Shared library: \[libdbus-1'; then
  echo "modem-statusd links libdbus-1: the D-Bus way is in the program"
else
  echo "modem-statusd does not link libdbus-1: no D-Bus way" >&2
  status=1
fi
if mipsel-linux-gnu-readelf -d "$out/build/modem-statusd" | grep -q 'Shared library: \[libqmi-glib'; then
  echo "modem-statusd links libqmi-glib: the QMI way in process is in the program"
else
  echo "modem-statusd does not link libqmi-glib: no QMI way in process" >&2
  status=1
fi

step "stripped sizes"
for bin in modem-statusd modem-status-api; do
  mipsel-linux-gnu-strip -o "$out/$bin.stripped" "$out/build/$bin"
  printf '%-18s %8d bytes (file: %s)\n' "$bin" "$(stat -c %s "$out/$bin.stripped")" \
    "$(file -b "$out/$bin.stripped" | cut -d, -f1-2)"
done

step "done: $((SECONDS - started)) s"
exit "$status"
