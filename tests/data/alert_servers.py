#!/usr/bin/python3
# A local hook (HTTP) and mail server (SMTP with STARTTLS and login required) that record what they get:
# hook bodies as DIR/hook-N.json, mails as DIR/mail-N.eml. A hook path starting /hang is never answered,
# one starting /moved is redirected. With --flaky N the hook and the mail server each refuse their first N
# deliveries (503, 451).
# Prints "READY HTTPPORT SMTPPORT" once both listen.
import argparse
import http.server
import os
import socket
import ssl
import subprocess
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

parser = argparse.ArgumentParser()
parser.add_argument("--dir", required=True)
parser.add_argument("--user", default="cam")
parser.add_argument("--password", default="secret")
parser.add_argument("--flaky", type=int, default=0)
args = parser.parse_args()
lock = threading.Lock()
refused = {"hook": 0, "mail": 0}


def refuse(kind):
    with lock:
        refused[kind] += 1
        return refused[kind] <= args.flaky


def store(prefix, data):
    with lock:
        n = len([f for f in os.listdir(args.dir) if f.startswith(prefix)]) + 1
        with open(os.path.join(args.dir, "%s-%d.tmp" % (prefix, n)), "wb") as f:
            f.write(data)
        os.rename(os.path.join(args.dir, "%s-%d.tmp" % (prefix, n)),
                  os.path.join(args.dir, "%s-%d.%s" % (prefix, n, "json" if prefix == "hook" else "eml")))


class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if self.path.startswith("/hang"):
            time.sleep(120)
            return
        if refuse("hook"):
            self.send_response(503)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        store("hook", body)
        self.send_response(301 if self.path.startswith("/moved") else 200)
        self.send_header("Location", "/elsewhere")
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *a):
        pass


class Mailbox:
    async def handle_DATA(self, server, session, envelope):
        if refuse("mail"):
            return "451 Try again later"
        store("mail", envelope.original_content)
        return "250 OK"


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = auth_data.login == args.user.encode() and auth_data.password == args.password.encode()
    return AuthResult(success=ok, handled=False)  # a refusal is answered 535


cert, key = os.path.join(args.dir, "cert.pem"), os.path.join(args.dir, "key.pem")
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
               check=True, capture_output=True)
context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)

hook = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Hook)
hook.daemon_threads = True
threading.Thread(target=hook.serve_forever, daemon=True).start()
probe = socket.socket()
probe.bind(("127.0.0.1", 0))
smtp_port = probe.getsockname()[1]
probe.close()
mail = Controller(Mailbox(), hostname="127.0.0.1", port=smtp_port, tls_context=context, require_starttls=True,
                  authenticator=authenticate, auth_required=True)
mail.start()
print("READY %d %d" % (hook.server_address[1], smtp_port), flush=True)
sys.stdin.read()  # ends with the test
mail.stop()
