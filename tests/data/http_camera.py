"""Throwaway HTTP camera for tests on 127.0.0.1. Prints "PORT <n>" once it listens, then "GET <path>"
for each request.
  /stream      multipart/x-mixed-replace MJPEG, 10 pictures a second
  /resize      the same stream, switching from the first size to half of it after 10 pictures
  /snapshot    one image/jpeg picture
  /page        an HTML page
  /empty       image/jpeg with no body
  /truncated   image/jpeg cut off in the middle
Every path under /private/ is the same but asks for basic authentication as "cam", "secret".
Pictures are solid blue, 320x240, made by cjpeg."""
import base64
import http.server
import subprocess
import time


def jpeg(width, height):
    ppm = b"P6 %d %d 255\n" % (width, height) + b"\0\0\xff" * (width * height)
    return subprocess.run(["cjpeg", "-quality", "90"], input=ppm, capture_output=True, check=True).stdout


full, half = jpeg(320, 240), jpeg(160, 120)
expected = "Basic " + base64.b64encode(b"cam:secret").decode()


class Camera(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    def answer(self, code, kind, body):
        self.send_response(code)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def stream(self, switch_after):
        self.send_response(200)
        self.send_header("Content-Type", "multipart/x-mixed-replace; boundary=frame")
        self.send_header("Connection", "close")
        self.end_headers()
        n = 0
        while True:
            picture = half if switch_after and n >= switch_after else full
            part = b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n" % len(picture)
            self.wfile.write(part + picture + b"\r\n")
            self.wfile.flush()
            n += 1
            time.sleep(0.1)

    def do_GET(self):
        path = self.path
        print("GET " + path, flush=True)
        if path.startswith("/private/"):
            if self.headers.get("Authorization") != expected:
                self.send_response(401)
                self.send_header("WWW-Authenticate", 'Basic realm="camera"')
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            path = path[len("/private"):]
        try:
            if path == "/stream":
                self.stream(0)
            elif path == "/resize":
                self.stream(10)
            elif path == "/snapshot":
                self.answer(200, "image/jpeg", full)
            elif path == "/page":
                self.answer(200, "text/html", b"<html><body>Log in</body></html>")
            elif path == "/empty":
                self.answer(200, "image/jpeg", b"")
            elif path == "/truncated":
                self.answer(200, "image/jpeg", full[: len(full) // 2])
            else:
                self.answer(404, "text/plain", b"no such camera")
        except (BrokenPipeError, ConnectionResetError):
            pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Camera)
server.daemon_threads = True
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
