"""Starting, measuring and stopping the processes of the benchmark."""

import os
import signal
import subprocess
import time


def exited(process, timeout):
    """Waits up to `timeout` seconds for `process` to end and leaves it unreaped, so that its
    process group id cannot be taken by another process meanwhile. True if it ended."""
    deadline = time.monotonic() + timeout
    while True:
        info = os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT)
        if info is not None and info.si_pid == process.pid:
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.01)


def stop_process(process, grace=3.0):
    """Ends `process` (a Popen started in a session of its own) and whatever is left in its
    process group: SIGTERM, then SIGKILL after `grace` seconds; then collects it."""
    if process is None or process.returncode is not None:
        return
    if not exited(process, 0):
        signal_group(process, signal.SIGTERM)
        exited(process, grace)
    signal_group(process, signal.SIGKILL)  # the leader is unreaped: the group is still ours
    process.wait()


def signal_group(process, number):
    try:
        os.killpg(process.pid, number)
    except ProcessLookupError:
        pass


class Measured:
    """What one run of a tool cost, from run_measured's result line."""

    def __init__(self, line):
        how, code, start, end, user, system, rss_kib = line.split()
        self.signalled = how == "signal"
        self.code = int(code)
        self.start, self.end = float(start), float(end)
        self.cpu = float(user) + float(system)
        self.rss = int(rss_kib) * 1024  # bytes

    def exit_text(self):
        return ("killed by signal %d" % self.code) if self.signalled else ("exit %d" % self.code)


def run_measured(runner, argv, result_file, log_file, cwd, env, timeout, netns=None):
    """Runs `argv` through run_measured (in `netns` if given) with standard input from
    /dev/null and its output in `log_file`. Returns a Measured, or None with a reason when it
    did not end within `timeout` seconds or left no result."""
    command = [runner, result_file]
    if netns:
        command += ["--netns", netns]
    command += ["--"] + argv
    try:
        os.remove(result_file)
    except FileNotFoundError:
        pass
    with open(log_file, "wb") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT, cwd=cwd, env=env,
                                   start_new_session=True)
    try:
        timed_out = not exited(process, timeout)
    finally:
        stop_process(process, grace=1.0)  # also when the benchmark is interrupted
    if timed_out:
        return None, "did not end within %.0f s" % timeout
    try:
        with open(result_file) as f:
            return Measured(f.read()), ""
    except (OSError, ValueError):
        return None, "no measurement (run_measured exit %d)" % process.returncode
