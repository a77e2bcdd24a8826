#!/usr/bin/env bash
# Both install paths lay the files out as on the router: `cmake --install` of a build folder,
# and the OpenWrt package's install recipe run on that install (with OpenWrt's INSTALL_* commands
# as the buildroot defines them). The status page must stay small: routers have little flash.
#   install_layout.sh CMAKE BUILD_DIR WORK_DIR
set -eu
cmake=$1
build=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
package=$here/../../packaging/openwrt
page_files=(index.html status.js status.css)
fail=0

expect_layout() {  # expect_layout WHAT ROOT
  for f in usr/sbin/modem-statusd www/cgi-bin/modem-status-api; do
    [ -x "$2/$f" ] || { echo "FAIL $1: $f missing or not executable"; fail=1; }
  done
  for f in "${page_files[@]}"; do
    [ -f "$2/www/modem-status/$f" ] || { echo "FAIL $1: www/modem-status/$f missing"; fail=1; }
  done
  for f in "$2"/www/modem-status/*; do
    case " ${page_files[*]} " in
      *" ${f##*/} "*) ;;
      *) echo "FAIL $1: unexpected page file ${f##*/}"; fail=1 ;;
    esac
  done
}

rm -rf "$work"
mkdir -p "$work"
DESTDIR="$work/cmake" "$cmake" --install "$build" --prefix /usr >/dev/null
expect_layout "cmake --install" "$work/cmake"

size=$(cd "$work/cmake/www/modem-status" && cat "${page_files[@]}" | wc -c)
if [ "$size" -ge 40960 ]; then echo "FAIL the page is $size bytes, not under 40 KB"; fail=1; fi

# The package's install recipe alone, fed with the cmake install above.
{
  printf 'INSTALL_DIR:=install -d -m0755\nINSTALL_BIN:=install -m0755\n'
  printf 'INSTALL_DATA:=install -m0644\nINSTALL_CONF:=install -m0600\n'
  sed -n '/^define Package\/modem-status\/install$/,/^endef$/p' "$package/Makefile"
  # shellcheck disable=SC2016  # a make expression, not a shell one
  printf 'all:\n\t$(call Package/modem-status/install,%s)\n' "$work/ipk"
} >"$work/install.mk"
make -s -C "$package" -f "$work/install.mk" PKG_INSTALL_DIR="$work/cmake" all
expect_layout "OpenWrt package" "$work/ipk"
[ -x "$work/ipk/etc/init.d/modem-statusd" ] || { echo "FAIL OpenWrt package: init script"; fail=1; }

[ "$fail" -eq 0 ] && echo "install layout: both paths, page $size bytes"
exit "$fail"
