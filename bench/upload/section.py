"""Publish on an open connection against a one-shot `curl -T` of the same page, on pyftpdlib
and vsftpd."""
import subprocess
import time
import urllib.parse

from benchkit import Skip, Table, pyftpdlib_server, ratios, summary, vsftpd_server

SLOW_MS = 500  # an upload this slow is counted on its own


def measure(context):
    table = Table(f"Upload of the page, {context.uploads} times (milliseconds)",
                  ["server", "what", "median", "p90", "p99", "max", f">{SLOW_MS}"])
    for start in (pyftpdlib_server, vsftpd_server):
        try:
            with start(context) as server:
                add_rows(context, table, server)
        except Skip as why:
            table.notes.append(f"{start.__name__.split('_')[0]}: skipped, {why}")
    table.notes.append("Publish: one Connect, then every upload on that connection; curl -T: "
                       "a new curl process that logs in for each upload; ratio: Publish / curl")
    return [table]


def add_rows(context, table, server):
    page = context.folder("upload") / f"{server.name}.htm"
    publish = {}
    for build in context.builds:
        context.log(f"upload: {build.named('Publish')} x{context.uploads} on {server.name}")
        publish[build.named("Publish")] = publish_times(context, build, server, page)
    context.log(f"upload: curl -T x{context.uploads} on {server.name}")
    curl = curl_times(context, server, page)
    for what, times in list(publish.items()) + [("curl -T", curl)]:
        table.rows.append([server.name, what] + summary(times) + [count_slow(times)])
    for what, times in publish.items():
        table.rows.append([server.name, what.replace("Publish", "ratio")] +
                          ratios(summary(times), summary(curl)) + [""])


def publish_times(context, build, server, page):
    program = build.program("bench/upload/quendle-bench-publish")
    result = subprocess.run([program, server.host, server.user, server.password,
                             server.directory, page, str(context.uploads)],
                            capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise RuntimeError(f"{program} failed: {result.stderr.strip()}")
    return [int(line) / 1000 for line in result.stdout.split()]


def curl_times(context, server, page):
    url = f"ftp://{server.host}/{remote_path(server.directory, 'quendle.htm')}"
    times = []
    for _ in range(context.uploads):
        start = time.perf_counter()
        subprocess.run(["curl", "--silent", "--show-error", "--user",
                        f"{server.user}:{server.password}", "--upload-file", page, url],
                       check=True, timeout=60)
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
