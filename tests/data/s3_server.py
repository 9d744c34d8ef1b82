"""Throwaway S3 object store for tests and benchmarks on 127.0.0.1; prints "PORT <n>" once it listens.
Path-style: HEAD of a bucket; PUT, GET, HEAD and DELETE of an object (ROOT/BUCKET/KEY). Each request's
SigV4 signature is computed again with botocore's own signer and the known secret: one signed with another
secret, region, body hash or header set gets S3's XML error; bucket "moved" is redirected elsewhere. LOG gets "<METHOD> <path>" and "ERROR <Code>"."""
import argparse
import hashlib
import hmac
import os
import re
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote
from xml.sax.saxutils import escape

from botocore.auth import S3SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

parser = argparse.ArgumentParser()
for option, default in (("root", None), ("access-key", "AKIDZANTREL"), ("secret", "s3cr3t/key+value"),
                        ("region", "us-east-1"), ("log", os.devnull)):
    parser.add_argument("--" + option, default=default, required=default is None)
args = parser.parse_args()
os.makedirs(os.path.join(args.root, "cam"), exist_ok=True)
log = open(args.log, "a", buffering=1)
AUTH = re.compile(r"AWS4-HMAC-SHA256 Credential=([^/]+)/(\d{8})/([^/]+)/s3/aws4_request, ?"
                  r"SignedHeaders=([a-z0-9;-]+), ?Signature=([0-9a-f]{64})$")
MISMATCH = ("The request signature we calculated does not match the signature you provided. Check your key "
            "and signing method.")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def refusal(self, body):  # (status, Code, Message), or None for a request signed as it should be
        m = AUTH.match(self.headers.get("Authorization", ""))
        if not m or m.group(1) != args.access_key:
            return 403, "InvalidAccessKeyId", "The AWS Access Key Id you provided does not exist in our records."
        key, day, region, signed, signature = m.groups()
        if region != args.region:
            return 400, "AuthorizationHeaderMalformed", "the region '%s' is wrong" % region
        stamp, claimed = self.headers.get("X-Amz-Date", ""), self.headers.get("X-Amz-Content-SHA256")
        if claimed not in ("UNSIGNED-PAYLOAD", hashlib.sha256(body).hexdigest()) or not stamp.startswith(day) \
                or "host" not in signed.split(";"):
            return 400, "InvalidRequest", "x-amz-content-sha256 (the body's), x-amz-date and host must be signed"
        # The request as botocore would sign it: the signed headers alone, the path as sent.
        request = AWSRequest(method=self.command, url="http://%s%s" % (self.headers.get("Host"), self.path),
                             headers={n: self.headers.get(n, "") for n in signed.split(";")}, data=body)
        request.context["timestamp"] = stamp
        signer = S3SigV4Auth(Credentials(args.access_key, args.secret), "s3", args.region)
        expected = signer.signature(signer.string_to_sign(request, signer.canonical_request(request)), request)
        return None if hmac.compare_digest(expected, signature) else (403, "SignatureDoesNotMatch", MISMATCH)

    def reply(self, status, body=b"", content_type="image/jpeg"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":  # HEAD: the length alone
            self.wfile.write(body)

    def handle_any(self):
        log.write("%s %s\n" % (self.command, self.path))
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0)) if self.command == "PUT" else b""
        bucket, _, key = unquote(self.path.split("?", 1)[0]).lstrip("/").partition("/")
        file = os.path.join(args.root, bucket, key)
        if bucket == "moved":  # it lives on another host now
            self.send_response(301)
            self.send_header("Location", "http://elsewhere.invalid" + self.path)
            self.send_header("Content-Length", "0")
            return self.end_headers()
        error = self.refusal(body)
        if not error and (bucket in ("", ".", "..") or not os.path.isdir(os.path.join(args.root, bucket))):
            error = 404, "NoSuchBucket", "The specified bucket does not exist"
        elif not error and key and any(part in ("", ".", "..") for part in key.split("/")):
            error = 400, "InvalidArgument", "This server stores no such key"
        elif not error and ((not key and self.command != "HEAD") or
                            (self.command in ("GET", "HEAD") and key and not os.path.isfile(file))):
            error = 404, "NoSuchKey", "The specified key does not exist."
        if error:
            log.write("ERROR %s\n" % error[1])
            self.reply(error[0], ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code><Message>%s"
                                  "</Message></Error>" % (error[1], escape(error[2]))).encode(), "application/xml")
        elif self.command == "PUT":
            os.makedirs(os.path.dirname(file), exist_ok=True)
            with open(file + ".incoming", "wb") as f:
                f.write(body)
            os.replace(file + ".incoming", file)  # an object is replaced whole
            self.reply(200)
        elif self.command == "DELETE":
            if os.path.isfile(file):
                os.remove(file)
            self.reply(204)
        else:
            with open(file, "rb") if key else open(os.devnull, "rb") as f:
                self.reply(200, f.read())

    do_PUT = do_GET = do_HEAD = do_DELETE = handle_any


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print("PORT %d" % server.server_address[1], flush=True)
server.serve_forever()
