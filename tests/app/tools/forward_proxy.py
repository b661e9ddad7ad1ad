#!/usr/bin/env python3
"""A forward HTTP proxy for the dual-stack test: plain-HTTP GET and HEAD requests in absolute
form, passed on to their server over a connection of their own, with the Range header.
  forward_proxy.py ADDRESS PORT_FILE LOG
Listens on ADDRESS (IPv4 or IPv6) at an ephemeral port, writes the port to PORT_FILE, and
writes one line to LOG for each request: its target. Runs until it is killed."""
import http.client
import http.server
import os
import socket
import sys
import urllib.parse

address, port_file, log_path = sys.argv[1:4]


class Proxy(http.server.BaseHTTPRequestHandler):
    def forward(self, body):
        with open(log_path, "a") as log:
            log.write(self.path + "\n")
        target = urllib.parse.urlsplit(self.path)
        if target.scheme != "http" or not target.hostname:
            self.send_error(400, "absolute http URLs only")
            return
        headers = {"Host": target.netloc}
        if "Range" in self.headers:
            headers["Range"] = self.headers["Range"]
        upstream = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=30)
        upstream.request(self.command, target.path or "/", headers=headers)
        answer = upstream.getresponse()
        data = answer.read() if body else b""
        self.send_response(answer.status, answer.reason)
        for name in ("Content-Length", "Content-Range", "Accept-Ranges", "ETag", "Last-Modified"):
            if answer.getheader(name) is not None:
                self.send_header(name, answer.getheader(name))
        self.end_headers()
        self.wfile.write(data)
        upstream.close()

    def do_GET(self):
        self.forward(True)

    def do_HEAD(self):
        self.forward(False)

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    address_family = socket.AF_INET6 if ":" in address else socket.AF_INET


server = Server((address, 0), Proxy)
with open(port_file + ".part", "w") as f:
    f.write("%d\n" % server.server_address[1])

os.rename(port_file + ".part", port_file)
server.serve_forever()
