#!/usr/bin/env python3
"""Runs a command in a pseudo-terminal and reads what it writes as a terminal shows it.

    terminal_progress.py COLUMNS SECONDS [--shows TEXT] COMMAND [ARGUMENTS...]

The screen follows printable characters, carriage returns, line feeds and the few control
sequences a console renderer uses (wine's conhost draws its screen buffer with cursor moves,
erasing and cursor hiding); any other escape sequence counts as one the program wrote. The
download's progress line, "x of y MB, ...", must be rewritten in place: at least five rising
percentages before the whole size, at least two changes a second while it moves, no line feed while
it moves, no "[K" and no escape on the screen; TEXT, when given, must show on the screen at some
moment (the program's texts reach the terminal as characters). Exits 1 with the reason, else 0
with a summary; the command is killed after SECONDS.
"""
import codecs
import fcntl
import os
import pty
import re
import select
import struct
import sys
import termios
import time

ROWS = 24
PROGRESS = re.compile(r"(\d+\.\d) of (\d+\.\d) MB")
CSI = re.compile(r"\x1b\[(\??)([0-9;]*)([@-~])")


class Screen:
    def __init__(self, columns):
        self.columns, self.row, self.column = columns, 0, 0
        self.rows = [[" "] * columns for _ in range(ROWS)]
        self.unknown, self.line_feeds = [], 0
        self.on_return = lambda: None

    def down(self):
        if self.row < ROWS - 1:
            self.row += 1
        else:
            self.rows = self.rows[1:] + [[" "] * self.columns]

    def control(self, private, parameters, final):
        numbers = [int(p or 0) for p in parameters.split(";")] if parameters else [0]
        if private and final in "hl" or final == "m":
            return  # modes (the cursor shown or hidden) and colours
        if final == "K":  # erase in the line: to its end, to the cursor, or all of it
            start = 0 if numbers[0] else self.column
            end = self.column + 1 if numbers[0] == 1 else self.columns
            self.rows[self.row][start:end] = [" "] * (end - start)
        elif final in "CD":
            step = max(numbers[0], 1) * (1 if final == "C" else -1)
            self.column = min(max(self.column + step, 0), self.columns - 1)
        elif final == "H":
            self.row = min(max(numbers[0], 1), ROWS) - 1
            self.column = min(max(numbers[1] if len(numbers) > 1 else 1, 1), self.columns) - 1
        else:
            self.unknown.append(f"ESC[{private}{parameters}{final}")

    def feed(self, text):
        """Takes the text in; returns the start of a sequence that the next chunk completes."""
        i = 0
        while i < len(text):
            c = text[i]
            match = CSI.match(text, i) if c == "\x1b" else None
            if match:
                self.control(*match.groups())
                i = match.end()
                continue
            if c == "\x1b":
                if len(text) - i < 16:
                    return text[i:]
                self.unknown.append(repr(text[i:i + 4]))
            elif c == "\r":
                self.on_return()  # the picture before it is whole
                self.column = 0
            elif c == "\n":
                self.line_feeds += 1
                self.down()
            elif c >= " ":
                if self.column >= self.columns:  # wraps as a terminal does
                    self.column = 0
                    self.down()
                self.rows[self.row][self.column] = c
                self.column += 1
            i += 1
        return ""

    def lines(self):
        return ["".join(r).rstrip() for r in self.rows]


def main():
    columns, seconds, command = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3:]
    expected = None
    if command[:1] == ["--shows"]:
        expected, command = command[1], command[2:]
    pid, master = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, columns, 0, 0))
    screen, decoder, rest = Screen(columns), codecs.getincrementaldecoder("utf-8")("replace"), ""
    shown, moving_feeds, k_shown = [], 0, False  # shown: (time, tenths of a percent)
    expected_shown = expected is None

    def note():
        nonlocal k_shown, expected_shown
        expected_shown = expected_shown or any(expected in line for line in screen.lines())
        found = [PROGRESS.search(line) for line in screen.lines()]
        now = next((round(float(m[1]) / float(m[2]) * 1000) for m in found if m and float(m[2])),
                   None)
        if now is not None and (not shown or now != shown[-1][1]):
            shown.append((time.monotonic(), now))
        k_shown = k_shown or any("[K" in line for line in screen.lines())

    # A renderer draws what changed cell by cell: the screen is read whole before each
    # carriage return and when the output pauses, not in the middle of a picture.
    screen.on_return = note
    deadline, status = time.monotonic() + seconds, None
    while status is None:
        if time.monotonic() > deadline:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            return fail(f"the command did not end within {seconds} s", screen)
        ready = select.select([master], [], [], 0.1)[0]
        try:
            chunk = os.read(master, 65536) if ready else b""
        except OSError:  # the terminal is closed
            chunk = b""
        feeds = screen.line_feeds
        rest = screen.feed(rest + decoder.decode(chunk))
        if shown and 0 < shown[-1][1] < 1000:
            moving_feeds += screen.line_feeds - feeds
        if not chunk:
            note()
            done, code = os.waitpid(pid, os.WNOHANG)
            status = code if done else None
    moving = [(t, p) for t, p in shown if 0 < p < 1000]
    elapsed = moving[-1][0] - moving[0][0] if moving else 0
    rising = [p for _, p in moving]
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        return fail(f"the command ended with status {status}", screen)
    if screen.unknown:
        return fail(f"escape sequences of the program's own: {screen.unknown[:5]}", screen)
    if k_shown:
        return fail('"[K" shows on the screen', screen)
    if not expected_shown:
        return fail(f"{expected!r} never showed", screen)
    if len(rising) < 5 or rising != sorted(rising) or shown[-1][1] != 1000:
        return fail(f"progress shown: {[p for _, p in shown]}", screen)
    if elapsed > 1 and len(moving) - 1 < 2 * elapsed:
        return fail(f"{len(moving)} progress changes in {elapsed:.1f} s", screen)
    if moving_feeds > 1:
        return fail(f"{moving_feeds} new lines while the progress moved", screen)
    print(f"{len(moving)} progress changes in {elapsed:.1f} s on one line, "
          f"{screen.line_feeds} line feeds in all")
    return 0


def fail(reason, screen):
    print("FAILED: " + reason + "\nscreen:\n" + "\n".join(l for l in screen.lines() if l))
    return 1


if __name__ == "__main__":
    sys.exit(main())
