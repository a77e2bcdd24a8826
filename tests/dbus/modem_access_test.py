#!/usr/bin/python3
"""The daemon's D-Bus way to ModemManager against the fake service.

- The D-Bus way and the mmcli way (Debian's mmcli against the same service) give the same answer
  records for each request, for a table of scenarios.
- One table of scenarios run both ways, modem_access 'mmcli' (the real mmcli, through the root's
  client path) and 'dbus', against one fake service: the status tables are identical (one test
  per row, test_same_status_table_*).
- SIGINT while a D-Bus request never answers: exit 0 within 2 s.
- The bus lost under a running daemon and back: the daemon connects again, same table.
- Strings of 20 MB in every answer: the table keeps at most 127 characters of each, and the
  daemon's memory between cycles stays within 1 MB of a run with normal answers.
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

from sim_scenario import switch_scenario

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
        skip("the D-Bus way is not built (no libdbus)")


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
        """Switches the scenario and waits until the service on the bus reflects it."""
        switch_scenario(self.dir, scenario)

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

    def wait_renders(self, count, limit=30.0):
        """Waits until the snapshot has been replaced `count` times from now; the watchdog step
        after all but the last render has then ended."""
        end = time.monotonic() + limit
        seen = None
        for _ in range(count):
            try:
                seen = os.stat(self.json).st_ino
            except OSError:
                seen = None
            while True:
                try:
                    now = os.stat(self.json).st_ino
                except OSError:
                    now = None
                if now is not None and now != seen:
                    break
                if time.monotonic() > end:
                    raise AssertionError("the snapshot was not rewritten:\n" + self.output()[-3000:])
                time.sleep(0.05)

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

    def snapshot_time(self):
        try:
            with open(self.json) as f:
                return json.load(f)["time"]
        except (OSError, ValueError, KeyError):
            return 0

    def wait_snapshot_after(self, moment, limit=30.0):
        """Waits for a snapshot rendered after `moment` (epoch seconds): its whole-second time is
        later than `moment`'s. The writer replaces the file at most every 5 seconds."""
        end = time.monotonic() + limit
        while self.snapshot_time() <= int(moment):
            if time.monotonic() > end or self.proc.poll() is not None:
                raise AssertionError("no snapshot after the cycles:\n" + self.output()[-3000:])
            time.sleep(0.1)

    def table(self):
        with open(self.json) as f:
            status = json.load(f)["status"]
        return {e["name"]: e["value"] for e in status if e["name"] not in CLOCK_VALUES}


# (scenario, request) -> (mmcli way's record, D-Bus way's record) where the two differ, and why.
KNOWN_RECORD_DIFFERENCES = {
    # The modem lists a bearer whose object is gone: mmcli builds the bearer from the modem's list
    # and prints every property as "--", while asking the object itself is refused. Either way the
    # APN stays empty.
    ("bearer-missing", "-b 7 -K"): (b"outcome: answered\napn: ''\n", b"outcome: refused\n"),
}


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


def memory(pid):
    """{'VmRSS': kB, 'VmHWM': kB} of a running process."""
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0])
    return values


def memory_over_cycles(root, scenario, cycles):
    """Runs the daemon (D-Bus way) for `cycles` status cycles of `scenario`; returns its exit
    status, table, VmRSS in the pause after each cycle and VmHWM at the end."""
    root.activate(scenario)
    daemon = Daemon(root)
    rss, hwm = [], 0
    try:
        for n in range(1, cycles + 1):
            end = time.monotonic() + 120
            while daemon.output().count("Calling sleep for") < n:
                if time.monotonic() > end or daemon.proc.poll() is not None:
                    raise AssertionError("no pause after cycle %d:\n%s" % (n, daemon.output()[-3000:]))
                time.sleep(0.05)
            rss.append(memory(daemon.proc.pid)["VmRSS"])
        hwm = memory(daemon.proc.pid)["VmHWM"]
        daemon.wait_snapshot_after(time.time())
    finally:
        status, _ = daemon.stop()
    return status, daemon.table(), rss, hwm


