#!/usr/bin/env python3
"""CPU, children and memory per status cycle of modem-statusd for each way to the modem, with the
real clients where a client runs:

  mmcli+qmicli    modem_access 'mmcli', qmi_access 'qmicli': Debian's mmcli and qmicli
  dbus+qmicli     modem_access 'dbus',  qmi_access 'qmicli': Debian's qmicli
  dbus+libqmi     modem_access 'dbus',  qmi_access 'libqmi': no client

  modem_ways.py BUILD_DIR CYCLES LONG_CYCLES

The fake ModemManager runs on a private bus and the fake qmi-proxy in private namespaces
(tests/qmi/qmi_namespace.sh); the daemon finds the modem's ports through umockdev. Only the daemon
and the processes it starts are counted, the fake services not: the daemon's threads by their
scheduler run time, each program it starts by what it used when reaped (the probe's log). Each
way runs CYCLES cycles after the first; the last way also runs LONG_CYCLES cycles for the memory
over time (0: not run).

MODEM_WAYS_KEEP=DIR keeps the daemons' logs, the probe's and the simulator's calls there.
Prints one JSON object; {"skipped": REASON} where a tool is missing or namespaces cannot be made."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from daemon_run import TOP, make_root, private_dirty_kb, task_sample, wait_for  # noqa: E402

WAYS = (("mmcli+qmicli", "mmcli", "qmicli"),
        ("dbus+qmicli", "dbus", "qmicli"),
        ("dbus+libqmi", "dbus", "libqmi"))
SHELLS = {"sh", "bash", "dash", "ash", "busybox"}
CYCLE_LINE = "LTE Connection Status is"

# The modem's USB ports as the daemon looks for them: the AT port at interface 2, the QMI control
# device (driver qmi_wwan, which libqmi checks) at interface 4.
UMOCKDEV = """P: /devices/platform/ehci-platform/usb1/1-1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=2c7c
A: idProduct=0512

P: /devices/platform/ehci-platform/usb1/1-1/1-1:1.2
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
A: bInterfaceNumber=02

P: /devices/platform/ehci-platform/usb1/1-1/1-1:1.2/ttyUSB2
E: SUBSYSTEM=usb-serial

P: /devices/platform/ehci-platform/usb1/1-1/1-1:1.2/ttyUSB2/tty/ttyUSB2
N: ttyUSB2
E: SUBSYSTEM=tty
E: DEVNAME=/dev/ttyUSB2

P: /devices/platform/ehci-platform/usb1/1-1/1-1:1.4
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
E: DRIVER=qmi_wwan
L: driver=../../../../../../bus/usb/drivers/qmi_wwan
A: bInterfaceNumber=04

P: /devices/platform/ehci-platform/usb1/1-1/1-1:1.4/usbmisc/cdc-wdm0
N: cdc-wdm0
E: SUBSYSTEM=usbmisc
E: DEVNAME=/dev/cdc-wdm0
L: device=../../../1-1:1.4
"""

# Run by umockdev-run: the driver link's target is made in the test bed, the probe preloaded after
# umockdev's library, and the daemon takes this process's place.
START = ('mkdir -p "$UMOCKDEV_DIR/sys/bus/usb/drivers/qmi_wwan" && '
         'export LD_PRELOAD="$LD_PRELOAD:$BENCH_PROBE" BENCH_PROBE_LOG="$BENCH_LOG" '
         'BENCH_PROBE_EXECS=1 && exec "$@"')


def missing_tool():
    for tool, why in (("/usr/bin/mmcli", "no mmcli (modemmanager)"),
                      ("/usr/bin/qmicli", "no qmicli (libqmi-utils)"),
                      ("dbus-daemon", "no dbus-daemon"),
                      ("unshare", "no unshare (util-linux)"),
                      ("umockdev-run", "no umockdev-run (umockdev)")):
        if shutil.which(tool) is None:
            return why
    if subprocess.run(["unshare", "--mount", "--net", "--pid", "--fork", "true"],
                      stderr=subprocess.DEVNULL).returncode != 0:
        return "cannot make private namespaces here (root needed)"
    return None


def set_ways(root, modem_access, qmi_access):
    config = os.path.join(root, "etc", "config", "zel")
    with open(config) as f:
        text = f.read()
    text = "".join(line for line in text.splitlines(True)
                   if "modem_access" not in line and "qmi_access" not in line)
    text = text.replace("config status_gather 'status_gather'\n",
                        "config status_gather 'status_gather'\n\toption modem_access '%s'\n"
                        "\toption qmi_access '%s'\n" % (modem_access, qmi_access), 1)
    with open(config, "w") as f:
        f.write(text)


def daemon_pid(runner, timeout=20):
    """The daemon: umockdev-run's child once it has become modem-statusd."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with open("/proc/%d/task/%d/children" % (runner.pid, runner.pid)) as f:
                for pid in f.read().split():
                    with open("/proc/%s/comm" % pid) as c:
                        if c.read().strip() == "modem-statusd":
                            return int(pid)
        except OSError:
            pass
        time.sleep(0.02)
    return None


