#!/usr/bin/env python3
"""indi_lumenvale_ccd under the real indiserver on loopback, with the simulated camera and the
emulated camera port: a missing port fails CONNECT with the desktop program's words; binned and
hi-res 1 s exposures arrive as local FITS files with the frame's keywords, the lines' exposure,
and the processed pixels (rows doubled, fields woven); exposures out of range or on top of a
running one are refused; Abort ends an exposure at once with a readout and sends nothing.
A Dark frame is a Light one by its lines; a Mono frame is the luminance of the colour one. A
second client that comes and goes during a sequence disturbs neither it nor its client, and a
getProperties is answered with each property once. The live video runs before and after an
exposure, which gets the exposure frame, and libindi's recorder (Ekos' record button) keeps it
in a SER video the tests' own reader accepts. The webcam's own controls are properties, set on the
camera and kept in the configuration. No property is ever updated before its definition.
The driver's working folder, with its frames, is gone from its temporary directory after each
way the driver lets the camera go or ends: DISCONNECT, the server closing the driver's input,
SIGTERM, and SIGKILL (the server's way of stopping a driver).

Usage: indi_driver.py DRIVER EMULATOR.so TWO_CLIENTS SER_CHECK [--keep]
Exit status: 0 passed, 1 failed, 77 indiserver is not installed.
"""

import collections
import datetime
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from indi_session import (BlobClient, Failure, Server, expect, parse_fits, read_fits,
                          tools_missing, wait_file)

W, H = 640, 480
PLANE = W * H
EXPOSURE_STATE = (0x30, 0x34)


def stored_row(data, plane, r):
    """Stored row r of the frame file (0 is the bottom line), from a top-down FITS plane."""
    y = H - 1 - r
    return data[plane * PLANE + y * W:plane * PLANE + (y + 1) * W]


def mean(row):
    return sum(row) / len(row)


def last_frame_writes(server):
    """The line states of the last frame, from its 0x27, with the exposure the lines made."""
    writes = server.port_writes()
    start = max(i for i, (v, _) in enumerate(writes) if v == 0x27)
    frame = writes[start:]
    exposed = frame[4][1]
    readout = next(us for v, us in frame[5:] if v in (0x35, 0x37))
    return [v for v, _ in frame], (readout - exposed) / 1e6


def check_header(header, mode, ybin, lines_s, before, after, imagetyp="Light Frame", planes=3):
    for key, want in (("BITPIX", "8"), ("NAXIS", "3" if planes == 3 else "2"),
                      ("NAXIS1", "640"), ("NAXIS2", "480"),
                      ("NAXIS3", "3" if planes == 3 else None), ("READMODE", mode),
                      ("XBINNING", "1"), ("YBINNING", str(ybin)), ("ROWORDER", "TOP-DOWN"),
                      ("INSTRUME", "Lumenvale CCD"), ("IMAGETYP", imagetyp)):
        expect(header.get(key) == want, f"{mode}: {key} is {header.get(key)!r}, not {want!r}")
    exptime = float(header["EXPTIME"])
    expect(abs(exptime - lines_s) < 0.0005,
           f"{mode}: EXPTIME {exptime} is not the lines' exposure {lines_s:.6f} s")
    date = datetime.datetime.fromisoformat(header["DATE-OBS"])
    expect(before <= date <= after, f"{mode}: DATE-OBS {date} is not during the exposure")


def expose(server, seconds, mode, name):
    server.setprop(f"READOUT_MODE.{mode}=On")
    before = datetime.datetime.utcnow()
    server.setprop(f"CCD_EXPOSURE.CCD_EXPOSURE_VALUE={seconds}")
    path = os.path.join(server.scratch, "up", name)
    wait_file(path)
    server.wait_state("CCD_EXPOSURE", "Ok")
    return read_fits(path), before, datetime.datetime.utcnow()


