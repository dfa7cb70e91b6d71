#!/usr/bin/env python3
"""A factory's record server on loopback, for the delivery tests and the bench.

    server.py --port-file FILE [--port N] [--schema SCHEMA] [--chaos SEED]
              [--delay-ms MS] [--always STATUS]

Takes POSTed records, each with an Idempotency-Key, and counts them by key:
a key seen again is a duplicate (harmless), a request without a key or whose
body is not one orvane-cli result event valid against SCHEMA is foreign.
GET /stats answers the counts and every record.  With --chaos it misbehaves
at random, the same way for the same seed: it drops the connection before it
has read the body, stores the record and then drops the connection before it
answers, answers 500, or answers slowly.  --delay-ms: every answer that late;
--always: every POST gets that status (stored only when 2xx).  A request's
own X-Answer header overrides: a status, "drop" or "slow:MS".  Answers carry
the request's key, X-Token and length.  The port it
listens on is written to FILE once it listens.
"""
import argparse
import os
import json
import random
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

args = argparse.ArgumentParser()
args.add_argument("--port-file", required=True)
args.add_argument("--port", type=int, default=0)
args.add_argument("--schema")
args.add_argument("--chaos", type=int)
args.add_argument("--delay-ms", type=int, default=0)
args.add_argument("--always", type=int)
opts = args.parse_args()

validator = None
if opts.schema:
    # The record's schema refers to the events' schema beside it.
    import warnings
    import jsonschema
    warnings.simplefilter("ignore", DeprecationWarning)
    record = json.load(open(opts.schema))
    events = json.load(open(os.path.join(os.path.dirname(opts.schema), "orvane-cli.schema.json")))
    resolver = jsonschema.RefResolver("", record, store={"orvane-cli.schema.json": events})
    validator = jsonschema.Draft7Validator(record, resolver=resolver)
chance = random.Random(opts.chaos)
lock = threading.Lock()
stats = {"records": {}, "duplicates": 0, "foreign": [], "requests": 0, "misbehaved": {}}


def foreign(body, key):
    if not key:
        return "no Idempotency-Key"
    try:
        record = json.loads(body)
    except ValueError:
        return "not JSON"
    if not isinstance(record, dict) or record.get("event") != "result":
        return "not a result event"
    if validator:
        for error in validator.iter_errors(record):
            return "invalid: " + error.message
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    def answer(self, status, body=b""):
        head = f"HTTP/1.1 {status} X\r\nContent-Type: application/json\r\nContent-Length: {len(body)}\r\n\r\n"
        self.wfile.write(head.encode() + body)

    def drop(self):
        self.close_connection = True
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\1\0\0\0\0\0\0\0")
        self.connection.close()

    def do_HEAD(self):
        self.answer(204)

    def do_GET(self):
        with lock:
            self.answer(200, json.dumps(stats).encode())

    def do_POST(self):
        key = self.headers.get("Idempotency-Key", "")
        length = int(self.headers.get("Content-Length", 0))
        # X-Answer (a test's own header): what to do with this request.
        what = self.headers.get("X-Answer", "")
        with lock:
            stats["requests"] += 1
            if not what and opts.chaos is not None:
                what = chance.choices(["", "drop", "store-drop", "500", "slow"], [60, 10, 10, 10, 10])[0]
            if what == "slow":
                what = "slow:" + str(int(chance.uniform(200, 800)))
            stats["misbehaved"][what] = stats["misbehaved"].get(what, 0) + 1
        if what == "drop":
            self.rfile.read(min(length, 10))
            return self.drop()
        body = self.rfile.read(length)
        told = json.dumps({"key": key, "token": self.headers.get("X-Token"), "bytes": len(body)}).encode()
        status = opts.always or (int(what) if what.isdigit() else 200)
        if status // 100 != 2:
            return self.answer(status, told)
        time.sleep(opts.delay_ms / 1000 + (int(what[5:]) / 1000 if what.startswith("slow:") else 0))
        why = foreign(body, key)
        with lock:
            if why:
                stats["foreign"].append({"key": key, "why": why})
            elif key in stats["records"]:
                stats["records"][key]["count"] += 1
                stats["duplicates"] += 1
            else:
                stats["records"][key] = {"count": 1, "record": json.loads(body)}
        if why:
            return self.answer(422, json.dumps({"error": why}).encode())
        if what == "store-drop":
            return self.drop()
        self.answer(status, told)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def server_bind(self):
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().server_bind()


server = Server(("127.0.0.1", opts.port), Handler)
with open(opts.port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))

os.replace(opts.port_file + ".tmp", opts.port_file)
try:
    server.serve_forever()
except KeyboardInterrupt:
    sys.exit(0)