class ModemAccess(unittest.TestCase):
    def setUp(self):
        self.root = Root()
        self.root.add_scenario("hang-csq", "default", [
            ("mmcli -m @ --command=AT+CSQ", "never", {"delay": "forever\n"})])

    def tearDown(self):
        self.root.close()

    def test_both_ways_give_the_same_records(self):
        requests = [["-L"], ["-m", "0", "--command=AT+CSQ"], ["-m", "0", "--command=AT+CPIN?"],
                    ["-m", "7", "--command=AT"],
                    ["-m", "-1", "--command=AT"], ["-m", "-1", "-K"], ["-m", "-1", "-r"], ["-m", "0", "-K"], ["-m", "1", "-K"], ["-b", "2", "-K"],
                    ["-b", "7", "-K"], ["-m", "0", "-r"]]
        scenarios = ["default", "no-modem", "no-modemmanager", "at-refused", "at-error", "reset-fails",
                     "reset-new-index-after", "operator-hostile", "no-bearer", "bearer-missing", "mm1.22"]
        env = dict(self.root.env, MODEM_STATUS_ROOT=self.root.dir)
        answered = 0
        for scenario in scenarios:
            for request in requests:
                with self.subTest(scenario=scenario, request=" ".join(request)):
                    records = []
                    for way in ("mmcli", "dbus"):
                        self.root.activate(scenario)  # a reset may move the scenario on
                        out = run([PROBE, way] + request, env)
                        self.assertIn(b"=== record\n", out, way)
                        records.append(out.split(b"=== record\n", 1)[1])
                    known = KNOWN_RECORD_DIFFERENCES.get((scenario, " ".join(request)))
                    if known:
                        self.assertEqual(tuple(records), known)
                        continue
                    self.assertEqual(records[0], records[1])
                    answered += b"outcome: answered" in records[0] or b"found: 1" in records[0]
                    if scenario == "default" and request == ["-m", "0", "-K"]:
                        self.assertIn(b"signalQuality: '64'", records[1])
                        self.assertIn(b"firstBearer: '/org/freedesktop/ModemManager1/Bearer/2'", records[1])
                    if scenario == "default" and request == ["-m", "0", "--command=AT+CSQ"]:
                        self.assertIn(b"text: '+CSQ: ", records[1])
                    if scenario == "at-refused" and request[:2] == ["-m", "0"] and request[-1].startswith("--command="):
                        self.assertIn(b"forbidden: 1", records[1])
        self.assertGreater(answered, 20)

    def check_same_status_table(self, name, scenario, changes):
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

    def test_huge_strings_are_cut_and_their_memory_given_back(self):
        with open(os.path.join(SIM, "scenarios", "huge-strings", "fill")) as f:
            fill_kb = int(f.read()) // 1024
        self.root.set_access("dbus")
        status_n, table_n, rss_n, hwm_n = memory_over_cycles(self.root, "default", 3)
        status_h, table_h, rss_h, hwm_h = memory_over_cycles(self.root, "huge-strings", 3)
        print("normal: VmRSS %s kB, VmHWM %d kB; huge strings: VmRSS %s kB, VmHWM %d kB"
              % (rss_n, hwm_n, rss_h, hwm_h), file=sys.stderr)
        self.assertEqual((status_n, status_h), (0, 0))
        too_long = {k: len(v) for k, v in table_h.items() if len(v) > 127}
        self.assertEqual(too_long, {})
        # The bearer's APN, 20 MB long, is kept as its first 127 characters.
        self.assertEqual(table_h.get("Apn_s"), ("fast.t-mobile.com" + "x" * 127)[:127])
        self.assertEqual(table_h.get("SignalPercent_s"), table_n.get("SignalPercent_s"))
        if os.environ.get("SANITIZED"):
            # The sanitizers' allocator holds freed blocks back on purpose: memory tells nothing.
            return
        # Between cycles nothing of the answers is left.
        self.assertLessEqual(max(rss_h), max(rss_n) + 1024, (rss_n, rss_h))
        # The peak: libdbus holds the largest answer (two filled strings) twice while it receives
        # it, in its read buffer and in the message made from it; nothing else copies it.
        self.assertLessEqual(hwm_h - hwm_n, 4.5 * fill_kb, (hwm_n, hwm_h))

    def test_watchdog_resets_only_a_modem_silent_on_every_way(self):
        """Both ways against one fake ModemManager: with AT commands refused the modem still
        answers its properties and QMI and is never reset (the refusal is said once); a modem
        silent on every way is reset once (the next not within 180 s). The watchdog reads the
        machine's uptime, which must be past its 181 s."""
        with open("/proc/uptime") as f:
            if float(f.read().split()[0]) < 200:
                self.skipTest("the machine has been up less than 200 s")
        refusal = "ModemManager refuses AT commands"
        conf = self.root.path("etc", "config", "zel")
        with open(conf) as f:
            text = f.read()
        with open(conf, "w") as f:
            f.write(text.replace("\toption poll '2'\n", "\toption poll '1'\n"))
        for way in ("mmcli", "dbus"):
            for scenario, resets, refusals in (("at-refused", 0, 1), ("modem-silent", 1, 0)):
                with self.subTest(way=way, scenario=scenario):
                    self.root.set_access(way)
                    self.root.activate(scenario)
                    before = self.root.calls("Modem/0 Reset")
                    daemon = Daemon(self.root)
                    try:
                        if resets:
                            end = time.monotonic() + 60
                            while self.root.calls("Modem/0 Reset") == before and time.monotonic() < end:
                                time.sleep(0.1)
                        # The second pass starts once the first has asked on every way.
                        daemon.wait_cycles(daemon.output().count("LTE Connection Status is") + 2)
                        daemon.wait_renders(2)
                    finally:
                        status, _ = daemon.stop()
                    output = daemon.output()
                    self.assertEqual(status, 0, output[-2000:])
                    self.assertEqual(self.root.calls("Modem/0 Reset") - before, resets, output[-3000:])
                    self.assertEqual(output.count(refusal), refusals, output[-3000:])

    def test_a_lost_bus_is_connected_again(self):
        """The bus goes away under a running daemon and comes back at the same address: the
        daemon connects again on its own, keeps the D-Bus way and stores the same table."""
        self.root.set_access("dbus")
        self.root.activate("default")
        start_bus = os.path.join(SIM, "start-bus.sh")
        daemon = Daemon(self.root)
        try:
            daemon.wait_cycles(3)
            daemon.wait_snapshot_after(time.time())
            before = daemon.table()
            subprocess.run(["sh", start_bus, "--stop", self.root.dir], check=True)
            daemon.wait_cycles(daemon.output().count("LTE Connection Status is") + 2)
            r = subprocess.run(["sh", start_bus, self.root.dir], check=True,
                               stdout=subprocess.PIPE, text=True)
            self.assertEqual(r.stdout.strip(), self.root.address)
            asked = self.root.calls("Modem/0 Command")
            daemon.wait_cycles(daemon.output().count("LTE Connection Status is") + 3)
            daemon.wait_snapshot_after(time.time())
            after = daemon.table()
        finally:
            status, _ = daemon.stop()
        output = daemon.output()
        self.assertEqual(status, 0, output[-2000:])
        self.assertGreater(self.root.calls("Modem/0 Command"), asked, output[-2000:])
        self.assertNotIn("using mmcli", output)
        self.assertEqual(before.get("SignalPercent_s"), "64%")
        self.assertEqual(after, before)

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


def table_test_name(name):
    """The test method of one table row: 'no modem' -> test_same_status_table_no_modem."""
    return "test_same_status_table_" + re.sub(r"[^a-z0-9]+", "_", name.lower()).strip("_")


# One test per row, so that ctest can share the table out among entries that each finish well
# inside their limit.
for _row in TABLE:
    setattr(ModemAccess, table_test_name(_row[0]),
            lambda self, row=_row: self.check_same_status_table(*row))


class CtestEntries(unittest.TestCase):
    def test_every_test_is_named_in_a_ctest_entry(self):
        # ctest runs the tests by name, shared out among its entries: a test named nowhere (a
        # table row or a method added later) would silently never run.
        with open(os.path.join(SOURCE_DIR, "tests", "CMakeLists.txt")) as f:
            listed = set(re.findall(r"ModemAccess\.(test_\w+)", f.read()))
        for name in unittest.TestLoader().getTestCaseNames(ModemAccess):
            self.assertIn(name, listed)


if __name__ == "__main__":
    check_environment()
    unittest.main(verbosity=2)