def definitions(port):
    """How often each property is defined in the answer to one getProperties."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(b'<getProperties version="1.7"/>\n')
        sock.settimeout(1.0)  # the answer comes in one go: a second of quiet ends it
        answer = b""
        try:
            while chunk := sock.recv(65536):
                answer += chunk
        except socket.timeout:
            pass
    return collections.Counter(re.findall(r'<def\w+Vector[^>]*name="([^"]+)"', answer.decode()))


def row_means(data, plane=0):
    return [mean(data[plane * PLANE + y * W:plane * PLANE + (y + 1) * W]) for y in range(H)]


def check_frame_kinds(server, scratch):
    """A Dark frame: a Light one by its lines, IMAGETYP as INDI writes it. Then a Mono frame of
    the same exposure: one plane, the luminance of the colour one within the sky's noise; the
    simulated camera's video in Mono."""
    server.setprop("CCD_FRAME_TYPE.FRAME_DARK=On")
    (header, rgb), before, after = expose(server, 1, "BINNED", "IMAGE_003.fits")
    states, lines_s = last_frame_writes(server)
    expect(states == [0x27, 0x37, 0x14, 0x34, 0x34, 0x37], f"dark lines: {states}")
    check_header(header, "2x1 Binned", 2, lines_s, before, after, imagetyp="Dark Frame")
    rgb_exptime = header["EXPTIME"]
    server.setprop("CCD_FRAME_TYPE.FRAME_LIGHT=On")

    server.setprop("CCD_CAPTURE_FORMAT.INDI_MONO=On")
    (header, mono), before, after = expose(server, 1, "BINNED", "IMAGE_004.fits")
    states, lines_s = last_frame_writes(server)
    check_header(header, "2x1 Binned", 2, lines_s, before, after, planes=1)
    expect(len(mono) >= PLANE and all(v == 0 for v in mono[PLANE:]), "mono: not one plane")
    luminance = bytes(round(0.299 * r + 0.587 * g + 0.114 * b)
                      for r, g, b in zip(rgb[:PLANE], rgb[PLANE:2 * PLANE], rgb[2 * PLANE:]))
    # The light grows with the exposure, which the lines make a few ms longer or shorter under
    # load: compared per second of the lines, over the simulated camera's black level of 10.
    # The sky is reddish: one plane, or the planes' plain mean, is off by 0.19 or more.
    scale = float(rgb_exptime) / float(header["EXPTIME"])
    off = abs(mean(luminance) - 10 - (mean(mono[:PLANE]) - 10) * scale)
    expect(off < 0.12, f"mono: the frame's mean is {off:.2f} off the colour frame's luminance")
    off = max(abs(a - 10 - (b - 10) * scale)
              for a, b in zip(row_means(luminance), row_means(mono)))
    expect(off < 1.5, f"mono: a row's mean is {off:.2f} off the colour frame's luminance")
    config = os.path.join(scratch, "home", ".indi", "Lumenvale CCD_config.xml")
    with open(config) as f:
        kept = re.search(r'name="CCD_CAPTURE_FORMAT".*?</newSwitchVector>', f.read(), re.S)
    expect(kept and re.search(r'name="INDI_MONO">\s*On', kept.group(0)),
           "the Mono capture format is not kept in the configuration")

    # The simulated camera's video, in the chosen format.
    blobs = BlobClient(server.port)
    server.setprop("CCD_VIDEO_STREAM.STREAM_ON=On")
    _, frame = blobs.wait_count(2, ".stream")
    expect(len(frame) == PLANE, f"a mono video frame of {len(frame)} bytes")
    server.setprop("CCD_VIDEO_STREAM.STREAM_OFF=On")
    blobs.close()
    server.setprop("CCD_CAPTURE_FORMAT.INDI_RGB=On")


def check_clients(server, two_clients):
    """A getProperties defines each property once; a second client during a sequence of three
    leaves the first with its frames and no message or Alert."""
    twice = {name: n for name, n in definitions(server.port).items() if n > 1}
    expect(not twice, f"properties defined more than once: {twice}")
    result = subprocess.run([two_clients, str(server.port)], capture_output=True, text=True,
                            timeout=120)
    expect(result.returncode == 0, f"two clients: {result.stdout.strip()} "
                                   f"{result.stderr.strip()}")


