#!/usr/bin/python3
"""The real qmicli against the fake qmi-proxy prints what the fake qmicli prints.

Every QMI answer of every scenario (each answer file once) is asked for twice: from the fake
qmicli script, and from Debian's qmicli talking to sim/fake-qmi-proxy in private namespaces
(tests/qmi/qmi_namespace.sh). Standard output, standard error and the exit status must be equal
byte for byte, except for the answers the table below names with the reason. A missing device,
a device that never answers, a request that never answers and a proxy that is not there are part
of it. Skipped (77) without qmicli or unshare, or where namespaces cannot be made; in CI a missing
tool fails."""

import base64
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
SIM = os.path.join(SOURCE_DIR, "sim")
NAMESPACE = os.path.join(SOURCE_DIR, "tests", "qmi", "qmi_namespace.sh")
QMICLI = "/usr/bin/qmicli"
DEVICE = "/dev/cdc-wdm0"
REQUESTS = ["--uim-sim-power-on=1", "--wds-set-autoconnect-settings=enabled",
            "--nas-get-tx-rx-info=lte", "--nas-get-lte-cphy-ca-info", "--nas-get-signal-info"]
LIMIT = 15.0  # seconds: qmicli gives up on a device that never answers after about 6
NEVER = 1.5   # a request that never answers is killed after this long

sys.path.insert(0, SIM)
from scenario_answers import Scenarios  # noqa: E402


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


def device_missing(answer):
    """The answer is what qmicli prints when the device node does not exist."""
    return b"couldn't create QmiDevice: Couldn't query file info" in (answer.err or b"")


def internal_error(real):
    """Output no client prints (binary garbage, megabytes of filler): the proxy answers with
    the error status Internal, and qmicli says so."""
    status, out, err = real
    return (status == 1 and out == b"" and
            re.fullmatch(rb"error: [^\n]*: QMI protocol error \(3\): 'Internal'\n", err) is not None)


# Answers the real qmicli cannot print, by answer name: why, and what it prints instead.
DIFFERENCES = {
    "garbage": ("binary bytes with NULs stand for a client gone wrong; the real client prints "
                "only what libqmi decodes", internal_error),
    "huge-qmi": ("megabytes of filler after the text stand for a runaway client; QMI answers are "
                 "a few hundred bytes", internal_error),
}


class Root:
    """A simulated router root in a temporary folder."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="qmiproxy")
        subprocess.run(["sh", os.path.join(SIM, "make-root.sh"), self.dir], check=True)
        self.scenarios = Scenarios(self.dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def read(self, *parts):
        try:
            with open(self.path(*parts)) as f:
                return f.read()
        except OSError:
            return ""

    def activate(self, scenario):
        self.scenarios.switch_to(scenario)

    def fake(self, request, limit):
        return run([self.path("usr", "bin", "qmicli"), "-d", DEVICE, "-p", request], {}, limit)

    def real(self, cases, proxy=True):
        """Runs the cases with the real qmicli in the namespaces; their results in order."""
        with open(self.path("cases.json"), "w") as f:
            json.dump(cases, f)
        env = dict(os.environ, QMI_PROXY="fake" if proxy else "none")
        limit = 30 + sum(c["limit"] for c in cases)
        status, out, err = run(["sh", NAMESPACE, self.dir, sys.executable, os.path.abspath(__file__),
                                "--inside", self.dir], env, limit)
        if status != 0:
            raise AssertionError("namespace run failed (%s): %s %s" % (status, out, err))
        with open(self.path("results.json")) as f:
            return [(r[0], base64.b64decode(r[1]), base64.b64decode(r[2])) for r in json.load(f)]

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def inside(root_dir):
    """In the namespaces: each case's scenario and device, then the real qmicli."""
    root = Root.__new__(Root)
    root.dir = root_dir
    root.scenarios = Scenarios(root_dir)
    with open(root.path("cases.json")) as f:
        cases = json.load(f)
    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}
    results = []
    for case in cases:
        root.activate(case["scenario"])
        if case["device"] and not os.path.exists(DEVICE):
            os.mkfifo(DEVICE, 0o600)
        elif not case["device"] and os.path.exists(DEVICE):
            os.unlink(DEVICE)
        status, out, err = run([QMICLI, "-d", DEVICE, "-p", case["request"]], env, case["limit"])
        results.append([status, base64.b64encode(out).decode(), base64.b64encode(err).decode()])
    with open(root.path("results.json"), "w") as f:
        json.dump(results, f)


