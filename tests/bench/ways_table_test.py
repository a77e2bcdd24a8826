#!/usr/bin/python3
"""The verdicts of the benchmark rows for the three ways to the modem (bench/ways_table.py)."""

import copy
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "bench"))
from ways_table import ways_rows  # noqa: E402

ROUTER = {"gpio": 4.0, "home-network.sh": 1.0}
BASE = {
    "cycles": 6,
    "mmcli+qmicli": {"own_cpu_ms": 5.0, "children_cpu_ms": 195.0,
                     "children_per_cycle": dict(ROUTER, mmcli=10.0, qmicli=3.0),
                     "shells_per_cycle": 0.0, "private_dirty_kb": [1800, 1800]},
    "dbus+qmicli": {"own_cpu_ms": 7.0, "children_cpu_ms": 60.0,
                    "children_per_cycle": dict(ROUTER, qmicli=3.0),
                    "shells_per_cycle": 0.0, "private_dirty_kb": [2050, 2060]},
    "dbus+libqmi": {"own_cpu_ms": 8.0, "children_cpu_ms": 10.0,
                    "children_per_cycle": dict(ROUTER),
                    "shells_per_cycle": 0.0, "private_dirty_kb": [2300, 2310],
                    "memory_over_time": [[10, 2300], [20, 2310], [200, 2320]]},
}


GOALS = {"≤ 10 %": "cpu", "none; no shell": "programs", "≤ 1536 KB": "memory",
         "flat: ≤ +64 KB": "flat"}


def verdicts(ways):
    """Goal -> verdict, for the rows that carry one."""
    return {GOALS[goal]: verdict for _, _, goal, verdict in ways_rows(ways) if goal}


def changed(**libqmi):
    ways = copy.deepcopy(BASE)
    ways["dbus+libqmi"].update(libqmi)
    return ways


class WaysTableTest(unittest.TestCase):
    def test_verdicts(self):
        cases = [
            # (what, result, the verdicts that are missed)
            ("all goals held", BASE, set()),
            ("exactly a tenth of the CPU", changed(own_cpu_ms=10.0, children_cpu_ms=10.0), set()),
            ("over a tenth of the CPU", changed(children_cpu_ms=12.5),
             {"cpu"}),
            ("qmicli still started", changed(children_per_cycle=dict(ROUTER, qmicli=3.0)),
             {"programs"}),
            ("a shell per LED switch", changed(children_per_cycle=dict(ROUTER, sh=4.0),
                                               shells_per_cycle=4.0),
             {"programs"}),
            ("1.5 MB above the mmcli way", changed(private_dirty_kb=[3300, 3336]), set()),
            ("more than 1.5 MB above", changed(private_dirty_kb=[3300, 3337]),
             {"memory"}),
            ("growing after the first cycles",
             changed(memory_over_time=[[10, 2300], [20, 2310], [200, 2400]]),
             {"flat"}),
            ("growth only in the first ten cycles",
             changed(memory_over_time=[[10, 2000], [20, 2310], [200, 2374]]), set()),
            ("a long run that starts late",
             changed(memory_over_time=[[30, 2310], [40, 2310], [200, 2375]]), {"flat"}),
        ]
        for what, ways, missed in cases:
            with self.subTest(what):
                self.assertEqual(set(verdicts(ways)), set(GOALS.values()))
                found = {name for name, verdict in verdicts(ways).items() if verdict != "met"}
                self.assertEqual(found, missed)

    def test_qmicli_in_the_libqmi_way_is_named(self):
        rows = ways_rows(changed(children_per_cycle=dict(ROUTER, qmicli=3.0)))
        cpu = [what for what, *_ in rows if what.startswith("CPU per status cycle, D-Bus + libqmi")]
        self.assertEqual(len(cpu), 1)
        self.assertIn("used qmicli", cpu[0])
        others = [value for what, value, *_ in rows if "other than the router's own" in what]
        self.assertEqual(others, ["qmicli; 0.0 shells"])

    def test_programs_listed_most_first_with_their_cpu(self):
        ways = copy.deepcopy(BASE)
        ways["mmcli+qmicli"]["children_cpu_ms_by_name"] = {
            "mmcli": 150.0, "qmicli": 30.0, "gpio": 10.0, "home-network.sh": 5.0}
        ways["dbus+libqmi"]["children_cpu_ms_by_name"] = {"gpio": 6.0, "home-network.sh": 2.0}
        rows = dict((what.strip(), value) for what, value, *_ in ways_rows(ways))
        self.assertEqual(rows["programs started per cycle, mmcli + qmicli (starts, CPU)"],
                         "mmcli 10.0 (150.0 ms), gpio 4.0 (10.0 ms), qmicli 3.0 (30.0 ms), "
                         "home-network.sh 1.0 (5.0 ms)")
        # 18 - 8 against 200 - 15 ms: the router's programs left out of both ways.
        self.assertEqual(rows["the same without the router's own programs (gpio, home-network.sh)"],
                         "5 % (10.0 ms against 185.0 ms)")

    def test_not_measured(self):
        for ways, why in (({"skipped": "no qmicli (libqmi-utils)"}, "no qmicli (libqmi-utils)"),
                          (None, "no run")):
            with self.subTest(why):
                rows = ways_rows(ways)
                self.assertEqual(len(rows), 1)
                self.assertEqual(rows[0][1], "not measured: " + why)


if __name__ == "__main__":
    unittest.main()
