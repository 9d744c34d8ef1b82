"""Throwaway pyftpdlib server for tests and benchmarks on 127.0.0.1; prints "PORT <n>" once it listens.
USER may do anything but write in ROOT/readonly. LOG gets "<COMMAND> <argument>" lines (no passwords)."""
import argparse
import logging
import os
import socket

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, PassiveDTP, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

parser = argparse.ArgumentParser()
parser.add_argument("--root", required=True)
parser.add_argument("--user", default="cam")
parser.add_argument("--password", default="secret")
parser.add_argument("--log", default=os.devnull)
parser.add_argument("--hang-on", default="")  # a command never answered
# no-connect-back: accepts active mode, never connects; stall-data: passive, stops reading after the first
# bytes; no-rename: refuses RNFR; no-rename-over: refuses RNTO onto an existing file; drop-first-upload:
# resets the first upload's data connection; slow: reads uploads at 32 KB/s; silent: never says a word;
# cleartext-refused: answers USER with a 421 asking for TLS and hangs up; pasv-elsewhere: refuses EPSV
# and names an unreachable address in its PASV replies.
parser.add_argument("--fault", default="", choices=["", "no-connect-back", "stall-data", "no-rename",
                                                    "no-rename-over", "drop-first-upload", "slow", "silent",
                                                    "cleartext-refused", "pasv-elsewhere"])
args = parser.parse_args()

logging.basicConfig(level=logging.CRITICAL)
authorizer = DummyAuthorizer()
authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
os.makedirs(os.path.join(args.root, "readonly"), exist_ok=True)
authorizer.override_perm(args.user, os.path.join(args.root, "readonly"), perm="elr", recursive=True)
log = open(args.log, "a", buffering=1)


class Handler(FTPHandler):
    authorizer = authorizer
    auth_failed_timeout = 0.1

    def pre_process_command(self, line, cmd, arg):
        if cmd == args.hang_on.upper():
            log.write("%s %s\n" % (cmd, arg or ""))
            return  # never answered
        return super().pre_process_command(line, cmd, arg)

    def log_cmd(self, cmd, arg, respcode, respstr):
        log.write("%s %s\n" % (cmd, "******" if cmd == "PASS" else arg or ""))

    if args.fault == "silent":
        def handle(self):
            pass  # no greeting

    if args.fault == "cleartext-refused":
        def ftp_USER(self, line):
            self.respond("421 Sorry, cleartext sessions are not accepted on this server. "
                         "Please reconnect using TLS security mechanisms.")
            self.close_when_done()

    if args.fault == "no-connect-back":
        def ftp_PORT(self, line):
            self.respond("200 Active data connection established.")

        ftp_EPRT = ftp_PORT

    if args.fault == "pasv-elsewhere":
        masquerade_address = "192.0.2.1"

        def ftp_EPSV(self, line):
            self.respond("500 EPSV not understood.")

    if args.fault == "no-rename":
        def ftp_RNFR(self, path):
            self.respond("550 Renaming is not allowed.")

    if args.fault == "no-rename-over":
        def ftp_RNTO(self, path):
            if os.path.exists(path):
                self._rnfr = None
                self.respond("550 File exists.")
            else:
                super().ftp_RNTO(path)


class StallingDTPHandler(DTPHandler):
    def handle_read(self):
        super().handle_read()
        if self.tot_bytes_received > 0:
            self.del_channel()  # stop reading; the socket stays open

    handle_read_event = handle_read


class SmallWindowPassiveDTP(PassiveDTP):
    def __init__(self, *a, **k):
        super().__init__(*a, **k)
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)


class DroppingDTPHandler(DTPHandler):
    dropped = False

    def handle_read(self):
        super().handle_read()
        if not DroppingDTPHandler.dropped and self.tot_bytes_received > 0 and self.receive:
            DroppingDTPHandler.dropped = True
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            self._resp = ("426 Connection lost; transfer aborted.", logging.debug)
            self.close()  # a reset, as from a dropped line

    handle_read_event = handle_read


ThrottledDTPHandler.read_limit = 32 * 1024
Handler.dtp_handler = {"slow": ThrottledDTPHandler, "drop-first-upload": DroppingDTPHandler,
                       "stall-data": StallingDTPHandler}.get(args.fault, DTPHandler)
if args.fault == "stall-data":
    Handler.passive_dtp = SmallWindowPassiveDTP
server = FTPServer(("127.0.0.1", 0), Handler)
print("PORT %d" % server.address[1], flush=True)
try:
    server.serve_forever(handle_exit=False)
finally:
    server.close_all()
