"""Rows of the benchmark table for the three ways to the modem (bench/modem_ways.py's result)."""

ROUTER_PROGRAMS = {"home-network.sh", "gpio"}
LABELS = (("mmcli+qmicli", "mmcli + qmicli"), ("dbus+qmicli", "D-Bus + qmicli"),
          ("dbus+libqmi", "D-Bus + libqmi"))
MOST_CPU_SHARE = 0.10     # of the mmcli + qmicli way's CPU per cycle
MOST_MEMORY_ABOVE_KB = 1536
MOST_GROWTH_KB = 64       # over the long run, from cycle SETTLED_CYCLES on
SETTLED_CYCLES = 20


def met(ok):
    return "met" if ok else "**missed**"


def ways_rows(ways):
    """(measurement, value, goal, verdict) rows; `ways` is None when the run was not made."""
    if ways is None or "skipped" in ways:
        return [("CPU per status cycle by way to the modem (real mmcli and qmicli)",
                 "not measured: %s" % (ways["skipped"] if ways else "no run"), "", "")]
    rows = []
    total = {k: ways[k]["own_cpu_ms"] + ways[k]["children_cpu_ms"] for k, _ in LABELS}
    for key, label in LABELS:
        w = ways[key]
        kids = w["children_per_cycle"]
        note = ""
        if key == "dbus+libqmi" and (kids.get("qmicli", 0) > 0 or
                                     not w.get("qmi_in_process", True)):
            note = " (the daemon used qmicli for qmi_access 'libqmi')"
        rows.append(("CPU per status cycle, %s: daemon + every child (%d cycles, real clients, "
                     "10 ms ticks)%s" % (label, ways["cycles"], note),
                     "%.1f ms (daemon %.1f ms, children %.1f ms)"
                     % (total[key], w["own_cpu_ms"], w["children_cpu_ms"]), "", ""))
        cpu = w.get("children_cpu_ms_by_name", {})
        listed = sorted(kids.items(), key=lambda i: (-i[1], i[0]))
        rows.append(("  programs started per cycle, %s (starts, CPU)" % label,
                     ", ".join("%s %.1f" % (n, c) + (" (%.1f ms)" % cpu[n] if n in cpu else "")
                               for n, c in listed) or "none", "", ""))
    base = total["mmcli+qmicli"]
    ratio = total["dbus+libqmi"] / base if base > 0 else float("nan")
    rows.append(("  D-Bus + libqmi / mmcli + qmicli, total CPU per cycle", "%.0f %%" % (100 * ratio),
                 "≤ %d %%" % (100 * MOST_CPU_SHARE), met(ratio <= MOST_CPU_SHARE)))
    # The router's own programs run the same in every way; the simulator's are shell scripts.
    own = {k: total[k] - sum(ms for n, ms in ways[k].get("children_cpu_ms_by_name", {}).items()
                             if n in ROUTER_PROGRAMS) for k, _ in LABELS}
    if own["mmcli+qmicli"] > 0 and "children_cpu_ms_by_name" in ways["mmcli+qmicli"]:
        rows.append(("  the same without the router's own programs (%s)"
                     % ", ".join(sorted(ROUTER_PROGRAMS)),
                     "%.0f %% (%.1f ms against %.1f ms)"
                     % (100 * own["dbus+libqmi"] / own["mmcli+qmicli"], own["dbus+libqmi"],
                        own["mmcli+qmicli"]), "", ""))
    libqmi = ways["dbus+libqmi"]
    others = sorted(n for n in libqmi["children_per_cycle"] if n not in ROUTER_PROGRAMS)
    shells = libqmi["shells_per_cycle"]
    rows.append(("  D-Bus + libqmi: programs per cycle other than the router's own; shells",
                 "%s; %.1f shells" % (", ".join(others) or "none", shells), "none; no shell",
                 met(not others and shells == 0)))
    for key, label in LABELS:
        first, last = ways[key]["private_dirty_kb"]
        rows.append(("  private dirty memory, %s (after the first cycle → the last)" % label,
                     "%d KB → %d KB" % (first, last), "", ""))
    above = libqmi["private_dirty_kb"][1] - ways["mmcli+qmicli"]["private_dirty_kb"][1]
    rows.append(("  private dirty memory, D-Bus + libqmi beyond mmcli + qmicli", "%+d KB" % above,
                 "≤ %d KB" % MOST_MEMORY_ABOVE_KB, met(above <= MOST_MEMORY_ABOVE_KB)))
    series = libqmi.get("memory_over_time", [])
    later = [s for s in series if s[0] >= SETTLED_CYCLES]
    if len(later) >= 2:
        # The first cycles fill caches once: counted from cycle 20 on.
        start, end = later[0], later[-1]
        growth = end[1] - start[1]
        rows.append(("  private dirty memory, D-Bus + libqmi over %d cycles (cycle %d → %d)"
                     % (end[0], start[0], end[0]),
                     "%d KB → %d KB (%+d KB)" % (start[1], end[1], growth),
                     "flat: ≤ +%d KB" % MOST_GROWTH_KB, met(growth <= MOST_GROWTH_KB)))
    return rows
