"""The origin servers of the benchmark (nginx with a configuration of its own; for scenario D
build/bench/lane_server, one fresh for each run) and the delayed network of scenario C (two
network namespaces joined by build/bench/delay_link)."""

import os
import re
import select
import signal
import socket
import subprocess
import time

from .processes import stop_process

NGINX_CANDIDATES = ["/usr/sbin/nginx", "/usr/local/sbin/nginx", "/sbin/nginx"]
START_TIMEOUT = 10.0  # seconds for nginx to accept connections, or for the link to come up
PORT_ATTEMPTS = 5

# One line per request. $msec is the time the line is written (the request's end) and
# $request_time the time since its first byte was read, so a request began at their difference.
LOG_FORMAT = ('$msec $request_time $status $body_bytes_sent "$http_range" "$request" '
              '"$http_user_agent"')
LOG_LINE = re.compile(r'^(\d+\.\d+) (\d+\.\d+) (\d+) (\d+) "([^"]*)" "([^"]*)" "([^"]*)"$')
# lane_server's line: start, end (its last body byte), method, status, body bytes, Range,
# request line, then the connection, its lane and rate, and "aborted" for a body cut short.
LANE_LINE = re.compile(r'^(\d+\.\d+) (\d+\.\d+) (\S+) (\d+) (\d+) "([^"]*)" "([^"]*)" '
                       r'conn=(\d+) lane=(\d+) rate=(\d+)( aborted)?$')


class BenchError(Exception):
    """The benchmark cannot run here: a missing tool, a peer that would not start."""


def find_nginx():
    for path in [p + "/nginx" for p in os.environ.get("PATH", "").split(":") if p]:
        if os.access(path, os.X_OK):
            return path
    for path in NGINX_CANDIDATES:
        if os.access(path, os.X_OK):
            return path
    raise BenchError("nginx not found (Debian package nginx, installed by scripts/setup)")


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Request:
    """One line of an access log: `start` and `end` in seconds since the epoch (`end`: nginx's
    end of the request, lane_server's last body byte), the status, the body bytes sent, the
    Range header ("" for none) and the request line. `lane`: lane_server's number of the
    connection among the ranged GET connections (0 for none, None from nginx)."""

    def __init__(self, start, end, status, sent, range_, line, lane=None, aborted=False):
        self.start, self.end, self.status, self.bytes = start, end, status, sent
        self.range = "" if range_ == "-" else range_
        self.line, self.lane, self.aborted = line, lane, aborted

    @classmethod
    def from_nginx(cls, match):
        end = float(match.group(1))
        return cls(end - float(match.group(2)), end, int(match.group(3)), int(match.group(4)),
                   match.group(5), match.group(6))

    @classmethod
    def from_lane(cls, match):
        return cls(float(match.group(1)), float(match.group(2)), int(match.group(4)),
                   int(match.group(5)), match.group(6), match.group(7), int(match.group(9)),
                   bool(match.group(11)))


def read_log(path, offset, pattern, make):
    """The requests logged in `path` after byte `offset`."""
    with open(path, "rb") as f:
        f.seek(offset)
        text = f.read().decode(errors="replace")
    return [make(m) for m in map(pattern.match, text.splitlines()) if m]


