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
    scheme: str = "ftp"  # ftp, ftpes or sftp
    environment: dict = field(default_factory=dict)  # what the programs need to trust the server
    curl_options: list = field(default_factory=list)

    @property
    def server_text(self):
        """The text a user types into the server field."""
        return self.host if self.scheme == "ftp" else f"{self.scheme}://{self.host}"


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
def pyftpdlib_server(context, tls=False):
    """The FTP server of the network tests (tests/support/ftpserver.py); with tls, explicit FTP
    over TLS on the control and the data connection."""
    root = context.folder("pyftpdlib-tls" if tls else "pyftpdlib")
    (root / "root" / "home" / "tester").mkdir(parents=True, exist_ok=True)
    user, password = "tester", "bench pass"
    options = []
    if tls:
        certificate = test_certificate(context)
        options = ["--tls", "explicit", "--cert", certificate.cert, "--key", certificate.key]
    with child([PYTHON, SOURCE / "tests" / "support" / "ftpserver.py", root / "root", user,
                password, root / "logins", 300, "/home/tester"] + options,
               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True) as process:
        port = process.stdout.readline().strip()
        if not port:
            raise Skip("pyftpdlib did not start (python3-pyftpdlib, python3-openssl installed?)")
        if not tls:
            yield FtpServer("pyftpdlib", f"127.0.0.1:{port}", user, password, "/")
        else:
            yield FtpServer("pyftpdlib", f"127.0.0.1:{port}", user, password, "/", "ftpes",
                            certificate.trust, certificate.curl_options)


@dataclass
class Certificate:
    cert: Path
    key: Path
    trust: dict  # the environment that makes the window's component trust it
    curl_options: list  # what makes curl trust it and insist on TLS


def test_certificate(context):
    """A throw-away certificate authority and a certificate for 127.0.0.1 that it signed."""
    folder = context.folder("certificate")
    ca, cert, key = folder / "ca.crt", folder / "server.crt", folder / "server.key"
    if not cert.exists():
        def openssl(*arguments):
            subprocess.run(["openssl", *map(str, arguments)], check=True, cwd=folder,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", ca,
                "-days", 2, "-subj", "/CN=Bench CA", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext",
                "keyUsage=critical,keyCertSign,cRLSign")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", "server.csr",
                "-subj", "/CN=localhost")
        (folder / "ext.cnf").write_text("subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                                        "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
        openssl("x509", "-req", "-in", "server.csr", "-CA", ca, "-CAkey", "ca.key",
                "-CAcreateserial", "-out", cert, "-days", 2, "-extfile", "ext.cnf")
    return Certificate(cert, key, {"SSL_CERT_FILE": str(ca)}, ["--ssl-reqd", "--cacert", str(ca)])


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


VSFTPD_TLS = """\
ssl_enable=YES
rsa_cert_file={cert}
rsa_private_key_file={key}
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
"""


@contextmanager
def vsftpd_server(context, tls=False):
    """Debian's vsftpd, standalone on a loopback port; anonymous uploads into /pub. With tls,
    explicit FTP over TLS is required on the control and the data connection, and each data
    connection must resume the control connection's TLS session (vsftpd's default)."""
    program = shutil.which("vsftpd") or "/usr/sbin/vsftpd"
    if not os.access(program, os.X_OK):
        raise Skip("vsftpd is not installed")
    if os.geteuid() != 0:
        raise Skip("vsftpd runs only as root")
    folder = context.folder("vsftpd-tls" if tls else "vsftpd")
    root, empty = folder / "root", folder / "empty"
    (root / "pub").mkdir(parents=True, exist_ok=True)
    empty.mkdir(exist_ok=True)
    # vsftpd refuses a root its anonymous user may write to; the upload folder is the user's.
    root.chmod(0o755)
    shutil.chown(root / "pub", user="ftp")
    port = free_port()
    config = folder / "vsftpd.conf"
    text = VSFTPD_CONFIG.format(port=port, root=root, empty=empty)
    if tls:
        certificate = test_certificate(context)
        text += VSFTPD_TLS.format(cert=certificate.cert, key=certificate.key)
    config.write_text(text)
    with child([program, config], stdout=subprocess.DEVNULL,
               stderr=subprocess.DEVNULL) as process:
        wait_for_greeting(port, process)
        server = FtpServer("vsftpd", f"127.0.0.1:{port}", "anonymous", "bench@example.com", "/pub")
        if tls:
            server.scheme = "ftpes"
            server.environment, server.curl_options = certificate.trust, certificate.curl_options
        yield server


def wait_for_greeting(port, process, greeting=b"220", seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and process.poll() is None:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as connection:
                if connection.recv(100).startswith(greeting):
                    return
        except OSError:
            time.sleep(0.05)
    raise Skip(f"the server on port {port} did not start")


SSHD_CONFIG = """\
Port {port}
ListenAddress 127.0.0.1
HostKey {folder}/host_ed25519
PidFile {folder}/sshd.pid
PasswordAuthentication yes
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
AllowUsers {user}
Subsystem sftp internal-sftp
ForceCommand internal-sftp -d {home}
"""


@contextmanager
def sshd_server(context):
    """A private sshd on a loopback port whose only service is SFTP, for a system user of the
    benchmark's own (made once, with a password, so it needs root)."""
    if os.geteuid() != 0:
        raise Skip("sshd logs a user in with a password only as root")
    if not os.access("/usr/sbin/sshd", os.X_OK):
        raise Skip("openssh-server is not installed")
    user, password = "quendle-bench", "bench pass"
    if subprocess.run(["id", user], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin", user],
                       check=True)
    subprocess.run(["chpasswd"], input=f"{user}:{password}", text=True, check=True)
    folder = context.folder("sshd")
    for level in (context.scratch, folder):
        level.chmod(0o755)  # the user must reach its folder
    home = folder / "home"
    home.mkdir(exist_ok=True)
    shutil.chown(home, user=user)
    Path("/run/sshd").mkdir(exist_ok=True)
    key = folder / "host_ed25519"
    if not key.exists():
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key], check=True)
    port = free_port()
    (folder / "sshd_config").write_text(
        SSHD_CONFIG.format(port=port, folder=folder, user=user, home=home))
    # Both programs check the host key against $HOME/.ssh/known_hosts.
    trusted = folder / "trusting"
    (trusted / ".ssh").mkdir(parents=True, exist_ok=True)
    public = (folder / "host_ed25519.pub").read_text().split()
    (trusted / ".ssh" / "known_hosts").write_text(f"[127.0.0.1]:{port} {public[0]} {public[1]}\n")
    with child(["/usr/sbin/sshd", "-D", "-e", "-f", folder / "sshd_config"],
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) as process:
        wait_for_greeting(port, process, b"SSH-")
        yield FtpServer("sshd", f"127.0.0.1:{port}", user, password, "", "sftp",
                        {"HOME": str(trusted)})
