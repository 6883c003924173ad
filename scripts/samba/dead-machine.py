#!/usr/bin/python3
"""A machine that cannot be asked, on a loopback address: its SMB ports (445,
139), or the ports given, either take connections and never answer
("silent": the kernel completes the handshake, nobody reads), or drop
connection attempts as a firewall does ("drop": the accept queues are full,
so further SYNs go unanswered).

Usage: dead-machine.py ADDRESS silent|drop [PORT...]
It holds the ports until killed.
"""
import socket
import sys
import time

address, mode = sys.argv[1], sys.argv[2]
held = []
for port in [int(p) for p in sys.argv[3:]] or [445, 139]:
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, port))
    # Nobody accepts: a silent machine's kernel completes many handshakes,
    # a dropping one's queue holds one connection and is then full.
    s.listen(64 if mode == "silent" else 0)
    held.append(s)
    if mode == "drop":
        for _ in range(2):
            c = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            c.setblocking(False)
            try:
                c.connect((address, port))
            except BlockingIOError:
                pass
            held.append(c)
print("ready", flush=True)
while True:
    time.sleep(3600)
