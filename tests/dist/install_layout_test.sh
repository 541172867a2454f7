#!/usr/bin/env bash
# Installs the build into a staging folder as a package would (prefix /usr) and checks that
# exactly the expected files arrive, the man pages render without warnings and the installed
# icons are PNGs of their folder's size. Usage: install_layout_test.sh BUILD FILE...
set -euo pipefail
build=$1
shift
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
status=0
for file in "$@"; do
    [ -f "$stage/usr/$file" ] || { echo "missing: /usr/$file"; status=1; }
done
expected=$(printf '/usr/%s\n' "$@" | sort)
actual=$(cd "$stage" && find . -type f | sed 's/^\.//' | sort)
if [ "$expected" != "$actual" ]; then
    echo "installed files differ from the expected ones:"
    diff <(echo "$expected") <(echo "$actual") || true
    status=1
fi
[ -x "$stage/usr/bin/quendle" ] || { echo "/usr/bin/quendle is not executable"; status=1; }

for page in "$stage"/usr/share/man/man1/*.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; status=1; }
done

for png in "$stage"/usr/share/icons/hicolor/*x*/apps/*.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    described=$(file -b "$png")
    case "$described" in
    "PNG image data, ${size/x/ x }, "*) ;;
    *) echo "$png: $described"; status=1 ;;
    esac
done
exit $status
