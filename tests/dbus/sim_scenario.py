"""Switching the simulated router's scenario (sim/active) under a running fake ModemManager,
which acknowledges each scenario it has taken up in sim/fake-modemmanager.seen."""
import os
import time


def _state(root_dir):
    """The name in sim/active and its mtime in ns, as the service acknowledges them."""
    active = os.path.join(root_dir, "sim", "active")
    try:
        with open(active) as f:
            name = f.readline().strip()
        return "%s %d" % (name, os.stat(active).st_mtime_ns)
    except OSError:
        return ""


def _seen(root_dir):
    try:
        with open(os.path.join(root_dir, "sim", "fake-modemmanager.seen")) as f:
            return f.read().strip()
    except OSError:
        return ""


def switch_scenario(root_dir, scenario, with_service=True, limit=10.0):
    """Writes `scenario` to sim/active in one step; with the service running, waits until it
    reflects it (a reset answered just before may move the scenario on late: then it is written
    again)."""
    active = os.path.join(root_dir, "sim", "active")
    end = time.monotonic() + limit
    wanted = None
    while wanted is None or (with_service and _seen(root_dir) != wanted):
        if time.monotonic() > end:
            raise AssertionError("the fake ModemManager did not take up %r (seen: %r)"
                                 % (scenario, _seen(root_dir)))
        if wanted is None or _state(root_dir) != wanted:
            tmp = active + ".tmp"
            with open(tmp, "w") as f:
                f.write(scenario + "\n")
            os.replace(tmp, active)
            wanted = _state(root_dir)
        else:
            time.sleep(0.02)
