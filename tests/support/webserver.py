"""A web server for the tests: serves the files of a folder to GET, answers POST with the status
and body the test chose (files "answer-status" and "answer-body" in the control folder), and
records every request (method, path, headers, body) as one JSON line in "requests" there.

Usage: webserver.py FOLDER CONTROL [--bind ADDRESS] [--cert PEM --key PEM]. With a certificate
it speaks HTTPS. Prints its port on the first line."""

import argparse
import http.server
import json
import os
import socket
import ssl

arguments = argparse.ArgumentParser()
arguments.add_argument("folder")
arguments.add_argument("control")
arguments.add_argument("--bind", default="127.0.0.1")
arguments.add_argument("--cert")
arguments.add_argument("--key")
options = arguments.parse_args()


def control(name, default):
    try:
        with open(os.path.join(options.control, name), "rb") as file:
            return file.read()
    except FileNotFoundError:
        return default


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=options.folder, **kwargs)

    def record(self, body):
        entry = {"method": self.command, "path": self.path,
                 "headers": [[k, v] for k, v in self.headers.items()],
                 "body": body.decode("utf-8", "replace")}
        with open(os.path.join(options.control, "requests"), "a") as file:
            file.write(json.dumps(entry) + "\n")

    def do_GET(self):
        self.record(b"")
        super().do_GET()

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.record(body)
        status = int(control("answer-status", b"200"))
        answer = control("answer-body", b"")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    address_family = socket.AF_INET6 if ":" in options.bind else socket.AF_INET


server = Server((options.bind, 0), Handler)
if options.cert:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
