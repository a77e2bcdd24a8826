#!/usr/bin/env bash
# Builds the daemon, the CGI and the unit tests for 32-bit MIPS (mipsel) and runs the unit tests
# under qemu-mipsel. The mipsel libraries go into a private sysroot (build-mipsel/sysroot); no
# mipsel package is installed on the host. Prints the stripped sizes of both programs.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=${MIPSEL_BUILD_DIR:-$top/build-mipsel}
sysroot=$out/sysroot
export DEBIAN_FRONTEND=noninteractive

step() { printf '\n== %s\n' "$*"; }

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
  step "adding the mipsel package index"
  $SUDO dpkg --add-architecture mipsel
  $SUDO apt-get update -qq
fi
need=()
for p in g++-mipsel-linux-gnu qemu-user binutils-mipsel-linux-gnu; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  step "installing ${need[*]}"
  apt-cache policy g++-mipsel-linux-gnu | grep -q 'Candidate: (none)' && $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# A sysroot made before zlib's headers were needed is made again.
if [ ! -f "$sysroot/.complete" ] || [ ! -f "$sysroot/usr/include/zlib.h" ]; then
  step "making the mipsel sysroot"
  rm -rf "$sysroot"
  mkdir -p "$sysroot/debs"
  (
    cd "$sysroot/debs"
    # shellcheck disable=SC2046
    apt-get download -qq $(apt-cache depends --recurse --no-recommends --no-suggests \
        --no-conflicts --no-breaks --no-replaces --no-enhances --no-pre-depends \
        libcurl4-openssl-dev:mipsel libudev-dev:mipsel libgtest-dev:mipsel libgmock-dev:mipsel \
        zlib1g-dev:mipsel libstdc++6:mipsel | grep -E '^[a-z0-9].*:mipsel$' | sort -u) 2>&1 | grep -v '^W: Download is performed unsandboxed' || true
    for f in *.deb; do dpkg-deb -x "$f" "$sysroot"; done
  )
  rm -rf "$sysroot/debs"
  touch "$sysroot/.complete"
fi

step "configuring"
cmake -S "$top" -B "$out/build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mipsel-sysroot.cmake" \
  -DMIPSEL_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=MinSizeRel -DMODEM_STATUS_WERROR=ON >/dev/null
step "building modem-statusd, modem-status-api and the unit tests"
cmake --build "$out/build" -j2 --target modem-statusd modem-status-api unit_tests

step "running the unit tests under qemu-mipsel"
# Tests that need the host's umockdev preload or network namespaces do not run under qemu.
qemu-mipsel -L "$sysroot" "$out/build/tests/unit_tests" \
  --gtest_filter="${MIPSEL_TEST_FILTER:--*Udev*:*Umockdev*:*NetworkNamespace*}" --gtest_brief=1

step "stripped sizes"
for bin in modem-statusd modem-status-api; do
  mipsel-linux-gnu-strip -o "$out/$bin.stripped" "$out/build/$bin"
  printf '%-18s %8d bytes (file: %s)\n' "$bin" "$(stat -c %s "$out/$bin.stripped")" \
    "$(file -b "$out/$bin.stripped" | cut -d, -f1-2)"
done
