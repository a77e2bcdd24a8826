#!/usr/bin/python3
"""The real mmcli against the fake ModemManager prints what the fake mmcli prints.

For each scenario of the table, every request is run twice on a fresh simulated router: through
the fake mmcli script, and through Debian's mmcli talking to sim/fake-modemmanager on a private
bus. Standard output, standard error and the exit status must be equal byte for byte, except
where the table names a difference and says why. Also checks that the service looks answers up
exactly like the fake script, and what only a D-Bus client sees (signals, replies that never
come). Skipped (77) without mmcli or dbus-daemon, except in CI."""

import importlib.machinery
import importlib.util
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
MMCLI = "/usr/bin/mmcli"
NEEDED = [MMCLI, "/usr/bin/dbus-daemon", "/usr/share/dbus-1/interfaces/org.freedesktop.ModemManager1.Modem.xml",
          "/usr/include/ModemManager/ModemManager-enums.h"]
LIMIT = 5.0  # seconds; a request that never answers is killed after NEVER
NEVER = 1.5


def load_service_module():
    loader = importlib.machinery.SourceFileLoader("fake_modemmanager", os.path.join(SIM, "fake-modemmanager"))
    spec = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def run(argv, env, limit):
    """(status, stdout, stderr); status None when killed at the time limit."""
    proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=limit)
        return proc.returncode, out, err
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        return None, out, err


class Root:
    """A simulated router root with the fake ModemManager on its own bus."""

    def __init__(self, scenario, with_bus=True):
        self.dir = tempfile.mkdtemp(prefix="mmdbus")
        self.scenario = scenario
        subprocess.run(["sh", os.path.join(SIM, "make-root.sh"), self.dir, scenario], check=True)
        self.address = None
        if with_bus:
            r = subprocess.run(["sh", os.path.join(SIM, "start-bus.sh"), self.dir], check=True,
                               stdout=subprocess.PIPE, text=True)
            self.address = r.stdout.strip()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def activate(self, scenario=None):
        """Switches the scenario; with a bus, waits until the service reflects it."""
        switch_scenario(self.dir, scenario or self.scenario, bool(self.address))

    def fake(self, args, limit=LIMIT):
        return run([self.path("usr", "bin", "mmcli")] + args, {}, limit)

    def real(self, args, limit=LIMIT):
        env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C", "DBUS_SYSTEM_BUS_ADDRESS": self.address}
        return run([MMCLI] + args, env, limit)

    def service_log(self):
        try:
            with open(self.path("sim", "bus", "fake-modemmanager.log")) as f:
                return f.read()
        except OSError:
            return ""

    def close(self):
        if self.address:
            subprocess.run(["sh", os.path.join(SIM, "start-bus.sh"), "--stop", self.dir], check=False)
        shutil.rmtree(self.dir, ignore_errors=True)


# Expected differences: (why, fake result -> what the real mmcli must print instead).
def drop_lines(pattern):
    def expect(result):
        status, out, err = result
        return status, b"".join(l for l in out.splitlines(True) if not re.match(pattern, l)), err
    return expect


def bearer_without_properties(path):
    """mmcli finds a listed bearer whose object is gone and shows it with nothing set."""
    def check(test, real):
        status, out, err = real
        test.assertEqual((status, err), (0, b""))
        lines = out.decode().splitlines()
        test.assertEqual(lines[0].split(" : ")[1], path)
        for line in lines[1:]:
            test.assertIn(line.split(" : ")[1], ("--", "no", "0"), line)
    return check


AT = ["AT+CGMR", "AT+CIMI", "AT+CPIN?", "AT+CSQ", "AT+QCCID", 'AT+QCFG="band"', 'AT+QENG="servingcell"',
      "AT+QGDCNT?", "AT+QGID", "AT+QTEMP", "AT"]
MODEM = ["-m", "0", "-K"]

