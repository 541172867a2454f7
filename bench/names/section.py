"""Many DNS names: 1, 50 and 300 rfc2136 names (`[dns NAME]` sections) in one zone of a Knot DNS
on loopback, one server and one key.

For each count, `quendle-publish once` is run --runs times, the zone's records put back between
runs (one signed update from knsupdate) so that every name needs an update each time: the median
wall time of the whole run. Then `quendle-publish watch` is started, and once its first round has
ended (its log says how many targets are current), its threads and resident memory are read from
/proc/PID/status before it is stopped with SIGTERM."""
import re
import runpy
import signal
import statistics
import subprocess
import time
from pathlib import Path

from benchkit import PYTHON, Skip, Table, child, free_port

# The DNS section's Knot: zone example.test on a free loopback port, updates signed with "bench".
knot = runpy.run_path(str(Path(__file__).resolve().parent.parent / "dns" / "section.py"))["knot"]

COUNTS = (1, 50, 300)
HELD = "11.22.33.1"       # what the reset puts in every name
PUBLISHED = "11.22.33.7"  # what the echo answers, so every run changes every name
ROUND_ENDED = re.compile(r"\d+ of \d+ [a-z]+ current")


def measure(context):
    builds = [b.named("quendle-publish") for b in context.builds]
    table = Table("Many DNS names: rfc2136 names of one zone, server and key (loopback)",
                  ["figure"] + builds)
    results = []
    try:
        with knot(context) as (port, secret), echo(context) as echo_url:
            for build in context.builds:
                try:
                    program = build.program("cli/quendle-publish")
                except Skip as why:
                    table.notes.append(f"{build.named('quendle-publish')}: skipped, {why}")
                    results.append({})
                    continue
                figures = {}
                for count in COUNTS:
                    context.log(f"names: {build.named('quendle-publish')}, {count} names, "
                                f"{context.runs} runs of once, then watch")
                    config = configuration(context, build, count, port, secret, echo_url)
                    figures[count] = names(program, config, count, port, secret, context.runs)
                results.append(figures)
    except Skip as why:
        table.notes.append(f"skipped: {why}")
        return [table]
    rows = [("once_ms", "`once`, median wall time (ms)"),
            ("threads", "`watch` after its first round: threads"),
            ("rss_kb", "`watch` after its first round: resident (kB)")]
    for count in COUNTS:
        for key, label in rows:
            table.rows.append([f"{count} names: {label}"] +
                              [r.get(count, {}).get(key, "") for r in results])
    table.notes.append(f"{context.runs} runs of once per count, every name changed in each; "
                       "threads and VmRSS from /proc/PID/status")
    return [table]


class echo:
    """A web echo that always answers PUBLISHED."""

    def __init__(self, context):
        self.folder = context.folder("names-echo")

    def __enter__(self):
        port = free_port()
        (self.folder / "ip").write_text(PUBLISHED + "\n")
        self.child = child([PYTHON, "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                            self.folder, port], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        self.child.__enter__()
        url = f"http://127.0.0.1:{port}/ip"
        for _ in range(100):
            if subprocess.run(["curl", "-sf", url], capture_output=True).returncode == 0:
                return url
            time.sleep(0.05)
        raise Skip("the web echo did not start")

    def __exit__(self, *details):
        return self.child.__exit__(*details)


def dns_name(n):
    return f"n{n}.example.test"


def configuration(context, build, count, port, secret, echo_url):
    folder = context.folder(f"names-{build.label or 'build'}-{count}")
    key = folder / "bench.key"
    key.write_text(secret + "\n")
    key.chmod(0o600)
    sections = "".join(f"""[dns n{n}]
protocol = rfc2136
name = {dns_name(n)}
server = 127.0.0.1:{port}
zone = example.test
key_name = bench
key_file = {key}
""" for n in range(count))
    config = folder / "publish.conf"
    config.write_text(f"""[page]
file = {folder}/quendle.htm
[address]
sources = web
web = {echo_url}
{sections}""")
    config.chmod(0o600)
    return config


def reset(count, port, secret):
    """Every name back to HELD, in one signed update over TCP."""
    commands = f"server 127.0.0.1 {port}\nzone example.test\n" + "".join(
        f"update delete {dns_name(n)} A\nupdate add {dns_name(n)} 60 A {HELD}\n"
        for n in range(count)) + "send\n"
    done = subprocess.run(["knsupdate", "-v", "-y", f"hmac-sha256:bench:{secret}"],
                          input=commands, capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise Skip(f"knsupdate failed: {done.stderr.strip()[-300:]}")


def names(program, config, count, port, secret, runs):
    walls = []
    for _ in range(runs):
        reset(count, port, secret)
        start = time.monotonic()
        result = subprocess.run([program, "--config", config, "once"], capture_output=True,
                                text=True, timeout=300)
        walls.append((time.monotonic() - start) * 1000)
        if result.returncode != 0 or result.stderr.count(f"now holds {PUBLISHED}") != count:
            raise Skip(f"once failed: {result.stderr.strip()[-300:]}")
    reset(count, port, secret)
    log = config.parent / "watch.log"
    with open(log, "w") as out, child([program, "--config", config, "--verbose", "watch"],
                                      stdout=subprocess.DEVNULL, stderr=out) as process:
        deadline = time.monotonic() + 120
        while not ROUND_ENDED.search(log.read_text()):
            if process.poll() is not None or time.monotonic() > deadline:
                raise Skip(f"watch ended no round: {log.read_text().strip()[-300:]}")
            time.sleep(0.05)
        status = Path(f"/proc/{process.pid}/status").read_text()
        process.send_signal(signal.SIGTERM)
        process.wait(60)
    threads = int(re.search(r"^Threads:\s+(\d+)", status, re.M).group(1))
    rss = int(re.search(r"^VmRSS:\s+(\d+) kB", status, re.M).group(1))
    return {"once_ms": statistics.median(walls), "threads": threads, "rss_kb": rss}
