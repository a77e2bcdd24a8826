#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Idempotent: does nothing
# when all are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libudev-dev zlib1g-dev
  umockdev libumockdev-dev
  lighttpd influxdb curl
  iproute2 python3 shellcheck openssl libfaketime
  clang libclang-rt-14-dev
  chromium chromium-driver python3-selenium
  modemmanager modemmanager-dev dbus-daemon libdbus-1-dev python3-dbus python3-gi libglib2.0-dev
  libqmi-utils libqmi-glib-dev libmbim-glib-dev util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Keep package services from starting: the tests start their own servers on loopback.
policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod +x "$policy"
  created_policy=1
fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
if [ "$created_policy" -eq 1 ]; then $SUDO rm -f "$policy"; fi
