#!/usr/bin/env python3
"""A content server for tests: serves a folder over HTTPS as the launcher's
content server (nginx with tools/nginx/korval-content.conf) does, logs every
request, and plays scripted faults per path.

Ranges are answered as that nginx answers them: "bytes=N-" and "bytes=N-M"
with 206 and Content-Range; a list "bytes=A-B,C-D,..." with 206
multipart/byteranges, its parts in the order asked. Ranges that start past
the end are left out of a list (none left: 416); a list of one satisfiable
range is answered as a single range; more than 64 ranges, or ranges that add
up to more than the file, get the whole file with 200. A Range header of any
other form (a suffix "-N", spaces, an empty item, M < N) is answered 416.

Usage:
  content_server.py --root DIR --control DIR --port N --cert PEM --key PEM

The control folder holds:
  faults.json   read on every request (write it atomically: temp file + rename).
                {"/decoded/path": {fault}, ...}; a fault may carry "times": N to
                apply to the first N matching requests only. Fault keys:
                  "status": 404           answer with this status and a short body
                  "ignore_range": true    answer 200 with the whole file despite Range
                  "cut_after": N          announce the whole body, send N bytes, close
                  "drop": true            close the connection without any answer
                  "stall": S              wait S seconds before answering
                  "trickle": [B, MS]      send B bytes at a time, MS ms apart
                  "extra_bytes": N        send N bytes more than the file holds
                  "body": "text"          answer 200 with this body instead of a file
                Faults of multi-range requests (single ranges are answered as usual):
                  "max_ranges": N         a request for more than N ranges gets the whole
                                          file with 200, as nginx beyond its max_ranges
                  "single_range": true    only the first range asked, as a plain 206
                  "reverse_parts": true   the parts in reverse order (still a valid answer)
                  "malformed_multipart": KIND, a body that breaks in one place:
                      "short_part"    the first part one byte shorter than its
                                      Content-Range says
                      "missing_part"  the last part left out
                      "bad_boundary"  the second part's delimiter with another boundary
                      "wrong_range"   the first part's Content-Range one byte off
                                      (its bytes those asked)
                    any other KIND is answered 500, so that a misspelt fault shows.
                The faults of the body ("cut_after", "trickle", "extra_bytes", "stall",
                "drop") apply to a multipart body as to a file.
  requests.log  one JSON object per request: raw path, decoded path, headers.
  ready         written once the server listens.

GET /__stats answers {"open_connections": N}, the connections open at that
moment (this one included): a client that leaks its handles leaves its
connections open.
"""
import argparse
import io
import itertools
import json
import os
import re
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 1 << 20
# The site's max_ranges: the launcher's block updates ask at most this many.
MAX_RANGES = 64
MALFORMED_KINDS = ("short_part", "missing_part", "bad_boundary", "wrong_range")


