"""A dyndns2 provider on loopback for the tests: HTTPS with the tests' own certificate, basic
authentication, and updates applied to a Knot zone with knsupdate, so that the check at the
authoritative server sees them.

Usage: dyndns2server.py CERT KEY USER PASSWORD KNOT_PORT TSIG_SECRET FOLDER
FOLDER/answer holds the word to answer (default good); each request is appended to
FOLDER/requests as one JSON line. Prints "port N" once listening.
"""
import base64
import http.server
import json
import os
import ssl
import subprocess
import sys
import urllib.parse

cert, key, user, password, knot_port, secret, folder = sys.argv[1:8]
expected = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        authorized = self.headers.get("Authorization") == expected
        with open(os.path.join(folder, "requests"), "a") as log:
            log.write(json.dumps({"path": url.path, "query": url.query, "authorized": authorized,
                                  "agent": self.headers.get("User-Agent")}) + "\n")
        try:
            with open(os.path.join(folder, "answer")) as f:
                answer = f.read().strip()
        except FileNotFoundError:
            answer = "good"
        host = query.get("hostname", [""])[0]
        ip = query.get("myip", [""])[0]
        if not authorized:
            return self.reply(401, "<html><body>401 Unauthorized</body></html>")
        if answer in ("good", "nochg"):
            # myip=v4,v6 sets both families in one update, as dual-stack providers take it.
            changes = ""
            for address in ip.split(","):
                kind = "AAAA" if ":" in address else "A"
                changes += f"update delete {host}. {kind}\nupdate add {host}. 60 {kind} {address}\n"
            subprocess.run(["knsupdate", "-y", f"hmac-sha256:quendle:{secret}"], check=True,
                           input=f"server 127.0.0.1 {knot_port}\nzone example.test\n{changes}"
                                 "send\n", text=True)
            answer = f"{answer} {ip}"
        self.reply(200, answer)

    def reply(self, status, body):
        data = (body + "\n").encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(f"port {server.server_address[1]}", flush=True)
server.serve_forever()
