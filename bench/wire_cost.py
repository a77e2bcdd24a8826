#!/usr/bin/env python3
"""What one Influx record costs on the wire: modem-statusd against the simulated router posts to a
real InfluxDB 1.x on loopback through a counting TCP proxy, over HTTP and over HTTPS.

  wire_cost.py BUILD_DIR RECORDS

For HTTPS a private CA is made here (a root and an intermediate, RSA 2048 like public servers);
InfluxDB serves TLS itself and sends the server certificate with the intermediate, the daemon
trusts the root through influx_ca_file. Each scenario runs until RECORDS records are stored (a
record every 2 s) and counts the application bytes both ways and the connections the proxy saw.
Prints one JSON object on standard output."""
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

import daemon_run
import urllib.parse
import urllib.request

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PERIOD = 2

SCENARIOS = [
    # name, scheme, extra UCI options, seconds after which the proxy closes an idle connection
    ("https", "https", {}, None),
    ("https_batch10", "https", {"influx_batch": "10"}, None),
    ("http", "http", {}, None),
    ("http_batch10", "http", {"influx_batch": "10"}, None),
    ("https_plain", "https", {"influx_compress": "none"}, None),
    # A server or a NAT that drops idle connections: each request opens a new connection and
    # resumes the TLS session.
    ("https_idle_close", "https", {}, 1.0),
    ("https_batch10_idle_close", "https", {"influx_batch": "10"}, 1.0),
]


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class CountingProxy:
    """Forwards every connection on a loopback port to `target`, counting the bytes each way."""

    def __init__(self, target, idle_close=None):
        self.target = target
        self.idle_close = idle_close
        self.lock = threading.Lock()
        self.up = 0
        self.down = 0
        self.connections = 0
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def counts(self):
        with self.lock:
            return self.up, self.down, self.connections

    def accept(self):
        while True:
            try:
                client, _ = self.sock.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
            try:
                server = socket.create_connection(self.target)
            except OSError:
                client.close()
                continue
            if self.idle_close:
                client.settimeout(self.idle_close)
            threading.Thread(target=self.pump, args=(client, server, "up"), daemon=True).start()
            threading.Thread(target=self.pump, args=(server, client, "down"), daemon=True).start()

    def pump(self, src, dst, way):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                with self.lock:
                    setattr(self, way, getattr(self, way) + len(data))
                dst.sendall(data)
        except OSError:
            pass
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def make_chain(d):
    """root.pem (trusted by the daemon), chain.pem (server + intermediate) and server.key."""
    def run(*args):
        subprocess.run(["openssl"] + list(args), cwd=d, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(d, "ca.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n")
    with open(os.path.join(d, "server.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
    key = ["-newkey", "rsa:2048", "-nodes"]
    run("req", "-x509", *key, "-keyout", "root.key", "-out", "root.pem", "-days", "2",
        "-subj", "/O=Bench/CN=Bench Root CA")
    run("req", *key, "-keyout", "mid.key", "-out", "mid.csr", "-subj", "/O=Bench/CN=Bench Issuing CA")
    run("x509", "-req", "-in", "mid.csr", "-CA", "root.pem", "-CAkey", "root.key",
        "-CAcreateserial", "-out", "mid.pem", "-days", "2", "-extfile", "ca.ext")
    run("req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    run("x509", "-req", "-in", "server.csr", "-CA", "mid.pem", "-CAkey", "mid.key",
        "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    with open(os.path.join(d, "chain.pem"), "w") as out:
        for name in ("server.pem", "mid.pem"):
            with open(os.path.join(d, name)) as f:
                out.write(f.read())


class Influx:
    def __init__(self, work, tls):
        self.dir = os.path.join(work, "influx-" + ("tls" if tls else "plain"))
        os.makedirs(self.dir)
        self.port = free_port()
        self.tls = tls
        conf = os.path.join(self.dir, "influxdb.conf")
        with open(conf, "w") as f:
            f.write('reporting-enabled = false\nbind-address = "127.0.0.1:%d"\n' % free_port())
            f.write('[meta]\n  dir = "%s/meta"\n[data]\n  dir = "%s/data"\n  wal-dir = "%s/wal"\n'
                    '  query-log-enabled = false\n[monitor]\n  store-enabled = false\n'
                    % (self.dir, self.dir, self.dir))
            f.write('[http]\n  enabled = true\n  bind-address = "127.0.0.1:%d"\n'
                    '  auth-enabled = false\n  log-enabled = false\n' % self.port)
            if tls:
                f.write('  https-enabled = true\n  https-certificate = "%s/chain.pem"\n'
                        '  https-private-key = "%s/server.key"\n' % (work, work))
            f.write("[continuous_queries]\n  enabled = false\n")
        self.log = open(os.path.join(self.dir, "log"), "wb")
        self.proc = subprocess.Popen(["influxd", "-config", conf], stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.context = None
        if tls:
            self.context = ssl.create_default_context(cafile=os.path.join(work, "root.pem"))
        for _ in range(400):
            if self.call("GET", "/ping") == 204:
                break
            time.sleep(0.05)
        else:
            sys.exit("wire_cost: influxd did not start")

    def url(self, path):
        return "%s://127.0.0.1:%d%s" % ("https" if self.tls else "http", self.port, path)

    def call(self, method, path, want_body=False):
        try:
            req = urllib.request.Request(self.url(path), method=method)
            with urllib.request.urlopen(req, context=self.context, timeout=5) as r:
                return r.read().decode() if want_body else r.status
        except Exception:  # noqa: BLE001 - not up yet
            return None

    def query(self, q):
        return self.call("POST", "/query?db=bench&q=" + urllib.parse.quote(q), True)

    def count(self, measurement):
        body = self.query("SELECT count(id) FROM %s" % measurement)
        try:
            return json.loads(body)["results"][0]["series"][0]["values"][0][1]
        except (TypeError, KeyError, IndexError, ValueError):
            return 0

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def run_scenario(build, work, influx, name, scheme, extra, idle_close, records):
    proxy = CountingProxy(("127.0.0.1", influx.port), idle_close)
    root = os.path.join(work, "root-" + name)
    subprocess.run([os.path.join(TOP, "sim", "make-root.sh"), root], check=True,
                   stdout=subprocess.DEVNULL)
    measurement = "wire_" + name
    options = {"poll": "1", "period": str(PERIOD),
               "influx_url": "%s://127.0.0.1:%d" % (scheme, proxy.port),
               "database": "bench", "userid": "router", "password": "s3cret-pw",
               "schema": measurement, "account": "acct", "sub_account": "sub", "instance": "r1"}
    if scheme == "https":
        options["influx_ca_file"] = os.path.join(work, "root.pem")
    options.update(extra)
    with open(os.path.join(root, "etc", "config", "zel"), "w") as f:
        f.write("\nconfig status_gather 'status_gather'\n")
        for key, value in options.items():
            f.write("\toption %s '%s'\n" % (key, value))
        f.write("\nconfig api 'api'\n\toption status 'enabled'\n")
    env = {"MODEM_STATUS_ROOT": root, "PATH": root + "/usr/sbin:/usr/bin:/bin"}
    log = open(os.path.join(work, "daemon-%s.log" % name), "wb")
    proc = subprocess.Popen([os.path.join(build, "modem-statusd")], env=env,
                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, cwd=work)
    start = time.monotonic()
    stored = 0
    deadline = start + PERIOD * records * 2 + 60
    while time.monotonic() < deadline:
        time.sleep(0.2)
        stored = influx.count(measurement)
        if stored >= records:
            break
    up, down, connections = proxy.counts()
    elapsed = time.monotonic() - start
    daemon_run.stop_daemon(proc)
    proxy.sock.close()
    if stored == 0:
        with open(os.path.join(work, "daemon-%s.log" % name), errors="replace") as f:
            tail = f.read()[-2000:]
        sys.exit("wire_cost: no record stored for %s\n%s" % (name, tail))
    return {"records": stored, "seconds": elapsed, "bytes_up": up, "bytes_down": down,
            "connections": connections, "bytes_per_record": (up + down) / stored,
            "connections_per_record": connections / stored}


def main():
    build, records = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    only = sys.argv[3:]
    result = {"period": PERIOD}
    with tempfile.TemporaryDirectory() as work:
        make_chain(work)
        servers = {}
        try:
            for name, scheme, extra, idle_close in SCENARIOS:
                if only and name not in only:
                    continue
                if scheme not in servers:
                    servers[scheme] = Influx(work, scheme == "https")
                    servers[scheme].query("CREATE DATABASE bench")
                result[name] = run_scenario(build, work, servers[scheme], name, scheme, extra,
                                            idle_close, records)
                print("wire_cost: %s %s" % (name, json.dumps(result[name])), file=sys.stderr)
        finally:
            for server in servers.values():
                server.stop()
    json.dump(result, sys.stdout)
    print()


if __name__ == "__main__":
    main()
