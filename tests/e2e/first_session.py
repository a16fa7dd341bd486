#!/usr/bin/env python3
"""A first session with Lumenvale, as a new user has it.

The real program starts in an empty directory (no config.dat) under a real X server, with the
simulated camera. Through its windows it opens the Control window, takes a "2x1 Binned" frame
with "Save" ticked and a short exposure, a "Hi-res" frame, sets Order 2 in the Settings window
and closes it with OK, takes one more "Hi-res" frame in the new order, and leaves by File > Exit.
The files left behind are checked byte by byte where the program's rules fix them, and the
process must end by itself.

The windows are driven with xdotool at the controls' known places; the menus are opened by a
click on "File" (always the first item of the menu bar) and walked with the arrow keys, so the
width of the menu captions in whatever font the machine has does not matter.

Usage: first_session.py LUMENVALE [--keep] [--screenshot FILE.png]
  --keep         keep the scratch directory (it is kept anyway when the test fails)
  --screenshot   also save a picture of the three windows (needs xwd and ImageMagick)
Exit status: 0 passed, 1 failed, 77 no X server could be started here.
"""

import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
FRAME_BYTES = 921654  # 640 x 480, 24 bits, 54-byte header
ROW_BYTES = 1920
ROWS = 480
EXPOSURE = "0.5"  # seconds, typed into the Control window

# Control places in pixels (window definitions in twips, divided by 15), clicked at their
# centres: (left, top, width, height).
CONTROL = {
    "Text2": (120, 8, 33, 19),      # exposure time
    "Text3": (120, 48, 33, 19),     # number of images
    "Check5": (8, 152, 17, 25),     # "Save"
    "Command2": (192, 56, 65, 33),  # "2x1 Binned"
    "Command3": (192, 104, 65, 33),  # "Hi-res"
}
SETTINGS = {
    "Option2": (16, 72, 57, 17),    # "Order 2"
    "Command1": (16, 320, 105, 33),  # "OK"
}
FILE_MENU = (15, 9)  # inside "File", the first item of the viewer's menu bar

# Where the windows are put, apart, so that no click lands on the wrong one (there is no
# window manager to place them).
PLACES = {"viewer": (0, 0), "Control": (680, 0), "Settings": (680, 240)}


class Failure(Exception):
    pass