# Scenario, requests in order (the active scenario is set once before the first), differences.
CASES = [
    ("default", [["-L"], ["-L", "-K"], MODEM, ["-b", "2", "-K"], ["-m", "1", "-K"], ["-m", "0", "-r"]]
     + [["-m", "0", "--command=" + c] for c in AT], {}),
    ("no-modem", [["-L"], ["-L", "-K"], MODEM, ["-m", "0", "--command=AT"], ["-m", "0", "-r"]], {}),
    ("no-modemmanager", [["-L"], MODEM, ["-b", "2", "-K"]], {}),
    ("mm1.22", [MODEM], {
        "-m 0 -K": ("ModemManager 1.20 has no Physdev property: its mmcli never prints the line",
                    drop_lines(rb"modem\.generic\.physdev ")),
    }),
    ("bearer-missing", [MODEM, ["-b", "7", "-K"]], {
        "-b 7 -K": ("the scenario's two answers are two moments: the modem still names bearer 7, "
                    "then the bearer is gone. One D-Bus state serves both: the modem lists the "
                    "bearer, its object does not exist, and mmcli shows an empty bearer",
                    bearer_without_properties("/org/freedesktop/ModemManager1/Bearer/7")),
    }),
    ("no-bearer", [MODEM], {}),
    ("at-refused", [["-m", "0", "--command=AT+CSQ"], ["-m", "0", "--command=AT+QGID"]], {}),
    ("at-error", [["-m", "0", "--command=AT+CSQ"]], {}),
    ("at-timeout", [["-m", "0", "--command=AT+CSQ"]], {}),
    ("sim-missing", [["-m", "0", "--command=AT+CPIN?"], ["-m", "0", "--command=AT+QGID"]], {}),
    ("modem-silent", [["-L"], MODEM, ["-m", "0", "--command=AT+CSQ"], ["-m", "0", "-r"]], {}),
    ("reset-fails", [["-m", "0", "-r"]], {}),
    ("reset-new-index", [["-m", "0", "-r"], ["-L"], ["-m", "1", "-K"], ["-m", "0", "-K"],
                         ["-m", "1", "--command=AT+CSQ"]], {}),
    ("reset-modem-gone", [["-m", "0", "-r"], ["-L"], MODEM], {}),
    ("modem-late", [["-L"], ["-L"], MODEM], {}),
    ("operator-hostile", [["-L"], MODEM], {}),
    ("slow", [["-m", "0", "--command=AT+CSQ"]], {}),
    ("hang", [["-m", "0", "--command=AT"], ["-m", "0", "-r"], ["-L"]], {
        "-L": ("the listing carries each modem's properties, and in this scenario their answer "
               "(mmcli -m 0 -K) never comes: the modem is listed without them",
               lambda r: (r[0], r[1].replace(b"[Quectel] EM12-G", b"[manufacturer unknown] model unknown"), r[2])),
    }),
    ("hang-list", [["-L"]], {}),
]


def never_answers(root, args):
    answer = SERVICE.Scenarios(root.dir).lookup("mmcli", args)
    return answer is not None and answer.delay == "forever"


def check_environment():
    missing = [p for p in NEEDED if not os.path.exists(p)]
    if missing:
        message = "missing %s (run scripts/setup.sh)" % ", ".join(missing)
        if os.environ.get("CI"):
            raise SystemExit("FAIL: " + message)
        print("SKIP: " + message)
        sys.exit(77)


check_environment()
SERVICE = load_service_module()


