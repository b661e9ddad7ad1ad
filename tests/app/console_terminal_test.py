#!/usr/bin/env python3
"""The program on the console of a terminal 80 columns wide, during a paced download: one
line rewritten in place (carriage returns, not a new line each update), never wider than 79
columns, the bar's figures first with the speed, and no escape sequence at all; the file
arrives whole and the program ends with exit code 0.

    console_terminal_test.py PROGRAM DEMO_MIRROR
"""
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import fcntl
import termios

program, mirror = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix="console-terminal-")
started = []


def fail(why, output=b""):
    print("FAILED: " + why)
    if output:
        print("terminal output:\n" + output.decode("utf-8", "replace").replace("\r", "\\r\n"))
    sys.exit(1)


def stop_all():
    for process in started:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    shutil.rmtree(work, ignore_errors=True)


try:
    # 12 MiB in slices of 32 KiB every 50 ms on each of the five connections: a few seconds.
    served = os.path.join(work, "file.bin")
    with open(served, "wb") as f:
        f.write(os.urandom(12 * 1024 * 1024))
    server = subprocess.Popen([mirror, "--pace", "32768:50", "--lifetime", "120", served, "0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    started.append(server)
    ready, _, _ = select.select([server.stdout], [], [], 10)
    port = server.stdout.readline().decode().strip() if ready else ""
    if not port.isdigit():
        fail("the mirror gave no port within 10 s")
    out_dir = os.path.join(work, "out")
    os.mkdir(out_dir)

    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    run = subprocess.Popen([program, "http://127.0.0.1:%s/d/file.bin" % port,
                            "OutputDirectory:" + out_dir, "CompletionLaunchApplication:0"],
                           stdin=slave, stdout=slave, stderr=slave, env=env,
                           start_new_session=True)
    started.append(run)
    os.close(slave)
    output = b""
    deadline = time.monotonic() + 90
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal's other side closed: the program ended
                break
            if not chunk:
                break
            output += chunk
        elif run.poll() is not None:
            break
    os.close(master)
    try:
        code = run.wait(timeout=10)
    except subprocess.TimeoutExpired:
        fail("the program did not end within 90 s", output)

    if code != 0:
        fail("exit code %d" % code, output)
    with open(served, "rb") as a, open(os.path.join(out_dir, "file.bin"), "rb") as b:
        if a.read() != b.read():
            fail("the file differs", output)
    if b"\x1b" in output:
        fail("an escape sequence on the terminal", output)
    text = output.decode("utf-8")
    # What the terminal shows: each rewrite starts after a carriage return.
    pieces = [p.rstrip(" ") for p in re.split(r"[\r\n]", text) if p.strip()]
    too_wide = [p for p in pieces if len(p) > 79]
    if too_wide:
        fail("lines wider than 79 columns: %r" % too_wide[:3], output)
    moving = [p for p in pieces if " MB/s" in p]
    if len(set(moving)) < 5:
        fail("fewer than five updates with a speed", output)
    figures = re.compile(r"^\d+\.\d of 12\.0 MB, \d+(\.\d)? [KM]B/s")
    if not all(figures.match(p) for p in moving):
        fail("an update does not start with the figures: %r" % moving[:3], output)
    lines = text.count("\n")
    if lines > 12:
        fail("%d lines for %d updates: the line is not rewritten in place" % (lines, len(moving)),
             output)
    print("PASSED: %d updates on one line, at most 79 columns, figures first, no escapes; last: %r"
          % (len(moving), moving[-1]))
finally:
    stop_all()
