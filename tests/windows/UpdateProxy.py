#!/usr/bin/env python3
"""Loopback proxies for the update check's wire, one port per behaviour,
written to PORTS_FILE as "name port" lines; every request head is logged to
LOG_FILE as "name: line" lines.
  tls     answers CONNECT with 200, then completes TLS with a self-signed
          certificate (CERT, KEY) and logs how much the client sent after it
  reject  answers CONNECT with 502
  silent  takes the request and never answers
    UpdateProxy.py PORTS_FILE LOG_FILE CERT KEY
"""
import os, socket, ssl, sys, threading

ports_file, log_file, cert, key = sys.argv[1:5]
lock = threading.Lock()


def log(name, line):
    with lock, open(log_file, "a") as out:
        out.write("%s: %s\n" % (name, line))


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data.split(b"\r\n\r\n")[0].decode("latin-1").split("\r\n")


def serve(name, conn):
    with conn:
        for line in read_head(conn):
            log(name, line)
        if name == "silent":
            threading.Event().wait()  # never answered, never closed
        elif name == "reject":
            conn.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
        else:
            conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            try:
                tls = context.wrap_socket(conn, server_side=True)
                log(name, "data after handshake: %d bytes" % len(tls.recv(4096)))
            except (ssl.SSLError, OSError) as error:
                log(name, "handshake ended: %s" % type(error).__name__)


def accept(name, server):
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(name, conn), daemon=True).start()


servers = [(name, socket.create_server(("127.0.0.1", 0))) for name in ("tls", "reject", "silent")]
with open(ports_file + ".tmp", "w") as out:
    for name, server in servers:
        out.write("%s %d\n" % (name, server.getsockname()[1]))
        threading.Thread(target=accept, args=(name, server), daemon=True).start()
os.rename(ports_file + ".tmp", ports_file)
threading.Event().wait()
