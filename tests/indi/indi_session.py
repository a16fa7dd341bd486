"""An indiserver running indi_lumenvale_ccd on loopback, for the driver's test and its figures.

The server (and so the driver) runs with the emulated webcam and camera port preloaded, whose
log tells every line write with its CLOCK_MONOTONIC microseconds, and with a temporary directory
of its own in the scratch directory. Properties are set and read with indi_setprop and
indi_getprop, waits are indi_eval -w with a deadline, and a client of our own on the same port
collects the driver's messages.
"""

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


class Messages(threading.Thread):
    """Every message attribute the server sends to a client that asked for everything."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.sock.sendall(b'<getProperties version="1.7"/>\n')
        self.sock.settimeout(None)
        self.texts = []
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
            found, end = [], 0
            for m in re.finditer(r'message="([^"]*)"', pending):
                found.append(m.group(1))
                end = m.end()
            rest = pending[end:]
            cut = rest.rfind("message=")  # a message that is still arriving
            pending = rest[cut:] if cut >= 0 else rest[-16:]
            with self.cond:
                self.texts.extend(unescape(t) for t in found)
                self.cond.notify_all()

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
        self.process = subprocess.Popen(["indiserver", "-v", "-p", str(self.port), driver],
                                        env=env, stdout=subprocess.DEVNULL, stderr=self.stderr)
        deadline = time.monotonic() + 20
        try:
            while self.getprop("DRIVER_INFO.DRIVER_EXEC", check=False) is None:
                expect(self.process.poll() is None, "indiserver ended at start-up")
                expect(time.monotonic() < deadline, "the driver did not come up within 20 s")
                time.sleep(0.1)
            self.messages = Messages(self.port)
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
        data = f.read()
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
