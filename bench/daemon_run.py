#!/usr/bin/env python3
"""Whole-process measurements of modem-statusd against the simulated router.

  daemon_run.py cycles BUILD_DIR CYCLES   status cycles with a 1 s poll, probe preloaded, each
                                          with an Influx record posted to a local endpoint
  daemon_run.py idle BUILD_DIR SECONDS    CPU and wake-ups between cycles (poll of an hour)
  daemon_run.py access BUILD_DIR CYCLES   CPU per cycle (daemon and every child) and private dirty
                                          memory, modem_access 'mmcli' (Debian's mmcli) and 'dbus',
                                          against one fake ModemManager on a private bus

Prints one JSON object on standard output."""
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLK_TCK = os.sysconf("SC_CLK_TCK")


def start_influx_sink():
    """A local write endpoint that takes every record, so each cycle builds and hands one over.
    Returns the process and its port."""
    sink = subprocess.Popen([sys.executable, os.path.join(TOP, "tests", "support", "post_sink.py")],
                            stdout=subprocess.PIPE, text=True)
    return sink, int(sink.stdout.readline().split()[1])


def make_root(work, poll, influx_port=0):
    root = os.path.join(work, "root")
    subprocess.run([os.path.join(TOP, "sim", "make-root.sh"), root], check=True,
                   stdout=subprocess.DEVNULL)
    config = os.path.join(root, "etc", "config", "zel")
    with open(config) as f:
        text = f.read()
    with open(config, "w") as f:
        text = text.replace("option poll '2'", "option poll '%d'" % poll)
        if influx_port:
            text = text.replace("option period '10'",
                                "option period '1'\n\toption influx_url 'http://127.0.0.1:%d'\n"
                                "\toption database 'bench'\n\toption schema 'lte_status'"
                                % influx_port)
        f.write(text)
    return root


def start_daemon(build, work, root, env_extra):
    env = {"MODEM_STATUS_ROOT": root, "PATH": root + "/usr/sbin:/usr/bin:/bin"}
    env.update(env_extra)
    log = open(os.path.join(work, "daemon.log"), "wb")
    return subprocess.Popen(
        [os.path.join(build, "modem-statusd"), "-j", os.path.join(work, "snapshot.json"),
         "-f", os.path.join(work, "record.csv")],
        env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, cwd=work)


