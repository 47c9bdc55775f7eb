#!/usr/bin/env python3
"""A loopback HTTP proxy that answers every request itself, for the add-in
tests. WinINet is pointed at it as its proxy, so any host of the maker's
domain reaches it. It serves files from a folder by path, and a few paths
that misbehave on purpose. CONNECT requests (https) are logged and refused.

It also limits the broker's memory when a test asks (Windows has no limit
that Wine enforces): a file "limit-request" beside PORT_FILE holding a number
of MiB sets the data limit of every broker process (glinthost.exe) of this
Wine prefix to what it holds now plus that much; the answer goes to
"limited" ("limited <pid> <limit>" lines, or "none").

    AddInServer.py FOLDER PORT_FILE LOG_FILE
"""
import http.server
import os
import resource
import socketserver
import sys
import threading
import time

folder, port_file, log_file = sys.argv[1:4]


def log(line):
    with open(log_file, "a") as out:
        out.write(line + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_CONNECT(self):
        log("CONNECT " + self.path)
        self.close_connection = True
        self.wfile.flush()

    def do_GET(self):
        log("GET " + self.path)
        path = self.path
        if "://" in path:  # proxy form: http://host/path
            path = "/" + path.split("://", 1)[1].split("/", 1)[1]
        if path.endswith("/status404"):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path.endswith("/nolength"):
            self.send_response(200)
            self.end_headers()
            self.wfile.write(b"no length here")
            return
        if path.endswith("/announces60m"):  # more than a limited broker can hold
            self.send_response(200)
            self.send_header("Content-Length", str(60 << 20))
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            return
        if path.endswith("/short"):
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            return
        name = os.path.basename(path)
        target = os.path.join(folder, name)
        if not name or not os.path.isfile(target):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        data = open(target, "rb").read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def brokers(prefix):
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().decode("utf-8", "replace").lower()
            with open("/proc/%s/environ" % pid, "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if "glinthost.exe" in command and b"WINEPREFIX=" + prefix in environment:
            yield int(pid)


def data_size(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmData:"):
                return int(line.split()[1]) * 1024
    return 0


def limiter(control):
    request = os.path.join(control, "limit-request")
    prefix = os.environ.get("WINEPREFIX", "").encode()
    while True:
        time.sleep(0.05)
        try:
            headroom = int(open(request).read().strip()) << 20
        except (OSError, ValueError):
            continue
        os.remove(request)
        lines = []
        for pid in brokers(prefix) if prefix else []:
            try:
                limit = data_size(pid) + headroom
                resource.prlimit(pid, resource.RLIMIT_DATA, (limit, limit))
                lines.append("limited %d %d" % (pid, limit))
            except OSError as error:
                lines.append("failed %d %s" % (pid, error))
        with open(request + ".answer", "w") as out:
            out.write("\n".join(lines or ["none"]) + "\n")
        os.replace(request + ".answer", os.path.join(control, "limited"))


threading.Thread(target=limiter, args=(os.path.dirname(os.path.abspath(port_file)),),
                 daemon=True).start()
server = Server(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as out:
    out.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
# Ends by itself after ten minutes, should nobody stop it.
server.timeout = 1
deadline = time.time() + 600
while time.time() < deadline:
    server.handle_request()
