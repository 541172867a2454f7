"""The headless publisher while it watches: its idle memory and wake-ups, and the delay from an
address change on the interface to the upload. measure.py does the work in a network namespace
of its own; this section runs it for each build and puts its figures in a table."""
import subprocess
from pathlib import Path

from benchkit import PYTHON, Skip, Table

HERE = Path(__file__).resolve().parent

# The figures shown, with the bound each should stay within.
FIGURES = [
    ("rss_idle_kb", "resident memory while idle (kB)", "<= 12288"),
    ("rss_anon_kb", "  of which its own (anonymous, kB)", ""),
    ("rss_file_kb", "  of which shared library files (kB)", ""),
    ("pss_kb", "proportional set size (kB)", ""),
    ("hwm_kb", "peak resident memory (kB)", ""),
    ("idle_wakeups", "wake-ups while idle", "0"),
    ("change_to_upload_ms_median", "address change to upload, median (ms)", "< 2000"),
    ("change_to_upload_ms_max", "address change to upload, max (ms)", "< 2000"),
    ("stop_ms", "SIGTERM to exit, offline page sent (ms)", ""),
]


def measure(context):
    builds = [b.named("quendle-publish") for b in context.builds]
    table = Table("quendle-publish watch", ["figure"] + builds + ["bound"])
    results = []
    for build in context.builds:
        try:
            program = build.program("cli/quendle-publish")
        except Skip as why:
            table.notes.append(f"{build.named('quendle-publish')}: skipped, {why}")
            results.append({})
            continue
        context.log(f"publisher: {build.named('quendle-publish')} idle and address changes")
        results.append(figures(program, context))
    for key, label, bound in FIGURES:
        table.rows.append([label] + [r.get(key, "") for r in results] + [bound])
    table.notes.append("idle: 10 s after the first upload, the interface source on a veth in a "
                       "network namespace, checked hourly so that only kernel notices wake it")
    return [table]


def figures(program, context):
    result = subprocess.run([PYTHON, HERE / "measure.py", program, "--changes",
                             str(min(context.runs, 9))], capture_output=True, text=True,
                            timeout=300)
    if result.returncode != 0:
        context.log(f"publisher: {result.stderr.strip()}")
        return {}
    found = {}
    for line in result.stdout.splitlines():
        name, _, rest = line.partition(" ")
        found[name] = rest.split(" ")[0]
    return found
