#!/usr/bin/env python3
"""Runs a command in a pseudo-terminal and reads what it writes as a terminal would show it.

    terminal_progress.py COLUMNS SECONDS COMMAND [ARGUMENTS...]

The screen is kept as a terminal of COLUMNS x 24 keeps it: printable characters, carriage
return, line feed, backspace, and the few control sequences a console renderer uses (wine's
conhost draws its screen buffer with cursor moves, erasing and cursor hiding). Any other
escape sequence counts as one the program wrote. Checks that the download's progress line,
"(x of y MB, z%)", is rewritten in place: at least five increasing percentages before 100.0%,
at least two changes a second while it moves (a window that moved once a second fails), no
line feed per update, no "[K" and no stray escape on the screen. Exits 1 with the reason,
0 with a summary; the command is killed after SECONDS.
"""
import codecs
import fcntl
import os
import pty
import re
import select
import signal
import struct
import sys
import termios
import time

ROWS = 24
PROGRESS = re.compile(r"\((\d+) of (\d+) MB, (\d+)\.(\d)%\)")
# A control sequence: ESC [, private marker, parameters, final byte.
CSI = re.compile(r"\x1b\[([?]?)([0-9;]*)([@-~])")


class Screen:
    def __init__(self, columns):
        self.columns = columns
        self.rows = [[" "] * columns for _ in range(ROWS)]
        self.row = self.column = 0
        self.unknown = []
        self.line_feeds = 0
        self.on_return = lambda: None

    def put(self, char):
        if self.column >= self.columns:  # wraps as a terminal does
            self.column = 0
            self.down()
        self.rows[self.row][self.column] = char
        self.column += 1

    def down(self):
        if self.row == ROWS - 1:
            self.rows.pop(0)
            self.rows.append([" "] * self.columns)
        else:
            self.row += 1

    def control(self, private, parameters, final):
        numbers = [int(p) if p else 0 for p in parameters.split(";")] if parameters else []
        n = max(numbers[0], 1) if numbers else 1
        line = self.rows[self.row]
        if private == "?" and final in "hl":
            return  # modes, such as the cursor shown or hidden
        if final == "K":
            mode = numbers[0] if numbers else 0
            start, end = {0: (self.column, self.columns), 1: (0, self.column + 1)}.get(
                mode, (0, self.columns))
            line[start:end] = [" "] * (end - start)
        elif final == "C":
            self.column = min(self.column + n, self.columns - 1)
        elif final == "D":
            self.column = max(self.column - n, 0)
        elif final == "A":
            self.row = max(self.row - n, 0)
        elif final == "B":
            self.row = min(self.row + n, ROWS - 1)
        elif final == "G":
            self.column = min(n, self.columns) - 1
        elif final in "Hf":
            self.row = min((numbers[0] if numbers else 1) or 1, ROWS) - 1
            self.column = min((numbers[1] if len(numbers) > 1 else 1) or 1, self.columns) - 1
        elif final == "J":
            self.rows = [[" "] * self.columns for _ in range(ROWS)]
        elif final == "X":
            line[self.column:self.column + n] = [" "] * min(n, self.columns - self.column)
        elif final != "m":
            self.unknown.append("ESC[" + private + parameters + final)

    def feed(self, text):
        i = 0
        while i < len(text):
            c = text[i]
            if c == "\x1b":
                match = CSI.match(text, i)
                if not match:
                    if len(text) - i < 16 and "[" in text[i:i + 2]:
                        return text[i:]  # the rest of a sequence comes with the next chunk
                    self.unknown.append(repr(text[i:i + 4]))
                    i += 1
                    continue
                self.control(*match.groups())
                i = match.end()
                continue
            if c == "\r":
                self.on_return()  # the picture before it is whole
                self.column = 0
            elif c == "\n":
                self.line_feeds += 1
                self.down()
            elif c == "\b":
                self.column = max(self.column - 1, 0)
            elif c >= " " or c == "\t":
                self.put(" " if c == "\t" else c)
            i += 1
        return ""

    def text(self):
        return ["".join(r).rstrip() for r in self.rows]


def tenths(screen):
    for row in screen.text():
        match = PROGRESS.search(row)
        if match:
            return int(match.group(3)) * 10 + int(match.group(4))
    return None


def main():
    columns, seconds, command = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3:]
    pid, master = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, columns, 0, 0))
    screen, decoder, rest = Screen(columns), codecs.getincrementaldecoder("utf-8")("replace"), ""
    shown = []  # (time, tenths of a percent) at each change
    feeds_while_moving = 0
    seen_k = False

    def note():
        nonlocal seen_k
        now = tenths(screen)
        if now is not None and (not shown or now != shown[-1][1]):
            shown.append((time.monotonic(), now))
        seen_k = seen_k or any("[K" in row for row in screen.text())

    # A renderer draws what changed cell by cell: the screen is read whole before each
    # carriage return and when the output pauses, not in the middle of a picture.
    screen.on_return = note
    started = time.monotonic()
    status = None
    while time.monotonic() - started < seconds:
        ready, _, _ = select.select([master], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                chunk = b""
            feeds = screen.line_feeds
            rest = screen.feed(rest + decoder.decode(chunk))
            if shown and 0 < shown[-1][1] < 1000:
                feeds_while_moving += screen.line_feeds - feeds
        else:
            note()
        done, code = os.waitpid(pid, os.WNOHANG)
        if done:
            status = code
            break
    else:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        return fail(f"the command did not end within {seconds} s", screen)
    while select.select([master], [], [], 0.2)[0]:  # what it wrote before it ended
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        rest = screen.feed(rest + decoder.decode(chunk))
    note()
    moving = [(t, p) for t, p in shown if 0 < p < 1000]
    rising = [p for _, p in moving]
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        return fail(f"the command ended with status {status}", screen)
    if screen.unknown:
        return fail(f"escape sequences the program wrote: {screen.unknown[:5]}", screen)
    if seen_k or any("\x1b" in row for row in screen.text()):
        return fail("an escape sequence shows as text", screen)
    if len(rising) < 5 or rising != sorted(rising) or not shown or shown[-1][1] != 1000:
        return fail(f"progress shown: {[p for _, p in shown]}", screen)
    elapsed = moving[-1][0] - moving[0][0]
    if elapsed > 1 and len(moving) - 1 < 2 * elapsed:
        return fail(f"{len(moving)} progress changes in {elapsed:.1f} s", screen)
    if feeds_while_moving > 1:
        return fail(f"{feeds_while_moving} new lines while the progress moved", screen)
    print(f"{len(moving)} progress changes in {elapsed:.1f} s on one line, "
          f"{screen.line_feeds} line feeds in all")
    return 0


def fail(reason, screen):
    print("FAILED: " + reason)
    print("screen:\n" + "\n".join(row for row in screen.text() if row))
    return 1


if __name__ == "__main__":
    sys.exit(main())
