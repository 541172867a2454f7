"""DNS names: from an address change to a record checked at its authoritative server, over
RFC 2136 to a Knot DNS on loopback, with the page's upload to a local FTP server beside it.

Each run changes the address a web echo answers and runs `quendle-publish once`, which uploads
the page, then asks Knot what the name holds, sends one signed update and asks again; the figures
are the times the program logs for each."""
import base64
import itertools
import os
import re
import statistics
import subprocess
import time

from benchkit import PYTHON, Skip, Table, child, free_port, pyftpdlib_server

ZONE = """$ORIGIN example.test.
$TTL 60
@ SOA ns.example.test. admin.example.test. 1 3600 600 86400 60
@ NS ns.example.test.
ns A 127.0.0.1
home A 11.22.33.1
"""

# Every run publishes an address the name does not hold yet, across builds too; public-looking,
# since the publisher refuses an echo's answer in a special-use range.
ADDRESSES = (f"11.22.33.{n}" for n in itertools.cycle(range(10, 250)))

KNOT_CONFIG = """server:
    listen: 127.0.0.1@{port}
    rundir: {folder}
{user}key:
  - id: bench
    algorithm: hmac-sha256
    secret: {secret}
acl:
  - id: update
    key: bench
    action: update
database:
    storage: {folder}
template:
  - id: default
    storage: {folder}
    file: "%s.zone"
    zonefile-sync: -1
    journal-content: changes
zone:
  - domain: example.test
    acl: update
"""


def measure(context):
    builds = [b.named("quendle-publish") for b in context.builds]
    table = Table("DNS name: address change to a checked record (rfc2136, loopback)",
                  ["figure"] + builds + ["bound"])
    runs = context.runs
    results = []
    try:
        with knot(context) as (port, secret), pyftpdlib_server(context) as ftp, \
                echo(context) as (echo_url, echo_file):
            for build in context.builds:
                try:
                    program = build.program("cli/quendle-publish")
                except Skip as why:
                    table.notes.append(f"{build.named('quendle-publish')}: skipped, {why}")
                    results.append({})
                    continue
                context.log(f"dns: {build.named('quendle-publish')}, {runs} address changes")
                config = configuration(context, build, port, secret, ftp, echo_url)
                results.append(timings(program, config, echo_file, runs))
    except Skip as why:
        table.notes.append(f"skipped: {why}")
        return [table]
    rows = [("dns_median", "name checked at the server, median (ms)", "< 300"),
            ("dns_max", "name checked at the server, max (ms)", ""),
            ("page_median", "page uploaded beside it, median (ms)", ""),
            ("once_median", "whole `once` run, median (ms)", "")]
    for key, label, bound in rows:
        table.rows.append([label] + [r.get(key, "") for r in results] + [bound])
    table.notes.append(f"{runs} runs; the name's time runs from asking what it holds through the "
                       "signed update to the answer of the check")
    return [table]


class knot:
    """knotd on a free loopback port with a zone and a TSIG key of the benchmark's own."""

    def __init__(self, context):
        self.folder = context.folder("knot")

    def __enter__(self):
        secret = base64.b64encode(os.urandom(32)).decode()
        port = free_port()
        (self.folder / "example.test.zone").write_text(ZONE)
        for stale in self.folder.glob("*.mdb"):
            stale.unlink()
        user = "    user: root:root\n" if os.geteuid() == 0 else ""
        (self.folder / "knot.conf").write_text(
            KNOT_CONFIG.format(port=port, folder=self.folder, user=user, secret=secret))
        self.child = child(["knotd", "-c", self.folder / "knot.conf"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.process = self.child.__enter__()
        except FileNotFoundError:
            raise Skip("knotd is missing (apt-get install knot knot-dnsutils)")
        for _ in range(100):
            answer = subprocess.run(["kdig", "@127.0.0.1", "-p", str(port), "+tcp", "+short",
                                     "example.test", "SOA"], capture_output=True, text=True)
            if answer.stdout.strip():
                return port, secret
            time.sleep(0.05)
        self.__exit__(None, None, None)
        raise Skip("knotd did not answer")

    def __exit__(self, *details):
        return self.child.__exit__(*details)


class echo:
    """A web echo whose answer each run replaces."""

    def __init__(self, context):
        self.folder = context.folder("dns-echo")

    def __enter__(self):
        port = free_port()
        self.child = child([PYTHON, "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                            self.folder, port], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        self.child.__enter__()
        (self.folder / "ip").write_text("11.22.33.1\n")
        url = f"http://127.0.0.1:{port}/ip"
        for _ in range(100):
            if subprocess.run(["curl", "-sf", url], capture_output=True).returncode == 0:
                return url, self.folder / "ip"
            time.sleep(0.05)
        raise Skip("the web echo did not start")

    def __exit__(self, *details):
        return self.child.__exit__(*details)


def configuration(context, build, port, secret, ftp, echo_url):
    folder = context.folder("dns-" + (build.label or "build"))
    key = folder / "bench.key"
    key.write_text(secret + "\n")
    key.chmod(0o600)
    config = folder / "publish.conf"
    config.write_text(f"""[page]
file = {folder}/quendle.htm
[address]
sources = web
web = {echo_url}
[target home]
host = {ftp.server_text}
user = {ftp.user}
password = {ftp.password}
[dns name]
protocol = rfc2136
name = home.example.test
server = 127.0.0.1:{port}
key_name = bench
key_file = {key}
""")
    config.chmod(0o600)
    return config


def timings(program, config, echo_file, runs):
    dns, page, whole = [], [], []
    for _ in range(runs):
        address = next(ADDRESSES)
        echo_file.write_text(address + "\n")
        start = time.monotonic()
        result = subprocess.run([program, "--config", config, "once"], capture_output=True,
                                text=True, timeout=120)
        whole.append((time.monotonic() - start) * 1000)
        held = re.search(r"name: home\.example\.test now holds " + re.escape(address) +
                         r" at \S+ \((\d+) ms\)", result.stderr)
        uploaded = re.search(r"home: page uploaded \(\d+ bytes, (\d+) ms\)", result.stderr)
        if result.returncode != 0 or not held or not uploaded:
            raise Skip(f"once failed: {result.stderr.strip()[-300:]}")
        dns.append(int(held.group(1)))
        page.append(int(uploaded.group(1)))
    return {"dns_median": statistics.median(dns), "dns_max": max(dns),
            "page_median": statistics.median(page), "once_median": statistics.median(whole)}
