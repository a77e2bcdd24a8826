"""The status page in headless Chromium, served by lighttpd with the real CGI, while the real
daemon polls a simulated router. Screenshots go to SCREENSHOT_DIR; UPDATE_SCREENSHOT=1 also
replaces docs/status-page.png. Without Chromium: skipped (exit 77), except in CI."""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

SOURCE_DIR = os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
DAEMON = os.environ.get("MODEM_STATUSD_BIN", "")
CGI = os.environ.get("MODEM_STATUS_API_BIN", "")
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
FETCH_S = 5  # the page's fetch period


def wait_for(what, predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]



def stale_names(driver):
    """The names of the values the page shows greyed."""
    return [e.find_element("css selector", ".v").get_attribute("data-name")
            for e in driver.find_elements("css selector", "dd.stale")]

class Router:
    """A simulated router root with lighttpd serving www/ and the CGI, the daemon and a GPS feed."""

    def __init__(self, scenario="default"):
        self.dir = tempfile.mkdtemp(prefix="status-page-")
        self.root = os.path.join(self.dir, "root")
        subprocess.run(["sh", os.path.join(SOURCE_DIR, "sim", "make-root.sh"), self.root, scenario],
                       check=True)
        self.snapshot_path = os.path.join(self.root, "tmp/corvane/modemstatus.json")
        self.lighttpd = None
        self.daemon = None
        self.gps_stop = threading.Event()
        self.gps = threading.Thread(target=self._feed_gps, daemon=True)
        self.gps.start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def start_server(self):
        cgi_dir = os.path.join(self.dir, "cgi-bin")
        os.makedirs(cgi_dir, exist_ok=True)
        if not os.path.exists(os.path.join(cgi_dir, "modem-status-api")):
            os.symlink(CGI, os.path.join(cgi_dir, "modem-status-api"))
        for _ in range(5):
            self.port = free_port()
            conf = os.path.join(self.dir, "lighttpd.conf")
            with open(conf, "w") as f:
                f.write('server.modules = ( "mod_cgi", "mod_alias", "mod_setenv" )\n'
                        'server.bind = "127.0.0.1"\n'
                        'server.port = %d\n'
                        'server.document-root = "%s"\n'
                        'server.errorlog = "%s/error.log"\n'
                        'mimetype.assign = ( ".html" => "text/html", ".js" => "text/javascript",'
                        ' ".css" => "text/css" )\n'
                        'alias.url = ( "/cgi-bin/" => "%s/" )\n'
                        'setenv.add-environment = ( "MODEM_STATUS_ROOT" => "%s" )\n'
                        '$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ( "" => "" ) }\n'
                        % (self.port, os.path.join(os.path.abspath(SOURCE_DIR), "www"), self.dir,
                           cgi_dir, self.root))
            self.lighttpd = subprocess.Popen(["lighttpd", "-D", "-f", conf])
            for _ in range(200):
                try:
                    socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                    return
                except OSError:
                    if self.lighttpd.poll() is not None:
                        break  # the port was taken meanwhile: try another
                    time.sleep(0.01)
            self.stop_server()
        raise AssertionError("lighttpd did not start")

    def stop_server(self):
        if self.lighttpd:
            self.lighttpd.terminate()
            self.lighttpd.wait()
            self.lighttpd = None

    def start_daemon(self):
        env = {"MODEM_STATUS_ROOT": self.root,
               "PATH": os.path.join(self.root, "usr/sbin") + ":/usr/bin:/bin"}
        log = open(os.path.join(self.dir, "daemon.log"), "ab")
        self.daemon = subprocess.Popen([DAEMON, "-j", self.snapshot_path], env=env, stdout=log,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        log.close()

    def stop_daemon(self):
        if self.daemon:
            os.killpg(self.daemon.pid, signal.SIGINT)
            self.daemon.wait(timeout=10)
            self.daemon = None

    def write(self, path, text):
        with open(os.path.join(self.root, path), "w") as f:
            f.write(text)

    def snapshot_file(self):
        """The snapshot file's entries by name ({} while there is none)."""
        try:
            with open(self.snapshot_path) as f:
                return {e["name"]: e for e in json.load(f)["status"]}
        except (OSError, ValueError, KeyError):
            return {}

    def served(self):
        """The snapshot as the CGI serves it, entries by name."""
        with urllib.request.urlopen(self.url("/cgi-bin/modem-status-api"), timeout=5) as r:
            return {e["name"]: e for e in json.load(r)["status"]}

    def _feed_gps(self):
        # The position's time of update is the fix time the sentence carries: send the current one,
        # as a receiver does.
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        while not self.gps_stop.wait(1):
            body = ("GPGGA,%s,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"
                    % time.strftime("%H%M%S", time.gmtime()))
            check = 0
            for c in body:
                check ^= ord(c)
            sentence = ("$%s*%02X\r\n" % (body, check)).encode()
            try:
                sock.sendto(sentence, os.path.join(self.root, "tmp/corvane/gps.socket"))
            except OSError:
                pass  # the daemon has not bound its socket yet
        sock.close()

    def close(self):
        self.gps_stop.set()
        self.stop_daemon()
        self.stop_server()
        self.gps.join()
        shutil.rmtree(self.dir, ignore_errors=True)


driver = None


def setUpModule():
    global driver
    if not (os.path.exists(CHROMIUM) and os.path.exists(CHROMEDRIVER)):
        if os.environ.get("CI"):
            raise AssertionError("Chromium or chromedriver missing (run scripts/setup.sh)")
        print("SKIP: Chromium or chromedriver missing (run scripts/setup.sh)")
        sys.exit(77)
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    for arg in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--window-size=1280,900"]:
        options.add_argument(arg)
    options.binary_location = CHROMIUM
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def tearDownModule():
    if driver:
        driver.quit()


def console_errors():
    return [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]


def shown(name):
    """The text the page shows for a status value."""
    return driver.execute_script(
        "const e = document.querySelector('[data-name=\"' + arguments[0] + '\"]');"
        "return e ? e.textContent : null;", name)


def page_state():
    return driver.execute_script("return document.getElementById('state').dataset.state;")


def fetches():
    return int(driver.execute_script("return document.body.dataset.fetches || '0';"))


def first_number(text):
    m = re.search(r"-?\d+(\.\d+)?", text or "")
    return m and m.group(0)


def same_number(shown_text, value):
    """The shown number equals the value to the precision it is shown with."""
    n = first_number(shown_text)
    if n is None:
        return False
    decimals = len(n.split(".")[1]) if "." in n else 0
    return abs(float(n) - float(value)) <= 0.5 * 10 ** -decimals + 1e-9


def same_bytes(shown_text, value):
    """'611.2 MB' against 611204883."""
    m = re.fullmatch(r"(\d+(?:\.\d)?) (B|kB|MB|GB|TB)", shown_text or "")
    if not m:
        return False
    scale = 1000 ** ["B", "kB", "MB", "GB", "TB"].index(m.group(2))
    return abs(float(m.group(1)) * scale - int(value)) <= 0.05 * scale


TEXT = ["Connection_s", "HnName_s", "ScMode_s", "Apn_s", "GeoHash_s", "LanIpAddr_s", "Sn_s",
        "SwVersion_s", "ModemSwVersion_s", "SignalPercent_s"]
NUMBERS = ["ScRsrp_i", "ScRsrq_i", "ScSinr_f", "ScRssi_i", "QmiTxPwr_f", "ScFb_i", "ScId_i",
           "ScPId_i", "ScEarfcn_i", "ScTac_i", "Lat_f", "Lon_f", "Alt_f", "WWanRxPkts_i",
           "TXO_i", "TCT_i", "TPA1_i", "TS0_i", "TS1_i", "TS2_i", "TS3_i", "TS4_i"]
BYTES = ["WWanRxBytes_i", "WWanTxBytes_i"]
IDENTITY = ["IMEI_s", "ICCID_s", "IMSI_s", "PhoneNumber_s"]


class StatusPageTest(unittest.TestCase):
    def setUp(self):
        self.router = None

    def tearDown(self):
        if self.router:
            self.router.close()

    def open_page(self, router):
        driver.get(router.url("/modem-status/index.html"))

    def wait_state(self, state, timeout=2 * FETCH_S + 3):
        wait_for("page state %s (now %s)" % (state, page_state()),
                 lambda: page_state() == state, timeout)

    def start_healthy(self, router=None):
        self.router = r = router or Router()
        r.start_server()
        r.start_daemon()
        wait_for("a snapshot with a position and the serving cell",
                 lambda: {"GeoHash_s", "ScRsrp_i"} <= r.snapshot_file().keys(), 30)
        self.open_page(r)
        self.wait_state("ok")
        return r

    def test_healthy_run_shows_the_snapshot_and_follows_it(self):
        r = self.start_healthy()
        wait_for("a position on the page", lambda: shown("GeoHash_s") not in (None, "—"), 15)
        snap = r.served()
        for name in TEXT:
            self.assertEqual(shown(name), snap[name]["value"], name)
        for name in NUMBERS:
            self.assertTrue(same_number(shown(name), snap[name]["value"]),
                            "%s: shown %r, snapshot %r" % (name, shown(name), snap[name]["value"]))
        for name in BYTES:
            self.assertTrue(same_bytes(shown(name), snap[name]["value"]),
                            "%s: shown %r, snapshot %r" % (name, shown(name), snap[name]["value"]))
        grades = driver.execute_script(
            "return [...document.querySelectorAll('.grade')].map(g => g.textContent);")
        self.assertEqual(len(grades), 4)
        for word in grades:
            self.assertIn(word, ["Excellent", "Good", "Fair", "Poor"])

        # Identity only after the user asks for it.
        page_text = driver.find_element("tag name", "body").text
        for name in IDENTITY:
            self.assertNotIn(snap[name]["value"], page_text, name)
        driver.find_element("css selector", "button.reveal").click()
        for name in IDENTITY:
            self.assertEqual(shown(name), snap[name]["value"], name)

        # Traffic: the rate between two fetches once the counters move.
        with open(os.path.join(r.root, "proc/net/dev")) as f:
            dev = f.read()
        r.write("proc/net/dev", dev.replace("611204883", "621204883"))
        wait_for("a receive rate", lambda: driver.execute_script(
            "return document.querySelector('[data-name=WWanRxBytes_i]')"
            ".parentNode.querySelector('.rate').textContent;") not in ("", "0 B/s"),
            3 * FETCH_S + 5)

        # A new scenario reaches the page within two fetches of reaching the snapshot.
        r.write("sim/active", "low-tx-power\n")
        wait_for("the low TX power in the snapshot",
                 lambda: r.snapshot_file().get("QmiTxPwr_f", {}).get("value") == "-9.8", 20)
        before = fetches()
        # Counted in fetches, not seconds: a busy machine delays the page's timer, not the count.
        wait_for("the low TX power on the page", lambda: shown("QmiTxPwr_f") == "-9.8 dBm",
                 4 * FETCH_S + 5)
        self.assertLessEqual(fetches() - before, 2)
        self.assertGreaterEqual(int(driver.execute_script(
            "return document.querySelector('.chart svg').dataset.points;")), 2)

        # Nothing greyed in a healthy run but what the page says it greys.
        self.assertEqual(stale_names(driver), [])
        self.assertEqual(console_errors(), [])

        shots = os.environ.get("SCREENSHOT_DIR", ".")
        driver.find_element("css selector", "button.reveal").click()  # identity hidden again
        height = driver.execute_script("return document.documentElement.scrollHeight;")
        driver.set_window_size(1280, height + 250)
        driver.save_screenshot(os.path.join(shots, "status-page.png"))
        if os.environ.get("UPDATE_SCREENSHOT") == "1":
            shutil.copy(os.path.join(shots, "status-page.png"),
                        os.path.join(SOURCE_DIR, "docs", "status-page.png"))
        # A phone: one column, nothing wider than the screen.
        driver.set_window_size(390, 844)
        self.assertLessEqual(
            driver.execute_script("return document.documentElement.scrollWidth;"),
            driver.execute_script("return window.innerWidth;"))
        driver.save_screenshot(os.path.join(shots, "status-page-phone.png"))
        driver.set_window_size(1280, 900)

    def test_each_failure_has_its_own_state(self):
        self.router = r = Router()
        r.start_server()
        self.open_page(r)
        self.wait_state("empty")  # no daemon, no snapshot

        r.start_daemon()
        self.wait_state("ok", 20)
        # A few fetches, so the page has measured the status cycle it greys old values by.
        seen = fetches()
        wait_for("three more fetches", lambda: fetches() >= seen + 3, 4 * FETCH_S)
        self.assertEqual(stale_names(driver), [])
        r.stop_daemon()
        self.wait_state("stalled", 35)
        self.assertIn("not running", driver.find_element("id", "state").text)
        wait_for("greyed values", lambda: len(driver.find_elements("css selector", "dd.stale")) > 10,
                 4 * FETCH_S)

        r.write("etc/config/zel", "config api 'api'\n\toption status 'disabled'\n")
        self.wait_state("disabled")
        self.assertIn("uci set zel.api.status=enabled; uci commit zel",
                      driver.find_element("id", "state").text)
        self.assertFalse(driver.find_element("id", "sections").is_displayed())

        r.stop_server()
        self.wait_state("unreachable")
        self.assertIn("Retrying", driver.find_element("id", "state").text)
        driver.get_log("browser")  # the refused connections are logged: not this test's concern

    def test_hostile_operator_name_is_shown_as_text(self):
        name = "<img src=x onerror=alert(1)>"
        self.router = r = Router()
        hostile = os.path.join(r.root, "sim/scenarios/hostile")
        os.makedirs(hostile)
        r.write("sim/scenarios/hostile/parent", "default\n")
        r.write("sim/scenarios/hostile/home-network.sh_@.out", '310\n260\n"%s"\n' % name)
        r.write("sim/active", "hostile\n")
        self.start_healthy(r)
        wait_for("the operator name", lambda: shown("HnName_s") == name, 2 * FETCH_S + 2)
        self.assertEqual(driver.find_elements("tag name", "img"), [])
        time.sleep(1)  # an injected image would fail to load and run its handler by now
        from selenium.common.exceptions import NoAlertPresentException
        with self.assertRaises(NoAlertPresentException):
            driver.switch_to.alert.text
        self.assertEqual(console_errors(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
