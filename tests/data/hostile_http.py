#!/usr/bin/python3
"""A hostile HTTP server on 127.0.0.1 for the transfer tests, bounded in time and bytes.

Prints "port N" once it listens, then for every request "request METHOD" and, when the connection
ends, "sent N" (bytes of the answer that went out). Modes:
  trickle  answers 201 at once, then its body at --rate bytes a second
  endless  answers 201 with a body that never ends, as fast as the client reads it
Each connection ends after --limit seconds or 300 MB; the server after --life seconds.
"""
import argparse
import socket
import sys
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("mode", choices=["trickle", "endless"])
parser.add_argument("--rate", type=float, default=2.5)
parser.add_argument("--limit", type=float, default=30)
parser.add_argument("--life", type=float, default=60)
args = parser.parse_args()


def say(text):
    print(text, flush=True)


def serve(conn):
    sent = 0
    end = time.monotonic() + args.limit
    try:
        conn.settimeout(5)
        head = b""
        while b"\r\n\r\n" not in head and len(head) < 65536:
            chunk = conn.recv(4096)
            if not chunk:
                return
            head += chunk
        say("request " + head.split(b" ", 1)[0].decode("latin-1"))
        # The body of an upload is read and dropped meanwhile, so the client is never held up sending.
        conn.setblocking(False)
        if args.mode == "trickle":
            conn.setblocking(True)
            sent += conn.send(b"HTTP/1.1 201 Created\r\nContent-Length: 100000000\r\n\r\n")
            pause = 1.0 / args.rate
            while time.monotonic() < end:
                conn.setblocking(False)
                drain(conn)
                conn.setblocking(True)
                sent += conn.send(b"x")
                time.sleep(pause)
        else:
            conn.setblocking(True)
            conn.sendall(b"HTTP/1.1 201 Created\r\nContent-Type: application/octet-stream\r\n\r\n")
            block = b"x" * 65536
            while time.monotonic() < end and sent < 300 * 1024 * 1024:
                sent += conn.send(block)
    except OSError:
        pass
    finally:
        say("sent %d" % sent)
        conn.close()


def drain(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(8)
listener.settimeout(0.5)
say("port %d" % listener.getsockname()[1])
deadline = time.monotonic() + args.life
while time.monotonic() < deadline:
    try:
        conn, _ = listener.accept()
    except socket.timeout:
        continue
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
sys.exit(0)
