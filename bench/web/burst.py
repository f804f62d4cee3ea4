#!/usr/bin/env python3
"""Opens N connections to the server at once, then sends a GET on each and
reads every response. Prints how many were answered with 200.
Usage: burst.py PORT [N] [PATH]"""
import socket
import sys

port = int(sys.argv[1])
count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
path = sys.argv[3] if len(sys.argv) > 3 else "/B/small.bin"
socks = []
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    s.settimeout(30)
    socks.append(s)
for s in socks:
    s.sendall(f"GET {path} HTTP/1.0\r\n\r\n".encode())
ok = 0
for s in socks:
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    ok += data.startswith(b"HTTP/1.0 200 OK")
    s.close()
print(f"{ok}/{count} answered 200")
