#!/usr/bin/env python3
"""A download mirror for the tests that misbehaves on request.

Serves the files of the mirror root over HTTP/1.1 on 127.0.0.1 (GET only) like nginx does:
200 with the whole file, 206 for "Range: bytes=N-" (or N-M, -N) inside the file, 416 past its
end, 404 when it is missing. The query string plays no part in finding the file.

Faults are set per URL path in <root>/_fault/rules.json, read again whenever the file changes:

    {"/objects/ab/ab12": {"drop_after": 100, "drop_times": 2},
     "/live/manifest.json": {"status": 503}}

The key "*" holds the rule for every path that has none of its own.

A rule holds any of:
    status       answer this status with a short body and no file content
    drop_after   send the headers (full Content-Length) and only this many body bytes, then
    drop_times   close the connection; for the first drop_times requests of the path (default 1)
    flip_at      the body byte at this file offset is sent XOR 0xFF
    ignore_range answer a range request with 200 and the whole file
    delay_ms     sleep this long between body chunks of "chunk" bytes (default 65536)
    endless      after the bytes asked for, send filler bytes without end (the server gives up
                 after 64 MiB of them); pair it with length or no_length
    length       the Content-Length header says this many bytes, whatever is sent
    no_length    no Content-Length header: the body ends when the connection closes
    from_request the rule holds from this request of the path on (1-based); earlier requests are
                 answered as without a rule
    content_range a 206 answer says this Content-Range instead of the one it serves
    html         answer 200 with a small HTML page (Content-Type text/html), as some CDNs do for
                 a file they do not have
    gzip         answer 200 with the whole file gzip-compressed and "Content-Encoding: gzip"
    truncate     the file is served as if it held only its first this many bytes

Request counts start again from zero whenever the rules are read again. Every request is
appended to <root>/_fault/requests.log as one tab-separated line: path, query, Range,
User-Agent, Cache-Control ("-" for each one absent) and the status sent. The line is written
before the answer, so a client that has seen the answer finds it there. When the body of a file
answer has ended, sent whole or cut off by the client, <root>/_fault/sent.log gains a line: path,
Range and the number of file bytes sent.

usage: fault_server.py --root DIR [--port N] [--port-file FILE]
"""

import argparse
import gzip
import http.server
import json
import os
import socket
import threading
import time
import urllib.parse

REASONS = http.server.BaseHTTPRequestHandler.responses


class Rules:
    """The rules file, read again when it changes, and the request counts since it was read."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.key = None
        self.content = None
        self.rules = {}
        self.error = None
        self.counts = {}

    def _refresh(self):
        try:
            with open(self.path, "rb") as f:
                st = os.fstat(f.fileno())
                content = f.read()
            # A file put in place by a rename is new rules even with the same bytes and time.
            key = (st.st_ino, st.st_mtime_ns, st.st_size)
        except FileNotFoundError:
            key, content = None, None
        if key == self.key and content == self.content:
            return
        self.key, self.content = key, content
        self.counts = {}
        self.rules = {}
        self.error = None
        if content is None:
            return
        try:
            self.rules = checked_rules(json.loads(content.decode("utf-8")) if content.strip() else {})
        except ValueError as e:
            self.error = "bad _fault/rules.json: %s" % e

    def take(self, *paths):
        """The rule for the first path that has one, with this request's number (1-based)."""
        with self.lock:
            self._refresh()
            if self.error:
                return None, 0, self.error
            for path in paths:
                if path in self.rules:
                    self.counts[path] = self.counts.get(path, 0) + 1
                    return self.rules[path], self.counts[path], None
            return {}, 0, None


RULE_KEYS = {"status": int, "drop_after": int, "drop_times": int, "flip_at": int, "ignore_range": bool,
             "delay_ms": int, "chunk": int, "endless": bool, "length": int, "no_length": bool,
             "from_request": int, "content_range": str, "html": bool, "gzip": bool, "truncate": int}
HTML_PAGE = "<!DOCTYPE html>\n<html><head><title>Not Found</title></head><body>Not Found</body></html>\n"
ENDLESS_LIMIT = 64 << 20


def checked_rules(rules):
    if not isinstance(rules, dict):
        raise ValueError("expected an object mapping URL paths to rules")
    for path, rule in rules.items():
        if not isinstance(rule, dict):
            raise ValueError("the rule for %s is not an object" % path)
        for name, value in rule.items():
            kind = RULE_KEYS.get(name)
            if kind is None:
                raise ValueError("unknown key %r in the rule for %s" % (name, path))
            if type(value) is not kind:
                raise ValueError("%s in the rule for %s must be %s" % (name, path, kind.__name__))
            if name == "status" and not 200 <= value <= 599:
                raise ValueError("status in the rule for %s must be from 200 to 599" % path)
            if kind is int and value < 0:
                raise ValueError("%s in the rule for %s must not be negative" % (name, path))
    return rules


class RequestLog:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def add(self, fields):
        line = "\t".join(clean(f) for f in fields) + "\n"
        with self.lock:
            # Opened for each line, so the tests may delete the file at any time.
            os.makedirs(os.path.dirname(self.path), exist_ok=True)
            with open(self.path, "a", encoding="utf-8") as f:
                f.write(line)


def clean(value):
    if value is None or value == "":
        return "-"
    return str(value).replace("\t", " ").replace("\r", " ").replace("\n", " ")


