"""Throwaway HTTP camera for tests on 127.0.0.1. Prints "PORT <n>" once it listens, then "GET <path>"
for each request.
  /stream      multipart/x-mixed-replace MJPEG, 10 pictures a second
  /resize      the same stream, switching from the first size to half of it after 10 pictures
  /snapshot    one image/jpeg picture
  /page        an HTML page
  /empty       image/jpeg with no body
  /truncated   image/jpeg cut off in the middle
  /octet-stream    the stream as application/octet-stream, boundary "ffmpeg" (as ffmpeg's -f mpjpeg)
  /wrong-length    the stream, its first part declaring a wrong Content-Length (as VLC's)
  /quicktime       a stream whose parts say video/quicktime
  /freeze          the stream; the first request's stops after 10 pictures, its connection held open
  /huge-part       a stream whose first part declares 1 GB, then sends 300 MB
  /huge-snapshot   a small image/jpeg whose header claims 30000x30000
  /huge-stream     a stream of such pictures
Every path under /private/ is the same but asks for basic authentication as "cam", "secret".
Pictures are solid blue, 320x240, made by cjpeg. --frames names JPEG files that /stream sends in turn
instead, --rate pictures a second."""
import argparse
import base64
import glob
import http.server
import subprocess
import time

parser = argparse.ArgumentParser()
parser.add_argument("--frames", default="", help="a glob of JPEG files for /stream")
parser.add_argument("--rate", type=float, default=10)
args = parser.parse_args()


def jpeg(width, height):
    ppm = b"P6 %d %d 255\n" % (width, height) + b"\0\0\xff" * (width * height)
    return subprocess.run(["cjpeg", "-quality", "90"], input=ppm, capture_output=True, check=True).stdout


def claiming(picture, width, height):
    """The picture with its frame header (SOF0) patched to claim another size."""
    sof = picture.index(b"\xff\xc0")
    return picture[:sof + 5] + height.to_bytes(2, "big") + width.to_bytes(2, "big") + picture[sof + 9:]


full, half = jpeg(320, 240), jpeg(160, 120)
huge = claiming(jpeg(16, 16), 30000, 30000)
frames = [open(name, "rb").read() for name in sorted(glob.glob(args.frames))] if args.frames else []
freezes = [1]
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

    def stream(self, switch_after=0, kind="multipart/x-mixed-replace; boundary=frame", boundary=b"frame",
               part_type=b"image/jpeg", picture=full, wrong_first=False, stop_after=0):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Connection", "close")
        self.end_headers()
        n = 0
        while not stop_after or n < stop_after:
            shown = half if switch_after and n >= switch_after else picture
            if frames and picture is full:
                shown = frames[n % len(frames)]
            length = len(shown) + (1000 if wrong_first and n == 0 else 0)
            part = b"--%s\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n" % (boundary, part_type, length)
            self.wfile.write(part + shown + b"\r\n")
            self.wfile.flush()
            n += 1
            time.sleep(1 / args.rate)
        time.sleep(60)

    def huge_part(self):
        self.send_response(200)
        self.send_header("Content-Type", "multipart/x-mixed-replace; boundary=frame")
        self.end_headers()
        self.wfile.write(b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: 1073741824\r\n\r\n")
        chunk = b"\0" * (1 << 20)
        for _ in range(300):
            self.wfile.write(chunk)
        time.sleep(60)

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
            elif path == "/octet-stream":
                self.stream(kind="application/octet-stream", boundary=b"ffmpeg")
            elif path == "/wrong-length":
                self.stream(wrong_first=True)
            elif path == "/quicktime":
                self.stream(part_type=b"video/quicktime")
            elif path == "/freeze":
                first = bool(freezes)
                freezes.clear()
                self.stream(stop_after=10 if first else 0)
            elif path == "/huge-part":
                self.huge_part()
            elif path == "/huge-snapshot":
                self.answer(200, "image/jpeg", huge)
            elif path == "/huge-stream":
                self.stream(picture=huge)
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
