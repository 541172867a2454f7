"""The benchmark: runs every section and prints its tables.

A section is a folder of bench/ with a section.py whose measure(context) returns a list of
benchkit.Table; a new folder with one is picked up on its own. Progress goes to stderr, the
tables to stdout.

Usage: run.py [--build [LABEL=]DIR]... [--uploads N] [--runs N] [--sections NAME,...]
Several --build options measure several builds side by side (before=DIR after=DIR).
"""
import argparse
import runpy
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree

from benchkit import SOURCE, Build, Context  # noqa: E402


def sections():
    found = {}
    for script in sorted(HERE.glob("*/section.py")):
        name = script.parent.name
        found[name] = runpy.run_path(str(script))["measure"]
    return found


def parse_build(text):
    label, _, path = text.rpartition("=")
    return Build(label, Path(path).resolve())


def main():
    available = sections()
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", action="append", type=parse_build,
                        help="[LABEL=]DIR of a build to measure (default: build)")
    parser.add_argument("--uploads", type=int, default=500, help="uploads per kind (500)")
    parser.add_argument("--runs", type=int, default=9, help="starts of each window (9)")
    parser.add_argument("--sections", default=",".join(available),
                        help=f"which to run, of: {', '.join(available)}")
    arguments = parser.parse_args()
    if arguments.uploads < 1 or arguments.runs < 1:
        parser.error("--uploads and --runs need at least 1")
    chosen = [name for name in arguments.sections.split(",") if name]
    unknown = [name for name in chosen if name not in available]
    if unknown:
        parser.error(f"no section {', '.join(unknown)}")

    builds = arguments.build or [Build("", SOURCE / "build")]
    if len(builds) > 1:
        for build in builds:
            build.label = build.label or build.path.name
    with tempfile.TemporaryDirectory(prefix="quendle-bench-") as scratch:
        context = Context(builds, arguments.uploads, arguments.runs, Path(scratch))
        for name in chosen:
            for table in available[name](context):
                print(table.render(), end="\n\n", flush=True)


if __name__ == "__main__":
    main()