class MmcliParity(unittest.TestCase):
    def test_real_mmcli_prints_what_the_fake_prints(self):
        for scenario, requests, differences in CASES:
            root = Root(scenario)
            try:
                fake, real = [], []
                for results, side in ((fake, root.fake), (real, root.real)):
                    root.activate()
                    for args in requests:
                        # Decided before the call: a reset may switch the scenario.
                        limit = NEVER if never_answers(root, args) else LIMIT
                        results.append(side(args, limit))
                for args, f, r in zip(requests, fake, real):
                    request = " ".join(args)
                    with self.subTest(scenario=scenario, request=request):
                        difference = differences.get(request)
                        if difference is None:
                            self.assertEqual(r, f, "real mmcli %s differs; service log:\n%s" % (
                                request, root.service_log()))
                        elif difference[1].__code__.co_argcount == 2:
                            difference[1](self, r)
                        else:
                            self.assertEqual(r, difference[1](f), difference[0])
                        self.assertNotIn(b"WARNING", r[2])
                        self.assertNotIn(b"CRITICAL", r[2])
                self.assertNotIn("Traceback", root.service_log())
            finally:
                root.close()

    def test_every_difference_names_a_request_of_its_case(self):
        for scenario, requests, differences in CASES:
            names = {" ".join(a) for a in requests}
            for request, (why, _) in differences.items():
                self.assertIn(request, names, scenario)
                self.assertGreater(len(why), 30, "say why %s %s differs" % (scenario, request))

    def test_bearer_without_ipv6_still_sends_the_method(self):
        # mmcli warns about an IP configuration without "method"; ModemManager always sends it.
        root = Root("default")
        try:
            path = root.path("sim", "scenarios", "default", "mmcli_-b_2_-K.out")
            with open(path, "rb") as f:
                lines = f.read().splitlines(True)
            v4only = b"".join(re.sub(rb"^(bearer\.ipv6-config\.(?:method|address|prefix|gateway|mtu)\s+: ).*",
                                     rb"\1--", l) for l in lines if not l.startswith(b"bearer.ipv6-config.dns.value"))
            v4only = v4only.replace(b"bearer.ipv6-config.dns.length            : 2", b"bearer.ipv6-config.dns       : --")
            with open(path, "wb") as f:
                f.write(v4only)
            real = root.real(["-b", "2", "-K"])
            self.assertEqual(real[0], 0, real)
            self.assertNotIn(b"WARNING", real[2])
            self.assertIn(b"bearer.ipv6-config.method                : --\n", real[1])
            self.assertIn(b"bearer.ipv4-config.address               : 10.45.112.37\n", real[1])
        finally:
            root.close()


class DBusClient(unittest.TestCase):
    """What a long-lived D-Bus client sees and mmcli does not show."""

    def connect(self, root):
        from gi.repository import Gio
        return Gio.DBusConnection.new_for_address_sync(
            root.address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)

    def call(self, conn, path, interface, method, args, timeout_ms=5000):
        from gi.repository import Gio, GLib
        return conn.call_sync("org.freedesktop.ModemManager1", path, interface, method,
                              GLib.Variant(*args) if args else None, None, Gio.DBusCallFlags.NONE, timeout_ms, None)

    def test_reset_announces_the_modem_under_its_new_index(self):
        from gi.repository import GLib
        root = Root("reset-new-index")
        try:
            conn = self.connect(root)
            seen = []
            conn.signal_subscribe("org.freedesktop.ModemManager1", "org.freedesktop.DBus.ObjectManager", None,
                                  "/org/freedesktop/ModemManager1", None, 0,
                                  lambda c, s, p, i, name, params: seen.append((name, params.unpack()[0])))
            self.call(conn, "/org/freedesktop/ModemManager1/Modem/0", "org.freedesktop.ModemManager1.Modem",
                      "Reset", None)
            context = GLib.MainContext.default()
            deadline = time.monotonic() + 5
            while len(seen) < 2 and time.monotonic() < deadline:
                context.iteration(False) or time.sleep(0.02)
            self.assertEqual(sorted(seen), [("InterfacesAdded", "/org/freedesktop/ModemManager1/Modem/1"),
                                            ("InterfacesRemoved", "/org/freedesktop/ModemManager1/Modem/0")])
            objects = self.call(conn, "/org/freedesktop/ModemManager1", "org.freedesktop.DBus.ObjectManager",
                                "GetManagedObjects", None).unpack()[0]
            self.assertEqual(list(objects), ["/org/freedesktop/ModemManager1/Modem/1"])
            with open(root.path("sim", "calls.log")) as f:
                log = f.read()
            self.assertIn("dbus Modem/0 Reset\n", log)
        finally:
            root.close()

    def test_a_request_that_never_answers(self):
        from gi.repository import GLib
        root = Root("hang")
        try:
            conn = self.connect(root)
            started = time.monotonic()
            with self.assertRaises(GLib.Error) as caught:
                self.call(conn, "/org/freedesktop/ModemManager1/Modem/0", "org.freedesktop.ModemManager1.Modem",
                          "Command", ("(su)", ("AT+CSQ", 3)), timeout_ms=700)
            self.assertIn("Timeout", caught.exception.message)
            self.assertGreaterEqual(time.monotonic() - started, 0.6)
            # The service still answers everything else.
            objects = self.call(conn, "/org/freedesktop/ModemManager1", "org.freedesktop.DBus.ObjectManager",
                                "GetManagedObjects", None).unpack()[0]
            self.assertEqual(list(objects), ["/org/freedesktop/ModemManager1/Modem/0"])
        finally:
            root.close()


