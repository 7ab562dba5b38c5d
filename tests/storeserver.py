#!/usr/bin/env python3
"""A store server for stores_test: serves FOLDER on 127.0.0.1 at a free port, which it prints
on its first line; over TLS with --tls CERT KEY (PEM files). The first part of a path says how
it answers; the rest names the file:
  plain/KEY      the file, or 404
  auth/KEY       the file, to user "reader" with password "se@cret" only (basic auth)
  signed/KEY     the file, to a request whose query is "token=se%40cret" only (a presigned
                 URL's), else 403
  error/KEY      500           forbidden/KEY  403
  slow/KEY       nothing at all, for a long while
  stall/KEY      the headers and half the file, then nothing
  endless/KEY    a body without end and without a length
  huge/KEY       a Content-Length of a petabyte, then nothing
  redirect/KEY   302 to plain/KEY       tofile/KEY  302 to file:///etc/passwd
  loop/KEY       302 to itself
  region/KEY     the file to a request signed for eu-west-2 (its credential scope), else 301
                 naming that region in x-amz-bucket-region, as S3 answers in another region
  moved/KEY      301 naming us-east-1 in x-amz-bucket-region, whatever the request
  stats/connections  how many connections the server has accepted
"""
import argparse
import base64
import http.server
import os
import ssl
import sys
import threading
import time
import urllib.parse

parser = argparse.ArgumentParser()
parser.add_argument("folder")
parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
options = parser.parse_args()
folder = options.folder
connections = 0
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, so the client can reuse its connections

    def setup(self):
        global connections
        with lock:
            connections += 1
        super().setup()

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def file(self, key):
        path = os.path.join(folder, key)
        if ".." in key.split("/") or not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def do_GET(self):
        try:
            self.route()
        except (ConnectionError, TimeoutError):
            self.close_connection = True

    def route(self):
        path, _, query = self.path.partition("?")
        mode, _, key = urllib.parse.unquote(path).lstrip("/").partition("/")
        body = self.file(key)
        if mode == "stats":
            return self.answer(200, str(connections).encode())
        if mode == "auth":
            wanted = "Basic " + base64.b64encode(b"reader:se@cret").decode()
            if self.headers.get("Authorization") != wanted:
                return self.answer(401, b"who?", [("WWW-Authenticate", 'Basic realm="store"')])
            mode = "plain"
        if mode == "signed":
            mode = "plain" if query == "token=se%40cret" else "forbidden"
        if mode == "region":
            if "/eu-west-2/s3/aws4_request" in self.headers.get("Authorization", ""):
                mode = "plain"
            else:
                return self.answer(301, b"", [("x-amz-bucket-region", "eu-west-2")])
        if mode == "moved":
            return self.answer(301, b"", [("x-amz-bucket-region", "us-east-1")])
        if mode == "plain":
            return self.answer(200, body) if body is not None else self.answer(404, b"none")
        if mode in ("error", "forbidden"):
            return self.answer(500 if mode == "error" else 403, b"no")
        if mode in ("redirect", "tofile", "loop"):
            target = {"redirect": "/plain/" + key, "tofile": "file:///etc/passwd",
                      "loop": self.path}[mode]
            return self.answer(302, b"", [("Location", target)])
        self.close_connection = True
        if mode == "slow":
            time.sleep(60)
        elif mode in ("stall", "huge"):  # half the file, or a petabyte promised; then nothing
            self.send_response(200)
            self.send_header("Content-Length", str(len(body) if mode == "stall" else 10**15))
            self.end_headers()
            self.wfile.write(body[: len(body) // 2] if mode == "stall" else b"")
            self.wfile.flush()
            time.sleep(60)
        elif mode == "endless":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            while True:
                self.wfile.write(b"x" * 65536)


def end_with_parent():
    """Ends the server when the test closes its end of standard input, or dies."""
    sys.stdin.read()
    os._exit(0)


class Server(http.server.ThreadingHTTPServer):
    context = None  # an ssl.SSLContext where the server speaks TLS

    def get_request(self):
        """The connection, wrapped for TLS where asked; its handshake comes in its own thread,
        so that a client that refuses the certificate holds up nobody else."""
        connection, address = super().get_request()
        if self.context:
            connection = self.context.wrap_socket(connection, server_side=True,
                                                  do_handshake_on_connect=False)
        return connection, address

    def handle_error(self, request, client_address):
        pass  # a client that hung up, or refused the certificate: nothing to tell


server = Server(("127.0.0.1", 0), Handler)
if options.tls:
    server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server.context.load_cert_chain(*options.tls)
threading.Thread(target=end_with_parent, daemon=True).start()
print(server.server_address[1], flush=True)
server.serve_forever()
