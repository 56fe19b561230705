#!/usr/bin/env python3
"""A small HTTP server for tests: serves files from a folder and, under a few
path prefixes, answers with the faults a downloader must survive. Every request
line is appended to requests.log and every POST to posts.log in --log-dir."""

import argparse
import email.utils
import hashlib
import json
import os
import socketserver
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote

STALL_SECONDS = 600
# A flood sends the file and then zeros, this many bytes in all.
FLOOD_BYTES = 64 * 1024 * 1024


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    failures = {}
    lock = threading.Lock()

    def log_message(self, fmt, *args):
        pass

    def record(self, name, line):
        with self.lock:
            with open(os.path.join(self.server.log_dir, name), "a") as f:
                f.write(line + "\n")

    def file_bytes(self, rel):
        rel = rel.split("?", 1)[0].lstrip("/")
        path = os.path.normpath(os.path.join(self.server.root, rel))
        if not path.startswith(self.server.root) or not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def send_plain(self, code, body=b"", length=True, close=False):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(len(body)))
        if close or not length:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.record("requests.log", "GET " + self.path)
        # Clients percent-encode "_" and "=", so the shortcuts are matched on
        # the decoded path.
        path = unquote(self.path)
        parts = path.lstrip("/").split("/")
        kind = parts[0] if parts else ""
        if kind == "__status":
            self.send_plain(int(parts[1]), b"fault")
            return
        if kind == "__redirect":
            self.send_response(302)
            self.send_header("Location", "/" + "/".join(parts[1:]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if kind == "__resumable":
            self.send_resumable(parts[1], int(parts[2]), "/".join(parts[3:]))
            return
        if kind == "__failfirst":
            count, rest = int(parts[1]), "/".join(parts[2:])
            key = rest.split("?", 1)[0]
            with self.lock:
                seen = self.failures.get(key, 0)
                self.failures[key] = seen + 1
            if seen < count:
                self.send_plain(500, b"fault")
                return
            path, kind = "/" + rest, ""
        rest = "/".join(parts[1:]) if kind.startswith("__") else path
        data = self.file_bytes(rest)
        if data is None:
            self.send_plain(404, b"not found")
            return
        if kind == "__nolength":
            self.send_plain(200, data, length=False)
        elif kind == "__short":
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data[: len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
        elif kind == "__stall":
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[:1024])
            self.wfile.flush()
            deadline = time.time() + STALL_SECONDS
            while time.time() < deadline and not self.server.stopping:
                time.sleep(0.1)
            self.close_connection = True
        elif kind == "__flood":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            chunk = bytes(64 * 1024)
            try:
                self.wfile.write(data)
                sent = len(data)
                while sent < FLOOD_BYTES and not self.server.stopping:
                    self.wfile.write(chunk)
                    sent += len(chunk)
            except OSError:
                pass  # the client hung up
        elif kind == "__corrupt":
            body = bytes([data[0] ^ 0xFF]) + data[1:] if data else data
            self.send_plain(200, body)
        else:
            self.send_plain(200, data)

    def send_resumable(self, mode, cut, rest):
        """Serves a file with an ETag and Last-Modified. Mode "range" answers
        a Range whose If-Range matches with 206; "ignore" always sends the
        whole file; "refuse" answers every Range with 416; "hold" answers as
        "range" but after a cut keeps the connection open and silent instead
        of closing it. A cut above 0 ends each body after that many bytes.
        Each answer's body bytes are added to sent.log as
        "<rest> <Range or -> <bytes>"."""
        data = self.file_bytes(rest)
        if data is None:
            self.send_plain(404, b"not found")
            return
        path = os.path.join(self.server.root, rest.split("?", 1)[0])
        etag = '"%s"' % hashlib.md5(data).hexdigest()
        modified = email.utils.formatdate(os.path.getmtime(path), usegmt=True)
        asked = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        start = 0
        if asked and mode == "refuse":
            self.record("sent.log", "%s %s 0" % (rest, asked))
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % len(data))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if asked and mode in ("range", "hold") and if_range in (etag, modified):
            start = int(asked.split("=", 1)[1].split("-", 1)[0])
        body = data[start:]
        self.send_response(206 if start else 200)
        self.send_header("ETag", etag)
        self.send_header("Last-Modified", modified)
        self.send_header("Content-Length", str(len(body)))
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))
        if cut:
            self.send_header("Connection", "close")
            self.close_connection = True
            body = body[:cut]
        # Recorded before the body goes out, so that a client that has it
        # finds the line.
        self.record("sent.log", "%s %s %d" % (rest, asked or "-", len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
            self.wfile.flush()
        except OSError:
            return  # the client hung up
        deadline = time.time() + STALL_SECONDS
        while cut and mode == "hold" and time.time() < deadline and not self.server.stopping:
            time.sleep(0.1)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        self.record("requests.log", "POST " + self.path)
        self.record("posts.log", json.dumps({
            "path": self.path,
            "headers": {k: v for k, v in self.headers.items()},
            "body_hex": body.hex(),
        }))
        # A file "silent" in the log folder makes the service take requests
        # and never answer them.
        if os.path.exists(os.path.join(self.server.log_dir, "silent")):
            while not self.server.stopping:
                time.sleep(0.1)
            self.close_connection = True
            return
        self.send_plain(200, self.server.post_reply.encode())


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--log-dir", required=True)
    parser.add_argument("--post-reply", default="0")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    server.root = os.path.realpath(args.root)
    server.log_dir = args.log_dir
    server.post_reply = args.post_reply
    server.stopping = False
    import signal

    def stop(*_):
        server.stopping = True
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    server.serve_forever()
    server.server_close()


if __name__ == "__main__":
    sys.exit(main())
