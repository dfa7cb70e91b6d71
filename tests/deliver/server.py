#!/usr/bin/env python3
"""A factory's record server on loopback, for the delivery tests and the bench.

    server.py --port-file FILE [--port N] [--schema RECORD_SCHEMA] [--chaos SEED]
              [--delay-ms MS] [--always STATUS]

Counts POSTed records by their Idempotency-Key: a key again is a repeat
(harmless); no key, or a body that is not a valid record, is foreign.  GET
/stats answers the counts and the records.  --chaos: at random (seeded) it
drops the connection before reading the body, stores and then drops it
unanswered, answers 500, or answers late.  --delay-ms: every answer that
late; --always: that status for every POST.  A request's X-Answer header
(a status, "drop" or "slow:MS") overrides.  Answers carry the request's key,
X-Token and length.  FILE gets the port once it listens.
"""
import argparse, json, os, random, socket, threading, time, warnings
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

args = argparse.ArgumentParser()
for name, kind in (("--port-file", str), ("--port", int), ("--schema", str), ("--chaos", int), ("--delay-ms", int),
                   ("--always", int)):
    args.add_argument(name, type=kind, default=0 if kind is int else None)
opts = args.parse_args()
validator = None
if opts.schema:   # the record's schema refers to the events' schema beside it
    import jsonschema
    warnings.simplefilter("ignore", DeprecationWarning)
    events = json.load(open(os.path.join(os.path.dirname(opts.schema), "orvane-cli.schema.json")))
    record = json.load(open(opts.schema))
    validator = jsonschema.Draft7Validator(
        record, resolver=jsonschema.RefResolver("", record, store={"orvane-cli.schema.json": events}))
chance = random.Random(opts.chaos)
lock = threading.Lock()
stats = {"records": {}, "duplicates": 0, "foreign": [], "requests": 0}


def foreign(body, key):
    try:
        record = json.loads(body)
    except ValueError:
        return "not JSON"
    errors = [e.message for e in validator.iter_errors(record)] if validator else []
    return "no Idempotency-Key" if not key else "invalid: " + errors[0] if errors else None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    def answer(self, status, body=b""):   # in one write: no wait on a delayed acknowledgement
        self.wfile.write(f"HTTP/1.1 {status} X\r\nContent-Length: {len(body)}\r\n\r\n".encode() + body)

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
        key, length = self.headers.get("Idempotency-Key", ""), int(self.headers.get("Content-Length", 0))
        what = self.headers.get("X-Answer", "")
        with lock:
            stats["requests"] += 1
            if not what and opts.chaos:
                what = chance.choices(["", "drop", "store-drop", "500", "slow"], [60, 10, 10, 10, 10])[0]
            what = f"slow:{chance.randint(200, 800)}" if what == "slow" else what
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
        return self.drop() if what == "store-drop" else self.answer(status, told)


class Server(ThreadingHTTPServer):
    daemon_threads = allow_reuse_address = True

    def handle_error(self, *_):   # a client that went away mid-request is no news
        pass


server = Server(("127.0.0.1", opts.port), Handler)
server.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
with open(opts.port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(opts.port_file + ".tmp", opts.port_file)
server.serve_forever()