def cycles_in(log):
    with open(log, errors="replace") as f:
        return f.read().count(CYCLE_LINE)


def programs(probe_log, start, end):
    """Program name -> [starts, CPU ns], between two offsets of the probe's log."""
    with open(probe_log, "rb") as f:
        f.seek(start)
        text = f.read(end - start).decode(errors="replace")
    names, seen = {}, {}
    for line in text.splitlines():
        fields = line.split(" ", 2)
        if fields[0] == "exec" and len(fields) == 3:
            names[fields[1]] = fields[2]
            seen.setdefault(fields[2], [0, 0])[0] += 1
        elif fields[0] == "reap" and len(fields) == 3 and fields[1] in names:
            seen[names.pop(fields[1])][1] += int(fields[2])
    return seen


def own_cpu_ns(first, last):
    """The daemon's CPU between two samples of its threads, in ns (schedstat: exact, where the
    clock-tick counts of /proc/PID/stat would be 10 ms steps). A thread that ended in between
    would be missing: the daemon's threads live as long as it does."""
    return sum(run_ns - first.get(tid, (0, 0, 0))[0] for tid, (run_ns, _, _) in last.items())


def run_way(build, work, root, label, modem_access, qmi_access, count, long_count):
    set_ways(root, modem_access, qmi_access)
    log = os.path.join(work, "daemon-%s.log" % label)
    probe_log = os.path.join(work, "probe-%s.log" % label)
    env = {"MODEM_STATUS_ROOT": root, "PATH": root + "/usr/sbin:/usr/bin:/bin",
           "BENCH_PROBE": os.path.join(build, "bench", "cycle_probe.so"), "BENCH_LOG": probe_log}
    with open(log, "wb") as out:
        runner = subprocess.Popen(
            ["umockdev-run", "--device", os.path.join(work, "modem.umockdev"), "--",
             "sh", "-c", START, "sh", os.path.join(build, "modem-statusd"),
             "-j", os.path.join(work, "snapshot.json")],
            env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, cwd=work)
    pid = daemon_pid(runner)
    try:
        if pid is None:
            sys.exit("modem_ways: the daemon did not start (%s)" % label)
        # The first cycle carries start-up effects: measured from the start of the second.
        if not wait_for(log, lambda t: t.count(CYCLE_LINE) >= 2, 60):
            sys.exit("modem_ways: no first cycle (%s)" % label)
        first, dirty_first = task_sample(pid), private_dirty_kb(pid)
        probe_first = os.path.getsize(probe_log)
        if not wait_for(log, lambda t: t.count(CYCLE_LINE) >= count + 2, 60 + 10 * count):
            sys.exit("modem_ways: too few cycles (%s)" % label)
        last, dirty_last = task_sample(pid), private_dirty_kb(pid)
        started = programs(probe_log, probe_first, os.path.getsize(probe_log))
        memory = []
        if long_count > 0:
            # Private memory every 10 cycles, counted from the daemon's start.
            done = cycles_in(log)
            while done < long_count:
                step = min(long_count, (done // 10 + 1) * 10)
                if not wait_for(log, lambda t, n=step: t.count(CYCLE_LINE) >= n, 60):
                    sys.exit("modem_ways: too few cycles in the long run (%s)" % label)
                done = cycles_in(log)
                memory.append([done, private_dirty_kb(pid)])
        with open(log, errors="replace") as f:
            text = f.read()
    finally:
        if pid is not None:
            os.kill(pid, signal.SIGINT)
        try:
            runner.wait(timeout=15)
        except subprocess.TimeoutExpired:
            runner.kill()
            runner.wait()
    in_process = "qmi_access: QMI in process" in text
    if ("ModemManager over D-Bus" in text) != (modem_access == "dbus"):
        sys.exit("modem_ways: modem_access '%s' was not the way used (%s)" % (modem_access, label))
    result = {
        "modem_access": modem_access,
        "qmi_access": qmi_access,
        "qmi_in_process": in_process,
        "own_cpu_ms": own_cpu_ns(first, last) / 1e6 / count,
        "children_cpu_ms": sum(cpu for _, cpu in started.values()) / 1e6 / count,
        "children_per_cycle": {name: n / count for name, (n, _) in sorted(started.items())},
        "children_cpu_ms_by_name": {name: cpu / 1e6 / count
                                    for name, (_, cpu) in sorted(started.items())},
        "shells_per_cycle": sum(n for name, (n, _) in started.items() if name in SHELLS) / count,
        "private_dirty_kb": [dirty_first, dirty_last],
    }
    if memory:
        result["memory_over_time"] = memory
    return result


def inside(build, work, root, count, long_count):
    """In the private namespaces: a /proc of their own, the private bus where clients without an
    environment look for the system bus, a terminal device pool for umockdev; then every way."""
    subprocess.run(["mount", "-t", "proc", "proc", "/proc"], check=True)
    os.makedirs("/dev/pts", exist_ok=True)
    subprocess.run(["mount", "-t", "devpts", "-o", "newinstance,ptmxmode=0666", "devpts",
                    "/dev/pts"], check=True)
    os.symlink("pts/ptmx", "/dev/ptmx")
    os.makedirs("/run/dbus", exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run/dbus"], check=True)
    os.symlink(os.path.join(root, "sim", "bus", "socket"), "/run/dbus/system_bus_socket")
    result = {"cycles": count}
    for label, modem_access, qmi_access in WAYS:
        long_here = long_count if label == WAYS[-1][0] else 0
        result[label] = run_way(build, work, root, label, modem_access, qmi_access, count,
                                long_here)
    return result


def main():
    if sys.argv[1] == "--inside":
        build, work, root, count, long_count = sys.argv[2:7]
        json.dump(inside(build, work, root, int(count), int(long_count)), sys.stdout)
        print()
        return
    build, count, long_count = os.path.abspath(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    why = missing_tool()
    if why is not None:
        json.dump({"skipped": why}, sys.stdout)
        print()
        return
    with tempfile.TemporaryDirectory() as work:
        root = make_root(work, 1)
        with open(os.path.join(work, "modem.umockdev"), "w") as f:
            f.write(UMOCKDEV)
        # The real clients in the root's place; they run with an empty environment and find the
        # bus at its default address, which the namespaces point at the private bus.
        for client in ("mmcli", "qmicli"):
            path = os.path.join(root, "usr", "bin", client)
            os.remove(path)
            os.symlink("/usr/bin/" + client, path)
        started = subprocess.run([os.path.join(TOP, "sim", "start-bus.sh"), root],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if started.returncode != 0:
            json.dump({"skipped": "no private bus: " + started.stderr.strip()}, sys.stdout)
            print()
            return
        try:
            done = subprocess.run(
                ["sh", os.path.join(TOP, "tests", "qmi", "qmi_namespace.sh"), root,
                 sys.executable, os.path.abspath(__file__), "--inside", build, work, root,
                 str(count), str(long_count)],
                stdout=subprocess.PIPE, text=True)
        finally:
            subprocess.run([os.path.join(TOP, "sim", "start-bus.sh"), "--stop", root])
        keep = os.environ.get("MODEM_WAYS_KEEP")
        if keep:
            # The daemons' and the probe's logs and the simulator's calls, for a look afterwards.
            os.makedirs(keep, exist_ok=True)
            for name in os.listdir(work):
                if name.endswith(".log"):
                    shutil.copy(os.path.join(work, name), keep)
            shutil.copy(os.path.join(root, "sim", "calls.log"), keep)
        if done.returncode != 0:
            sys.exit("modem_ways: the run in the namespaces failed (%d)" % done.returncode)
        sys.stdout.write(done.stdout)


if __name__ == "__main__":
    main()
