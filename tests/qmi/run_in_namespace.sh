#!/bin/sh
# Runs a test program inside qmi_namespace.sh against a fresh simulated root (QMI_SIM_ROOT), which
# is removed afterwards. Exits 77 (skipped) where private namespaces cannot be made.
#   run_in_namespace.sh PROGRAM [ARGUMENTS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
if ! unshare --mount --net --pid --fork true 2>/dev/null; then
  echo "SKIP: cannot make private namespaces here (root needed)"
  exit 77
fi
root=$(mktemp -d "${TMPDIR:-/tmp}/qmilink.XXXXXX") || exit 1
trap 'rm -rf "$root"' EXIT
sh "$here/../../sim/make-root.sh" "$root" >/dev/null || exit 1
QMI_SIM_ROOT=$root sh "$here/qmi_namespace.sh" "$root" "$@"
status=$?
if [ -s "$root/sim/fake-qmi-proxy.log" ]; then
  echo "--- fake-qmi-proxy.log"
  cat "$root/sim/fake-qmi-proxy.log"
fi
exit $status
