"""Throwaway S3 object store for tests and benchmarks on 127.0.0.1; prints "PORT <n>" once it listens.
Path-style requests only: HEAD of a bucket; PUT, GET, HEAD and DELETE of an object, stored as
ROOT/BUCKET/KEY. Every request must carry a SigV4 Authorization header: the signature is computed again
with botocore's own signer and the known secret and compared, so a request signed with another secret,
region, body hash or header set is refused with S3's XML error. LOG gets "<METHOD> <path>" lines, "STORED
<Content-Type>|<Cache-Control>" for each object stored and "ERROR <Code>" for each refusal."""
import argparse
import hashlib
import hmac
import os
import re
import ssl
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote
from xml.sax.saxutils import escape

from botocore.auth import S3SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

parser = argparse.ArgumentParser()
parser.add_argument("--root", required=True)
parser.add_argument("--access-key", default="AKIDZANTREL")
parser.add_argument("--secret", default="s3cr3t/key+value")
parser.add_argument("--region", default="us-east-1")
parser.add_argument("--bucket", action="append", default=[])
parser.add_argument("--log", default=os.devnull)
parser.add_argument("--cert")  # with --key: HTTPS
parser.add_argument("--key")
# slow: reads object bodies at 64 KB/s
parser.add_argument("--fault", default="", choices=["", "slow"])
args = parser.parse_args()
for b in args.bucket or ["cam"]:
    os.makedirs(os.path.join(args.root, b), exist_ok=True)
log = open(args.log, "a", buffering=1)

AUTH = re.compile(r"AWS4-HMAC-SHA256 Credential=([^/]+)/(\d{8})/([^/]+)/s3/aws4_request, ?"
                  r"SignedHeaders=([a-z0-9;-]+), ?Signature=([0-9a-f]{64})$")


class Refused(Exception):
    def __init__(self, status, code, message):
        super().__init__(message)
        self.status, self.code, self.message = status, code, message


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        chunks = []
        while length > 0:
            chunk = self.rfile.read(min(length, 65536))
            if not chunk:
                break
            chunks.append(chunk)
            length -= len(chunk)
            if args.fault == "slow":
                time.sleep(1)
        return b"".join(chunks)

    def verify(self, body):
        m = AUTH.match(self.headers.get("Authorization", ""))
        if not m:
            raise Refused(403, "AccessDenied", "Access Denied")
        key, day, region, signed, signature = m.groups()
        if key != args.access_key:
            raise Refused(403, "InvalidAccessKeyId",
                          "The AWS Access Key Id you provided does not exist in our records.")
        if region != args.region:
            raise Refused(400, "AuthorizationHeaderMalformed",
                          "the region '%s' is wrong; expecting '%s'" % (region, args.region))
        stamp = self.headers.get("X-Amz-Date", "")
        if not stamp.startswith(day):
            raise Refused(403, "AccessDenied", "X-Amz-Date is missing or not the credential's day")
        claimed = self.headers.get("X-Amz-Content-SHA256")
        if claimed is None:
            raise Refused(400, "InvalidRequest", "Missing required header for this request: x-amz-content-sha256")
        if claimed != "UNSIGNED-PAYLOAD" and claimed != hashlib.sha256(body).hexdigest():
            raise Refused(400, "XAmzContentSHA256Mismatch",
                          "The provided 'x-amz-content-sha256' header does not match what was computed.")
        # The request as botocore would have signed it: the signed headers only, the path as sent.
        names = signed.split(";")
        if "host" not in names:
            raise Refused(403, "AccessDenied", "The host header must be signed")
        headers = {n: self.headers.get(n, "") for n in names}
        request = AWSRequest(method=self.command, url="http://%s%s" % (self.headers.get("Host", ""), self.path),
                             headers=headers, data=body)
        request.context["timestamp"] = stamp
        signer = S3SigV4Auth(Credentials(args.access_key, args.secret), "s3", args.region)
        canonical = signer.canonical_request(request)
        expected = signer.signature(signer.string_to_sign(request, canonical), request)
        if not hmac.compare_digest(expected, signature):
            raise Refused(403, "SignatureDoesNotMatch",
                          "The request signature we calculated does not match the signature you provided. "
                          "Check your key and signing method.")

    def reply(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def error(self, status, code, message):
        log.write("ERROR %s\n" % code)
        xml = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code><Message>%s</Message>"
               "<Resource>%s</Resource><RequestId>0</RequestId></Error>"
               % (code, escape(message), escape(self.path))).encode()
        self.reply(status, xml, [("Content-Type", "application/xml")])

    def handle_any(self):
        log.write("%s %s\n" % (self.command, self.path))
        body = self.read_body() if self.command == "PUT" else b""
        try:
            self.verify(body)
        except Refused as r:
            self.error(r.status, r.code, r.message)
            return
        path = unquote(self.path.split("?", 1)[0])
        bucket, _, key = path.lstrip("/").partition("/")
        if not bucket or bucket in (".", "..") or not os.path.isdir(os.path.join(args.root, bucket)):
            self.error(404, "NoSuchBucket", "The specified bucket does not exist")
            return
        if not key:
            if self.command == "HEAD":
                self.reply(200)
            else:
                self.error(405, "MethodNotAllowed", "The specified method is not allowed against this resource.")
            return
        if any(part in ("", ".", "..") for part in key.split("/")):
            self.error(400, "InvalidArgument", "The key is not stored by this server")
            return
        file = os.path.join(args.root, bucket, key)
        if self.command == "PUT":
            os.makedirs(os.path.dirname(file), exist_ok=True)
            with open(file + ".incoming", "wb") as f:
                f.write(body)
            log.write("STORED %s|%s\n" % (self.headers.get("Content-Type", ""),
                                          self.headers.get("Cache-Control", "")))
            os.replace(file + ".incoming", file)
            self.reply(200, headers=[("ETag", '"%s"' % hashlib.md5(body).hexdigest())])
        elif self.command == "DELETE":
            if os.path.isfile(file):
                os.remove(file)
            self.reply(204)
        elif os.path.isfile(file):
            with open(file, "rb") as f:
                data = f.read()
            self.reply(200, data, [("Content-Type", "image/jpeg")])  # HEAD: the length alone
        else:
            self.error(404, "NoSuchKey", "The specified key does not exist.")

    do_PUT = do_GET = do_HEAD = do_DELETE = handle_any


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
if args.cert:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
print("PORT %d" % server.server_address[1], flush=True)
try:
    server.serve_forever()
except KeyboardInterrupt:
    sys.exit(0)