def parse_range(header, size):
    """(start, end) inclusive for one "bytes=" range, "past" when it starts past the end,
    or None when the header is absent or not a single byte range (then it is ignored)."""
    if not header:
        return None
    unit, _, byte_range = header.partition("=")
    if unit.strip().lower() != "bytes" or "," in byte_range:
        return None
    first, dash, last = byte_range.strip().partition("-")
    if not dash:
        return None
    try:
        if first == "":
            suffix = int(last)
            if suffix <= 0:
                return "past"
            return max(0, size - suffix), size - 1
        start = int(first)
        end = int(last) if last else size - 1
    except ValueError:
        return None
    if start >= size:
        return "past"
    if end < start:
        return None
    return start, min(end, size - 1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvFault/1"
    sys_version = ""
    timeout = 120

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        raw_path, _, query = self.path.partition("?")
        path = urllib.parse.unquote(raw_path)
        rule, number, error = self.server.rules.take(raw_path, path, "*")
        if error:
            self.answer_text(500, error + "\n", raw_path, query)
            return
        if number < rule.get("from_request", 1):
            rule = {}
        if "status" in rule:
            status = rule["status"]
            self.answer_text(status, "%d %s\n" % (status, REASONS.get(status, ("",))[0]), raw_path, query)
            return

        if rule.get("html"):
            self.answer_text(200, HTML_PAGE, raw_path, query, content_type="text/html; charset=utf-8")
            return

        file_path = self.server.file_for(path)
        if file_path is None:
            self.answer_text(404, "not found\n", raw_path, query)
            return
        if rule.get("gzip"):
            with open(file_path, "rb") as f:
                body = gzip.compress(f.read())
            self.record(raw_path, query, 200)
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        try:
            with open(file_path, "rb") as f:
                size = os.fstat(f.fileno()).st_size
                self.answer_file(f, min(size, rule.get("truncate", size)), rule, number, raw_path, query)
        except (ConnectionError, TimeoutError, socket.timeout):
            self.close_connection = True

    def do_other(self):
        raw_path, _, query = self.path.partition("?")
        self.answer_text(405, "only GET\n", raw_path, query, {"Allow": "GET"})

    do_HEAD = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_other

    def record(self, raw_path, query, status):
        self.server.log.add([raw_path, query, self.headers.get("Range"), self.headers.get("User-Agent"),
                             self.headers.get("Cache-Control"), status])

    def answer_text(self, status, text, raw_path, query, headers=None, content_type="text/plain"):
        self.record(raw_path, query, status)
        body = b"" if status in (204, 304) or self.command == "HEAD" else text.encode()
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def answer_file(self, f, size, rule, number, raw_path, query):
        byte_range = None if rule.get("ignore_range") else parse_range(self.headers.get("Range"), size)
        if byte_range == "past":
            self.answer_text(416, "range not satisfiable\n", raw_path, query,
                             {"Content-Range": "bytes */%d" % size})
            return
        start, end = byte_range if byte_range else (0, size - 1)
        status = 206 if byte_range else 200
        length = end - start + 1

        limit = length
        drop = "drop_after" in rule and number <= rule.get("drop_times", 1)
        if drop:
            limit = min(length, rule["drop_after"])
        flip_at = rule.get("flip_at")
        delay = rule.get("delay_ms", 0) / 1000.0
        chunk = max(1, rule.get("chunk", 65536))

        self.record(raw_path, query, status)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if rule.get("no_length"):
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(rule.get("length", length)))
        self.send_header("Accept-Ranges", "bytes")
        if status == 206:
            self.send_header("Content-Range", rule.get("content_range", "bytes %d-%d/%d" % (start, end, size)))
        self.end_headers()

        f.seek(start)
        offset, sent = start, 0
        try:
            while sent < limit:
                if sent > 0 and delay > 0:
                    time.sleep(delay)
                data = bytearray(f.read(min(chunk, limit - sent)))
                if not data:
                    break
                if flip_at is not None and offset <= flip_at < offset + len(data):
                    data[flip_at - offset] ^= 0xFF
                self.wfile.write(data)
                offset += len(data)
                sent += len(data)
        finally:
            self.server.sent.add([raw_path, self.headers.get("Range"), sent])
        if rule.get("endless"):
            filler = b"\xA5" * chunk
            for _ in range(ENDLESS_LIMIT // chunk):
                if delay > 0:
                    time.sleep(delay)
                self.wfile.write(filler)
            self.close_connection = True
        if drop:
            self.drop_connection()

    def drop_connection(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class FaultServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    # Twelve workers and the tests' own requests may all connect at once.
    request_queue_size = 128

    def __init__(self, root, port):
        self.root = os.path.realpath(root)
        fault_dir = os.path.join(self.root, "_fault")
        os.makedirs(fault_dir, exist_ok=True)
        self.rules = Rules(os.path.join(fault_dir, "rules.json"))
        self.log = RequestLog(os.path.join(fault_dir, "requests.log"))
        self.sent = RequestLog(os.path.join(fault_dir, "sent.log"))
        super().__init__(("127.0.0.1", port), Handler)

    def file_for(self, path):
        full = os.path.realpath(os.path.join(self.root, path.lstrip("/")))
        if not full.startswith(self.root + os.sep) or not os.path.isfile(full):
            return None
        return full

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser(description="Fault-injecting download mirror for the tests.")
    parser.add_argument("--root", required=True, help="the mirror root folder")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (default: any free one)")
    parser.add_argument("--port-file", help="write the port here once the server listens")
    args = parser.parse_args()

    server = FaultServer(args.root, args.port)
    if args.port_file:
        temp = args.port_file + ".tmp"
        with open(temp, "w") as f:
            f.write("%d\n" % server.server_address[1])
        os.replace(temp, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