class Nginx:
    """nginx in the foreground, every file of it in `directory`, serving `root` on each
    (address, limit_rate or None) of `listeners`; in the network namespace `netns` if given.
    A port of 0 takes a free one on 127.0.0.1; `ports` then holds the ports in order."""

    def __init__(self, directory, root, listeners, netns=None):
        self.directory = directory
        self.binary = find_nginx()
        self.access_log = os.path.join(directory, "access.log")
        self.error_log = os.path.join(directory, "error.log")
        self.netns = netns
        self.process = None
        os.makedirs(os.path.join(directory, "temp"), exist_ok=True)
        failure = ""
        try:
            for _ in range(PORT_ATTEMPTS):
                self.ports = [port or free_port() for _, port, _ in listeners]
                self._write_config(root, listeners)
                failure = self._start([address for address, _, _ in listeners])
                if not failure:
                    return
                self.stop()
                if "Address already in use" not in failure:
                    break
        except BaseException:
            self.stop()
            raise
        raise BenchError("nginx did not start: " + failure)

    def _write_config(self, root, listeners):
        d = self.directory + "/"
        servers = []
        for (address, _, limit), port in zip(listeners, self.ports):
            rate = f" limit_rate {limit};" if limit else ""
            servers.append(f"  server {{ listen {address}:{port}; root {quote(root)};{rate} }}\n")
        temp = "".join(f"  {kind}_temp_path {quote(d + 'temp/' + kind)};\n"
                       for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        config = (
            "daemon off;\nmaster_process off;\n"
            f"pid {quote(d + 'nginx.pid')};\n"
            f"error_log {quote(self.error_log)} notice;\n"
            "events { worker_connections 1024; }\n"
            "http {\n"
            "  default_type application/octet-stream;\n"
            "  sendfile on;\n  tcp_nopush on;\n  keepalive_timeout 15s;\n"
            f"  log_format bench '{LOG_FORMAT}';\n"
            f"  access_log {quote(self.access_log)} bench;\n"
            f"{temp}{''.join(servers)}"
            "}\n")
        with open(d + "nginx.conf", "w") as f:
            f.write(config)

    def _start(self, addresses):
        for name in ("access.log", "error.log", "nginx.pid"):
            try:
                os.remove(os.path.join(self.directory, name))
            except FileNotFoundError:
                pass
        argv = [self.binary, "-p", self.directory + "/", "-c", self.directory + "/nginx.conf",
                "-e", self.error_log]
        if self.netns:
            argv = ["ip", "netns", "exec", self.netns] + argv
        out = open(os.path.join(self.directory, "output.log"), "wb")
        self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        out.close()
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return "exited with %d: %s" % (self.process.returncode, self.logs())
            if "Address already in use" in self.logs():
                return "Address already in use"
            if self._pid_written() and (self.netns or all(
                    self._can_connect(a, p) for a, p in zip(addresses, self.ports))):
                return ""
            time.sleep(0.02)
        return "did not accept connections within %.0f s: %s" % (START_TIMEOUT, self.logs())

    def _pid_written(self):
        try:
            with open(os.path.join(self.directory, "nginx.pid")) as f:
                return f.read().strip() == str(self.process.pid)
        except OSError:
            return False

    @staticmethod
    def _can_connect(address, port):
        try:
            with socket.create_connection((address, port), timeout=0.2):
                return True
        except OSError:
            return False

    def logs(self):
        text = ""
        for name in ("error.log", "output.log"):
            try:
                with open(os.path.join(self.directory, name), errors="replace") as f:
                    text += f.read()[-2000:]
            except OSError:
                pass
        return text.strip()

    def log_size(self):
        try:
            return os.path.getsize(self.access_log)
        except OSError:
            return 0

    def requests_since(self, offset):
        """The requests logged after byte `offset` of the access log."""
        return read_log(self.access_log, offset, LOG_LINE, Request.from_nginx)

    def stop(self):
        stop_process(self.process)
        self.process = None


class LaneServer:
    """build/bench/lane_server serving the file `source` on 127.0.0.1 (a free port, in `port`),
    its log and output in `directory`: the `slow_lane`-th ranged GET connection is paced at
    `slow_rate` bytes a second, every other connection at `rate`."""

    def __init__(self, binary, source, directory, slow_lane, slow_rate, rate):
        os.makedirs(directory, exist_ok=True)
        self.directory = directory
        self.access_log = os.path.join(directory, "access.log")
        self.output = os.path.join(directory, "output.log")
        out = open(self.output, "wb")
        self.process = subprocess.Popen(
            [binary, source, self.access_log, "--slow", str(slow_lane), "--slow-rate",
             str(int(slow_rate)), "--rate", str(int(rate))],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=out,
            start_new_session=True)
        out.close()
        try:
            line = self._first_line()
            if not line.startswith("port "):
                self.process.wait(timeout=START_TIMEOUT)
                raise BenchError("lane_server did not start: " + (line + self.logs()).strip())
            self.port = int(line.split()[1])
        except BaseException:
            self.stop()
            raise

    def _first_line(self):
        """lane_server's first line of output, or "" if it has none within START_TIMEOUT."""
        deadline = time.monotonic() + START_TIMEOUT
        pipe, text = self.process.stdout, b""
        while b"\n" not in text:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([pipe], [], [], left)[0]:
                return ""
            chunk = os.read(pipe.fileno(), 256)
            if not chunk:
                break
            text += chunk
        return text.decode(errors="replace").split("\n")[0]

    def url(self, source):
        return "http://127.0.0.1:%d/%s" % (self.port, os.path.basename(source))

    def logs(self):
        try:
            with open(self.output, errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def log_size(self):
        try:
            return os.path.getsize(self.access_log)
        except OSError:
            return 0

    def requests_since(self, offset):
        return read_log(self.access_log, offset, LANE_LINE, Request.from_lane)

    def stop(self):
        """SIGTERM; lane_server then logs the requests still open and exits."""
        stop_process(self.process)
        if self.process and self.process.stdout:
            self.process.stdout.close()
        self.process = None


class DelayedNetwork:
    """Two network namespaces, the server side and the client side, joined by delay_link with
    `delay_ms` each way. The server side has SERVER_ADDRESS, the client side CLIENT_ADDRESS."""

    SERVER_ADDRESS = "10.77.0.1"
    CLIENT_ADDRESS = "10.77.0.2"

    def __init__(self, delay_link, delay_ms, directory):
        tag = "dlb%d" % os.getpid()
        self.server_ns, self.client_ns = tag + "s", tag + "c"
        self.created = []
        self.link = None
        try:
            for ns in (self.server_ns, self.client_ns):
                run(["ip", "netns", "add", ns])
                self.created.append(ns)
                run(["ip", "-n", ns, "link", "set", "lo", "up"])
            log = open(os.path.join(directory, "delay_link.log"), "wb")
            self.link = subprocess.Popen(
                [delay_link, str(delay_ms), self.netns_path(self.server_ns), tag + "s",
                 self.netns_path(self.client_ns), tag + "c"],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log,
                start_new_session=True)
            log.close()
            if self.link.stdout.readline().strip() != b"ready":
                self.link.wait(timeout=START_TIMEOUT)
                with open(os.path.join(directory, "delay_link.log"), errors="replace") as f:
                    raise BenchError("delay_link did not start: " + f.read().strip())
            for ns, dev, here, there in ((self.server_ns, tag + "s", self.SERVER_ADDRESS,
                                          self.CLIENT_ADDRESS),
                                         (self.client_ns, tag + "c", self.CLIENT_ADDRESS,
                                          self.SERVER_ADDRESS)):
                run(["ip", "-n", ns, "addr", "add", here, "peer", there, "dev", dev])
                run(["ip", "-n", ns, "link", "set", dev, "up", "txqueuelen", "10000"])
        except BaseException:
            self.close()
            raise

    @staticmethod
    def netns_path(ns):
        return "/run/netns/" + ns

    def round_trip(self, url):
        """The TCP connect time to `url` from the client side, in seconds (waits for the link
        to carry traffic, up to START_TIMEOUT)."""
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            probe = subprocess.run(
                ["ip", "netns", "exec", self.client_ns, "curl", "-q", "-sS", "-I", "-o",
                 "/dev/null", "--max-time", "2", "-w", "%{time_connect}", url],
                capture_output=True, text=True)
            if probe.returncode == 0:
                return float(probe.stdout)
            if time.monotonic() > deadline:
                raise BenchError("no answer over the delayed link: " + probe.stderr.strip())
            time.sleep(0.1)

    def client_setting(self, name):
        """A sysctl of the client side, e.g. net/ipv4/tcp_congestion_control."""
        probe = subprocess.run(["ip", "netns", "exec", self.client_ns, "cat",
                                "/proc/sys/" + name], capture_output=True, text=True)
        return " ".join(probe.stdout.split()) or "?"

    def close(self):
        if self.link and self.link.poll() is None:
            self.link.send_signal(signal.SIGTERM)
            try:
                self.link.wait(timeout=5)
            except subprocess.TimeoutExpired:
                stop_process(self.link)
        self.link = None
        for ns in reversed(self.created):
            subprocess.run(["ip", "netns", "del", ns], stderr=subprocess.DEVNULL)
        self.created = []


def run(argv):
    done = subprocess.run(argv, capture_output=True, text=True)
    if done.returncode != 0:
        raise BenchError("%s: %s" % (" ".join(argv), done.stderr.strip()))


def delayed_network_unavailable():
    """Why scenario C cannot run here, or "" if it can."""
    if os.geteuid() != 0:
        return "needs root (network namespaces and TUN devices)"
    if not os.path.exists("/dev/net/tun"):
        return "no /dev/net/tun"
    probe = "dlbprobe%d" % os.getpid()
    try:
        done = subprocess.run(["ip", "netns", "add", probe], capture_output=True, text=True)
    except OSError as e:
        return "ip (Debian package iproute2): %s" % e
    if done.returncode != 0:
        return "ip netns add failed: " + done.stderr.strip()
    subprocess.run(["ip", "netns", "del", probe], stderr=subprocess.DEVNULL)
    return ""