def check_video(server):
    """Live video from the emulated webcam, an exposure in the middle, and video again: the
    exposure's frame is the one the camera read out after it (its lit rows); the video's
    frames are the camera's ordinary dark ones. In Mono, a third of the bytes of RGB, so that
    the test's client keeps up on a loaded machine."""
    server.setprop("CONNECTION.DISCONNECT=On")
    server.wait_state("CONNECTION", "Idle")
    server.setprop("WEBCAM.VIDEO_0=On")
    mark = server.messages.mark()
    server.setprop("CONNECTION.CONNECT=On")
    server.wait_state("CONNECTION", "Ok")
    # The connect message names the mapping in use, the adapter's default one too.
    server.messages.wait_for(r"Camera lines on \S+ \([^,]+, (data lines D0 to D7 as written|"
                             r"the default mapping|the mapping) ?[^)]*\) open", start=mark)
    server.setprop("CCD_CAPTURE_FORMAT.INDI_MONO=On")
    blobs = BlobClient(server.port)
    mark = server.messages.mark()
    server.setprop("CCD_VIDEO_STREAM.STREAM_ON=On")
    _, frame = blobs.wait_count(3, ".stream")
    expect(len(frame) == PLANE and max(frame) < 30, "the video's frames are not the camera's")
    server.setprop("READOUT_MODE.BINNED=On")
    server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=1")
    _, fits = blobs.wait_count(1, ".fits")
    states, _ = last_frame_writes(server)
    expect(states == [0x27, 0x37, 0x14, 0x34, 0x34, 0x37], f"lines under video: {states}")
    header, data = parse_fits(fits)
    expect(header["NAXIS"] == "2" and mean(data[:PLANE]) > 40,
           "the exposure got an ordinary video frame")
    streams = blobs.formats().count(".stream")
    try:
        blobs.wait_count(streams + 3, ".stream")
    except Failure as failure:
        raise Failure(f"{failure}; FPS {server.getprop('FPS.AVG_FPS')}, "
                      f"messages {server.messages.texts[mark:]}") from None
    expect(server.getprop("CCD_VIDEO_STREAM.STREAM_ON") == "On", "the video did not resume")
    server.messages.wait_for(r"Live video paused for the exposure", start=mark)
    server.messages.wait_for(r"Live video resumed", start=mark)
    server.setprop("CCD_VIDEO_STREAM.STREAM_OFF=On")
    blobs.close()


def check_recording(server, ser_check, scratch):
    """Ekos' record button: libindi's recorder takes ten frames of the driver's live video to
    a SER file, which the tests' own reader accepts: mono, 640 x 480, one increasing UTC time a
    frame."""
    folder = os.path.join(scratch, "video")
    os.makedirs(folder)
    server.setprop(f"RECORD_FILE.RECORD_FILE_DIR={folder}")
    server.setprop("RECORD_FILE.RECORD_FILE_NAME=planet")
    server.setprop("RECORD_OPTIONS.RECORD_FRAME_TOTAL=10")
    server.setprop("RECORD_STREAM.RECORD_FRAME_ON=On")
    deadline = time.monotonic() + 30
    while server.getprop("RECORD_STREAM.RECORD_OFF") != "On":
        expect(time.monotonic() < deadline, "the recording of ten frames did not end")
        time.sleep(0.2)
    videos = [os.path.join(root, name) for root, _, names in os.walk(folder)
              for name in names if name.endswith(".ser")]
    expect(len(videos) == 1, f"recorded videos: {videos}")
    result = subprocess.run([ser_check, videos[0]], capture_output=True, text=True, timeout=60)
    expect(result.returncode == 0, f"the video: {result.stdout.strip()} {result.stderr.strip()}")
    fields = dict(item.split("=") for item in result.stdout.split())
    # libindi 2's recorder closes the file once its queue is empty, which can be while its
    # writer still holds the last frame: nine frames of ten is libindi's count, not the driver's.
    frames = fields.pop("frames", None)
    expect(frames in ("9", "10") and fields == {"width": str(W), "height": str(H), "depth": "8",
                                                 "colour": "0", "trailer": "increasing"},
           f"the video: {frames} frames, {fields}")
    server.setprop("CCD_VIDEO_STREAM.STREAM_OFF=On")


