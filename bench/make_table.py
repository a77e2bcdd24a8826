#!/usr/bin/env python3
"""Prints the benchmark table (Markdown) from the files scripts/bench.sh collected in OUT_DIR."""
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ways_table import ways_rows  # noqa: E402

out = sys.argv[1]


def load(name):
    with open(os.path.join(out, name)) as f:
        return json.load(f)


def medians(doc):
    """name -> benchmark entry, for the median aggregates."""
    result = {}
    for b in doc["benchmarks"]:
        if b.get("aggregate_name") == "median":
            result[b["run_name"]] = b
    return result


def us(b, key):
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]]
    return b[key] * scale


rows = []


def row(what, value, goal="", verdict=""):
    rows.append((what, value, goal, verdict))


def met(ok):
    return "met" if ok else "**missed**"


exec_b = medians(load("exec.json"))
for size, label in ((0, "exits at once"), (1024, "prints 1 KB"), (16384, "prints 16 KB")):
    spawn = exec_b["spawn_only/%d/repeats:9/real_time" % size]
    run = exec_b["run_program/%d/repeats:9/real_time" % size]
    lit = exec_b["literal_loop/%d/iterations:4/repeats:9/real_time" % size]
    base_wall, base_cpu = us(spawn, "real_time"), us(spawn, "cpu_time")
    row("Child %s: run alone (posix_spawn, wait; wall / parent CPU)" % label,
        "%.0f µs / %.0f µs (child CPU %.0f µs)" % (base_wall, base_cpu, spawn["child_cpu_us"]))
    row("  RunProgram overhead beyond the child (wall / parent CPU)",
        "%+.0f µs / %+.0f µs" % (us(run, "real_time") - base_wall, us(run, "cpu_time") - base_cpu))
    row("  literal read loop overhead, idle limit 100 ms (wall / parent CPU)",
        "%+.0f µs / %+.0f µs" % (us(lit, "real_time") - base_wall, us(lit, "cpu_time") - base_cpu))

cyc = load("cycles.json")
m = cyc["median"]
row("Status cycle: wall time (median of %d cycles, %d children each)" % (cyc["cycles"], m["children"]),
    "%.1f ms" % (m["wall_ns"] / 1e6))
row("  children's run time (start to reap, summed)", "%.1f ms" % (m["children_wall_ns"] / 1e6))
row("  cycle wall / children's run time", "%.3f" % cyc["wall_over_children"], "≤ 1.05",
    met(cyc["wall_over_children"] <= 1.05))
row("  daemon CPU per cycle, all threads, no children", "%.2f ms" % (m["cpu_ns"] / 1e6))
row("  children's CPU per cycle", "%.1f ms" % (m["children_cpu_ns"] / 1e6))
row("  daemon CPU / children's CPU", "%.1f %%" % (100 * cyc["cpu_over_children_cpu"]), "≤ 2 %",
    met(cyc["cpu_over_children_cpu"] <= 0.02))
if cyc["proc_children_cpu_s"] > 0:
    row("  same from /proc/PID/stat over the run (10 ms ticks)",
        "%.2f s / %.2f s = %.1f %%" % (cyc["proc_own_cpu_s"], cyc["proc_children_cpu_s"],
                                      100 * cyc["proc_own_cpu_s"] / cyc["proc_children_cpu_s"]))
row("  heap allocations per cycle after start-up (main thread / all threads, max)",
    "%d / %d" % (cyc["max_main_allocs"], cyc["max_all_allocs"]), "0",
    met(cyc["max_all_allocs"] == 0))

idle = load("idle.json")
names = ["main loop", "GPS listener", "JSON writer"]
row("Idle between cycles: CPU (median of 3 windows of %.0f s)" % idle["seconds"],
    "%.3f %% of a core" % idle["cpu_percent"], "≤ 0.05 %", met(idle["cpu_percent"] <= 0.05))
row("  wake-ups per second (context switches, all threads)", "%.1f" % idle["wakeups_per_s"])
for name, t in zip(names, idle["threads"]):
    row("    %s" % name, "%.1f /s, %.4f %% CPU" % (t["wakeups_per_s"], t["cpu_percent"]))
row("Peak RSS (VmHWM) after the cycles", "%d KB" % cyc["vm_hwm_kb"])