class Session:
    def __init__(self, exe, scratch):
        self.exe = exe
        self.scratch = scratch
        self.work = os.path.join(scratch, "work")
        self.config_home = os.path.join(scratch, "config")
        os.makedirs(self.work)
        os.makedirs(os.path.join(self.config_home, "Lumenvale"))
        runtime = os.path.join(scratch, "runtime")
        os.makedirs(runtime, mode=0o700)
        # The acquisition library keeps its source choice in its own INI file under the user's
        # configuration directory; a fresh one, choosing the simulated camera, keeps this test
        # away from any real webcam and from the user's own choice.
        with open(os.path.join(self.config_home, "Lumenvale", "acquisition.ini"), "w") as ini:
            ini.write("[source]\nkind=simulated\n")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_"))}
        self.env.update(
            {
                "HOME": scratch,
                "XDG_CONFIG_HOME": self.config_home,
                "XDG_RUNTIME_DIR": runtime,
                "LC_ALL": "C.UTF-8",
            }
        )
        self.xvfb = None
        self.app = None
        self.app_log = None
        self.viewer = None
        self.leaving = False  # File > Exit given: the program is now expected to end

    # --- the X server ------------------------------------------------------------------------

    def start_x(self):
        if not shutil.which("Xvfb"):
            print("SKIP: no X server here: Xvfb is not installed (./test.sh installs it)")
            sys.exit(SKIP)
        if not shutil.which("xdotool"):
            raise Failure("xdotool is not installed (./test.sh installs it)")
        read_end, write_end = os.pipe()
        log = open(os.path.join(self.scratch, "xvfb.log"), "w")
        try:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=[write_end], stdout=log, stderr=subprocess.STDOUT,
                start_new_session=True)
        except OSError as e:
            print(f"SKIP: Xvfb cannot start: {e}")
            sys.exit(SKIP)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            print("SKIP: Xvfb did not come up; its log:")
            print(open(os.path.join(self.scratch, "xvfb.log")).read())
            self.stop()
            sys.exit(SKIP)
        self.env["DISPLAY"] = ":" + number.strip().decode()
        print(f"X server on {self.env['DISPLAY']}")

    def stop(self):
        # The program is killed; the X server is asked to end, so that it removes its socket in
        # /tmp/.X11-unix and its lock file, and killed only if it does not.
        if self.app and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        if self.app_log:
            self.app_log.close()

    # --- xdotool -----------------------------------------------------------------------------

    def xdo(self, *args, check=True):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.env,
                                capture_output=True, text=True, timeout=20)
        if check and result.returncode != 0:
            raise Failure(f"xdotool {' '.join(map(str, args))}: {result.stderr.strip()}")
        return result.stdout

    def visible(self, title):
        """Visible windows whose title is exactly `title`, as (id, width, height)."""
        out = self.xdo("search", "--onlyvisible", "--name", f"^{title}$", check=False)
        found = []
        for wid in out.split():
            shell = self.xdo("getwindowgeometry", "--shell", wid, check=False)
            geometry = dict(line.split("=", 1) for line in shell.split() if "=" in line)
            if "WIDTH" in geometry:
                found.append((wid, int(geometry["WIDTH"]), int(geometry["HEIGHT"])))
        return found

    def wait_for(self, what, predicate, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.check_alive()
            value = predicate()
            if value:
                return value
            time.sleep(0.1)
        raise Failure(f"waited {timeout} s for {what}")

    def window(self, title, timeout=30):
        found = self.wait_for(f'the window "{title}"', lambda: self.visible(title), timeout)
        if len(found) != 1:
            raise Failure(f'{len(found)} windows "{title}", expected one')
        return found[0][0]

    def place(self, wid, name):
        x, y = PLACES[name]
        self.xdo("windowmove", "--sync", wid, x, y, check=False)
        time.sleep(0.3)

    def click(self, wid, x, y):
        self.xdo("mousemove", "--window", wid, x, y)
        time.sleep(0.15)
        self.xdo("click", "1")
        time.sleep(0.25)

    def click_control(self, wid, box):
        left, top, width, height = box
        self.click(wid, left + width // 2, top + height // 2)

    def take_frame(self, control, button, saved, what):
        """Clicks a capture button and waits until the run has saved a new, complete `saved`."""
        before = identity(saved)
        self.click_control(control, CONTROL[button])
        self.wait_for(f"the {what} saved as {os.path.basename(saved)}",
                      lambda: identity(saved) not in (None, before)
                      and identity(saved)[2] == FRAME_BYTES)
        # The run counts down and clears its busy mark right after the save; a click on the
        # next button is only taken once it has returned.
        time.sleep(1.0)

    def keys(self, *names):
        for name in names:
            self.xdo("key", name)
            time.sleep(0.2)

    def menu(self, *walk):
        """Opens "File" with a click and walks the menu bar with the keys given."""
        self.click(self.viewer, *FILE_MENU)
        self.keys(*walk)

    def dismiss_message_boxes(self):
        """Answers message boxes (titled "Lumenvale" like the viewer), naming how many."""
        boxes = [w for w in self.visible("Lumenvale") if w[0] != self.viewer and w[1] > 40]
        for wid, _, _ in boxes:
            print(f"  a message box came up (window {wid}); answered with Return")
            self.xdo("mousemove", "--window", wid, 5, 5)
            self.xdo("windowfocus", wid, check=False)
            self.keys("Return")
        return len(boxes)

    def open_control(self):
        """Camera > Control: File, Settings, Camera along the menu bar, then its only command;
        a message box on the way (the port that is not there) is answered."""
        self.menu("Right", "Right", "Return")
        control = self.wait_for(
            'the window "Control"',
            lambda: self.visible("Control") or (self.dismiss_message_boxes() and None))
        control = control[0][0]
        self.place(control, "Control")
        return control

    # --- the program -------------------------------------------------------------------------

    def start_program(self):
        self.app_log = open(os.path.join(self.scratch, "lumenvale.log"), "w")
        self.app = subprocess.Popen([self.exe], cwd=self.work, env=self.env,
                                    stdout=self.app_log, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL)
        self.viewer = self.window("Lumenvale")
        self.place(self.viewer, "viewer")

    def check_alive(self):
        if self.app and self.app.poll() is not None and not self.leaving:
            raise Failure(f"lumenvale ended early with status {self.app.returncode}")

    def screenshot(self, target):
        xwd = os.path.join(self.scratch, "screen.xwd")
        subprocess.run(["xwd", "-root", "-silent", "-out", xwd], env=self.env, check=True)
        width = PLACES["Control"][0] + 270
        # The bare screen around the windows (black, there being no desktop) becomes a quiet
        # grey, filled from below the viewer.
        subprocess.run(["/usr/bin/convert", xwd, "-crop", f"{width}x610+0+0", "+repage",
                        "-fill", "#6b7480", "-draw", "color 4,605 floodfill",
                        "-strip", "-colors", "256", "-define", "png:compression-level=9",
                        target], check=True)
        os.remove(xwd)
        print(f"  screenshot: {target}")


# --- frame files ---------------------------------------------------------------------------


def read(path):
    with open(path, "rb") as f:
        return f.read()


def rows(frame):
    """Stored rows of a frame file (bottom row first), from its data offset on."""
    offset = int.from_bytes(frame[10:14], "little")
    data = frame[offset:offset + ROW_BYTES * ROWS]
    return [data[r * ROW_BYTES:(r + 1) * ROW_BYTES] for r in range(ROWS)]


def expect(condition, message):
    if not condition:
        raise Failure(message)


def expect_frame(work, name):
    path = os.path.join(work, name)
    expect(os.path.isfile(path), f"{name} is missing")
    frame = read(path)
    expect(len(frame) == FRAME_BYTES and frame[:2] == b"BM",
           f"{name} is not a 640 x 480, 24-bit BMP ({len(frame)} bytes)")
    return frame


def woven_from(base, source):
    """What interleaving makes of two fields: the base's stored rows 0, 1, 2, 4, ..., 478 and
    the source's stored rows 2, 4, ..., 478 as its rows 3, 5, ..., 479."""
    woven = list(base)
    for r in range(3, ROWS, 2):
        woven[r] = source[r - 1]
    return woven


def files_in(work):
    return sorted(os.listdir(work))


def identity(path):
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return None
    return (st.st_ino, st.st_mtime_ns, st.st_size)


def run(session, screenshot):
    work = session.work
    session.start_x()
    session.start_program()
    print("viewer up")
    expect(files_in(work) == [], f"files made at start-up: {files_in(work)}")

    control = session.open_control()
    print("Control window up")

    # A short exposure, "Save" ticked, then "2x1 Binned".
    session.click_control(control, CONTROL["Text2"])
    session.keys("ctrl+a")
    session.xdo("type", "--delay", "60", EXPOSURE)
    session.click_control(control, CONTROL["Check5"])
    saved = os.path.join(work, "image001.bmp")
    session.take_frame(control, "Command2", saved, "binned frame")

    temp = rows(expect_frame(work, "temp.bmp"))
    raw = rows(expect_frame(work, "frame0x37.bmp"))
    image = rows(expect_frame(work, "image001.bmp"))
    for k in range(239):
        expect(temp[2 * k + 1] == temp[2 * k], f"temp.bmp: stored row {2 * k + 1} not doubled")
        expect(temp[2 * k] == raw[2 * k], f"temp.bmp: stored row {2 * k} is not the raw one")
    expect(any(raw[2 * k + 1] != raw[2 * k] for k in range(239)),
           "frame0x37.bmp looks line-doubled already: it should be the raw readout")
    expect(image == temp, "image001.bmp does not show the processed temp.bmp")
    expect(files_in(work) == ["frame0x37.bmp", "image001.bmp", "temp.bmp"],
           f"after the binned frame: {files_in(work)}")
    print("binned frame: raw copy, line doubling and auto-save as expected")

    # "Hi-res", still with "Save": the frame is saved again as image001.bmp (new run, new count).
    session.take_frame(control, "Command3", saved, "hi-res frame")
    first = rows(expect_frame(work, "hires0x35.bmp"))
    second = rows(expect_frame(work, "hires0x37.bmp"))
    expect(rows(expect_frame(work, "temp2.bmp")) == second, "temp2.bmp is not the second field")
    woven = rows(expect_frame(work, "temp.bmp"))
    expect(woven == woven_from(first, second),
           "temp.bmp is not the 0x35 field woven with the 0x37 field (order 1)")
    expect(rows(read(saved)) == woven, "image001.bmp does not show the woven frame")
    expect("temp3.bmp" not in files_in(work), "temp3.bmp left behind")
    print("hi-res frame in order 1: fields woven and saved as expected")

    # Settings: Order 2, then OK.
    session.menu("Right", "Return")
    settings = session.window("Settings")
    session.place(settings, "Settings")
    print("Settings window up")
    expect(not os.path.exists(os.path.join(work, "config.dat")),
           "config.dat written before the Settings window closed")
    session.click_control(settings, SETTINGS["Option2"])
    if screenshot:
        session.screenshot(screenshot)
    session.click_control(settings, SETTINGS["Command1"])
    session.wait_for("the Settings window to close", lambda: not session.visible("Settings"), 20)
    config = os.path.join(work, "config.dat")
    session.wait_for("config.dat", lambda: os.path.exists(config), 10)
    here = os.path.realpath(work).encode()
    expected = b" 2 \r\n" + here + b"\r\n 1 \r\n"
    expect(read(config) == expected, f"config.dat holds {read(config)!r}, expected {expected!r}")
    print("config.dat written on OK:", read(config))

    # One more hi-res frame: order 2 now builds the frame on the second field.
    session.take_frame(control, "Command3", saved, "order-2 hi-res frame")
    first = rows(expect_frame(work, "hires0x35.bmp"))
    second = rows(expect_frame(work, "hires0x37.bmp"))
    expect(rows(expect_frame(work, "temp2.bmp")) == first,
           "order 2: temp2.bmp should hold the first field after the swap")
    expect(rows(expect_frame(work, "temp.bmp")) == woven_from(second, first),
           "order 2: temp.bmp is not the 0x37 field woven with the 0x35 field")
    print("hi-res frame in order 2: fields exchanged and woven as expected")

    # File > Exit: File's first command is Open; Exit is the third.
    session.leaving = True
    session.menu("Right", "Left", "Down", "Down", "Return")
    try:
        status = session.app.wait(timeout=30)
    except subprocess.TimeoutExpired:
        left = [t for t in ("Lumenvale", "Control", "Settings") if session.visible(t)]
        raise Failure(f"lumenvale did not end after File > Exit; windows still up: {left}")
    expect(status == 0, f"lumenvale ended with status {status}")
    print("File > Exit: the program ended with status 0")

    expect(files_in(work) == ["config.dat", "frame0x37.bmp", "hires0x35.bmp", "hires0x37.bmp",
                              "image001.bmp", "temp.bmp", "temp2.bmp"],
           f"files left: {files_in(work)}")
    expect(read(config) == expected, "config.dat changed after the Settings window closed")
    ini = os.path.join(session.config_home, "Lumenvale", "acquisition.ini")
    expect(os.path.isfile(ini), "the acquisition library's own INI file is gone")


def leave_scratch(scratch, failed, keep, logs=("lumenvale.log", "emucam.log")):
    """Keeps the scratch directory after a failure (or when asked), showing the ends of its
    logs; removes it otherwise."""
    if failed or keep:
        print(f"scratch directory kept: {scratch}")
        for name in logs:
            path = os.path.join(scratch, name)
            if os.path.exists(path):
                print(f"{name}:\n" + open(path).read()[-4000:])
    else:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("lumenvale")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--screenshot")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="lumenvale-e2e-")
    session = Session(os.path.abspath(args.lumenvale), scratch)
    signal.signal(signal.SIGTERM, lambda *_: (session.stop(), sys.exit(1)))
    failed = False
    try:
        run(session, os.path.abspath(args.screenshot) if args.screenshot else None)
        print("PASSED")
    except Failure as e:
        failed = True
        print(f"FAILED: {e}")
        try:
            session.screenshot(os.path.join(scratch, "failure.png"))
        except Exception:  # the picture is only a help; xwd or convert may be missing
            pass
    finally:
        session.stop()
        if failed or args.keep:
            print(f"scratch directory kept: {scratch}")
            log = os.path.join(scratch, "lumenvale.log")
            if os.path.exists(log):
                print("program output:\n" + open(log).read())
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