# The emulated webcam's controls as the Image Adjustments tab offers them.
GAIN, AUTO_EXPOSURE, EXPOSURE = "V4L2_CTRL_00980913", "V4L2_CTRL_009A0901", "V4L2_CTRL_009A0902"
# A number, a menu, a tick box, an integer menu, a button and the frame rate.
ADJUSTMENTS = {GAIN: "Number", EXPOSURE: "Number", AUTO_EXPOSURE: "Switch",
               "V4L2_CTRL_0098090C": "Switch", "V4L2_CTRL_009A0913": "Switch",
               "V4L2_CTRL_009A0906": "Switch", "FRAME_RATE": "Switch"}


def camera_sets(server, control):
    """The values the emulated webcam was given for one control, in order."""
    with open(server.log) as log:
        return [int(v) for v in re.findall(rf"control id=0x{control[-8:].lower()} value=(-?\d+)",
                                           log.read())]


def check_adjustments(server, driver, emulator, scratch):
    """The connected webcam's own controls on the Image Adjustments tab, each of its kind; its
    automatic exposure turned to manual at its first use, so the exposure time counts; a gain a
    client sets reaches the camera, stays through a new connection, and is set again by a new
    driver on a new camera from the configuration."""
    kinds = {name: server.messages.kinds.get(name) for name in ADJUSTMENTS}
    expect(kinds == {name: (kind, "Image Adjustments") for name, kind in ADJUSTMENTS.items()},
           f"the Image Adjustments tab: {kinds}")
    server.messages.wait_for(r"first use.*Auto Exposure")
    expect(server.getprop(f"{AUTO_EXPOSURE}.CHOICE_1") == "On", "the exposure is not manual")
    expect(server.getprop(f"{EXPOSURE}._STATE") == "Ok", "the exposure time stays inactive")
    server.setprop(f"{GAIN}.VALUE=42")
    server.wait_value(f"{GAIN}.VALUE=42")
    expect(camera_sets(server, GAIN)[-1:] == [42], f"the camera's gain: {camera_sets(server, GAIN)}")

    server.setprop("CONNECTION.DISCONNECT=On")
    server.wait_state("CONNECTION", "Idle")
    expect(GAIN not in server.messages.defined, "the tab stays after the disconnection")
    server.setprop("CONNECTION.CONNECT=On")
    server.wait_state("CONNECTION", "Ok")
    expect(server.getprop(f"{GAIN}.VALUE") == "42", "the gain was lost on connecting again")

    again = os.path.join(scratch, "again")
    shutil.copytree(os.path.join(scratch, "home", ".indi"), os.path.join(again, "home", ".indi"))
    fresh = Server(driver, emulator, again)
    try:
        fresh.setprop("CONNECTION.CONNECT=On")
        fresh.wait_state("CONNECTION", "Ok")
        fresh.wait_value(f"{GAIN}.VALUE=42")
        expect(camera_sets(fresh, GAIN)[-1:] == [42], "the configuration's gain is not set")
    finally:
        fresh.close()


def connect(server):
    server.setprop("WEBCAM.SIMULATED=On")
    server.setprop("DEVICE_PORT.PORT=/dev/parport0")
    server.setprop("CONNECTION.CONNECT=On")
    server.wait_state("CONNECTION", "Ok")