def stop_daemon(proc):
    proc.send_signal(signal.SIGINT)
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def proc_stat(pid):
    """utime, stime, cutime, cstime in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return [int(x) / CLK_TCK for x in fields[11:15]]


def tasks(pid):
    return sorted(int(t) for t in os.listdir("/proc/%d/task" % pid))


def task_sample(pid):
    """Per thread: run time in ns (schedstat) and context switches (voluntary, involuntary)."""
    out = {}
    for tid in tasks(pid):
        base = "/proc/%d/task/%d/" % (pid, tid)
        try:
            with open(base + "schedstat") as f:
                run_ns = int(f.read().split()[0])
            vol = invol = 0
            with open(base + "status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        vol = int(line.split()[1])
                    elif line.startswith("nonvoluntary_ctxt_switches"):
                        invol = int(line.split()[1])
        except OSError:
            continue
        out[tid] = (run_ns, vol, invol)
    return out


def vm_hwm_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM"):
                return int(line.split()[1])
    return 0


def wait_for(path, predicate, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with open(path) as f:
                if predicate(f.read()):
                    return True
        except OSError:
            pass
        time.sleep(0.05)
    return False


def cycle_lines(text):
    """Cycles the probe has logged (its log also names every program started)."""
    return sum(1 for line in text.splitlines() if line.startswith("cycle "))


def cycles(build, count):
    sink, port = start_influx_sink()
    with tempfile.TemporaryDirectory() as work:
        root = make_root(work, 1, port)
        probe_log = os.path.join(work, "probe.log")
        proc = start_daemon(build, work, root, {
            "LD_PRELOAD": os.path.join(build, "bench", "cycle_probe.so"),
            "BENCH_PROBE_LOG": probe_log})
        # The first cycle carries start-up effects (first fills, lazy binding): it is skipped, and
        # /proc is read from its end on.
        wait_for(probe_log, lambda t: cycle_lines(t) >= 1, 60)
        first = proc_stat(proc.pid)
        ok = wait_for(probe_log, lambda t: cycle_lines(t) >= count + 1, 60 + 5 * count)
        last = proc_stat(proc.pid)
        hwm = vm_hwm_kb(proc.pid)
        stop_daemon(proc)
        sink.terminate()
        sink.wait()
        with open(probe_log) as f:
            rows = [line.split() for line in f if line.startswith("cycle ")][1:count + 1]
    if not ok or not rows:
        sys.exit("daemon_run: too few cycles")
    names = ["wall_ns", "children_wall_ns", "children", "cpu_ns", "children_cpu_ns",
             "main_allocs", "all_allocs"]
    table = [dict(zip(names, (int(x) for x in r[1:]))) for r in rows]
    med = {n: statistics.median(row[n] for row in table) for n in names}
    ratio_wall = statistics.median(r["wall_ns"] / r["children_wall_ns"] for r in table)
    ratio_cpu = statistics.median(r["cpu_ns"] / r["children_cpu_ns"] for r in table)
    own = (last[0] + last[1]) - (first[0] + first[1])
    kids = (last[2] + last[3]) - (first[2] + first[3])
    return {
        "cycles": len(table),
        "median": med,
        "wall_over_children": ratio_wall,
        "cpu_over_children_cpu": ratio_cpu,
        "max_main_allocs": max(r["main_allocs"] for r in table),
        "max_all_allocs": max(r["all_allocs"] for r in table),
        "proc_own_cpu_s": own,
        "proc_children_cpu_s": kids,
        "vm_hwm_kb": hwm,
    }


def idle(build, seconds, windows=3):
    """Median of `windows` windows of `seconds` each, taken one after the other."""
    with tempfile.TemporaryDirectory() as work:
        root = make_root(work, 3600)
        proc = start_daemon(build, work, root, {})
        log = os.path.join(work, "daemon.log")
        if not wait_for(log, lambda t: "Calling sleep for" in t, 60):
            stop_daemon(proc)
            sys.exit("daemon_run: no first cycle")
        time.sleep(2)  # let the first snapshot write settle
        results = []
        for _ in range(windows):
            before = task_sample(proc.pid)
            t0 = time.monotonic()
            time.sleep(seconds)
            after = task_sample(proc.pid)
            elapsed = time.monotonic() - t0
            threads = []
            for tid in sorted(after):
                if tid not in before:
                    continue
                run = (after[tid][0] - before[tid][0]) / 1e9
                switches = (after[tid][1] - before[tid][1]) + (after[tid][2] - before[tid][2])
                threads.append({"tid": tid, "cpu_percent": 100.0 * run / elapsed,
                                "wakeups_per_s": switches / elapsed})
            results.append({
                "seconds": elapsed,
                "cpu_percent": sum(t["cpu_percent"] for t in threads),
                "wakeups_per_s": sum(t["wakeups_per_s"] for t in threads),
                "threads": threads,
            })
        hwm = vm_hwm_kb(proc.pid)
        stop_daemon(proc)
    results.sort(key=lambda r: r["cpu_percent"])
    median = results[len(results) // 2]
    median["windows"] = [r["cpu_percent"] for r in results]
    median["vm_hwm_kb"] = hwm
    return median


def private_dirty_kb(pid):
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            if line.startswith("Private_Dirty"):
                return int(line.split()[1])
    return 0


def access_way(build, root, work, way, count):
    """CPU seconds per cycle (own, children) and private dirty KB after the first and the last
    cycle, for one modem_access way. A cycle ends when the next one starts."""
    config = os.path.join(root, "etc", "config", "zel")
    with open(config) as f:
        text = f.read()
    text = "".join(line for line in text.splitlines(True) if "modem_access" not in line)
    text = text.replace("config status_gather 'status_gather'\n",
                        "config status_gather 'status_gather'\n\toption modem_access '%s'\n" % way, 1)
    with open(config, "w") as f:
        f.write(text)
    log = os.path.join(work, "daemon.log")
    proc = start_daemon(build, work, root, {"DBUS_SYSTEM_BUS_ADDRESS": root_bus(root)})
    try:
        # The first cycle carries start-up effects: measured from the start of the second.
        if not wait_for(log, lambda t: t.count("LTE Connection Status is") >= 2, 60):
            sys.exit("daemon_run: no first cycle (%s)" % way)
        first, dirty_first = proc_stat(proc.pid), private_dirty_kb(proc.pid)
        if not wait_for(log, lambda t: t.count("LTE Connection Status is") >= count + 2, 60 + 5 * count):
            sys.exit("daemon_run: too few cycles (%s)" % way)
        last, dirty_last = proc_stat(proc.pid), private_dirty_kb(proc.pid)
        with open(log, errors="replace") as f:
            used = "ModemManager over D-Bus" in f.read()
    finally:
        stop_daemon(proc)
    if used != (way == "dbus"):
        sys.exit("daemon_run: modem_access '%s' was not the way used" % way)
    return {
        "own_cpu_ms": 1000 * ((last[0] + last[1]) - (first[0] + first[1])) / count,
        "children_cpu_ms": 1000 * ((last[2] + last[3]) - (first[2] + first[3])) / count,
        "private_dirty_kb": [dirty_first, dirty_last],
    }


def root_bus(root):
    return "unix:path=" + os.path.join(root, "sim", "bus", "socket")


def access(build, count):
    with tempfile.TemporaryDirectory() as work:
        root = make_root(work, 1)
        subprocess.run([os.path.join(TOP, "sim", "start-bus.sh"), root], check=True,
                       stdout=subprocess.DEVNULL)
        try:
            # The daemon runs its clients with an empty environment: the root's mmcli is Debian's,
            # told where the bus is (one exec of sh more per request).
            client = os.path.join(root, "usr", "bin", "mmcli")
            os.remove(client)
            with open(client, "w") as f:
                f.write("#!/bin/sh\nDBUS_SYSTEM_BUS_ADDRESS='%s' exec /usr/bin/mmcli \"$@\"\n"
                        % root_bus(root))
            os.chmod(client, 0o755)
            result = {"cycles": count}
            for way in ("mmcli", "dbus"):
                result[way] = access_way(build, root, work, way, count)
        finally:
            subprocess.run([os.path.join(TOP, "sim", "start-bus.sh"), "--stop", root])
    return result


def main():
    mode, build, amount = sys.argv[1], os.path.abspath(sys.argv[2]), int(sys.argv[3])
    if mode == "cycles":
        result = cycles(build, amount)
    elif mode == "access":
        result = access(build, amount)
    else:
        result = idle(build, amount)
    json.dump(result, sys.stdout)
    print()


if __name__ == "__main__":
    main()
