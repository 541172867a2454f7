#!/usr/bin/python3
"""Idle cost of `quendle-publish watch`, and how fast it follows an address change.

Run:  /usr/bin/python3 bench/publisher/measure.py build/cli/quendle-publish [--idle SECONDS] [--changes N]

Needs python3-pyftpdlib, iproute2 and user network namespaces (`unshare -rn`); no root and no
network: the script re-runs itself in a namespace of its own with an interface veth0, starts an
FTP server on loopback there, and runs the publisher with the interface source on veth0 and a
check interval of an hour, so that only the kernel's notices can bring a new address in.

It reports, on stdout, one "name value unit" line per figure:
  rss_idle_kb, hwm_kb        VmRSS while idle and VmHWM (peak) of the program, from /proc
  rss_anon_kb, rss_file_kb   the part of VmRSS that is the program's own memory, and the part
                             that is pages of the shared libraries' files
  pss_kb                     proportional set size (shared pages divided among their users)
  threads                    threads of the program
  idle_wakeups               context switches of all its threads during the idle window
                             (0 means it slept throughout: no polling)
  change_to_upload_ms_*      from the address change on veth0 to the first FTP command of the
                             upload that follows (min, median, max over the changes)
  stop_ms, exit_status       from SIGTERM to exit (offline page published, logged out)
Exit status 0 when the measurement ran, 1 when it could not.
"""
import argparse
import logging
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

INNER = "QUENDLE_BENCH_IN_NAMESPACE"


def run(*command):
    subprocess.run(command, check=True)


def proc_status(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def context_switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        fields = proc_status(f"{pid}/task/{task}")
        total += int(fields["voluntary_ctxt_switches"]) + int(fields["nonvoluntary_ctxt_switches"])
    return total


def start_ftp_server(root, commands):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    authorizer = DummyAuthorizer()
    authorizer.add_user("bench", "bench pass", root, perm="elradfmwMT")

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            commands.append((time.monotonic(), cmd))
            return FTPHandler.pre_process_command(self, line, cmd, arg)

    # The server logs each command by default; the figures are the only output wanted.
    quiet = logging.getLogger("pyftpdlib")
    quiet.addHandler(logging.NullHandler())
    quiet.propagate = False
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, kwargs={"timeout": 1}, daemon=True).start()
    return server.address[1]


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.005)
    return condition()


def measure(program, idle_seconds, changes):
    run("ip", "link", "set", "lo", "up")
    run("ip", "link", "add", "veth0", "type", "veth", "peer", "name", "veth1")
    run("ip", "link", "set", "veth1", "up")
    run("ip", "link", "set", "veth0", "up")
    run("ip", "addr", "add", "10.77.0.10/24", "dev", "veth0")

    work = tempfile.mkdtemp(prefix="quendle-bench-")
    os.makedirs(f"{work}/root/www")
    commands = []
    port = start_ftp_server(f"{work}/root", commands)
    config = f"{work}/publish.conf"
    with open(config, "w") as file:
        file.write(f"[page]\nfile = {work}/quendle.htm\n"
                   "[address]\nsources = interface\ninterface = veth0\ncheck = 3600\n"
                   "[publish]\nrefresh = 0\n"
                   f"[target bench]\nhost = 127.0.0.1:{port}\nuser = bench\n"
                   "password = bench pass\ndirectory = /www\n")
    os.chmod(config, 0o600)
    page = f"{work}/root/www/quendle.htm"

    log = open(f"{work}/watch.log", "w")
    publisher = subprocess.Popen([program, "--config", config, "watch"], stderr=log)
    try:
        if not wait_for(lambda: os.path.exists(page) and b"10.77.0.10" in open(page, "rb").read(), 20):
            print("the first upload did not arrive; see " + log.name, file=sys.stderr)
            return 1
        time.sleep(2)  # let the first upload's work settle
        before = context_switches(publisher.pid)
        time.sleep(idle_seconds)
        wakeups = context_switches(publisher.pid) - before
        status = proc_status(publisher.pid)
        print("rss_idle_kb", status["VmRSS"].split()[0], "kB")
        print("hwm_kb", status["VmHWM"].split()[0], "kB")
        print("rss_anon_kb", status["RssAnon"].split()[0], "kB")
        print("rss_file_kb", status["RssFile"].split()[0], "kB")
        with open(f"/proc/{publisher.pid}/smaps_rollup") as rollup:
            pss = next(line.split()[1] for line in rollup if line.startswith("Pss:"))
        print("pss_kb", pss, "kB")
        print("threads", status["Threads"], "")
        print("idle_wakeups", wakeups, f"in {idle_seconds} s")

        delays = []
        current = 10
        for _ in range(changes):
            new = 11 if current == 10 else 10
            seen = len(commands)
            started = time.monotonic()
            subprocess.run(["ip", "-batch", "-"], check=True, text=True,
                           input=f"addr del 10.77.0.{current}/24 dev veth0\n"
                                 f"addr add 10.77.0.{new}/24 dev veth0\n")
            if not wait_for(lambda: len(commands) > seen, 10):
                print("no upload followed an address change; see " + log.name, file=sys.stderr)
                return 1
            delays.append((commands[seen][0] - started) * 1000)
            wait_for(lambda: f"10.77.0.{new}".encode() in open(page, "rb").read(), 10)
            current = new
            # Past the second the publisher keeps between two uploads to one target, so that
            # each change measures the reaction, not that spacing.
            time.sleep(1.2)
        print("change_to_upload_ms_min", round(min(delays)), "ms")
        print("change_to_upload_ms_median", round(statistics.median(delays)), "ms")
        print("change_to_upload_ms_max", round(max(delays)), "ms")

        stopping = time.monotonic()
        publisher.send_signal(signal.SIGTERM)
        code = publisher.wait(timeout=120)
        print("stop_ms", round((time.monotonic() - stopping) * 1000), "ms")
        print("exit_status", code, "")
        return 0
    finally:
        if publisher.poll() is None:
            publisher.kill()
            publisher.wait()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program", help="the quendle-publish program to measure")
    parser.add_argument("--idle", type=float, default=10, help="seconds of idle watching")
    parser.add_argument("--changes", type=int, default=5, help="address changes to time")
    arguments = parser.parse_args()
    program = os.path.abspath(arguments.program)
    if os.environ.get(INNER) != "1":
        environment = dict(os.environ, **{INNER: "1"})
        try:
            return subprocess.run(["unshare", "-rn", sys.executable, os.path.abspath(__file__),
                                   program, "--idle", str(arguments.idle),
                                   "--changes", str(arguments.changes)],
                                  env=environment).returncode
        except OSError as error:
            print(f"cannot make a network namespace: {error}", file=sys.stderr)
            return 1
    return measure(program, arguments.idle, arguments.changes)


if __name__ == "__main__":
    sys.exit(main())
