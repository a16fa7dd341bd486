#!/usr/bin/env python3
"""Figures of indi_lumenvale_ccd under the real indiserver on loopback, on the emulated webcam
and camera port:

  indi_exposure_error_ms  median over 5 binned 1 s exposures of EXPTIME (the exposure as the
                          lines measured it) minus the requested 1 s (webcam at 10 fps)
  indi_end_to_blob_ms     median time from the readout write (the end of the exposure, in the
                          emulated port's CLOCK_MONOTONIC log) to the whole FITS frame having
                          arrived at a loopback client
  indi_stream_fps         video frames a loopback client receives per second, over 5 s, from
                          the webcam at 10 and at 30 fps (the client asks for the camera's rate)
  indi_stream_latency_ms  median time from the end of a video frame at the camera (the emulated
                          webcam's log) to its arrival at the client; each arrival is paired
                          with the last frame that ended before it, which holds while the
                          latency stays under the frame interval (100 ms at 10 fps)

Usage: indi_figures.py DRIVER EMULATOR.so   (both built: build/src/indi/indi_lumenvale_ccd and
build/tests/support/emulated_webcam/liblumenvale_emulated_webcam.so)
"""

import bisect
import os
import re
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "indi"))
from indi_session import BlobClient, Server, tools_missing  # noqa: E402

STREAM_SECONDS = 5


def connected_server(driver, emulator, fps):
    os.environ["EMUCAM_FPS"] = str(fps)
    server = Server(driver, emulator, tempfile.mkdtemp(prefix="indi-figures-"))
    server.setprop("WEBCAM.VIDEO_0=On")
    server.setprop("CONNECTION.CONNECT=On")
    server.wait_state("CONNECTION", "Ok")
    return server


def exposure_figures(server):
    server.setprop("READOUT_MODE.BINNED=On")
    blobs = BlobClient(server.port)
    errors, delays = [], []
    for n in range(1, 6):
        mark = len(server.port_writes())
        server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=1")
        arrived, _ = blobs.wait_count(n, ".fits")
        server.wait_state("CCD_EXPOSURE", "Ok")
        writes = server.port_writes()[mark:]
        exposed = writes[4][1]
        readout = next(us for v, us in writes[5:] if v == 0x37)
        errors.append((readout - exposed) / 1000.0 - 1000.0)
        delays.append(arrived * 1000.0 - readout / 1000.0)
    blobs.close()
    print(f"indi_exposure_error_ms {statistics.median(errors):.2f}  "
          f"(each: {', '.join(f'{e:.2f}' for e in errors)})")
    print(f"indi_end_to_blob_ms {statistics.median(delays):.1f}  "
          f"(each: {', '.join(f'{d:.1f}' for d in delays)})")


def frame_ends(server):
    """The end of every frame the emulated webcam delivered, CLOCK_MONOTONIC microseconds."""
    with open(server.log) as log:
        return sorted(int(m.group(1)) for m in re.finditer(r"frame seq=\d+ start=\d+ end=(\d+)"
                                                           r"[^\n]* delivered", log.read()))


def stream_figures(server, fps):
    blobs = BlobClient(server.port)
    server.setprop("CCD_VIDEO_STREAM.STREAM_ON=On")
    blobs.wait_count(5, ".stream")  # the stream has settled
    begin = time.monotonic()
    time.sleep(STREAM_SECONDS)
    end = time.monotonic()
    arrivals = [t for fmt, t, _ in list(blobs.blobs) if fmt == ".stream" and begin <= t < end]
    server.setprop("CCD_VIDEO_STREAM.STREAM_OFF=On")
    blobs.close()
    ends = frame_ends(server)
    rate = len(arrivals) / (end - begin)
    latencies = []
    for t in arrivals:
        us = t * 1e6
        i = bisect.bisect_right(ends, us)
        if i:
            latencies.append((us - ends[i - 1]) / 1000.0)
    print(f"indi_stream_fps {rate:.1f}  (camera at {fps} fps, {len(arrivals)} frames)")
    print(f"indi_stream_latency_ms {statistics.median(latencies):.1f}  (camera at {fps} fps; "
          f"90th percentile {statistics.quantiles(latencies, n=10)[-1]:.1f})")


def main():
    if len(sys.argv) != 3 or tools_missing():
        print(__doc__)
        return 1
    for fps in (10, 30):
        server = connected_server(sys.argv[1], sys.argv[2], fps)
        measured = False
        try:
            if fps == 10:
                exposure_figures(server)
            stream_figures(server, fps)
            measured = True
        finally:
            server.close()
            if measured:
                shutil.rmtree(server.scratch)
            else:
                print(f"(scratch directory kept: {server.scratch})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
