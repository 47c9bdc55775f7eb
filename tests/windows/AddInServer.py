#!/usr/bin/env python3
"""A loopback HTTP proxy that answers every request itself, for the add-in
tests: WinINet is pointed at it as its proxy, so any host of the maker's
domain reaches it. It serves files of FOLDER by name, plus a few paths that
misbehave on purpose; CONNECT requests (https) are logged and refused.

It also limits the broker's memory when a test asks (Wine enforces no
Windows limit): a file "limit-request" beside PORT_FILE holding a number of
MiB sets the data limit of every glinthost.exe of this Wine prefix to what it
holds now plus that much; the answer goes to "limited" ("limited <pid>
<limit>" lines, or "none").

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
# path ending: (status, Content-Length or None, body)
MISBEHAVING = {
    "/status404": (404, 0, b""),
    "/nolength": (200, None, b"no length here"),
    "/announces60m": (200, 60 << 20, b"0123456789"),  # more than a limited broker holds
    "/short": (200, 1000, b"0123456789"),
}


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

    def do_GET(self):
        log("GET " + self.path)
        path = self.path
        if "://" in path:  # proxy form: http://host/path
            path = "/" + path.split("://", 1)[1].split("/", 1)[1]
        target = os.path.join(folder, os.path.basename(path))
        answer = next((a for end, a in MISBEHAVING.items() if path.endswith(end)), None)
        if answer is None:
            data = open(target, "rb").read() if os.path.isfile(target) else None
            answer = (200, len(data), data) if data is not None else (404, 0, b"")
        status, length, body = answer
        self.send_response(status)
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def limit_brokers(headroom):
    prefix = os.environ.get("WINEPREFIX", "").encode()
    for pid in filter(str.isdigit, os.listdir("/proc") if prefix else []):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().decode("utf-8", "replace").lower()
            with open("/proc/%s/environ" % pid, "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if "glinthost.exe" not in command or b"WINEPREFIX=" + prefix not in environment:
            continue
        try:
            with open("/proc/%s/status" % pid) as f:
                limit = headroom + next(
                    (int(line.split()[1]) * 1024 for line in f if line.startswith("VmData:")), 0)
            resource.prlimit(int(pid), resource.RLIMIT_DATA, (limit, limit))
            yield "limited %s %d" % (pid, limit)
        except OSError as error:
            yield "failed %s %s" % (pid, error)


def limiter(control):
    request = os.path.join(control, "limit-request")
    while True:
        time.sleep(0.05)
        try:
            headroom = int(open(request).read().strip()) << 20
        except (OSError, ValueError):
            continue
        os.remove(request)
        lines = list(limit_brokers(headroom))
        with open(request + ".answer", "w") as out:
            out.write("\n".join(lines or ["none"]) + "\n")
        os.replace(request + ".answer", os.path.join(control, "limited"))


threading.Thread(target=limiter, args=(os.path.dirname(os.path.abspath(port_file)),),
                 daemon=True).start()
server = Server(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as out:
    out.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
server.timeout = 1
deadline = time.time() + 600  # ends by itself after ten minutes
while time.time() < deadline:
    server.handle_request()
