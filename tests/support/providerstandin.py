"""The shared part of the tests' DNS provider stand-ins (cloudflarestandin.py and the others).

A stand-in speaks HTTPS with the tests' certificate authority, checks every request strictly
against the shape the provider's published API reference gives it (a request that differs in
method, path, a header or a body field is answered 400 and written to FOLDER/failures, which the
test reads), keeps the provider's records in FOLDER/records.json, and applies each change it
accepts to the test's Knot zone with knsupdate, so that the check at the authoritative server
stays real.

Usage: SCRIPT --cert PEM --key PEM --folder DIR --knot-port N --tsig SECRET [--zone ZONE]
              [--name NAME ...] [--set KEY=VALUE ...]
--name: the names whose A and AAAA records the provider starts with, as Knot holds them
(default home.example.test). --set: values a stand-in needs (its valid token, …).

FOLDER/switch, JSON, changes the next answers until it is removed:
  {"answer": WHAT, "method": M, "path": REGEX}   (method and path optional: which requests)
  WHAT: "hang" (no answer for a minute), "garbage" (200 and a page that is not the API's),
  "huge" (200 and 10 MB), "unserved" (accept as usual but leave the Knot zone as it is), or the
  name of one of the stand-in's documented errors.
Every request is appended to FOLDER/requests as one JSON line: method, path, query, headers,
body. Prints "port N" once listening.
"""
import argparse
import http.server
import json
import os
import re
import ssl
import subprocess
import threading
import time
import urllib.parse
import uuid


class Refused(Exception):
    """The request does not follow the provider's reference."""


class Answer:
    def __init__(self, status, body=b"", headers=None, content_type="application/json"):
        self.status = status
        if isinstance(body, (dict, list)):
            body = json.dumps(body).encode()
        elif isinstance(body, str):
            body = body.encode()
        self.body = body
        self.headers = dict(headers or {})
        self.headers.setdefault("Content-Type", content_type)


def expect(condition, message):
    if not condition:
        raise Refused(message)


def check_fields(body, required, optional=None, where="body"):
    """`body` must be a JSON object with each of `required` ({field: type or tuple}) and no field
    but those and `optional`."""
    expect(isinstance(body, dict), f"the {where} is not a JSON object")
    optional = optional or {}
    for field, kind in required.items():
        expect(field in body, f"the {where} lacks \"{field}\"")
    for field, value in body.items():
        expect(field in required or field in optional, f"the {where} has an unknown field \"{field}\"")
        kind = required.get(field, optional.get(field))
        expect(isinstance(value, kind) and not (kind is int and isinstance(value, bool)),
               f"the {where}'s \"{field}\" is of the wrong type: {value!r}")


class Request:
    def __init__(self, handler, body):
        url = urllib.parse.urlsplit(handler.path)
        self.method = handler.command
        self.path = url.path
        self.raw_query = url.query
        self.query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        self.headers = handler.headers
        self.body = body
        self.match = None

    def header(self, name):
        return self.headers.get(name)

    def json(self):
        expect(self.header("Content-Type") is not None
               and self.header("Content-Type").split(";")[0].strip() == "application/json",
               f"Content-Type is {self.header('Content-Type')!r}, not application/json")
        try:
            return json.loads(self.body)
        except ValueError:
            raise Refused("the body is not JSON")

    def one(self, name):
        """The single value of query parameter `name`."""
        values = self.query.get(name, [])
        expect(len(values) == 1, f"the query has {len(values)} values of \"{name}\"")
        return values[0]


