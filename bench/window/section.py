"""Start-up time and peak memory of the window against an empty Qt window of the same size,
measured from outside under a virtual X server: from the start of the process until its window
is mapped, then the peak resident memory once it has drawn itself."""
import os
import select
import shutil
import statistics
import subprocess
import time
from contextlib import contextmanager

from benchkit import Skip, Table, child, ratios

try:
    from Xlib import X, display as xlib_display  # python3-xlib
except ImportError:
    X = xlib_display = None

SETTLE_SECONDS = 0.5  # after the window is mapped, for its first paint
MAP_TIMEOUT_SECONDS = 30


def measure(context):
    table = Table(f"Window start under Xvfb, {context.runs} runs (medians)",
                  ["program", "start-up ms", "CPU ms", "peak RSS MB", "start ratio", "CPU ratio",
                   "memory ratio"])
    try:
        commands = programs(context)
        samples = start_each(context, commands)
    except Skip as why:
        table.notes.append(f"skipped: {why}")
        return [table]
    baseline = medians(samples[0])
    for (name, _), runs in zip(commands, samples):
        figures = medians(runs)
        table.rows.append([name] + figures + ratios(figures, baseline))
    table.notes.append("start-up: from the start of the process until its window is mapped "
                       "(X MapNotify); CPU: the time its threads ran until then (schedstat), "
                       "which other load on the machine disturbs less")
    table.notes.append(f"peak RSS: VmHWM {SETTLE_SECONDS} s after the map; ratios: against the "
                       "empty window")
    return [table]


def programs(context):
    """The yardsticks (of the last build given), then the window of each build: (name,
    command)."""
    yardstick = context.builds[-1].program("bench/window/quendle-bench-emptywindow")
    return [("empty Qt window 389x450", [yardstick]),
            ("the same with one label", [yardstick, "--label"])] + \
        [(build.named("quendle"), [build.program("app/quendle")]) for build in context.builds]


def start_each(context, commands):
    """Every program started `runs` times on one virtual display: per program, a list of
    (start-up ms, CPU ms, peak MB)."""
    samples = [[] for _ in commands]
    with virtual_display(context) as display:
        for run in range(context.runs):
            context.log(f"window: run {run + 1} of {context.runs}")
            # A different order each run, so that no program always starts on a warm cache.
            for i in [(run + k) % len(commands) for k in range(len(commands))]:
                samples[i].append(start_once(context, display, commands[i][1]))
    return samples


def medians(samples):
    """The median of each figure over the runs."""
    return [statistics.median(figures) for figures in zip(*samples)]


class Display:
    """An X connection that hears of every top-level window mapped on the virtual screen."""

    def __init__(self, number):
        self.name = f":{number}"
        self.connection = xlib_display.Display(self.name)
        self.root = self.connection.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.connection.sync()

    def drain(self):
        while self.connection.pending_events():
            self.connection.next_event()

    def wait_for_map(self, process, deadline):
        while time.monotonic() < deadline:
            while self.connection.pending_events():
                if self.connection.next_event().type == X.MapNotify:
                    return True
            if process.poll() is not None:
                return False
            select.select([self.connection.fileno()], [], [], 0.05)
        return False


@contextmanager
def virtual_display(context):
    if xlib_display is None:
        raise Skip("python3-xlib is not installed")
    if not shutil.which("Xvfb"):
        raise Skip("Xvfb is not installed")
    reader, writer = os.pipe()
    with child(["Xvfb", "-displayfd", writer, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
               pass_fds=[writer], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL):
        os.close(writer)
        # Xvfb writes the number of the display it took once it accepts clients.
        with os.fdopen(reader) as numbers:
            number = numbers.readline().strip()
        if not number:
            raise Skip("Xvfb did not start")
        display = Display(number)
        try:
            yield display
        finally:
            display.connection.close()


def start_once(context, display, command):
    """Milliseconds until the window is mapped, CPU milliseconds until then, and the peak
    resident memory in MB."""
    environment = dict(os.environ, DISPLAY=display.name, QT_QPA_PLATFORM="xcb")
    display.drain()
    started = time.perf_counter()
    with child(command, env=environment, cwd=context.folder("window"),
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) as process:
        if not display.wait_for_map(process, time.monotonic() + MAP_TIMEOUT_SECONDS):
            raise RuntimeError(f"{command[0]} showed no window")
        mapped = (time.perf_counter() - started) * 1000
        cpu = cpu_ms(process.pid)
        time.sleep(SETTLE_SECONDS)
        peak = peak_memory_mb(process.pid)
    return mapped, cpu, peak


def cpu_ms(pid):
    """How long the threads of the process have run, from the first field of their schedstat."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
                total += int(schedstat.read().split()[0])
        except FileNotFoundError:  # a thread that ended meanwhile
            pass
    return total / 1e6


def peak_memory_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    raise RuntimeError(f"no VmHWM for process {pid}")
