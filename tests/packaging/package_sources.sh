#!/usr/bin/env bash
# The OpenWrt package's Build/Prepare copies every folder the build needs: its recipe is run into
# a scratch folder, which is then configured with the package's CMAKE_OPTIONS (a folder left out
# fails the configure step, as it would fail the package build).
#   package_sources.sh CMAKE WORK_DIR
set -eu
cmake=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
makefile=$source_dir/packaging/openwrt/Makefile

rm -rf "$work"
mkdir -p "$work"
{
  sed -n '/^define Build\/Prepare$/,/^endef$/p' "$makefile"
  # shellcheck disable=SC2016  # a make expression, not a shell one
  printf 'all:\n\t$(call Build/Prepare)\n'
} >"$work/prepare.mk"
make -s -f "$work/prepare.mk" CP="cp -fpR" PKG_BUILD_DIR="$work/src" \
  MODEM_STATUS_SRC="$source_dir" all

# The package's own options, as OpenWrt's make expands them for cmake.mk; the libqmi package is
# selected when this machine has libqmi-glib.
libqmi=
pkg-config --exists qmi-glib && libqmi=y
{
  grep '^CMAKE_OPTIONS *+=' "$makefile"
  # shellcheck disable=SC2016  # a make expression, not a shell one
  printf 'all:\n\t@echo $(CMAKE_OPTIONS)\n'
} >"$work/options.mk"
read -r -a options <<<"$(make -s -f "$work/options.mk" CONFIG_PACKAGE_libqmi="$libqmi" all)"
if ! "$cmake" -S "$work/src" -B "$work/build" "${options[@]}" >"$work/configure.log" 2>&1; then
  echo "FAIL the package's sources do not configure with: ${options[*]}"
  cat "$work/configure.log"
  exit 1
fi
for option in "${options[@]}"; do
  case "$option" in
    -DMODEM_STATUS_DBUS=ON) grep -q 'Ways to the modem in this build: .*dbus' "$work/configure.log" ||
      { echo "FAIL MODEM_STATUS_DBUS=ON configured without the D-Bus way"; exit 1; } ;;
    -DMODEM_STATUS_QMI=ON) grep -q 'Ways to the modem in this build: .*libqmi' "$work/configure.log" ||
      { echo "FAIL MODEM_STATUS_QMI=ON configured without the libqmi way"; exit 1; } ;;
  esac
done
echo "package sources: configure with ${options[*]}"
