#!/usr/bin/env python3
"""Figures of indi_lumenvale_ccd under the real indiserver on loopback, on the emulated webcam
(10 frames a second) and camera port:

  indi_exposure_error_ms  median over 5 binned 1 s exposures of EXPTIME (the exposure as the
                          lines measured it) minus the requested 1 s
  indi_end_to_blob_ms     median time from the readout write (the end of the exposure, in the
                          emulated port's CLOCK_MONOTONIC log) to the whole FITS frame having
                          arrived at a loopback client

Usage: indi_figures.py DRIVER EMULATOR.so   (both built: build/src/indi/indi_lumenvale_ccd and
build/tests/support/emulated_webcam/liblumenvale_emulated_webcam.so)
"""

import os
import shutil
import socket
import statistics
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "indi"))
from indi_session import DEVICE, Server, expect, tools_missing  # noqa: E402


class BlobClient(threading.Thread):
    """A client that takes the frames: the CLOCK_MONOTONIC second each one was complete."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.sendall(f'<getProperties version="1.7"/><enableBLOB device="{DEVICE}">Also'
                          f'</enableBLOB>\n'.encode())
        self.arrivals = []
        self.cond = threading.Condition()
        self.start()

    def run(self):
        tail = b""
        while True:
            data = self.sock.recv(1 << 20)
            if not data:
                return
            now = time.monotonic()
            chunk = tail + data
            with self.cond:
                self.arrivals.extend(now for _ in range(chunk.count(b"</setBLOBVector>")))
                self.cond.notify_all()
            # Short of one whole marker, so that none is counted twice.
            tail = chunk[-(len(b"</setBLOBVector>") - 1):]

    def wait_count(self, n, timeout=30):
        deadline = time.monotonic() + timeout
        with self.cond:
            while len(self.arrivals) < n:
                left = deadline - time.monotonic()
                expect(left > 0, f"frame {n} did not arrive")
                self.cond.wait(left)
            return self.arrivals[n - 1]


def main():
    if len(sys.argv) != 3 or tools_missing():
        print(__doc__)
        return 1
    scratch = tempfile.mkdtemp(prefix="indi-figures-")
    server = Server(sys.argv[1], sys.argv[2], scratch)
    measured = False
    try:
        server.setprop("WEBCAM.VIDEO_0=On")
        server.setprop("CONNECTION.CONNECT=On")
        server.wait_state("CONNECTION", "Ok")
        server.setprop("READOUT_MODE.BINNED=On")
        blobs = BlobClient(server.port)
        errors, delays = [], []
        for n in range(1, 6):
            mark = len(server.port_writes())
            server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=1")
            arrived = blobs.wait_count(n)
            server.wait_state("CCD_EXPOSURE", "Ok")
            writes = server.port_writes()[mark:]
            exposed = writes[4][1]
            readout = next(us for v, us in writes[5:] if v == 0x37)
            errors.append((readout - exposed) / 1000.0 - 1000.0)
            delays.append(arrived * 1000.0 - readout / 1000.0)
        print(f"indi_exposure_error_ms {statistics.median(errors):.2f}  "
              f"(each: {', '.join(f'{e:.2f}' for e in errors)})")
        print(f"indi_end_to_blob_ms {statistics.median(delays):.1f}  "
              f"(each: {', '.join(f'{d:.1f}' for d in delays)})")
        measured = True
    finally:
        server.close()
        if measured:
            shutil.rmtree(scratch)
        else:
            print(f"(scratch directory kept: {scratch})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
