#!/usr/bin/env python3
"""A loopback HTTP proxy that answers every request itself, for the add-in
tests. WinINet is pointed at it as its proxy, so any host of the maker's
domain reaches it. It serves files from a folder by path, and a few paths
that misbehave on purpose. CONNECT requests (https) are logged and refused.

    AddInServer.py FOLDER PORT_FILE LOG_FILE
"""
import http.server
import os
import socketserver
import sys
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


server = Server(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as out:
    out.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
# Ends by itself after ten minutes, should nobody stop it.
server.timeout = 1
deadline = time.time() + 600
while time.time() < deadline:
    server.handle_request()
