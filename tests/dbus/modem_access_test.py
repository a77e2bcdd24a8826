#!/usr/bin/python3
"""The daemon's D-Bus way to ModemManager against the fake service.

- What the D-Bus way answers for each mmcli request is what Debian's mmcli prints against the same
  service (the text the mmcli readers consume), for a table of scenarios.
- One table of scenarios run both ways, modem_access 'mmcli' (the real mmcli, through the root's
  client path) and 'dbus', against one fake service: the status tables are identical.
- SIGINT while a D-Bus request never answers: exit 0 within 2 s.
Skipped (77) without mmcli, dbus-daemon or the D-Bus way in the build, except in CI."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.environ.get("SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
SIM = os.path.join(SOURCE_DIR, "sim")
DAEMON = os.environ.get("MODEM_STATUSD_BIN", "")
PROBE = os.environ.get("MM_DBUS_PROBE_BIN", "")
MMCLI = "/usr/bin/mmcli"
# Values that follow the clock, not the modem.
CLOCK_VALUES = {"UpTime_i", "StatusTime_i"}


def skip(message):
    if os.environ.get("CI"):
        raise SystemExit("FAIL: " + message)
    print("SKIP: " + message)
    sys.exit(77)


def check_environment():
    missing = [p for p in (MMCLI, "/usr/bin/dbus-daemon", DAEMON, PROBE) if not p or not os.path.exists(p)]
    if missing:
        skip("missing %s (run scripts/setup.sh)" % ", ".join(missing))
    if subprocess.run([PROBE], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 77:
        skip("the D-Bus way is not built (no GIO)")


def run(argv, env, limit=5.0):
    proc = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=limit)
    return proc.stdout


class Root:
    """A simulated router root and the fake ModemManager on its own bus; the root's mmcli is
    Debian's, talking to that bus."""

    def __init__(self, scenario="default"):
        self.dir = tempfile.mkdtemp(prefix="mmaccess")
        subprocess.run(["sh", os.path.join(SIM, "make-root.sh"), self.dir, scenario], check=True,
                       stdout=subprocess.DEVNULL)
        r = subprocess.run(["sh", os.path.join(SIM, "start-bus.sh"), self.dir], check=True,
                           stdout=subprocess.PIPE, text=True)
        self.address = r.stdout.strip()
        self.env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C", "DBUS_SYSTEM_BUS_ADDRESS": self.address}
        client = self.path("usr", "bin", "mmcli")
        os.remove(client)
        with open(client, "w") as f:  # the daemon runs its clients with an empty environment
            f.write("#!/bin/sh\nDBUS_SYSTEM_BUS_ADDRESS='%s' LC_ALL=C exec %s \"$@\"\n" % (self.address, MMCLI))
        os.chmod(client, 0o755)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def activate(self, scenario):
        tmp = self.path("sim", "active.tmp")
        with open(tmp, "w") as f:
            f.write(scenario + "\n")
        os.replace(tmp, self.path("sim", "active"))
        time.sleep(0.3)  # the service looks at the active scenario every 0.1 s

    def add_scenario(self, name, parent, globs):
        d = self.path("sim", "scenarios", name)
        os.makedirs(d)
        with open(os.path.join(d, "parent"), "w") as f:
            f.write(parent + "\n")
        for pattern, answer, files in globs:
            with open(os.path.join(d, "globs"), "a") as f:
                f.write("%s\t%s\n" % (pattern, answer))
            for ext, content in files.items():
                with open(os.path.join(d, answer + "." + ext), "w") as f:
                    f.write(content)

    def set_access(self, way):
        conf = self.path("etc", "config", "zel")
        with open(conf) as f:
            text = re.sub(r"\toption modem_access .*\n", "", f.read())
        text = text.replace("config status_gather 'status_gather'\n",
                            "config status_gather 'status_gather'\n\toption modem_access '%s'\n" % way, 1)
        with open(conf, "w") as f:
            f.write(text)

    def calls(self, word):
        try:
            with open(self.path("sim", "calls.log"), errors="replace") as f:
                return sum(1 for line in f if word in line)
        except OSError:
            return 0

    def close(self):
        subprocess.run(["sh", os.path.join(SIM, "start-bus.sh"), "--stop", self.dir])
        shutil.rmtree(self.dir, ignore_errors=True)


class Daemon:
    def __init__(self, root):
        self.root = root
        self.json = root.path("tmp", "status.json")
        if os.path.exists(self.json):
            os.remove(self.json)
        env = dict(root.env, MODEM_STATUS_ROOT=root.dir,
                   PATH="%s:%s:/usr/bin:/bin" % (root.path("usr", "sbin"), root.path("usr", "bin")))
        self.log = open(root.path("daemon.log"), "w")
        self.proc = subprocess.Popen([DAEMON, "-j", self.json], env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)

    def wait_cycles(self, count, limit=60.0):
        """Waits until `count` status cycles have started; each start ends the cycle before."""
        end = time.monotonic() + limit
        while self.output().count("LTE Connection Status is") < count:
            if time.monotonic() > end or self.proc.poll() is not None:
                raise AssertionError("no status cycle ended:\n" + self.output()[-3000:])
            time.sleep(0.1)

    def wait_snapshot_after(self, moment, limit=30.0):
        """Waits for a snapshot rendered after `moment` (wall-clock seconds); the writer renders
        about every 5 seconds, later on a slow or busy machine."""
        end = time.monotonic() + limit
        while True:
            try:
                with open(self.json) as f:
                    if json.load(f)["time"] > moment:
                        return
            except (OSError, ValueError, KeyError):
                pass
            if time.monotonic() > end or self.proc.poll() is not None:
                raise AssertionError("no snapshot after the cycles:\n" + self.output()[-3000:])
            time.sleep(0.2)

    def stop(self):
        """SIGINT; (exit status, seconds to exit)."""
        start = time.monotonic()
        self.proc.send_signal(signal.SIGINT)
        try:
            status = self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            status = self.proc.wait()
        self.log.close()
        return status, time.monotonic() - start

    def output(self):
        with open(self.root.path("daemon.log"), errors="replace") as f:
            return f.read()

    def table(self):
        with open(self.json) as f:
            status = json.load(f)["status"]
        return {e["name"]: e["value"] for e in status if e["name"] not in CLOCK_VALUES}


