"""The downloaders compared, the scenarios and the targets."""

import shutil
import subprocess

MIB = 1 << 20
GIB = 1 << 30
MB = 1e6  # the table's unit: 1 MB = 10^6 bytes


class Tool:
    """A downloader: its name in the table, the Debian package with it, and its command line
    for fetching `url` into `directory/name`. `ranged_start` says where its transfer phase
    starts: at its first request with a Range header (our program asks for the size and waits
    before its ranges, by design) or at its first request of any kind."""

    def __init__(self, key, label, package, ranged_start, command):
        self.key, self.label, self.package = key, label, package
        self.ranged_start = ranged_start
        self.command = command

    def version(self):
        """The peer's version line, e.g. "curl 7.88.1"."""
        try:
            out = subprocess.run([self.key, "--version"], capture_output=True, text=True).stdout
        except OSError:
            return "?"
        return out.splitlines()[0].split(" (")[0].replace(" version", "") if out else "?"


def _ours(program, url, directory, name):
    return [program, url, "OutputDirectory:" + directory, "CompletionLaunchApplication:0",
            "MaximumNumberOfAttempts:Unlimited"]


def _curl(program, url, directory, name):
    return ["curl", "-q", "-sS", "--fail", "-o", directory + "/" + name, url]


def _axel(program, url, directory, name):
    return ["axel", "-q", "-n", "5", "-o", directory + "/" + name, url]


def _aria2c(program, url, directory, name):
    # No preallocation (it would write the file twice), one file name, no renaming, and a
    # split size small enough that a small file is split into five ranges as well.
    return ["aria2c", "--no-conf", "-q", "-x5", "-s5", "-k1M", "--file-allocation=none",
            "--allow-overwrite=true", "--auto-file-renaming=false", "--summary-interval=0",
            "-d", directory, "-o", name, url]


OURS = Tool("download", "download", "", True, _ours)
TOOLS = [
    OURS,
    Tool("curl", "curl (1 connection)", "curl", False, _curl),
    Tool("axel", "axel -n 5", "axel", False, _axel),
    Tool("aria2c", "aria2c -x5 -s5", "aria2", False, _aria2c),
]


def missing_tools(tools):
    return ["%s (Debian package %s)" % (t.key, t.package) for t in tools
            if t is not OURS and not shutil.which(t.key)]


class Scenario:
    """A file size and a network: loopback with an optional nginx limit_rate per connection,
    the delayed link between two namespaces (`delay_ms` each way), or one slow lane: a fresh
    build/bench/lane_server for each run that paces its `slow_lane`-th ranged GET connection
    at `slow_rate` bytes a second and every other connection at `lane_rate`."""

    def __init__(self, key, title, size, limit_rate=None, delay_ms=0, slow_lane=0,
                 slow_rate=0.0, lane_rate=0.0):
        self.key, self.title, self.size = key, title, size
        self.limit_rate, self.delay_ms = limit_rate, delay_ms
        self.slow_lane, self.slow_rate, self.lane_rate = slow_lane, slow_rate, lane_rate


SCENARIOS = {
    "A": Scenario("A", "loopback, no limit", GIB),
    "B": Scenario("B", "limit_rate 20m/conn", 256 * MIB, limit_rate="20m"),
    "C": Scenario("C", "50 ms RTT", 256 * MIB, delay_ms=25),
    "D": Scenario("D", "one lane 1 MB/s, others 20 MB/s", 64 * MIB, slow_lane=2,
                  slow_rate=1 * MB, lane_rate=20 * MB),
}

# Speed targets: (scenario, peer, least ratio of our MB/s to the peer's, both transfer phases).
SPEED_TARGETS = [("A", "axel", 1.1), ("A", "curl", 0.8), ("B", "axel", 1.0), ("C", "aria2c", 1.0),
                 ("D", "axel", 1.0)]
CPU_PEER = "axel"  # our CPU seconds per GiB at most this peer's, in every scenario
RSS_LIMIT = 8 * MB  # our peak resident set below this, in every scenario
# From the server's last body byte to our exit, at most this many seconds per TAIL_UNIT bytes
# of file, in every scenario.
TAIL_LIMIT = 0.1
TAIL_UNIT = 256 * MIB


def size_text(size):
    for unit, name in ((GIB, "GiB"), (MIB, "MiB"), (1024, "KiB")):
        if size >= unit and size % unit == 0:
            return "%d %s" % (size // unit, name)
    return "%d bytes" % size


def parse_size(text):
    """'1G', '256M', '512K' or a byte count; binary units."""
    units = {"K": 1024, "M": MIB, "G": GIB}
    t = text.strip().upper().removesuffix("IB").removesuffix("B")
    factor = units.get(t[-1:], 1)
    number = t[:-1] if t[-1:] in units else t
    if not number.isdigit() or int(number) * factor < 1:
        raise ValueError("bad size: %s (e.g. 16M, 1G, 100000)" % text)
    return int(number) * factor
