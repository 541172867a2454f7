"""A throw-away FTP server for the tests, on loopback only.

Usage: ftpserver.py ROOT USER PASSWORD LOGINLOG IDLESECONDS HOMEDIR [BINDADDRESS [MODE]]

Prints the port it listens on, then serves until killed. Every successful login
appends "login" to LOGINLOG, every QUIT appends "quit" and every file received whole
appends "stor". After login the working directory is HOMEDIR (a path
inside ROOT such as /home/tester), so that paths relative to the login directory
differ from absolute ones. With MODE "stall", the server never answers a STOR, like a
server that hangs in the middle of an upload; with "failfirst" it refuses the first
STOR with 451, like a server with a passing trouble.
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, user, password, login_log, idle, home = sys.argv[1:7]
    bind = sys.argv[7] if len(sys.argv) > 7 else "127.0.0.1"
    mode = sys.argv[8] if len(sys.argv) > 8 else ""
    stall = mode == "stall"
    failures_left = [1 if mode == "failfirst" else 0]
    if bind not in ("127.0.0.1", "::1"):
        raise SystemExit("the test server listens on loopback only")

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")

    class Handler(FTPHandler):
        def on_login(self, username):
            record("login")
            self.fs.cwd = home

        def ftp_STOR(self, file, mode="w"):
            if stall:
                return None
            if failures_left[0] > 0:
                failures_left[0] -= 1
                self.respond("451 Local error in processing, try again later.")
                return None
            return FTPHandler.ftp_STOR(self, file, mode)

        def on_file_received(self, file):
            record("stor")

        def ftp_QUIT(self, line):
            record("quit")
            return FTPHandler.ftp_QUIT(self, line)

    def record(event):
        with open(login_log, "a") as log:
            log.write(event + "\n")

    Handler.authorizer = authorizer
    Handler.timeout = float(idle)
    Handler.passive_ports = None
    server = FTPServer((bind, 0), Handler)
    print(server.address[1], flush=True)
    # A short poll lets the idle time-out fire even while no client says anything.
    server.serve_forever(timeout=0.2)


if __name__ == "__main__":
    main()
