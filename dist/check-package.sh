#!/usr/bin/env bash
# Installs the Debian package with apt as a user would, starts the programs as an ordinary user
# (the window on a virtual X server, where a click on Save must write the page into the user's
# data folder), then removes the package again. Needs root; CI runs it after the tests, which
# leave the package in BUILD/package. Usage: check-package.sh [BUILD]
set -euo pipefail
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
build=$(realpath "${1:-build}")
cd "$(dirname "$0")/.."
deb=$(echo "$build"/package/quendle_*.deb)
[ -f "$deb" ] || { echo "no package in $build/package: run ./quendle.sh test first" >&2; exit 1; }
if dpkg-query -W -f='${Status}' quendle 2>/dev/null | grep -q "ok installed"; then
    echo "quendle is installed already; remove it first" >&2
    exit 1
fi

work=$(mktemp -d)
chmod 755 "$work" # the user's home folder lies inside
xvfb=
quendle=
cleanup() {
    [ -z "$quendle" ] || kill "$quendle" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quendle >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; exit 1; }
echo "installed $(basename "$deb")"

# nobody, with a home folder of its own and nothing else of root's environment.
home=$work/home
mkdir "$home" && chown 65534:65534 "$home"
# One process chain of execs, so that $! of a program started in the background is its own.
as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups
    env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8)

version=$("${as_user[@]}" quendle-publish --version)
[ -n "$version" ] || { echo "quendle-publish --version says nothing"; exit 1; }
echo "quendle-publish --version: $version"

# Read whole first: grep -q stops at its match, and under pipefail man's SIGPIPE would fail it.
manual=$("${as_user[@]}" man -P cat quendle 2>/dev/null)
grep -q XDG_DATA_HOME <<<"$manual" || { echo "man quendle does not show the page"; exit 1; }

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; exit 1; }
DISPLAY=:$(cat "$work/display")
export DISPLAY

"${as_user[@]}" DISPLAY="$DISPLAY" quendle 2>"$work/quendle.log" &
quendle=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quendle IP Publisher$' | head -1)
[ -n "$window" ] || { echo "no window"; cat "$work/quendle.log"; exit 1; }

# Save sits at (230, 424), 40 x 19, in the window.
xdotool mousemove --window "$window" 250 433 click 1
page=$home/.local/share/quendle/quendle.htm
for _ in $(seq 50); do [ -s "$page" ] && break; sleep 0.1; done
[ -s "$page" ] || { echo "Save wrote no $page"; cat "$work/quendle.log"; exit 1; }
[ "$(stat -c %U "$page")" = nobody ] || { echo "$page is not the user's"; exit 1; }
grep -q "http://" "$page" || { echo "$page is not the online page:"; cat "$page"; exit 1; }
echo "the window saved $(wc -c <"$page") bytes into ~/.local/share/quendle/quendle.htm"

# EXIT at (340, 423), 37 x 16, ends the program.
xdotool mousemove --window "$window" 358 431 click 1
for _ in $(seq 50); do kill -0 "$quendle" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$quendle" 2>/dev/null; then
    echo "EXIT did not end the window"
    exit 1
fi
wait "$quendle" || { echo "the window ended with status $?"; cat "$work/quendle.log"; exit 1; }
quendle=
echo "package check passed"
