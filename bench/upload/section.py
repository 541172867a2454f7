"""Publish on an open connection against a one-shot `curl -T` of the same page, on pyftpdlib
and vsftpd, plain and over TLS, and on sshd over SFTP."""
import functools
import os
import subprocess
import time
import urllib.parse

from benchkit import (Skip, Table, pyftpdlib_server, ratios, sshd_server, summary,
                      vsftpd_server)

SERVERS = [
    ("pyftpdlib", pyftpdlib_server),
    ("vsftpd", vsftpd_server),
    ("pyftpdlib ftpes", functools.partial(pyftpdlib_server, tls=True)),
    ("vsftpd ftpes", functools.partial(vsftpd_server, tls=True)),
    ("sshd sftp", sshd_server),
]

SLOW_MS = 500  # an upload this slow is counted on its own


def measure(context):
    table = Table(f"Upload of the page, {context.uploads} times (milliseconds)",
                  ["server", "what", "median", "p90", "p99", "max", f">{SLOW_MS}"])
    plain = {}  # the Publish times of each build on each plain FTP server
    for name, start in SERVERS:
        try:
            with start(context) as server:
                add_rows(context, table, name, server, plain)
        except Skip as why:
            table.notes.append(f"{name}: skipped, {why}")
    table.notes.append("Publish: one Connect, then every upload on that connection; curl -T: "
                       "a new curl process that logs in for each upload; ratio: Publish / curl; "
                       "ratio to ftp: Publish over TLS / Publish over plain FTP on that server")
    return [table]


def add_rows(context, table, name, server, plain):
    page = context.folder("upload") / f"{name.replace(' ', '-')}.htm"
    publish = {}
    for build in context.builds:
        context.log(f"upload: {build.named('Publish')} x{context.uploads} on {name}")
        publish[build.named("Publish")] = publish_times(context, build, server, page)
    context.log(f"upload: curl -T x{context.uploads} on {name}")
    curl = curl_times(context, server, page)
    for what, times in list(publish.items()) + [("curl -T", curl)]:
        table.rows.append([name, what] + summary(times) + [count_slow(times)])
    for what, times in publish.items():
        table.rows.append([name, what.replace("Publish", "ratio")] +
                          ratios(summary(times), summary(curl)) + [""])
        if server.scheme == "ftp":
            plain[(server.name, what)] = times
        elif (server.name, what) in plain:
            table.rows.append([name, what.replace("Publish", "ratio to ftp")] +
                              ratios(summary(times), summary(plain[(server.name, what)])) + [""])


def publish_times(context, build, server, page):
    program = build.program("bench/upload/quendle-bench-publish")
    result = subprocess.run([program, server.server_text, server.user, server.password,
                             server.directory, page, str(context.uploads)],
                            capture_output=True, text=True, timeout=600,
                            env=dict(os.environ, **server.environment))
    if result.returncode != 0:
        raise RuntimeError(f"{program} failed: {result.stderr.strip()}")
    return [int(line) / 1000 for line in result.stdout.split()]


def curl_times(context, server, page):
    if server.scheme == "sftp":
        # SFTP paths are absolute; /~/ is the login folder.
        url = f"sftp://{server.host}/~/{remote_path(server.directory, 'quendle.htm')}"
    else:
        url = f"ftp://{server.host}/{remote_path(server.directory, 'quendle.htm')}"
    environment = dict(os.environ, **server.environment)
    times = []
    for _ in range(context.uploads):
        start = time.perf_counter()
        # A curl that fails (or hangs past its own bound) counts with the time it took.
        subprocess.run(["curl", "--silent", "--show-error", "--max-time", "30", "--user",
                        f"{server.user}:{server.password}", *server.curl_options,
                        "--upload-file", page, url], env=environment)
        times.append((time.perf_counter() - start) * 1000)
    return times


def remote_path(directory, name):
    """The path Publish asks for: an absolute directory starts with an encoded slash."""
    path = "/".join(urllib.parse.quote(n, safe="") for n in directory.split("/") if n)
    if directory.startswith("/"):
        path = "%2F" + path
    return f"{path}/{name}" if path else name


def count_slow(times):
    return sum(1 for t in times if t > SLOW_MS)
