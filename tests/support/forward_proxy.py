#!/usr/bin/env python3
"""A small forward HTTP proxy on 127.0.0.1 for the Windows tests: takes requests in absolute form
("GET http://host:port/path HTTP/1.1"), forwards each to its server with "Connection: close", relays
the answer and logs "<method> <path>" a line per request, so a test can check that a launcher's
requests went through it.

    forward_proxy.py <log file>      prints "listening <port>" once it accepts connections
"""
import socket
import sys
import threading
from urllib.parse import urlsplit

LOG = open(sys.argv[1], "a", buffering=1)
LOCK = threading.Lock()


def read_head(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            return None, b""
        data += chunk
        if len(data) > 1 << 20:
            return None, b""
    head, _, rest = data.partition(b"\r\n\r\n")
    return head.decode("latin-1"), rest


def serve(client):
    with client:
        client.settimeout(30)
        try:
            head, rest = read_head(client)
            if head is None:
                return
            lines = head.split("\r\n")
            method, target, version = lines[0].split(" ", 2)
            url = urlsplit(target)
            if url.scheme != "http" or not url.hostname:
                client.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            path = url.path or "/"
            if url.query:
                path += "?" + url.query
            headers = [h for h in lines[1:] if h.split(":", 1)[0].strip().lower()
                       not in ("connection", "proxy-connection", "keep-alive")]
            with LOCK:
                LOG.write(f"{method} {path}\n")
            upstream = socket.create_connection((url.hostname, url.port or 80), timeout=30)
            with upstream:
                request = "\r\n".join([f"{method} {path} {version}"] + headers + ["Connection: close", "", ""])
                upstream.sendall(request.encode("latin-1") + rest)
                while True:
                    chunk = upstream.recv(65536)
                    if not chunk:
                        break
                    client.sendall(chunk)
        except (OSError, ValueError):
            pass


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print("listening", listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


main()
