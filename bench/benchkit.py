"""What the benchmark's sections share: the run's settings, the figures, the tables and the FTP
servers on loopback."""
import math
import os
import shutil
import socket
import statistics
import subprocess
import sys
import time
from contextlib import contextmanager
from dataclasses import dataclass, field
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
PYTHON = "/usr/bin/python3"  # Debian's, with python3-pyftpdlib


class Skip(Exception):
    """A measurement that cannot be made here; the reason is printed in its place."""


@dataclass
class Build:
    label: str  # "" when only one build is measured
    path: Path

    def program(self, relative):
        path = self.path / relative
        if not os.access(path, os.X_OK):
            raise Skip(f"{path} is missing: build it with `cmake --build {self.path} --target bench`")
        return path

    def named(self, what):
        return f"{what} [{self.label}]" if self.label else what


@dataclass
class Context:
    builds: list
    uploads: int
    runs: int
    scratch: Path

    def log(self, text):
        print(text, file=sys.stderr, flush=True)

    def folder(self, name):
        path = self.scratch / name
        path.mkdir(parents=True, exist_ok=True)
        return path


@dataclass
class Table:
    title: str
    columns: list
    rows: list = field(default_factory=list)
    notes: list = field(default_factory=list)

    def render(self):
        cells = [[str(c) for c in self.columns]] + [[cell(c) for c in row] for row in self.rows]
        widths = [max(len(row[i]) for row in cells) for i in range(len(self.columns))]
        lines = [self.title]
        for n, row in enumerate(cells):
            # The first column is text: left-aligned; the figures are right-aligned.
            lines.append("  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                                   for i, (c, w) in enumerate(zip(row, widths))).rstrip())
            if n == 0:
                lines.append("  ".join("-" * w for w in widths))
        lines += [f"  {note}" for note in self.notes]
        return "\n".join(lines)


def cell(value):
    if isinstance(value, float):
        return f"{value:.3f}" if abs(value) < 10 else f"{value:.1f}"
    return str(value)


def percentile(values, p):
    """The nearest-rank percentile: the smallest value with at least p % of all at or below."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(p / 100 * len(ordered)) - 1)]


def summary(values):
    """Median, 90th and 99th percentile and maximum."""
    return [statistics.median(values), percentile(values, 90), percentile(values, 99),
            max(values)]


def ratios(numerators, denominators):
    return [n / d if d else float("nan") for n, d in zip(numerators, denominators)]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@dataclass
class FtpServer:
    name: str
    host: str  # "127.0.0.1:port"
    user: str
    password: str
    directory: str  # where the page goes, as typed into "Remote Directory:"


@contextmanager
def child(arguments, **options):
    """A process of the benchmark's own, ended and waited for when the block is left."""
    process = subprocess.Popen([str(a) for a in arguments], **options)
    try:
        yield process
    finally:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


@contextmanager
def pyftpdlib_server(context):
    """The FTP server of the network tests (tests/support/ftpserver.py)."""
    root = context.folder("pyftpdlib")
    (root / "root" / "home" / "tester").mkdir(parents=True, exist_ok=True)
    user, password = "tester", "bench pass"
    with child([PYTHON, SOURCE / "tests" / "support" / "ftpserver.py", root / "root", user,
                password, root / "logins", 300, "/home/tester"],
               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True) as process:
        port = process.stdout.readline().strip()
        if not port:
            raise Skip("pyftpdlib did not start (python3-pyftpdlib installed?)")
        yield FtpServer("pyftpdlib", f"127.0.0.1:{port}", user, password, "/")


VSFTPD_CONFIG = """\
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port={port}
background=NO
local_enable=NO
anonymous_enable=YES
no_anon_password=YES
anon_root={root}
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_umask=022
secure_chroot_dir={empty}
seccomp_sandbox=NO
xferlog_enable=NO
connect_from_port_20=NO
ftp_username=ftp
"""


@contextmanager
def vsftpd_server(context):
    """Debian's vsftpd, standalone on a loopback port; anonymous uploads into /pub."""
    program = shutil.which("vsftpd") or "/usr/sbin/vsftpd"
    if not os.access(program, os.X_OK):
        raise Skip("vsftpd is not installed")
    if os.geteuid() != 0:
        raise Skip("vsftpd runs only as root")
    folder = context.folder("vsftpd")
    root, empty = folder / "root", folder / "empty"
    (root / "pub").mkdir(parents=True, exist_ok=True)
    empty.mkdir(exist_ok=True)
    # vsftpd refuses a root its anonymous user may write to; the upload folder is the user's.
    root.chmod(0o755)
    shutil.chown(root / "pub", user="ftp")
    port = free_port()
    config = folder / "vsftpd.conf"
    config.write_text(VSFTPD_CONFIG.format(port=port, root=root, empty=empty))
    with child([program, config], stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL) as process:
        wait_for_greeting(port, process)
        yield FtpServer("vsftpd", f"127.0.0.1:{port}", "anonymous", "bench@example.com", "/pub")


def wait_for_greeting(port, process, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and process.poll() is None:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as connection:
                if connection.recv(100).startswith(b"220"):
                    return
        except OSError:
            time.sleep(0.05)
    raise Skip("vsftpd did not start")
