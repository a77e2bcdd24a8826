#!/bin/sh
# Runs COMMAND where libqmi's clients find a QMI device at /dev/cdc-wdm0 (a FIFO, with the sysfs
# driver link of a qmi_wwan port) and the fake qmi-proxy of ROOT on the abstract socket
# `qmi-proxy`: all in mount, network and process namespaces of their own (needs root), so nothing
# is seen outside and everything started in them ends with COMMAND.
#   qmi_namespace.sh ROOT COMMAND...
# QMI_PROXY=none starts no proxy. The real qmi-proxy is never started: libqmi would spawn it when
# no proxy answers, so its program is hidden.
set -eu

if [ "${1:-}" != --inside ]; then
  if [ $# -lt 2 ] || [ ! -d "$1/sim" ]; then
    echo "usage: $0 ROOT COMMAND..." >&2
    exit 2
  fi
  exec unshare --mount --net --pid --fork --kill-child sh "$0" --inside "$@"
fi
shift
root=$1
shift
sim=$(cd "$(dirname "$0")/../../sim" && pwd)

mount --make-rprivate /
# The process namespace's own /proc: programs that read /proc/<their pid> (LeakSanitizer at exit)
# find themselves, not the process of that number outside.
mount -t proc proc /proc
ip link set lo up 2>/dev/null || true
mount -t tmpfs -o mode=755 tmpfs /dev
for node in "null c 1 3" "zero c 1 5" "random c 1 8" "urandom c 1 9"; do
  # shellcheck disable=SC2086  # name, type and numbers
  mknod -m 666 /dev/$node
done
mkfifo -m 600 /dev/cdc-wdm0
mount -t tmpfs tmpfs /sys/class
mkdir -p /sys/class/usbmisc/cdc-wdm0/device /sys/class/net-drivers/qmi_wwan
ln -s /sys/class/net-drivers/qmi_wwan /sys/class/usbmisc/cdc-wdm0/device/driver
for proxy in /usr/libexec/qmi-proxy /usr/lib/libqmi/qmi-proxy; do
  if [ -e "$proxy" ]; then mount --bind /dev/null "$proxy"; fi
done

if [ "${QMI_PROXY:-fake}" != none ]; then
  rm -f "$root/sim/fake-qmi-proxy.ready"
  python3 "$sim/fake-qmi-proxy" "$root" 2>>"$root/sim/fake-qmi-proxy.log" &
  n=0
  while [ ! -e "$root/sim/fake-qmi-proxy.ready" ]; do
    if [ $n -ge 100 ]; then
      echo "qmi_namespace: the fake qmi-proxy did not start" >&2
      exit 1
    fi
    sleep 0.05
    n=$((n + 1))
  done
fi
"$@"
