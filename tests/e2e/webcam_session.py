#!/usr/bin/env python3
"""A night with a real webcam, as a new user has it: the program under a real X server with an
emulated UVC webcam at /dev/video0 and a camera port at /dev/parport0 (the preloaded emulator of
tests/support/emulated_webcam), whose VIDIOC_STREAMON takes 250 ms and whose first frame starts
300 ms after it, at 10 frames a second.

Nothing is chosen in the acquisition library, so the program takes the first webcam it finds.
Once in YUYV and once in MJPEG, it takes a "2x1 Binned" frame and a "Hi-res" frame of 0.5 s
with "Save" ticked. The emulated camera puts the exposure into the first frame that starts after
the readout write, at a level that tells the exposure's length, and shows 16 in every other
frame; so the saved frames must be bright, line-doubled or woven, and of a length showing that
no camera start-up landed inside the exposure. The camera must be started once per session.

Usage: webcam_session.py LUMENVALE PRELOAD [--keep]
  PRELOAD  the emulator library, or a colon-separated preload list ending with it
Exit status: 0 passed, 1 failed, 77 no X server could be started here.
"""

import argparse
import os
import signal
import sys
import tempfile

from first_session import (CONTROL, Failure, Session, expect, expect_frame, files_in,
                           leave_scratch, rows)

EXPOSURE_MS = 500
DARK = 16  # every frame that carries no exposure
# The exposure frame's level: 16 + exposure_ms / 5. The readout write follows the exposure
# wait within a few ms; a camera start-up inside the exposure would add 250 ms or more.
BRIGHT_MIN = DARK + EXPOSURE_MS // 5 - 4
BRIGHT_MAX = DARK + (EXPOSURE_MS + 60) // 5


def mean(row):
    return sum(row) / len(row)


def check_bright(name, frame_rows, which, tolerance, most=BRIGHT_MAX):
    for r in which:
        level = mean(frame_rows[r])
        expect(BRIGHT_MIN - tolerance <= level <= most + tolerance,
               f"{name}: stored row {r} has level {level:.1f}, not the exposure's "
               f"{BRIGHT_MIN}..{BRIGHT_MAX}: not the exposure frame, or a longer exposure")


def check_dark(name, frame_rows, which, tolerance):
    for r in which:
        level = mean(frame_rows[r])
        expect(level <= DARK + tolerance, f"{name}: stored row {r} has level {level:.1f}, "
                                          f"expected the dark {DARK} of an unexposed row")


def session_in(exe, preload, scratch, pixel_format):
    session = Session(exe, scratch)
    # No source chosen: the first webcam found is taken.
    os.remove(os.path.join(session.config_home, "Lumenvale", "acquisition.ini"))
    log = os.path.join(scratch, "emucam.log")
    session.env.update({
        "LD_PRELOAD": preload,
        "EMUCAM_FORMATS": pixel_format,
        "EMUCAM_SIZES": "640x480",
        "EMUCAM_STREAMON_MS": "250",
        "EMUCAM_FIRST_FRAME_MS": "300",
        "EMUCAM_FPS": "10",
        "EMUCAM_LOG": log,
    })
    return session, log


def run(session, log, pixel_format):
    # JPEG softens the one-row stripes a little.
    tolerance = 3 if pixel_format == "YUYV" else 12
    work = session.work
    session.start_x()
    session.start_program()
    control = session.open_control()

    session.click_control(control, CONTROL["Text2"])
    session.keys("ctrl+a")
    session.xdo("type", "--delay", "60", f"{EXPOSURE_MS / 1000:g}")
    session.click_control(control, CONTROL["Check5"])
    saved = os.path.join(work, "image001.bmp")

    session.take_frame(control, "Command2", saved, f"binned frame ({pixel_format})")
    raw = rows(expect_frame(work, "frame0x37.bmp"))
    check_bright("frame0x37.bmp", raw, range(2, 478, 2), tolerance)
    check_dark("frame0x37.bmp", raw, range(3, 478, 2), tolerance)
    image = rows(expect_frame(work, "image001.bmp"))
    check_bright("image001.bmp (binned)", image, range(2, 478), tolerance)
    print(f"{pixel_format}: the binned frame is the exposure frame, line-doubled and saved")

    session.take_frame(control, "Command3", saved, f"hi-res frame ({pixel_format})")
    # The second field keeps collecting light until its own readout, a frame or two later.
    for field, most in (("hires0x35.bmp", BRIGHT_MAX), ("hires0x37.bmp", 250)):
        field_rows = rows(expect_frame(work, field))
        check_bright(field, field_rows, range(2, 478, 2), tolerance, most)
        check_dark(field, field_rows, range(3, 478, 2), tolerance)
    image = rows(expect_frame(work, "image001.bmp"))
    check_bright("image001.bmp (hi-res)", image, range(2, 478), tolerance, 250)
    print(f"{pixel_format}: both hi-res fields are exposure frames, woven and saved")

    session.leaving = True
    session.menu("Right", "Left", "Down", "Down", "Return")
    status = session.app.wait(timeout=30)
    expect(status == 0, f"lumenvale ended with status {status}")
    events = [line.split()[1:] for line in open(log) if line.strip()]
    starts = [e for e in events if e[:1] == ["streamon"] and "call" in e]
    expect(len(starts) == 1, f"the camera was started {len(starts)} times, expected once")
    opened = sum(1 for e in events if e[:2] == ["open", "node=video0"] and
                 not any(w.startswith("error=") for w in e))
    closed = sum(1 for e in events if e[:2] == ["close", "node=video0"])
    expect(opened == closed, f"video0 opened {opened} times but closed {closed} times")
    expect("image001.bmp" in files_in(work), "nothing saved")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("lumenvale")
    parser.add_argument("preload")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()

    failed = False
    for pixel_format in ("YUYV", "MJPG"):
        scratch = tempfile.mkdtemp(prefix=f"lumenvale-webcam-{pixel_format}-")
        preload = ":".join(os.path.abspath(p) for p in args.preload.split(":"))
        session, log = session_in(os.path.abspath(args.lumenvale), preload, scratch, pixel_format)
        signal.signal(signal.SIGTERM, lambda *_: (session.stop(), sys.exit(1)))
        try:
            run(session, log, pixel_format)
        except Failure as e:
            failed = True
            print(f"FAILED ({pixel_format}): {e}")
        finally:
            session.stop()
            leave_scratch(scratch, failed, args.keep)
        if failed:
            break
    if not failed:
        print("PASSED")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