KEYS = [b"modem.generic.own-numbers.value[1]", b"modem.generic.signal-quality.value", b"modem.3gpp.imei",
        b"modem.3gpp.operator-name", b"modem.3gpp.eps.initial-bearer.settings.apn",
        b"modem.generic.bearers.value[1]", b"bearer.properties.apn"]


def key_values(text):
    """`key : value` lines of mmcli -K (keys padded with blanks) -> {key: value}."""
    pairs = (re.match(rb"^(\S+)\s+: (.*)$", line) for line in text.split(b"\n"))
    return {m.group(1): m.group(2) for m in pairs if m}


def switch_to(name):
    return lambda root: root.activate(name)


# name, start scenario, [(cycles to wait, then what to do)]
TABLE = [
    ("healthy", "default", []),
    ("no modem", "no-modem", []),
    ("new index after reset", "default", [switch_to("reset-new-index-after")]),
    ("AT refused (not in debug mode)", "at-refused", []),
    ("AT error", "at-error", []),
    ("a request that never answers", "hang-csq", []),
    ("hostile network name", "operator-hostile", []),
]


def status_table(root, way, scenario, changes):
    root.set_access(way)
    root.activate(scenario)
    daemon = Daemon(root)
    try:
        # Two whole cycles (a cycle ends when the next one starts), also after each change.
        started = 3
        for change in changes:
            daemon.wait_cycles(started - 1)
            change(root)
            started += 2
        daemon.wait_cycles(started)
        daemon.wait_snapshot_after(time.time())
    finally:
        status, _ = daemon.stop()
    output = daemon.output()
    return status, daemon.table(), output


class ModemAccess(unittest.TestCase):
    def setUp(self):
        self.root = Root()
        self.root.add_scenario("hang-csq", "default", [
            ("mmcli -m @ --command=AT+CSQ", "never", {"delay": "forever\n"})])

    def tearDown(self):
        self.root.close()

    def test_dbus_answers_what_the_real_mmcli_prints(self):
        requests = [["-L"], ["-m", "0", "--command=AT+CSQ"], ["-m", "0", "--command=AT+CPIN?"],
                    ["-m", "7", "--command=AT"],
                    ["-m", "-1", "--command=AT"], ["-m", "-1", "-K"], ["-m", "-1", "-r"], ["-m", "0", "-K"], ["-m", "1", "-K"], ["-b", "2", "-K"],
                    ["-b", "7", "-K"], ["-m", "0", "-r"]]
        scenarios = ["default", "no-modem", "no-modemmanager", "at-refused", "at-error", "reset-fails",
                     "reset-new-index-after", "operator-hostile", "no-bearer", "bearer-missing", "mm1.22"]
        for scenario in scenarios:
            for request in requests:
                self.root.activate(scenario)  # a reset may move the scenario on
                with self.subTest(scenario=scenario, request=" ".join(request)):
                    real = run([MMCLI] + request, self.root.env)
                    ours = run([PROBE] + request, self.root.env)
                    if request[-1] != "-K":
                        self.assertEqual(real, ours)
                        continue
                    # The keys the daemon reads (and the network name, for the escaping) carry
                    # the same values; a missing line reads like mmcli's "--".
                    real_values, our_values = key_values(real), key_values(ours)
                    for key in KEYS:
                        self.assertEqual(real_values.get(key, b"--"), our_values.get(key, b"--"), key)
                    if request[0] == "-m" and not real.startswith(b"error:"):
                        self.assertIn(b"modem.generic.signal-quality.value", our_values)

    def test_both_ways_give_the_same_status_table(self):
        for name, scenario, changes in TABLE:
            with self.subTest(name):
                status_m, table_m, out_m = status_table(self.root, "mmcli", scenario, changes)
                status_d, table_d, out_d = status_table(self.root, "dbus", scenario, changes)
                self.assertEqual((status_m, status_d), (0, 0))
                self.assertIn("ModemManager over D-Bus", out_d)
                self.assertNotIn("ModemManager over D-Bus", out_m)
                self.assertTrue(table_m)
                self.assertEqual(table_m, table_d)
                if scenario == "default":
                    self.assertEqual(table_d.get("SignalPercent_s"), "64%")
                    self.assertEqual(table_d.get("Apn_s"), "fast.t-mobile.com")

    def test_sigint_during_a_request_that_never_answers(self):
        self.root.set_access("dbus")
        self.root.activate("hang")
        daemon = Daemon(self.root)
        end = time.monotonic() + 20
        while self.root.calls("Command") == 0 and time.monotonic() < end:
            time.sleep(0.05)
        self.assertGreater(self.root.calls("Command"), 0, daemon.output()[-2000:])
        time.sleep(0.3)
        status, seconds = daemon.stop()
        self.assertEqual(status, 0, daemon.output()[-2000:])
        self.assertLess(seconds, 2.0)


if __name__ == "__main__":
    check_environment()
    unittest.main(verbosity=2)
