"""The answers of a simulated router's scenarios, looked up by the same rules as sim/fake
(see sim/README.md): shared by the fake services that answer for the fake clients."""

import fnmatch
import os


KEY_CHARS = frozenset(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@+=.,_-")


def first_line(path):
    """What `read -r VAR <path` reads: the first line, blanks and tabs trimmed."""
    try:
        with open(path, "rb") as f:
            line = f.readline()
    except OSError:
        return None
    return line.rstrip(b"\n").strip(b" \t").decode("utf-8", "surrogateescape")


def request_key(norm):
    """The answer name of a normalised request: bytes outside the key set become `_`."""
    raw = os.fsencode(norm)
    return "".join(chr(c) if c in KEY_CHARS else "_" for c in raw)


class Answer:
    """One answer: the files NAME.out, .err, .rc, .delay, .huge, .then of a scenario."""

    def __init__(self, base, chain):
        self.base = base
        self.out = self._read("out")
        self.err = self._read("err")
        rc = first_line(base + ".rc")
        if rc is not None:
            self.rc = int(rc)
        elif self.err is not None and self.out is None:
            self.rc = 1
        else:
            self.rc = 0
        self.delay = first_line(base + ".delay")
        self.then = first_line(base + ".then")
        huge = first_line(base + ".huge")
        self.huge = int(huge) if huge else 0
        self.chain = chain

    def _read(self, ext):
        try:
            with open(self.base + "." + ext, "rb") as f:
                return f.read()
        except OSError:
            return None

    def stdout(self):
        return self.out or b""

    def stderr(self):
        return self.err or b""

    def failed(self):
        return self.rc != 0


class Scenarios:
    def __init__(self, root):
        self.sim = os.path.join(root, "sim")

    def active(self):
        return first_line(os.path.join(self.sim, "active")) or "default"

    def chain(self):
        names = []
        name = self.active()
        while name:
            d = os.path.join(self.sim, "scenarios", name)
            if not os.path.isdir(d) or len(names) >= 8:
                raise LookupError("unknown scenario or parent loop: " + name)
            names.append(name)
            name = first_line(os.path.join(d, "parent"))
        return names

    def fill(self):
        """Filler bytes added to the strings the daemon reads (file `fill`, nearest scenario first)."""
        try:
            for s in self.chain():
                value = first_line(os.path.join(self.sim, "scenarios", s, "fill"))
                if value is not None:
                    return int(value)
        except (LookupError, ValueError):
            pass
        return 0

    def index(self, chain=None):
        for s in chain or self.chain():
            value = first_line(os.path.join(self.sim, "scenarios", s, "index"))
            if value is not None:
                return value
        return "0"

    def normalise(self, prog, args, chain):
        index = self.index(chain)
        out = [prog]
        prev = None
        for i, a in enumerate(args, 1):
            if prog == "mmcli" and i == 2 and prev == "-m" and a == index:
                a = "@"
            elif prog == "qmicli" and i == 2 and prev == "-d":
                a = "@"
            elif prog == "home-network.sh" and i == 1:
                a = "@"
            out.append(a)
            prev = a
        return " ".join(out)

    def lookup(self, prog, args):
        """The answer the fake client PROG would give for ARGS, or None."""
        chain = self.chain()
        norm = self.normalise(prog, args, chain)
        key = request_key(norm)
        for s in chain:
            d = os.path.join(self.sim, "scenarios", s)
            base = os.path.join(d, key)
            if any(os.path.exists(base + "." + e) for e in ("out", "err", "rc", "delay", "huge")):
                return Answer(base, chain)
            try:
                with open(os.path.join(d, "globs"), "rb") as f:
                    lines = f.read().decode("utf-8", "surrogateescape").split("\n")
            except OSError:
                continue
            for line in lines:
                pattern, _, target = line.partition("\t")
                if pattern == "" or pattern.startswith("#"):
                    continue
                if fnmatch.fnmatchcase(norm, pattern):
                    return Answer(os.path.join(d, target.strip(" \t")), chain)
        return None

    def delay_of(self, answer, prog, args):
        """The answer's own delay, else the first matching line of a `delays` file."""
        if answer.delay is not None:
            return answer.delay
        norm = self.normalise(prog, args, answer.chain)
        for s in answer.chain:
            try:
                with open(os.path.join(self.sim, "scenarios", s, "delays"), "rb") as f:
                    lines = f.read().decode("utf-8", "surrogateescape").split("\n")
            except OSError:
                continue
            for line in lines:
                pattern, _, seconds = line.partition("\t")
                if pattern == "" or pattern.startswith("#"):
                    continue
                if fnmatch.fnmatchcase(norm, pattern):
                    return seconds.strip(" \t")
        return None

    def switch_to(self, name):
        tmp = os.path.join(self.sim, "active.%d" % os.getpid())
        with open(tmp, "w") as f:
            f.write(name + "\n")
        os.replace(tmp, os.path.join(self.sim, "active"))

    def log(self, line):
        with open(os.path.join(self.sim, "calls.log"), "a") as f:
            f.write(line + "\n")
