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
parser.add_argument("--no-connect-back", action="store_true")  # accepts active mode, never connects
parser.add_argument("--stall-data", action="store_true")  # passive: stops reading after the first bytes
parser.add_argument("--no-rename", action="store_true")  # refuses RNFR
parser.add_argument("--no-rename-over", action="store_true")  # refuses RNTO onto an existing file
parser.add_argument("--drop-first-upload", action="store_true")  # cuts the first upload's data short
parser.add_argument("--slow", action="store_true")  # reads uploads at 32 KB/s
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
    permit_foreign_addresses = True

    def pre_process_command(self, line, cmd, arg):
        if cmd == args.hang_on.upper():
            log.write("%s %s\n" % (cmd, arg or ""))
            return  # never answered
        return super().pre_process_command(line, cmd, arg)

    def log_cmd(self, cmd, arg, respcode, respstr):
        log.write("%s %s\n" % (cmd, "******" if cmd == "PASS" else arg or ""))

    if args.no_connect_back:
        def ftp_PORT(self, line):
            self.respond("200 Active data connection established.")

        ftp_EPRT = ftp_PORT

    if args.no_rename:
        def ftp_RNFR(self, path):
            self.respond("550 Renaming is not allowed.")

    if args.no_rename_over:
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
if args.slow:
    Handler.dtp_handler = ThrottledDTPHandler
if args.drop_first_upload:
    Handler.dtp_handler = DroppingDTPHandler
if args.stall_data:
    Handler.dtp_handler = StallingDTPHandler
    Handler.passive_dtp = SmallWindowPassiveDTP
server = FTPServer(("127.0.0.1", 0), Handler)
print("PORT %d" % server.address[1], flush=True)
try:
    server.serve_forever(handle_exit=False)
finally:
    server.close_all()