def fixtures(root):
    """One case per QMI answer file of the scenarios: (scenario, request, answer)."""
    seen = set()
    cases = []
    for scenario in sorted(os.listdir(os.path.join(SIM, "scenarios"))):
        root.activate(scenario)
        for request in REQUESTS:
            answer = root.scenarios.lookup("qmicli", ["-d", DEVICE, "-p", request])
            if answer is None or answer.base in seen:
                continue
            seen.add(answer.base)
            cases.append((scenario, request, answer))
    return cases


def check_environment():
    missing = [p for p in (QMICLI, shutil.which("unshare") or "unshare") if not os.path.exists(p)]
    if missing:
        message = "missing %s (run scripts/setup.sh)" % ", ".join(missing)
        if os.environ.get("CI"):
            raise SystemExit("FAIL: " + message)
        print("SKIP: " + message)
        sys.exit(77)
    probe = subprocess.run(["unshare", "--mount", "--net", "--pid", "--fork", "true"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if probe.returncode != 0:
        print("SKIP: cannot make private namespaces here (root needed): %s" % probe.stderr.decode().strip())
        sys.exit(77)


class QmicliParity(unittest.TestCase):
    def test_real_qmicli_prints_every_fixture(self):
        root = Root()
        try:
            cases = fixtures(root)
            runs = []
            for scenario, request, answer in cases:
                limit = NEVER if root.scenarios.delay_of(
                    answer, "qmicli", ["-d", DEVICE, "-p", request]) == "forever" else LIMIT
                runs.append({"scenario": scenario, "request": request, "limit": limit,
                             "device": not device_missing(answer)})
            expected = []
            for case in runs:
                root.activate(case["scenario"])
                expected.append(root.fake(case["request"], case["limit"]))
            real = root.real(runs)
            names = set()
            for (scenario, request, answer), fake, got in zip(cases, expected, real):
                name = os.path.basename(answer.base)
                names.add(name)
                with self.subTest(scenario=scenario, request=request, answer=name):
                    difference = DIFFERENCES.get(name)
                    if difference is None:
                        self.assertEqual(got, fake)
                    else:
                        self.assertTrue(difference[1](got), "%s: %s" % (difference[0], got))
                    self.assertNotIn(b"Warning", got[2])
            # Every kind of answer came up: texts, error statuses, silence, a missing device.
            for name in ("qmicli_-d_@_-p_--nas-get-signal-info", "qmicli_-d_@_-p_--uim-sim-power-on=1",
                         "never", "qmi-timeout", "device-missing"):
                self.assertIn(name, names)
            self.assertGreaterEqual(len(cases), 18)
            self.assertEqual(root.read("sim", "unknown.log"), "")
            self.assertNotIn("Traceback", root.read("sim", "fake-qmi-proxy.log"))
            # Every client id the real client was given, it gave back.
            calls = root.read("sim", "calls.log").splitlines()
            allocated = sorted(l.split(" ", 4)[-1] for l in calls if " ctl allocate " in l)
            released = sorted(l.split(" ", 4)[-1] for l in calls if " ctl release " in l)
            asked = [(c, r) for c, r in zip(runs, real) if c["device"] and c["scenario"] != "modem-silent"]
            killed = [c for c, r in asked if r[0] is None]
            self.assertEqual(len(allocated), len(asked))
            self.assertEqual(len(released), len(asked) - len(killed))
            self.assertTrue(set(released) <= set(allocated))
        finally:
            root.close()

    def test_no_proxy(self):
        root = Root()
        try:
            real = root.real([{"scenario": "default", "request": "--nas-get-signal-info",
                               "limit": LIMIT, "device": True}], proxy=False)
            self.assertEqual(real, [(1, b"", b"error: couldn't open the QmiDevice: "
                                           b"Couldn't spawn the qmi-proxy\n")])
        finally:
            root.close()

    def test_every_difference_is_an_answer_and_says_why(self):
        root = Root()
        try:
            names = {os.path.basename(a.base) for _, _, a in fixtures(root)}
        finally:
            root.close()
        for name, (why, _) in DIFFERENCES.items():
            self.assertIn(name, names)
            self.assertGreater(len(why), 30)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--inside":
        inside(sys.argv[2])
        sys.exit(0)
    check_environment()
    unittest.main(verbosity=2)