def check_serial_lines(server):
    """The lines on the emulated USB-serial adapter, chosen on the Connection tab: a mapping
    that does not read is refused, GPIO lines chosen with the parallel port's device put a
    gpiochip in its place, and a binned frame moves RTS and DTR as the usual wiring (RTS follows
    D0, DTR D2, both inverted) gives."""
    server.setprop("CONNECTION.DISCONNECT=On")
    server.wait_state("CONNECTION", "Idle")
    mark = server.messages.mark()
    server.setprop("LINES_MAPPING.MAPPING=RTS=D9")
    server.messages.wait_for(r"does not read as outputs", start=mark)
    server.wait_state("LINES_MAPPING", "Alert")
    server.setprop("LINES_ADAPTER.GPIO=On")
    server.wait_state("LINES_ADAPTER", "Ok")
    port = server.getprop("DEVICE_PORT.PORT")
    expect(port.startswith("/dev/gpiochip"), f"GPIO lines on the port {port}")
    server.setprop("LINES_ADAPTER.SERIAL=On")
    server.setprop("WEBCAM.SIMULATED=On")
    server.setprop("DEVICE_PORT.PORT=/dev/ttyUSB0")
    server.setprop("CONNECTION.CONNECT=On")
    server.wait_state("CONNECTION", "Ok")
    server.setprop("READOUT_MODE.BINNED=On")
    server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=1")
    server.wait_state("CCD_EXPOSURE", "Busy")
    server.wait_state("CCD_EXPOSURE", "Ok")
    levels = []
    with open(server.log) as log:
        for line in log:
            words = line.split()[1:]
            if words[:1] == ["tty"]:
                fields = dict(w.split("=", 1) for w in words[1:])
                level = (int(fields["rts"]), int(fields["dtr"]))
                if not levels or levels[-1] != level:
                    levels.append(level)
    # Opening raises both; the idle state 0x00 keeps them so; 0x27 and 0x37 drop both, 0x14 and
    # the exposure raise RTS, the readout 0x37 drops it again.
    expect(levels == [(1, 1), (0, 0), (1, 0), (0, 0)], f"RTS/DTR history {levels}")


def expect_frames_in_work_folder(server):
    folders = os.listdir(server.tmp)
    expect(len(folders) == 1 and folders[0].startswith("indi_lumenvale_ccd-"),
           f"the connected driver's temporary directory holds {folders}, not its working folder")
    frames = os.listdir(os.path.join(server.tmp, folders[0]))
    expect("temp.bmp" in frames, f"no frame in the working folder: {frames}")


def expect_tidy(server, how, timeout=10):
    deadline = time.monotonic() + timeout
    while os.listdir(server.tmp):
        expect(time.monotonic() < deadline, f"{how}: the driver left {os.listdir(server.tmp)} "
                                             f"in its temporary directory")
        time.sleep(0.05)


# Each way the driver lets the camera go, or ends while it holds it.
ENDINGS = (
    ("DISCONNECT", lambda server: server.setprop("CONNECTION.DISCONNECT=On")),
    ("SIGTERM", lambda server: os.kill(server.driver_pid(), signal.SIGTERM)),
    ("SIGKILL", lambda server: os.kill(server.driver_pid(), signal.SIGKILL)),
)


def check_endings(driver, emulator, scratch):
    for n, (how, end) in enumerate(ENDINGS):
        os.makedirs(os.path.join(scratch, f"end{n}"))
        server = Server(driver, emulator, os.path.join(scratch, f"end{n}"))
        try:
            connect(server)
            server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=0")
            server.wait_state("CCD_EXPOSURE", "Ok")
            expect_frames_in_work_folder(server)
            end(server)
            expect_tidy(server, how)
        finally:
            server.close()
        expect_tidy(server, f"{how}, then the server's end")


