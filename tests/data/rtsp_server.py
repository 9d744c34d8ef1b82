"""Throwaway RTSP camera for tests and benchmarks on 127.0.0.1: an H.264 test pattern on
rtsp://127.0.0.1:PORT/cam (gst-rtsp-server, x264enc). Prints "PORT <n>" and then the address once it listens.
--port 0 picks a free port; give the same port again to bring a stopped camera back at its old address.
--user and --password ask for basic authentication; --udp-only refuses RTP over the RTSP connection (TCP)
with 461, as some cameras do. --counter draws the frame number instead of a pattern, as a row of 16
blocks across the picture (white 1, black 0, the highest bit at the left), and writes the newest number
sent to --counter-file; --key-interval sets the frames between key frames (the rate by default)."""
import argparse
import os
import signal
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--port", type=int, default=0)
parser.add_argument("--width", type=int, default=640)
parser.add_argument("--height", type=int, default=360)
parser.add_argument("--rate", type=int, default=10, help="frames per second")
parser.add_argument("--pattern", default="red", help="a videotestsrc pattern: red, smpte, ball, ...")
parser.add_argument("--path", default="/cam")
parser.add_argument("--user", default="")
parser.add_argument("--password", default="")
parser.add_argument("--udp-only", action="store_true")
parser.add_argument("--counter", action="store_true")
parser.add_argument("--counter-file", default="")
parser.add_argument("--key-interval", type=int, default=0)
args = parser.parse_args()

Gst.init(None)
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service(str(args.port))

factory = GstRtspServer.RTSPMediaFactory()
caps = "video/x-raw,width=%d,height=%d,framerate=%d/1" % (args.width, args.height, args.rate)
if args.counter:
    source = "appsrc name=counter is-live=true format=time do-timestamp=true caps=%s,format=I420" % caps
else:
    source = "videotestsrc is-live=true pattern=%s ! %s" % (args.pattern, caps)
factory.set_launch(
    "( %s ! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=%d "
    "! rtph264pay name=pay0 pt=96 config-interval=1 )" % (source, args.key_interval or max(1, args.rate)))
factory.set_shared(True)


def counter_picture(n):
    """An I420 picture of the frame number n."""
    block = args.width // 16
    row = b"".join((b"\xeb" if n >> (15 - i) & 1 else b"\x10") * block for i in range(16))
    row += b"\x10" * (args.width - len(row))
    chroma = b"\x80" * ((args.width // 2) * (args.height // 2) * 2)
    return row * args.height + chroma


def start_counter(_factory, media):
    appsrc = media.get_element().get_by_name("counter")
    sent = [0]

    def push():
        sent[0] += 1
        if appsrc.emit("push-buffer", Gst.Buffer.new_wrapped(counter_picture(sent[0]))) != Gst.FlowReturn.OK:
            return False
        if args.counter_file:
            with open(args.counter_file + ".new", "w") as f:
                f.write(str(sent[0]))
            os.replace(args.counter_file + ".new", args.counter_file)
        return True

    GLib.timeout_add(1000 // args.rate, push)


if args.counter:
    factory.connect("media-configure", start_counter)
if args.udp_only:
    factory.set_protocols(GstRtsp.RTSPLowerTrans.UDP)

if args.user:
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, "camera")
    auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
    server.set_auth(auth)
    permissions = GstRtspServer.RTSPPermissions()
    permissions.add_permission_for_role("camera", GstRtspServer.RTSP_PERM_MEDIA_FACTORY_ACCESS, True)
    permissions.add_permission_for_role("camera", GstRtspServer.RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, True)
    factory.set_permissions(permissions)

server.get_mount_points().add_factory(args.path, factory)
if server.attach(None) == 0:
    sys.exit("cannot listen on 127.0.0.1:%d" % args.port)
port = server.get_bound_port()
print("PORT %d" % port, flush=True)
print("rtsp://127.0.0.1:%d%s" % (port, args.path), flush=True)

loop = GLib.MainLoop()
for s in (signal.SIGTERM, signal.SIGINT):
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, s, loop.quit)
loop.run()