if os.path.exists(os.path.join(out, "access.json")):
    acc = load("access.json")
    mm, db = acc["mmcli"], acc["dbus"]
    total = {w: acc[w]["own_cpu_ms"] + acc[w]["children_cpu_ms"] for w in ("mmcli", "dbus")}
    for way, label in (("mmcli", "mmcli (Debian's client)"), ("dbus", "D-Bus")):
        row("CPU per status cycle, modem_access %s: daemon + every child (%d cycles, 10 ms ticks)"
            % (label, acc["cycles"]),
            "%.1f ms (daemon %.1f ms, children %.1f ms)"
            % (total[way], acc[way]["own_cpu_ms"], acc[way]["children_cpu_ms"]))
    ratio = total["dbus"] / total["mmcli"] if total["mmcli"] > 0 else float("nan")
    row("  D-Bus way / mmcli way, total CPU per cycle", "%.0f %%" % (100 * ratio), "≤ 30 %",
        met(ratio <= 0.30))
    for way in ("mmcli", "dbus"):
        first, last = acc[way]["private_dirty_kb"]
        row("  private dirty memory, modem_access %s (after the first cycle → the last)" % way,
            "%d KB → %d KB" % (first, last))
    growth = db["private_dirty_kb"][1] - mm["private_dirty_kb"][1]
    row("  private dirty memory, D-Bus way beyond the mmcli way", "%+d KB" % growth, "< 1024 KB",
        met(growth < 1024))
else:
    row("CPU per status cycle by way to ModemManager", "not measured: no mmcli or dbus-daemon")

ways = load("ways.json") if os.path.exists(os.path.join(out, "ways.json")) else None
rows.extend(ways_rows(ways))

if os.path.exists(os.path.join(out, "wire.json")):
    wire = load("wire.json")
    month = 30 * 24 * 3600 / 60  # records a month at the default period of 60 s
    settings = (
        ("https", "HTTPS, default settings (gzip, influx_batch 1)", 1400, 0.1),
        ("https_batch10", "HTTPS, influx_batch 10", 450, None),
        ("https_plain", "HTTPS, influx_compress none", None, None),
        ("http", "HTTP, default settings", 1200, None),
        ("http_batch10", "HTTP, influx_batch 10", None, None),
        ("https_idle_close", "HTTPS, default settings, idle connections closed after 1 s",
         None, None),
        ("https_batch10_idle_close", "HTTPS, influx_batch 10, idle connections closed after 1 s",
         None, None),
    )
    for key, label, most_bytes, most_conns in settings:
        if key not in wire:
            continue
        w = wire[key]
        goal, ok = [], True
        if most_bytes is not None:
            goal.append("≤ {:,} bytes".format(most_bytes))
            ok = ok and w["bytes_per_record"] <= most_bytes
        if most_conns is not None:
            goal.append("≤ %.1f connections" % most_conns)
            ok = ok and w["connections_per_record"] <= most_conns
        row("Wire cost per Influx record, %s (%d records, one every %d s; application bytes both "
            "ways)" % (label, w["records"], wire["period"]),
            "%.0f bytes (up %.0f, down %.0f), %.2f new connections; %.1f MB a month at period 60"
            % (w["bytes_per_record"], w["bytes_up"] / w["records"], w["bytes_down"] / w["records"],
               w["connections_per_record"], w["bytes_per_record"] * month / 1e6),
            ", ".join(goal), met(ok) if goal else "")
else:
    row("Wire cost per Influx record", "not measured: no influxd or openssl")

render = medians(load("render.json"))
for name, label in (("render_json", "JSON snapshot"), ("render_csv", "CSV record"),
                    ("render_influx", "Influx record")):
    b = render[name + "/repeats:9"]
    row("Render %s, full table (CPU)" % label,
        "%.1f µs (%d bytes)" % (us(b, "cpu_time"), b["bytes"]))

with open(os.path.join(out, "sizes.txt")) as f:
    for line in f:
        what, value = line.rstrip("\n").split("\t")
        row("Stripped size: %s" % what, value)

print("| Measurement | Value | Goal | |")
print("|---|---|---|---|")
for what, value, goal, verdict in rows:
    print("| %s | %s | %s | %s |" % (what.replace("  ", "&nbsp;&nbsp;"), value, goal, verdict))
