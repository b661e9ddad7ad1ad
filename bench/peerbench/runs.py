"""One measured run of one downloader, verified byte for byte."""

import os
import shutil
import subprocess
import time

from .processes import run_measured
from .tools import OURS

LOG_WAIT = 2.0  # seconds to wait for nginx to log the requests of a run that has ended
UNSET = ("DISPLAY", "WAYLAND_DISPLAY", "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
         "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY")


class Sample:
    """The figures of one run. `transfer`: from the first request (ours: the first range
    request) to the exit; `wall`: from the start to the exit; `join`: from the end of the last
    request to the exit; `tail`: from the server's last body byte to the exit (the end of the
    last request that sent body bytes: nginx logs a request's end once its last byte is in
    the socket, lane_server the instant of that byte); `cpu`: user + system seconds of the
    process tree; `rss`: peak resident set in bytes; `requests`: the requests the server
    logged."""

    def __init__(self, measured, requests, counted):
        self.wall = measured.end - measured.start
        self.transfer = measured.end - min(r.start for r in counted)
        self.after_last = measured.end - max(r.end for r in requests)
        self.tail = measured.end - max(r.end for r in requests if r.bytes > 0)
        self.first = min(r.start for r in counted) - measured.start
        self.cpu = measured.cpu
        self.rss = measured.rss
        self.requests = requests


class Runner:
    """Runs the tools of one scenario against one server, in directories under `work`: the
    running `server` at `url`, or, with `fresh_server`, a server of its own for each run:
    fresh_server() starts one and returns it with its URL, and the run stops it."""

    def __init__(self, work, program, run_measured_binary, server, url, source, netns=None,
                 fresh_server=None):
        self.work, self.program, self.runner = work, program, run_measured_binary
        self.server, self.url, self.source, self.netns = server, url, source, netns
        self.fresh_server = fresh_server
        self.name = os.path.basename(source)
        self.timeout = 60 + os.path.getsize(source) / 5e6  # a hang ends the run, not the bench

    def run(self, tool):
        """Runs `tool` once; returns (Sample, "") or (None, why it failed)."""
        if not self.fresh_server:
            return self._run(tool, self.server, self.url, False)
        server, url = self.fresh_server()
        try:
            return self._run(tool, server, url, True)
        finally:
            server.stop()

    def _run(self, tool, server, url, fresh):
        out = os.path.join(self.work, "out-" + tool.key)
        tmp = os.path.join(self.work, "tmp-" + tool.key)
        for d in (out, tmp):
            shutil.rmtree(d, ignore_errors=True)
            os.makedirs(d)
        env = {k: v for k, v in os.environ.items() if k not in UNSET}
        env["TMPDIR"] = tmp  # our piece files, on the output's file system
        log = os.path.join(self.work, tool.key + ".log")
        offset = server.log_size()
        measured, why = run_measured(self.runner, tool.command(self.program, url, out,
                                                               self.name),
                                     os.path.join(self.work, tool.key + ".result"), log, out,
                                     env, self.timeout, self.netns)
        if fresh:
            server.stop()  # it logs the requests still open as it ends: the log is complete
        try:
            if measured is None:
                return None, why + self._tail(log)
            if measured.code != 0 or measured.signalled:
                return None, measured.exit_text() + self._tail(log)
            why = self._verify(tool, out, tmp)
            if why:
                return None, why
            requests = self._requests(server, offset)
            counted = [r for r in requests if r.range] if tool.ranged_start else requests
            if not counted:
                return None, "the server logged no %srequest" % ("range " if tool.ranged_start
                                                                 else "")
            if not any(r.bytes for r in requests):
                return None, "the server logged no request with body bytes"
            return Sample(measured, requests, counted), ""
        finally:
            shutil.rmtree(out, ignore_errors=True)
            shutil.rmtree(tmp, ignore_errors=True)
            os.sync()  # the next run starts without this run's dirty pages

    def _verify(self, tool, out, tmp):
        left = sorted(os.listdir(out))
        if self.name not in left:
            return "no output file (%s holds: %s)" % (out, " ".join(left) or "nothing")
        if left != [self.name]:
            return "files left beside the output: " + " ".join(f for f in left if f != self.name)
        if tool is OURS and os.listdir(tmp):
            return "piece files left in TMPDIR: " + " ".join(sorted(os.listdir(tmp)))
        if subprocess.run(["cmp", "-s", self.source, os.path.join(out, self.name)]).returncode:
            return "the output differs from the served file (cmp)"
        return ""

    @staticmethod
    def _requests(server, offset):
        # nginx writes a request's line when it has finished it, which may be just after the
        # client has closed the connection and exited.
        deadline = time.monotonic() + LOG_WAIT
        requests = server.requests_since(offset)
        while not requests and time.monotonic() < deadline:
            time.sleep(0.05)
            requests = server.requests_since(offset)
        time.sleep(0.05)
        return server.requests_since(offset)

    @staticmethod
    def _tail(log):
        try:
            with open(log, errors="replace") as f:
                lines = f.read().strip().splitlines()[-5:]
        except OSError:
            return ""
        return "".join("\n      " + line for line in lines)
