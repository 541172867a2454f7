"""Checks that includes between the folders run the way the link lines do: down only.

Usage: checkincludes.py SOURCE_ROOT

Each folder below is one target; it may include its own headers and those of the folders (or,
where only an interface target is linked, the single headers) it lists. libcurl's header may be
included only by the sources of the targets that link libcurl (and base/curlglobal.cpp, libcurl's
one global initialisation), never by a header. Prints one
line per wrong include, "file:line: includes X" with the reason, and exits 1 if there is any.
"""
import pathlib
import re
import sys

CORE = ["base"]
TRANSFER = ["ftp/transferclient.h"]  # the INTERFACE target quendle_transfer
ALLOWED = {
    "base": [],
    "page": CORE,
    "appcore": CORE,
    "ftp": CORE,
    "address": CORE,
    "address/web": CORE + ["address"],
    "address/router": CORE + ["address"],
    "publish": CORE + ["page"] + TRANSFER,
    "dns": CORE + ["address", "address/web"],
    "service": CORE + ["page", "ftp", "address", "address/web", "address/router", "publish",
                       "dns"],
    "ftpmodule": CORE + ["ftp"],
    # The module's entry point is the one header the loader shares with it.
    "ftploader": CORE + TRANSFER + ["ftpmodule/transfermodule.h"],
    "cli": CORE + ["page", "ftp", "address", "address/web", "address/router", "publish", "dns",
                   "service"],
    "ui": CORE + ["page", "publish"] + TRANSFER,
    "editor": CORE + ["page", "appcore", "publish", "ui"] + TRANSFER,
    "app": CORE + ["page", "appcore", "address", "publish", "ftploader", "ui", "editor"]
           + TRANSFER,
}
LINKS_CURL = {"ftp", "address/web"}
# base/ is header-only but for libcurl's one global initialisation, a target of its own that the
# two above link privately.
CURL_FILES = {"base/curlglobal.cpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def folder_of(path):
    """The folder (target) a project path belongs to: the longest one that holds it."""
    parts = pathlib.PurePosixPath(path).parts[:-1]
    for length in range(len(parts), 0, -1):
        folder = "/".join(parts[:length])
        if folder in ALLOWED:
            return folder
    return None


def problems(root):
    for folder in sorted(ALLOWED):
        for file in sorted((root / folder).glob("*")):
            if file.suffix not in (".h", ".cpp"):
                continue
            name = file.relative_to(root).as_posix()
            for number, line in enumerate(file.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                quote, included = match.groups()
                where = "%s:%d: includes %s" % (name, number, included)
                if quote == "<":
                    if included.startswith("curl/") and name not in CURL_FILES and (
                            folder not in LINKS_CURL or file.suffix == ".h"):
                        yield where + ": only the sources of the targets that link libcurl use it"
                    continue
                target = folder_of(included)
                if target is None or target == folder:
                    continue
                if target not in ALLOWED[folder] and included not in ALLOWED[folder]:
                    yield where + ": %s/ may not include %s/" % (folder, target)


def main():
    found = list(problems(pathlib.Path(sys.argv[1])))
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