def run(driver, emulator, two_clients, ser_check, scratch):
    server = Server(driver, emulator, scratch)
    try:
        messages = server.messages
        server.setprop("WEBCAM.SIMULATED=On")

        # A missing port: CONNECT fails, and the log says why as the desktop program does.
        server.setprop("DEVICE_PORT.PORT=/nonexistent/parport0")
        mark = messages.mark()
        server.setprop("CONNECTION.CONNECT=On")
        text = messages.wait_for(r"not initialised", start=mark)
        expect("/nonexistent/parport0" in text, f"the port failure names no port: {text!r}")
        server.wait_state("CONNECTION", "Alert")
        expect(server.getprop("CONNECTION.CONNECT") == "Off", "connected without a port")

        connect(server)
        os.makedirs(os.path.join(scratch, "up"))
        server.setprop("UPLOAD_MODE.UPLOAD_LOCAL=On")
        server.setprop(f"UPLOAD_SETTINGS.UPLOAD_DIR={os.path.join(scratch, 'up')}")
        server.setprop("UPLOAD_SETTINGS.UPLOAD_PREFIX=IMAGE_XXX")

        # 2x1 Binned: one readout at 0x37, every other stored row a copy of the one below.
        (header, data), before, after = expose(server, 1, "BINNED", "IMAGE_001.fits")
        states, lines_s = last_frame_writes(server)
        expect(states == [0x27, 0x37, 0x14, 0x34, 0x34, 0x37], f"binned lines: {states}")
        check_header(header, "2x1 Binned", 2, lines_s, before, after)
        for plane in range(3):
            for k in range(239):
                expect(stored_row(data, plane, 2 * k + 1) == stored_row(data, plane, 2 * k),
                       f"binned plane {plane}: stored row {2 * k + 1} is not doubled")
        expect(stored_row(data, 1, 479) != stored_row(data, 1, 478),
               "binned: the top line was doubled as well")
        expect_frames_in_work_folder(server)

        # Hi-res with the amp off: 0x35 then 0x37; the second field's rows woven into the
        # first, so the odd stored rows from 3 up are lit and stored row 1 is the first's dark.
        server.setprop("AMP_OFF.ENABLED=On")
        (header, data), before, after = expose(server, 1, "HIRES", "IMAGE_002.fits")
        states, lines_s = last_frame_writes(server)
        expect(states == [0x27, 0x37, 0x14, 0x34, 0x30, 0x35, 0x37], f"hi-res lines: {states}")
        check_header(header, "Hi-res", 1, lines_s, before, after)
        dark = mean(stored_row(data, 1, 1))
        woven = min(mean(stored_row(data, 1, r)) for r in range(3, H, 2))
        expect(woven > dark + 5, f"hi-res: woven rows (lowest mean {woven:.1f}) are no brighter "
                                 f"than the dark row 1 ({dark:.1f}): the fields were not woven")
        server.setprop("AMP_OFF.DISABLED=On")

        # Out of range, and on top of a running exposure: refused.
        mark = messages.mark()
        server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=3601")
        messages.wait_for(r"3601 s was refused", start=mark)
        server.wait_state("CCD_EXPOSURE", "Alert")

        # Abort in mid-exposure: the readout comes at once and nothing is sent.
        server.setprop("READOUT_MODE.BINNED=On")
        server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=60")
        server.wait_state("CCD_EXPOSURE", "Busy")
        mark = messages.mark()
        server.setprop("CCD_EXPOSURE.CCD_EXPOSURE_VALUE=2")
        messages.wait_for(r"exposure is running: the request for 2 s was refused", start=mark)
        expect(server.getprop("CCD_EXPOSURE._STATE") == "Busy", "the running exposure ended")
        server.setprop("CCD_ABORT_EXPOSURE.ABORT=On")
        messages.wait_for(r"aborted: the frame was read out and discarded", start=mark)
        states, lines_s = last_frame_writes(server)
        expect(states[-1] == 0x37 and lines_s < 30,
               f"abort left lines {states} after {lines_s:.1f} s of a 60 s exposure")
        expect(sorted(os.listdir(os.path.join(scratch, "up"))) ==
               ["IMAGE_001.fits", "IMAGE_002.fits"], "the aborted frame was sent")
        expect(server.getprop("CCD_EXPOSURE._STATE") != "Busy", "still busy after Abort")

        check_frame_kinds(server, scratch)
        check_clients(server, two_clients)
        check_video(server)
        check_recording(server, ser_check, scratch)
        check_adjustments(server, driver, emulator, scratch)
        check_serial_lines(server)
        expect(not messages.undefined_updates,
               f"updated before their definition: {messages.undefined_updates}")
    finally:
        server.close()
    expect_tidy(server, "the server's end, closing the driver's input")


def main():
    args = [a for a in sys.argv[1:] if a != "--keep"]
    if len(args) != 4:
        print(__doc__)
        return 1
    missing = tools_missing()
    if missing:
        print(f"skipped: {', '.join(missing)} not installed (Debian package indi-bin)")
        return 77
    scratch = tempfile.mkdtemp(prefix="indi-driver-")
    try:
        run(args[0], args[1], args[2], args[3], scratch)
        check_endings(args[0], args[1], scratch)
    except Failure as failure:
        print(f"FAILED: {failure}\n(scratch directory kept: {scratch})")
        return 1
    print("passed")
    if "--keep" not in sys.argv:
        shutil.rmtree(scratch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