class StandIn:
    """A stand-in: `routes` is a list of (method, path regex, function(standin, request) ->
    Answer); `errors` maps the names a switch may give to a function(standin, request) ->
    Answer; `new_record(standin, name, type, content, ttl)` gives a record in the provider's
    shape; `served(record)` is the address the provider's servers give for it (its content unless
    the provider answers with addresses of its own)."""

    def __init__(self, routes, errors, new_record, served=None):
        parser = argparse.ArgumentParser()
        parser.add_argument("--cert", required=True)
        parser.add_argument("--key", required=True)
        parser.add_argument("--folder", required=True)
        parser.add_argument("--knot-port", required=True)
        parser.add_argument("--tsig", required=True)
        parser.add_argument("--zone", default="example.test")
        parser.add_argument("--name", action="append")
        parser.add_argument("--set", action="append", default=[])
        self.options = parser.parse_args()
        self.folder = self.options.folder
        self.zone = self.options.zone
        self.values = dict(item.split("=", 1) for item in self.options.set)
        self.routes = [(m, re.compile(p + r"\Z"), f) for m, p, f in routes]
        self.errors = errors
        self.new_record = new_record
        self.served = served or (lambda record: record["content"])
        self.lock = threading.Lock()
        if not os.path.exists(self.path("records.json")):
            self.seed(self.options.name or ["home.example.test"])

    def path(self, name):
        return os.path.join(self.folder, name)

    # The provider's records ------------------------------------------------------------------

    def seed(self, names):
        records = []
        for name in names:
            for kind in ("A", "AAAA"):
                out = subprocess.run(
                    ["kdig", "@127.0.0.1", "-p", self.options.knot_port, "+tcp", "+norecurse",
                     "+noall", "+answer", name, kind], capture_output=True, text=True).stdout
                for line in out.splitlines():
                    fields = line.split()
                    if len(fields) >= 5 and fields[3] == kind:
                        records.append(self.new_record(self, name, kind, fields[4], int(fields[1])))
        self.save(records)

    def records(self):
        with open(self.path("records.json")) as file:
            return json.load(file)

    def save(self, records):
        with open(self.path("records.json.new"), "w") as file:
            json.dump(records, file, indent=1)
        os.replace(self.path("records.json.new"), self.path("records.json"))

    def new_id(self):
        return uuid.uuid4().hex

    def publish(self, name, kind, records):
        """Makes the Knot zone's `kind` records of `name` those of `records` (dicts with "name",
        "type", "content", "ttl") unless the switch says "unserved"."""
        if self.switch_answer(None) == "unserved":
            return
        contents = [r for r in records if r["name"] == name and r["type"] == kind]
        commands = f"server 127.0.0.1 {self.options.knot_port}\nzone {self.zone}\n"
        commands += f"update delete {name}. {kind}\n"
        for record in contents:
            commands += f"update add {name}. {max(int(record['ttl']), 1)} {kind} {self.served(record)}\n"
        subprocess.run(["knsupdate", "-y", f"hmac-sha256:quendle:{self.options.tsig}"],
                       check=True, input=commands + "send\n", text=True)

    # The switch ------------------------------------------------------------------------------

    def switch(self):
        try:
            with open(self.path("switch")) as file:
                return json.load(file)
        except (FileNotFoundError, ValueError):
            return None

    def switch_answer(self, request):
        chosen = self.switch()
        if not chosen:
            return None
        if request is not None:
            if "method" in chosen and chosen["method"] != request.method:
                return None
            if "path" in chosen and not re.search(chosen["path"], request.path):
                return None
        return chosen.get("answer")

    def fail(self, message):
        with open(self.path("failures"), "a") as file:
            file.write(message + "\n")

    # Serving ---------------------------------------------------------------------------------

    def answer(self, request):
        chosen = self.switch_answer(request)
        if chosen == "hang":
            time.sleep(60)
            return Answer(504, b"")
        for method, pattern, function in self.routes:
            request.match = pattern.match(request.path)
            if request.match and method == request.method:
                break
        else:
            raise Refused(f"no such endpoint in the reference: {request.method} {request.path}")
        if chosen == "garbage":
            return Answer(200, "<html><body>Welcome to nginx!</body></html>", content_type="text/html")
        if chosen == "huge":
            return Answer(200, b"{\"result\": \"" + b"x" * (10 * 1024 * 1024) + b"\"}")
        if chosen in self.errors:
            return self.errors[chosen](self, request)
        with self.lock:
            return function(self, request)

    def serve(self):
        standin = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def handle_one(self):
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length) if length else b""
                request = Request(self, body)
                entry = {"method": request.method, "path": request.path, "query": request.raw_query,
                         "headers": [[k, v] for k, v in self.headers.items()],
                         "body": body.decode("utf-8", "replace")}
                with open(standin.path("requests"), "a") as file:
                    file.write(json.dumps(entry) + "\n")
                try:
                    answer = standin.answer(request)
                except Refused as refused:
                    standin.fail(f"{request.method} {request.path}: {refused}")
                    answer = Answer(400, {"stand-in": str(refused)})
                try:
                    self.send_response(answer.status)
                    for name, value in answer.headers.items():
                        self.send_header(name, value)
                    self.send_header("Content-Length", str(len(answer.body)))
                    self.end_headers()
                    self.wfile.write(answer.body)
                except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
                    pass  # the client gave up: a long answer cut short

            do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = handle_one

            def log_message(self, *args):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        server.daemon_threads = True
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.options.cert, self.options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
        print(f"port {server.server_address[1]}", flush=True)
        server.serve_forever()
