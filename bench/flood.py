#!/usr/bin/env python3
"""Floods caplat-stat's metrics server on 127.0.0.1 with hostile clients.

    flood.py PORT [--connections N] [--kind idle|slow] [--seconds S]

Keeps N connections open (default 600) for S seconds (default 10): "idle"
ones send nothing, "slow" ones send one byte of a request and nothing more.
Each connection the server closes is opened again at once, so that the
server is never left a free place for long. Prints "flooding" once the
connections are asked for and, when done, the connections opened and those
the server closed; stops by itself.
"""
import argparse
import selectors
import socket
import time

parser = argparse.ArgumentParser()
parser.add_argument("port", type=int)
parser.add_argument("--connections", type=int, default=600)
parser.add_argument("--kind", choices=("idle", "slow"), default="slow")
parser.add_argument("--seconds", type=float, default=10)
args = parser.parse_args()

selector = selectors.DefaultSelector()
opened = closed = 0


def connect():
    global opened
    s = socket.socket()
    s.setblocking(False)
    s.connect_ex(("127.0.0.1", args.port))
    # Writable once connected: the slow kind then sends its byte.
    selector.register(s, selectors.EVENT_WRITE if args.kind == "slow" else selectors.EVENT_READ)
    opened += 1


for _ in range(args.connections):
    connect()
print("flooding", flush=True)
end = time.monotonic() + args.seconds
while time.monotonic() < end:
    for key, events in selector.select(timeout=0.1):
        s = key.fileobj
        try:
            if events & selectors.EVENT_WRITE:
                s.send(b"G")
                selector.modify(s, selectors.EVENT_READ)
                continue
            if s.recv(4096):
                continue
        except OSError:
            pass
        # Closed by the server (or refused): another takes its place.
        selector.unregister(s)
        s.close()
        closed += 1
        connect()
print(f"{opened} connections opened, {closed} closed by the server")
