"""An indiserver running indi_lumenvale_ccd on loopback, for the driver's test and its figures.

The server (and so the driver) runs with the emulated webcam and camera port preloaded, whose
log tells every line write with its CLOCK_MONOTONIC microseconds, and with a temporary directory
of its own in the scratch directory. It has a port and a local socket of its own, so that it
runs beside a user's indiserver, and it starts the driver through its fifo once a client of
ours is connected, as Ekos does: that client collects the driver's messages and sees every
property update in order. Properties are set and read with indi_setprop and indi_getprop, waits
are indi_eval -w with a deadline.
"""

import base64

import os
import re
import shutil
import socket
import subprocess
import threading
import time
from html import unescape

DEVICE = "Lumenvale CCD"
TOOLS = ("indiserver", "indi_getprop", "indi_setprop", "indi_eval")
STATES = {"Idle": 0, "Ok": 1, "Busy": 2, "Alert": 3}


class Failure(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failure(what)


def tools_missing():
    return [t for t in TOOLS if shutil.which(t) is None]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


TAG = re.compile(r'<(def|set|del)\w*?(?:Vector|Property)?\b([^>]*)>|<message\b([^>]*)>')


def attribute(attrs, name):
    m = re.search(rf'\b{name}="([^"]*)"', attrs)
    return unescape(m.group(1)) if m else None


class Messages(threading.Thread):
    """A client that asked for everything: the driver's messages, the properties updated before
    they were defined, and those that turned Alert."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock.sendall(b'<getProperties version="1.7"/>\n')
        self.sock.settimeout(None)
        self.texts = []
        self.defined = set()
        self.kinds = {}  # each property defined: its kind ("Number", "Switch", ...) and group
        self.undefined_updates = []
        self.alerts = []
        self.cond = threading.Condition()
        self.start()

    def run(self):
        pending = ""
        while True:
            try:
                data = self.sock.recv(65536)
            except OSError:
                return
            if not data:
                return
            pending += data.decode("utf-8", "replace")
            end = pending.rfind(">") + 1  # a tag that is still arriving waits for its end
            with self.cond:
                for m in TAG.finditer(pending[:end]):
                    self.take(m)
                self.cond.notify_all()
            pending = pending[end:]

    def take(self, m):
        attrs = m.group(2) if m.group(1) else m.group(3)
        text = attribute(attrs, "message")
        if text is not None:
            self.texts.append(text)
        name = attribute(attrs, "name")
        if m.group(1) == "def":
            self.defined.add(name)
            kind = re.match(r"<def(\w+?)Vector", m.group(0))
            self.kinds[name] = (kind.group(1) if kind else None, attribute(attrs, "group"))
        elif m.group(1) == "del":
            self.defined.discard(name)
        elif m.group(1) == "set" and name not in self.defined:
            self.undefined_updates.append(name)
        if attribute(attrs, "state") == "Alert":
            self.alerts.append(name)

    def wait_for(self, pattern, timeout=20, start=0):
        """The first message from index `start` on that matches; fails at the deadline."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for text in self.texts[start:]:
                    if re.search(pattern, text):
                        return text
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure(f"no driver message matching {pattern!r} within {timeout} s; "
                                  f"got: {self.texts[start:]}")
                self.cond.wait(left)

    def mark(self):
        with self.cond:
            return len(self.texts)


class BlobClient(threading.Thread):
    """A client that takes the frames: each one's format, CLOCK_MONOTONIC second of arrival and
    bytes."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.sendall(f'<getProperties version="1.7"/><enableBLOB device="{DEVICE}">Also'
                          f'</enableBLOB>\n'.encode())
        self.blobs = []  # (format, arrival, bytes)
        self.received = 0
        self.cond = threading.Condition()
        self.start()

    def run(self):
        pending = b""
        while True:
            try:
                data = self.sock.recv(1 << 20)
            except OSError:
                return
            if not data:
                return
            now = time.monotonic()
            self.received += len(data)
            pending += data
            while True:
                end = pending.find(b"</oneBLOB>")
                if end < 0:
                    break
                start = pending.rfind(b"<oneBLOB", 0, end)
                head_end = pending.find(b">", start) + 1
                fmt = re.search(rb'format="([^"]*)"', pending[start:head_end]).group(1).decode()
                body = pending[head_end:end]
                pending = pending[end + len(b"</oneBLOB>"):]
                with self.cond:
                    self.blobs.append((fmt, now, body))
                    self.cond.notify_all()

    def wait_count(self, n, fmt=None, timeout=30):
        """The n-th frame (of format `fmt`) as (arrival, bytes); fails at the deadline."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                got = [b for b in self.blobs if fmt is None or b[0] == fmt]
                if len(got) >= n:
                    return got[n - 1][1], base64.b64decode(got[n - 1][2])
                left = deadline - time.monotonic()
                expect(left > 0, f"frame {n} ({fmt or 'any'}) did not arrive within {timeout} s "
                                 f"(the client took {self.received} bytes)")
                self.cond.wait(left)

    def close(self):
        """Stops taking frames: a client that stays without reading falls behind, and the
        server then holds back the video from every client of this process."""
        self.sock.shutdown(socket.SHUT_RDWR)
        self.join(10)

    def formats(self):
        with self.cond:
            return [b[0] for b in self.blobs]


class Server:
    def __init__(self, driver, emulator, scratch):
        self.port = free_port()
        self.scratch = scratch
        self.log = os.path.join(scratch, "emucam.log")
        self.tmp = os.path.join(scratch, "tmp")
        env = dict(os.environ)
        # The driver's INDI configuration goes into the scratch home, its working folder into
        # the scratch temporary directory.
        env.update({"HOME": os.path.join(scratch, "home"), "TMPDIR": self.tmp,
                    "LD_PRELOAD": emulator, "EMUCAM_LOG": self.log})
        os.makedirs(env["HOME"], exist_ok=True)
        os.makedirs(self.tmp, exist_ok=True)
        self.env = env
        self.stderr = open(os.path.join(scratch, "indiserver.log"), "w")
        fifo = os.path.join(scratch, "indiserver.fifo")
        os.mkfifo(fifo)
        self.process = subprocess.Popen(["indiserver", "-v", "-p", str(self.port),
                                         "-u", os.path.join(scratch, "indiserver.sock"),
                                         "-f", fifo],
                                        env=env, stdout=subprocess.DEVNULL, stderr=self.stderr)
        deadline = time.monotonic() + 20
        try:
            while True:
                try:
                    self.messages = Messages(self.port)
                    break
                except OSError:
                    expect(self.process.poll() is None, "indiserver ended at start-up")
                    expect(time.monotonic() < deadline, "indiserver did not listen within 20 s")
                    time.sleep(0.1)
            with open(fifo, "w") as control:
                control.write(f"start {driver}\n")
            while self.getprop("DRIVER_INFO.DRIVER_EXEC", check=False) is None:
                expect(self.process.poll() is None, "indiserver ended at start-up")
                expect(time.monotonic() < deadline, "the driver did not come up within 20 s")
                time.sleep(0.1)
        except BaseException:
            self.close()  # a server left running holds its local socket and fails the next
            raise

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.stderr.close()

    def driver_pid(self):
        """The process id of the driver the server started last, from the server's log."""
        with open(os.path.join(self.scratch, "indiserver.log")) as log:
            pids = re.findall(r"Driver .*: pid=(\d+)", log.read())
        expect(pids, "the server's log names no driver process")
        return int(pids[-1])

    def _tool(self, tool, *args, timeout=10):
        # The loopback address itself: a minimal system may have no /etc/hosts for "localhost".
        return subprocess.run([tool, "-h", "127.0.0.1", *args], capture_output=True, text=True,
                              timeout=timeout + 5, env=self.env)

    def setprop(self, assignment):
        result = self._tool("indi_setprop", "-p", str(self.port), f"{DEVICE}.{assignment}")
        expect(result.returncode == 0, f"indi_setprop {assignment}: {result.stderr.strip()}")

    def getprop(self, assignment, check=True):
        result = self._tool("indi_getprop", "-1", "-p", str(self.port), "-t", "2",
                            f"{DEVICE}.{assignment}")
        if result.returncode != 0:
            expect(not check, f"indi_getprop {assignment}: {result.stderr.strip()}")
            return None
        return result.stdout.strip()

    def wait_value(self, assignment, timeout=20):
        """Waits until the property element reads the value: `NAME.ELEMENT=VALUE`."""
        element, value = assignment.split("=", 1)
        deadline = time.monotonic() + timeout
        while (now := self.getprop(element, check=False)) != value:
            expect(time.monotonic() < deadline,
                   f"{element} is {now!r}, not {value!r}, after {timeout} s")
            time.sleep(0.1)

    def wait_state(self, prop, state, timeout=30):
        expr = f'"{DEVICE}.{prop}._STATE"=={STATES[state]}'
        result = self._tool("indi_eval", "-p", str(self.port), "-t", str(timeout), "-w", expr,
                            timeout=timeout)
        expect(result.returncode == 0, f"{prop} did not reach {state} within {timeout} s "
                                       f"(now {self.getprop(prop + '._STATE', check=False)})")

    def port_writes(self):
        """Every camera-port write so far, as (value, microseconds)."""
        writes = []
        with open(self.log) as log:
            for line in log:
                m = re.search(r"port value=0x([0-9a-f]{2}) us=(\d+)", line)
                if m:
                    writes.append((int(m.group(1), 16), int(m.group(2))))
        return writes


def read_fits(path):
    """The header cards as a dict and the data bytes of an 8-bit FITS file."""
    with open(path, "rb") as f:
        return parse_fits(f.read())


def parse_fits(data):
    """The header cards as a dict and the data bytes of an 8-bit FITS image."""
    header = {}
    pos = 0
    while True:
        card = data[pos:pos + 80].decode("ascii")
        pos += 80
        if card.startswith("END"):
            break
        if card[8:10] == "= ":
            value = card[10:].split(" /")[0].strip()
            header[card[:8].strip()] = value.strip("'").strip() if value.startswith("'") \
                else value
    start = (pos + 2879) // 2880 * 2880
    return header, data[start:]


def wait_file(path, timeout=30):
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        expect(time.monotonic() < deadline, f"{path} did not arrive within {timeout} s")
        time.sleep(0.02)
    # The server writes it whole, but the writer may still be closing it.
    size = -1
    while size != os.path.getsize(path):
        size = os.path.getsize(path)
        time.sleep(0.05)
