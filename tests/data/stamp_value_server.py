#!/usr/bin/python3
# A weather station's web server on 127.0.0.1 for stamp values: /now.json, /text, /slow (answers after
# five seconds), /moved (a redirect), /big (4 MB), anything else 404. Prints "PORT n"; ends by itself
# after two minutes.
import http.server
import sys
import threading
import time

BODIES = {
    "/now.json": b'{"outTemp": 21.4, "wind": {"dir": "NW"}, "note": "&date %Y {host}"}',
    "/text": b"calm\nNW 12\n",
}


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass

    def do_GET(self):
        if self.path in BODIES:
            self.answer(200, BODIES[self.path])
        elif self.path == "/slow":
            time.sleep(5)
            self.answer(200, BODIES["/now.json"])
        elif self.path == "/moved":
            self.answer(302, b"", [("Location", "/now.json")])
        elif self.path == "/big":
            self.answer(200, b"first line\n" + b"x" * (4 << 20))
        else:
            self.answer(404, b"no")


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
threading.Timer(120, server.shutdown).start()
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
sys.exit(0)
