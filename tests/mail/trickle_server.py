#!/usr/bin/env python3
"""An SMTP server that never gets to the end of its greeting in time: one "220-"
continuation line every --interval seconds, --lines times, then "220 ready".
Prints "PORT <n>" once it listens; serves one connection."""
import argparse
import socket
import time

parser = argparse.ArgumentParser()
parser.add_argument("--interval", type=float, default=0.5)
parser.add_argument("--lines", type=int, default=40)
args = parser.parse_args()

listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print("PORT %d" % listener.getsockname()[1], flush=True)
conn, _ = listener.accept()
try:
    for _ in range(args.lines):
        conn.sendall(b"220-still greeting\r\n")
        time.sleep(args.interval)
    conn.sendall(b"220 ready\r\n")
    while conn.recv(4096):
        pass
except OSError:
    pass