class State:
    def __init__(self, root, control):
        self.root = os.path.realpath(root)
        self.control = control
        self.lock = threading.Lock()
        self.fault_uses = {}
        self.faults_stamp = None
        self.faults = {}
        self.open_connections = 0
        self.boundaries = itertools.count(1)

    def next_boundary(self):
        # Digits, zero-padded to a fixed width, as nginx numbers them.
        with self.lock:
            return b"%020d" % next(self.boundaries)

    def connection_opened(self, delta):
        with self.lock:
            self.open_connections += delta
            return self.open_connections

    def fault_for(self, path):
        """The fault scripted for a path, counting its uses."""
        faults_path = os.path.join(self.control, "faults.json")
        with self.lock:
            try:
                st = os.stat(faults_path)
                stamp = (st.st_ino, st.st_mtime_ns)
            except FileNotFoundError:
                stamp = None
            if stamp != self.faults_stamp:
                self.faults_stamp = stamp
                self.fault_uses = {}
                self.faults = {}
                if stamp is not None:
                    with open(faults_path, "rb") as f:
                        self.faults = json.loads(f.read().decode("utf-8") or "{}")
            fault = self.faults.get(path)
            if fault is None:
                return {}
            used = self.fault_uses.get(path, 0)
            if "times" in fault and used >= fault["times"]:
                return {}
            self.fault_uses[path] = used + 1
            return fault

    def log_request(self, record):
        line = json.dumps(record, ensure_ascii=False) + "\n"
        with self.lock:
            with open(os.path.join(self.control, "requests.log"), "a", encoding="utf-8") as f:
                f.write(line)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KorvalTestContent/1"

    def log_message(self, fmt, *args):
        pass

    def setup(self):
        super().setup()
        self.server.state.connection_opened(1)

    def finish(self):
        try:
            super().finish()
        finally:
            self.server.state.connection_opened(-1)

    def do_GET(self):
        state = self.server.state
        raw_path = self.path
        if raw_path == "/__stats":
            stats = {"open_connections": state.connection_opened(0)}
            return self.send_simple(200, json.dumps(stats).encode())
        decoded = urllib.parse.unquote_to_bytes(raw_path.split("?", 1)[0])
        path_text = decoded.decode("utf-8", "replace")
        state.log_request({
            "raw_path": raw_path,
            "path": path_text,
            "headers": [[k, v] for k, v in self.headers.items()],
        })
        fault = state.fault_for(path_text)

        if fault.get("drop"):
            self.close_connection = True
            self.connection.shutdown_request = True
            return
        if "stall" in fault:
            time.sleep(float(fault["stall"]))
        if "status" in fault:
            return self.send_simple(int(fault["status"]), b"scripted status\n")
        if "body" in fault:
            body = fault["body"].encode("utf-8")
            return self.send_stream(200, io.BytesIO(body), len(body), {}, fault)

        target = os.path.realpath(os.path.join(state.root.encode(), decoded.lstrip(b"/")))
        if not target.startswith(state.root.encode() + b"/") or not os.path.isfile(target):
            return self.send_simple(404, b"not found\n")
        with open(target, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            range_header = self.headers.get("Range")
            if not range_header or fault.get("ignore_range"):
                return self.send_stream(200, f, size, {}, fault)
            asked = parse_ranges(range_header)
            ranges = [(first, size - 1 if last is None else min(last, size - 1))
                      for first, last in asked or [] if first < size]
            if not ranges:
                return self.send_simple(416, b"", {"Content-Range": "bytes */%d" % size})
            if len(ranges) == 1 or fault.get("single_range"):
                first, last = ranges[0]
                f.seek(first)
                headers = {"Content-Range": "bytes %d-%d/%d" % (first, last, size)}
                return self.send_stream(206, f, last - first + 1, headers, fault)
            if (len(ranges) > int(fault.get("max_ranges", MAX_RANGES)) or
                    sum(last + 1 - first for first, last in ranges) > size):
                return self.send_stream(200, f, size, {}, fault)
            kind = fault.get("malformed_multipart")
            if kind is not None and kind not in MALFORMED_KINDS:
                return self.send_simple(500, b"unknown malformed_multipart kind\n")
            boundary = state.next_boundary()
            body = Pieces(f, multipart_pieces(ranges, size, boundary, fault))
            headers = {"Content-Type": "multipart/byteranges; boundary=" + boundary.decode()}
            return self.send_stream(206, body, body.length, headers, fault)

    def send_simple(self, status, body, headers=None):
        self.send_response(status)
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_stream(self, status, source, length, headers, fault):
        """Sends `length` bytes of `source`, streamed, with the path's fault."""
        extra = int(fault.get("extra_bytes", 0))
        self.send_response(status)
        for k, v in dict({"Content-Type": "application/octet-stream"}, **headers).items():
            self.send_header(k, v)
        self.send_header("Content-Length", str(length + extra))
        self.end_headers()

        budget = int(fault["cut_after"]) if "cut_after" in fault else None
        step, pause = CHUNK, 0.0
        if "trickle" in fault:
            step, pause = int(fault["trickle"][0]), float(fault["trickle"][1]) / 1000.0
        left = length
        while left > 0 or extra > 0:
            if left > 0:
                chunk = source.read(min(step, left))
                if not chunk:
                    break
                left -= len(chunk)
            else:
                chunk = b"\xee" * min(step, extra)
                extra -= len(chunk)
            if budget is not None:
                chunk = chunk[:budget]
                budget -= len(chunk)
            self.wfile.write(chunk)
            if budget == 0:
                self.wfile.flush()
                self.close_connection = True
                return
            if pause:
                self.wfile.flush()
                time.sleep(pause)


def parse_ranges(value):
    """[(first, last), ...] of "bytes=" and a comma-separated list of "N-M"
    and "N-" (last None), the forms the launcher sends; None for anything
    else."""
    value = value.strip()
    if not value.startswith("bytes="):
        return None
    ranges = []
    for item in value[len("bytes="):].split(","):
        form = re.fullmatch(r"([0-9]+)-([0-9]*)", item)
        if not form:
            return None
        first, last = int(form.group(1)), int(form.group(2)) if form.group(2) else None
        if last is not None and last < first:
            return None
        ranges.append((first, last))
    return ranges


def multipart_pieces(ranges, size, boundary, fault):
    """The multipart/byteranges body of `ranges` as nginx writes it, with the
    path's fault: a list of bytes and (offset, length) stretches of the file."""
    kind = fault.get("malformed_multipart")
    parts = list(reversed(ranges)) if fault.get("reverse_parts") else list(ranges)
    if kind == "missing_part":
        parts.pop()
    pieces = []
    for n, (first, last) in enumerate(parts):
        said, length, delimiter = (first, last), last + 1 - first, boundary
        if n == 0 and kind == "short_part":
            length -= 1
        if n == 0 and kind == "wrong_range":
            shift = 1 if last + 1 < size else -1
            said = (first + shift, last + shift)
        if n == 1 and kind == "bad_boundary":
            delimiter = boundary[:-1] + b"%d" % ((boundary[-1] - 0x30 + 1) % 10)
        pieces.append(b"\r\n--%s\r\nContent-Type: application/octet-stream\r\n"
                      b"Content-Range: bytes %d-%d/%d\r\n\r\n" % (delimiter, said[0], said[1], size))
        pieces.append((first, length))
    pieces.append(b"\r\n--%s--\r\n" % boundary)
    return pieces


class Pieces:
    """Reads like a file through bytes and stretches of an open file, so that
    a multipart body is streamed with the same faults as a file."""

    def __init__(self, f, pieces):
        self.f = f
        self.pieces = pieces
        self.length = sum(len(p) if isinstance(p, bytes) else p[1] for p in pieces)

    def read(self, n):
        while self.pieces:
            piece = self.pieces.pop(0)
            if isinstance(piece, bytes):
                chunk, rest = piece[:n], piece[n:]
            else:
                offset, length = piece
                self.f.seek(offset)
                chunk = self.f.read(min(n, length))
                rest = (offset + len(chunk), length - len(chunk)) if chunk else None
            if rest:
                self.pieces.insert(0, rest)
            if chunk:
                return chunk
        return b""


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that hangs up mid-body is part of the tests, not an error.
        pass


def make_server(root, control, host, port, cert, key):
    """The server listening on (host, port), not yet serving; port 0 takes a
    free one (server.server_address tells which)."""
    os.makedirs(root, exist_ok=True)
    os.makedirs(control, exist_ok=True)
    server = Server((host, port), Handler)
    server.state = State(root, control)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    # The handshake runs in the request thread, so one slow client never
    # holds up the others.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    return server


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--control", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()

    server = make_server(args.root, args.control, args.host, args.port, args.cert, args.key)
    with open(os.path.join(args.control, "ready"), "w") as f:
        f.write(str(os.getpid()))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
