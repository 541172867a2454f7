#!/usr/bin/env bash
# Builds the Debian package with CPack into BUILD/package and checks its control fields, that its
# Depends were computed from the binaries, and that it carries the installed files. The package
# stays there for dist/check-package.sh. Usage: deb_package_test.sh BUILD VERSION
set -euo pipefail
build=$1
version=$2
out=$build/package
rm -rf "$out"
mkdir -p "$out"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; exit 1; }
rm -rf "$out/_CPack_Packages"
deb=$(echo "$out"/quendle_"$version"_*.deb)
[ -f "$deb" ] || { echo "no package quendle_${version}_*.deb"; ls "$out"; exit 1; }

status=0
field() { dpkg-deb --field "$deb" "$1"; }
expect() {
    [ "$(field "$1")" = "$2" ] || { echo "$1: '$(field "$1")', expected '$2'"; status=1; }
}
expect Package quendle
expect Version "$version"
expect Section net
expect Maintainer "The Quendle developers <quendle@example.com>"
expect Architecture "$(dpkg --print-architecture)"
# Read whole first: grep -q stops reading at its match, and under pipefail the writer's SIGPIPE
# would fail the check now and then.
description=$(field Description)
grep -q "home machine's changing Internet address" <<<"$description" ||
    { echo "Description: $description"; status=1; }
# Computed from the linked libraries, with the versions the build saw.
depends=$(field Depends)
for package in libc6 libcurl4 libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6; do
    [[ ", $depends," == *", $package ("* ]] || { echo "Depends lacks $package: $depends"; status=1; }
done
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/bin/quendle ./usr/share/applications/com.example.quendle.desktop; do
    grep -q " $file\$" <<<"$contents" || { echo "package lacks $file"; status=1; }
done
exit $status
