"""A throw-away FTP server for the tests, on loopback only.

Usage: ftpserver.py ROOT USER PASSWORD LOGINLOG IDLESECONDS HOMEDIR [BINDADDRESS [stall]]

Prints the port it listens on, then serves until killed. Every successful login
appends "login" to LOGINLOG, and every QUIT appends "quit". After login the working directory is HOMEDIR (a path
inside ROOT such as /home/tester), so that paths relative to the login directory
differ from absolute ones. With "stall", the server never answers a STOR, like a
server that hangs in the middle of an upload.
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, user, password, login_log, idle, home = sys.argv[1:7]
    bind = sys.argv[7] if len(sys.argv) > 7 else "127.0.0.1"
    stall = len(sys.argv) > 8 and sys.argv[8] == "stall"
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
            return FTPHandler.ftp_STOR(self, file, mode)

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
