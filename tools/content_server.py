#!/usr/bin/env python3
"""A content server for tests: serves a folder over HTTPS as the launcher's
content server does (GET, Range requests of one range answered with 206), logs
every request, and plays scripted faults per path.

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
  requests.log  one JSON object per request: raw path, decoded path, headers.
  ready         written once the server listens.

GET /__stats answers {"open_connections": N}, the connections open at that
moment (this one included): a client that leaks its handles leaves its
connections open.
"""
import argparse
import io
import json
import os
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 1 << 20


class State:
    def __init__(self, root, control):
        self.root = os.path.realpath(root)
        self.control = control
        self.lock = threading.Lock()
        self.fault_uses = {}
        self.faults_stamp = None
        self.faults = {}
        self.open_connections = 0

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
            if range_header and not fault.get("ignore_range"):
                start, last = parse_range(range_header)
                if start is None or start >= size:
                    return self.send_simple(416, b"", {"Content-Range": "bytes */%d" % size})
                last = size - 1 if last is None else min(last, size - 1)
                f.seek(start)
                headers = {"Content-Range": "bytes %d-%d/%d" % (start, last, size)}
                return self.send_stream(206, f, last - start + 1, headers, fault)
            return self.send_stream(200, f, size, {}, fault)

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
        for k, v in headers.items():
            self.send_header(k, v)
        self.send_header("Content-Type", "application/octet-stream")
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


def parse_range(value):
    """(first, last) of "bytes=N-" (last None) or "bytes=N-M", the two forms
    the launcher sends; (None, None) for anything else."""
    value = value.strip()
    if not value.startswith("bytes="):
        return None, None
    first, dash, last = value[len("bytes="):].partition("-")
    if not dash or not first.isdigit() or not (last == "" or last.isdigit()):
        return None, None
    if last and int(last) < int(first):
        return None, None
    return int(first), int(last) if last else None


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that hangs up mid-body is part of the tests, not an error.
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--control", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()

    os.makedirs(args.root, exist_ok=True)
    os.makedirs(args.control, exist_ok=True)
    server = Server((args.host, args.port), Handler)
    server.state = State(args.root, args.control)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    # The handshake runs in the request thread, so one slow client never
    # holds up the others.
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    with open(os.path.join(args.control, "ready"), "w") as f:
        f.write(str(os.getpid()))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
