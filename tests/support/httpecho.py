"""A web address echo for the tests, on loopback only.

Usage: httpecho.py FOLDER [--bind ADDRESS] [--tls CERT KEY]

GET /ip answers the bytes of FOLDER/ip (404 while there is none), or, while FOLDER/redirect
exists, a 302 to the address that file holds. GET /hops/N answers a 302 to /hops/N-1, and /hops/1
one to /ip, so that /hops/N reaches the answer after exactly N redirects. With --tls the echo
speaks HTTPS with that certificate. Prints "port N" once it listens, then serves until killed.
"""
import argparse
import http.server
import os
import socket
import ssl


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    options = parser.parse_args()

    def read(name):
        try:
            with open(os.path.join(options.folder, name), "rb") as file:
                return file.read()
        except FileNotFoundError:
            return None

    class Echo(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            if self.path.startswith("/hops/"):
                left = int(self.path[len("/hops/"):])
                return self.redirect(b"/ip" if left <= 1 else b"/hops/%d" % (left - 1))
            if self.path != "/ip":
                return self.send_error(404)
            location = read("redirect")
            if location is not None:
                return self.redirect(location.strip())
            body = read("ip")
            if body is None:
                return self.send_error(404)
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def redirect(self, location):
            self.send_response(302)
            self.send_header("Location", location.decode())
            self.send_header("Content-Length", "0")
            self.end_headers()

        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        address_family = socket.AF_INET6 if ":" in options.bind else socket.AF_INET

    server = Server((options.bind, 0), Echo)
    if options.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*options.tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("port %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