class Lookup(unittest.TestCase):
    """The service's reading of the scenarios is the fake script's."""

    REQUESTS = [
        ("mmcli", ["-L"]), ("mmcli", ["-L", "-K"]), ("mmcli", ["-m", "0", "-K"]), ("mmcli", ["-m", "1", "-K"]),
        ("mmcli", ["-m", "7", "-K"]), ("mmcli", ["-b", "2", "-K"]), ("mmcli", ["-b", "7", "-K"]),
        ("mmcli", ["-m", "0", "-r"]), ("mmcli", ["-m", "1", "-r"]), ("mmcli", ["-m", "0", "--command=AT"]),
        ("mmcli", ["-m", "0", "--command=AT+CSQ"]), ("mmcli", ["-m", "0", '--command=AT+QENG="servingcell"']),
        ("mmcli", ["-m", "0", "--command=AT+QGDCNT?"]), ("mmcli", ["-m", "0", "--command=AT+QGID"]),
        ("mmcli", ["-m", "1", "--command=AT+CSQ"]), ("mmcli", ["-m", "0", "--command=AT\u00e9\n"]),
        ("qmicli", ["-d", "/dev/cdc-wdm0", "-p", "--nas-get-signal-info"]),
        ("qmicli", ["-d", "", "-p", "--nas-get-lte-cphy-ca-info"]),
        ("home-network.sh", ["/dev/cdc-wdm0"]), ("uname", ["-r"]), ("gpio", ["led", "hpue_blue", "on"]),
    ]

    def test_same_answers_as_the_fake_script(self):
        scenarios = sorted(os.listdir(os.path.join(SIM, "scenarios")))
        root = Root("default", with_bus=False)
        try:
            lookup = SERVICE.Scenarios(root.dir)
            programs = {"mmcli": "usr/bin/mmcli", "qmicli": "usr/bin/qmicli", "home-network.sh": "sbin/home-network.sh",
                        "uname": "bin/uname", "gpio": "usr/sbin/gpio"}
            compared = 0
            for scenario in scenarios:
                for prog, args in self.REQUESTS:
                    with self.subTest(scenario=scenario, request=" ".join([prog] + args)):
                        root.activate(scenario)
                        answer = lookup.lookup(prog, args)
                        if answer is not None and lookup.delay_of(answer, prog, args):
                            continue  # the same answer, only later: not worth the wait
                        root.activate(scenario)
                        status, out, err = run([root.path(programs[prog])] + args, {}, LIMIT)
                        if answer is None:
                            self.assertEqual(status, 1)
                            self.assertTrue(err.startswith(b"sim: scenario %s has no answer" % scenario.encode()), err)
                            continue
                        filler = answer.huge
                        self.assertEqual((status, len(out), err),
                                         (answer.rc, len(answer.stdout()) + filler, answer.stderr()))
                        self.assertEqual(out[:len(out) - filler], answer.stdout())
                        compared += 1
            self.assertGreater(compared, 300)
        finally:
            root.close()

    def test_keys(self):
        for request, key in [
            ("mmcli -m @ --command=AT+CPIN?", "mmcli_-m_@_--command=AT+CPIN_"),
            ('mmcli -m @ --command=AT+QCFG="band"', "mmcli_-m_@_--command=AT+QCFG=_band_"),
            ("mmcli -m @ --command=AT\u00e9", "mmcli_-m_@_--command=AT__"),  # two bytes, two blanks
        ]:
            self.assertEqual(SERVICE.request_key(request), key)

    def test_unescape_undoes_mmcli_escaping(self):
        for printed, value in [
            (rb"plain", b"plain"), (rb"a \"b\" \\n", b'a "b" \\n'), (rb"\303\251", "\u00e9".encode()),
            (rb"tab\there", b"tab\there"), (rb"end\\", b"end\\"), (rb"\1\12x", b"\x01\nx"),
        ]:
            self.assertEqual(SERVICE.unescape(printed), value)


if __name__ == "__main__":
    unittest.main(verbosity=2)
