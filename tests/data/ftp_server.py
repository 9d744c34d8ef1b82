"""A throwaway FTP server for tests and benchmarks (pyftpdlib).

Serves ROOT on 127.0.0.1:PORT (0 = a free port) and prints "PORT <n>" once it listens.
USER/PASSWORD has full rights, except in ROOT/readonly (made if missing), where it may only read.
Every command is appended to LOG as "<COMMAND> <argument> <reply code>" (passwords hidden).
--hang-on CMD: the server never answers that command (a stuck server).
--no-connect-back: active mode is accepted (PORT/EPRT answer 200) but the server never connects.
--stall-data: the server stops reading an upload after its first bytes (the data connection stalls).
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", default="cam")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--log")
    parser.add_argument("--hang-on", default="")
    parser.add_argument("--no-connect-back", action="store_true")
    parser.add_argument("--stall-data", action="store_true")
    args = parser.parse_args()

    logging.basicConfig(level=logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    readonly = os.path.join(args.root, "readonly")
    os.makedirs(readonly, exist_ok=True)
    authorizer.override_perm(args.user, readonly, perm="elr", recursive=True)

    log = open(args.log, "a", buffering=1) if args.log else None
    hang_on = args.hang_on.upper()

    class Handler(FTPHandler):
        auth_failed_timeout = 0.1
        permit_foreign_addresses = True

        def pre_process_command(self, line, cmd, arg):
            if cmd == hang_on:
                if log:
                    log.write("%s %s hung\n" % (cmd, arg or ""))
                return  # never answered
            return super().pre_process_command(line, cmd, arg)

        if args.no_connect_back:
            def ftp_PORT(self, line):
                self.respond("200 Active data connection established.")

            ftp_EPRT = ftp_PORT

        def log_cmd(self, cmd, arg, respcode, respstr):
            if log:
                if cmd == "PASS":
                    arg = "******"
                log.write("%s %s %s\n" % (cmd, arg or "", respcode))

    class StallingDTPHandler(DTPHandler):
        def handle_read(self):
            super().handle_read()
            if self.tot_bytes_received > 0:
                self.del_channel()  # stop reading; the socket stays open

        handle_read_event = handle_read

    Handler.authorizer = authorizer
    if args.stall_data:
        Handler.dtp_handler = StallingDTPHandler
    server = FTPServer(("127.0.0.1", args.port), Handler)
    print("PORT %d" % server.address[1], flush=True)
    try:
        server.serve_forever(handle_exit=False)
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
