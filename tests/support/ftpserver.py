"""A throw-away FTP server for the tests, on loopback only.

Usage: ftpserver.py ROOT USER PASSWORD EVENTLOG IDLESECONDS HOMEDIR [options]

Options:
  --bind ADDRESS      127.0.0.1 (default) or ::1
  --port PORT         the port to listen on (default: a free one)
  --stall             never answer a STOR, like a server that hangs in the middle of an upload
  --slow-cwd SECONDS  wait this long before answering each CWD
  --fail-first        refuse the first STOR with 451, like a server with a passing trouble
  --cut-after BYTES   keep the first BYTES of every upload, then drop the data connection
  --no-rename         refuse RNFR and RNTO, like a server that does not let files be renamed
  --no-dot-files      refuse to store a file whose name begins with a dot
  --echo-password     refuse every login with a reply that repeats the password
  --tls explicit|implicit --cert FILE --key FILE
                      FTP over TLS, required on the control and the data connection

Prints the port it listens on, then serves until killed. EVENTLOG gets one line per event:
"user" for every USER command, "login" for every successful login, "quit" for every QUIT,
"stor" for every file received whole.
After login the working directory is HOMEDIR (a path inside ROOT such as /home/tester), so that
paths relative to the login directory differ from absolute ones.
"""
import argparse
import os
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.log import logger
from pyftpdlib.servers import FTPServer


def tls_handler_classes(cert, key, implicit):
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    class DataHandler(TLS_DTPHandler):
        # Debian's 1.5.7 resets a data connection whose handshake begins before STOR arrives,
        # which libcurl does; later releases keep reading during the handshake.
        def readable(self):
            if getattr(self, "_ssl_accepting", False):
                return True
            return TLS_DTPHandler.readable(self)

    class ExplicitHandler(TLS_FTPHandler):
        certfile = cert
        keyfile = key
        tls_control_required = True
        tls_data_required = True
        dtp_handler = DataHandler

    if not implicit:
        return ExplicitHandler

    class ImplicitHandler(ExplicitHandler):
        # The handshake comes first; the greeting follows it.
        def handle(self):
            self.secure_connection(self.ssl_context)

        def handle_ssl_established(self):
            TLS_FTPHandler.handle(self)

    return ImplicitHandler


def main():
    parser = argparse.ArgumentParser()
    for name in ("root", "user", "password", "event_log", "idle", "home"):
        parser.add_argument(name)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--stall", action="store_true")
    parser.add_argument("--slow-cwd", type=float, default=0)
    parser.add_argument("--fail-first", action="store_true")
    parser.add_argument("--cut-after", type=int, default=0)
    parser.add_argument("--no-rename", action="store_true")
    parser.add_argument("--no-dot-files", action="store_true")
    parser.add_argument("--echo-password", action="store_true")
    parser.add_argument("--tls", choices=("explicit", "implicit"))
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    failures_left = [1 if args.fail_first else 0]
    if args.bind not in ("127.0.0.1", "::1"):
        raise SystemExit("the test server listens on loopback only")

    def record(event):
        with open(args.event_log, "a") as log:
            log.write(event + "\n")

    base = FTPHandler
    if args.tls:
        base = tls_handler_classes(args.cert, args.key, args.tls == "implicit")

    class CuttingDataHandler(base.dtp_handler):
        # A line that fails in the middle of an upload: the first bytes reach the file.
        def handle_read(self):
            chunk = self.recv(args.cut_after - self.tot_bytes_received)
            self.tot_bytes_received += len(chunk)
            self.file_obj.write(chunk)
            if not chunk or self.tot_bytes_received >= args.cut_after:
                self._resp = ("426 Connection closed; transfer aborted.", logger.debug)
                self.close()

        handle_read_event = handle_read

    class Handler(base):
        if args.cut_after:
            dtp_handler = CuttingDataHandler

        def ftp_USER(self, line):
            record("user")
            return base.ftp_USER(self, line)

        def ftp_PASS(self, line):
            if args.echo_password:
                self.respond("530 Login incorrect: %s is not the password." % line)
                return None
            return base.ftp_PASS(self, line)

        def on_login(self, username):
            record("login")
            self.fs.cwd = args.home

        def ftp_CWD(self, path):
            # Blocks the whole server, which is what a slow server looks like to its one client.
            time.sleep(args.slow_cwd)
            return base.ftp_CWD(self, path)

        def ftp_STOR(self, file, mode="w"):
            if args.stall:
                return None
            if args.no_dot_files and os.path.basename(file).startswith("."):
                self.respond("553 Dot files are not allowed.")
                return None
            if failures_left[0] > 0:
                failures_left[0] -= 1
                self.respond("451 Local error in processing, try again later.")
                return None
            return base.ftp_STOR(self, file, mode)

        def on_file_received(self, file):
            record("stor")

        def ftp_QUIT(self, line):
            record("quit")
            return base.ftp_QUIT(self, line)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradmwMT" if args.no_rename else "elradfmwMT")
    Handler.authorizer = authorizer
    Handler.timeout = float(args.idle)
    Handler.passive_ports = None
    server = FTPServer((args.bind, args.port), Handler)
    print(server.address[1], flush=True)
    # A short poll lets the idle time-out fire even while no client says anything.
    server.serve_forever(timeout=0.2)


if __name__ == "__main__":
    main()
