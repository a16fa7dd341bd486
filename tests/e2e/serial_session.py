#!/usr/bin/env python3
"""The camera lines on a USB-serial adapter, as a user without a parallel port has them: the
program under a real X server with the emulated USB-serial adapter at /dev/ttyUSB0 (the preloaded
emulator of tests/support/emulated_webcam, which logs every modem-line call) chosen in the
acquisition library's settings, RTS and DTR following D0 and D2, both inverted, as they come by
default. A "2x1 Binned" run of two frames of 0.3 s on the simulated camera, with "Save" ticked;
then the RTS/DTR history must be the one the line states give: both asserted from the opening
(the idle state), and in each frame both released for the frame-start pulse, RTS asserted with
DTR released from the settle wait through the exposure, both released at the readout. Only
TIOCMBIS and TIOCMBIC are used, never TIOCMSET, and only for the lines a write changes.

Usage: serial_session.py LUMENVALE PRELOAD [--keep]
Exit status: 0 passed, 1 failed, 77 no X server could be started here.
"""

import argparse
import os
import signal
import sys
import tempfile

from first_session import CONTROL, Failure, Session, expect, files_in, leave_scratch

# Only the lines a write changes are sent. Opening asserts both (the idle state; the Control
# window's second idle write changes nothing); the first frame's 0x27 releases both (0x37 changes
# nothing), 0x14 asserts RTS (the two 0x34 change nothing), the readout 0x37 releases RTS. The
# second frame's pulse finds both released already.
EXPECTED_CALLS = [("TIOCMBIS", "RD"), ("TIOCMBIC", "RD")] + [("TIOCMBIS", "R"),
                                                             ("TIOCMBIC", "R")] * 2
# (RTS, DTR) asserted, each change once: the readout and the next frame's pulse both release.
EXPECTED_LEVELS = [(1, 1), (0, 0), (1, 0), (0, 0), (1, 0), (0, 0)]


def run(session, log):
    work = session.work
    session.start_x()
    session.start_program()
    control = session.open_control()

    session.click_control(control, CONTROL["Text2"])
    session.keys("ctrl+a")
    session.xdo("type", "--delay", "60", "0.3")
    session.click_control(control, CONTROL["Text3"])
    session.keys("ctrl+a")
    session.xdo("type", "--delay", "60", "2")
    session.click_control(control, CONTROL["Check5"])
    session.take_frame(control, "Command2", os.path.join(work, "image002.bmp"),
                       "second binned frame")

    session.leaving = True
    session.menu("Right", "Left", "Down", "Down", "Return")
    status = session.app.wait(timeout=30)
    expect(status == 0, f"lumenvale ended with status {status}")

    events = [line.split()[1:] for line in open(log) if line.strip()]
    expect(any(e[:2] == ["open", "node=ttyUSB0"] for e in events), "/dev/ttyUSB0 was not opened")
    expect(not any(e[:2] == ["open", "node=parport0"] for e in events),
           "the parallel port was opened although the serial adapter was chosen")
    calls = []
    levels = []
    for e in events:
        if e[:1] != ["tty"]:
            continue
        fields = dict(w.split("=", 1) for w in e[1:])
        calls.append((fields["call"], fields.get("bits", "")))
        level = (int(fields["rts"]), int(fields["dtr"]))
        if not levels or levels[-1] != level:
            levels.append(level)
    expect(calls == EXPECTED_CALLS, f"modem-line calls {calls}, expected {EXPECTED_CALLS}")
    expect(levels == EXPECTED_LEVELS, f"RTS/DTR history {levels}, expected {EXPECTED_LEVELS}")
    expect({"image001.bmp", "image002.bmp"} <= set(files_in(work)), "the two frames not saved")
    print("the RTS/DTR history of two binned frames is the one the line states give")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("lumenvale")
    parser.add_argument("preload")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="lumenvale-serial-")
    session = Session(os.path.abspath(args.lumenvale), scratch)
    with open(os.path.join(session.config_home, "Lumenvale", "acquisition.ini"), "w") as ini:
        ini.write("[source]\nkind=simulated\n"
                  "[lines]\nadapter=serial\ndevice=/dev/ttyUSB0\nmapping=RTS=!D0 DTR=!D2 TXD=-\n")
    log = os.path.join(scratch, "emucam.log")
    preload = ":".join(os.path.abspath(p) for p in args.preload.split(":"))
    session.env.update({"LD_PRELOAD": preload, "EMUCAM_LOG": log})
    signal.signal(signal.SIGTERM, lambda *_: (session.stop(), sys.exit(1)))
    failed = False
    try:
        run(session, log)
    except Failure as e:
        failed = True
        print(f"FAILED: {e}")
    finally:
        session.stop()
        leave_scratch(scratch, failed, args.keep)
    if not failed:
        print("PASSED")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
