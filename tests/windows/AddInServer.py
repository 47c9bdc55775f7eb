#!/usr/bin/env python3
"""Loopback HTTP proxy for the add-in tests: serves files of FOLDER by name and
a few paths that misbehave on purpose; logs and refuses CONNECT (https). When a
file "limit-request" beside PORT_FILE holds a number of MiB, it sets the data
limit of this prefix's glinthost.exe processes to what they hold plus that
much (Wine enforces no Windows limit) and answers in "limited".
    AddInServer.py FOLDER PORT_FILE LOG_FILE
"""
import http.server, os, resource, sys, time

folder, port_file, log_file = sys.argv[1:4]
MISBEHAVING = {  # path ending: (status, Content-Length or None, body)
    "/status404": (404, 0, b""),
    "/nolength": (200, None, b"no length here"),
    "/announces60m": (200, 60 << 20, b"0123456789"),  # more than a limited broker holds
    "/short": (200, 1000, b"0123456789"),
}


class Handler(http.server.BaseHTTPRequestHandler):  # HTTP/1.0: one request a connection
    def do_CONNECT(self):
        with open(log_file, "a") as out:
            out.write("CONNECT %s\n" % self.path)

    def do_GET(self):
        path = self.path  # proxy form: http://host/path
        path = "/" + path.split("://", 1)[1].split("/", 1)[1] if "://" in path else path
        target = os.path.join(folder, os.path.basename(path))
        data = open(target, "rb").read() if os.path.isfile(target) else None
        status, length, body = next((a for end, a in MISBEHAVING.items() if path.endswith(end)),
                                    (200, len(data), data) if data is not None else (404, 0, b""))
        self.send_response(status)
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.write(body)


def limit_brokers(headroom):
    prefix = b"WINEPREFIX=" + os.environ.get("WINEPREFIX", "").encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            command = open("/proc/%s/cmdline" % pid, "rb").read().lower()
            environment = open("/proc/%s/environ" % pid, "rb").read().split(b"\0")
        except OSError:
            continue
        if b"glinthost.exe" not in command or prefix not in environment:
            continue
        try:
            vmdata = open("/proc/%s/status" % pid).read().split("VmData:")[1].split()[0]
            limit = headroom + int(vmdata) * 1024
            resource.prlimit(int(pid), resource.RLIMIT_DATA, (limit, limit))
            yield "limited %s %d" % (pid, limit)
        except (OSError, IndexError) as error:
            yield "failed %s %s" % (pid, error)


def limit_on_request(control):
    request = os.path.join(control, "limit-request")
    try:
        headroom = int(open(request).read().strip()) << 20
    except (OSError, ValueError):
        return
    os.remove(request)
    with open(request + ".answer", "w") as out:
        out.write("\n".join(list(limit_brokers(headroom)) or ["none"]) + "\n")
    os.replace(request + ".answer", os.path.join(control, "limited"))


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as out:
    out.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
server.timeout = 0.05  # between requests, a limit request is looked for
deadline = time.time() + 600  # ends by itself after ten minutes
while time.time() < deadline:
    server.handle_request()
    limit_on_request(os.path.dirname(os.path.abspath(port_file)))
