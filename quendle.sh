#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds, then starts the program ("run") or runs every
# test ("test").
set -euo pipefail
cd "$(dirname "$0")"

# One package a line, with what needs it.
build_packages=(
    cmake g++ make
    qt6-base-dev
    libcurl4-openssl-dev
    fonts-liberation2  # a substitute for the window's bitmap font
    librsvg2-bin       # rsvg-convert renders the icon drawing to PNG
)
test_packages=(
    googletest libgtest-dev
    python3-pyftpdlib  # the FTP server the network tests start
    locales            # a decimal-comma locale for the number tests
    desktop-file-utils # desktop-file-validate checks the desktop entry
    appstream          # appstreamcli checks the AppStream data
    man-db             # man checks that the man pages render without warnings
    dpkg-dev           # dpkg-shlibdeps computes the package's Depends
    file               # CPack finds the binaries for dpkg-shlibdeps with it
    xvfb               # the virtual X server of dist/check-package.sh
    xdotool            # clicks Save in the installed window in dist/check-package.sh
)

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build build -j"$(nproc)"
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}"
    build -DBUILD_TESTING=OFF
    exec ./build/quendle
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build -DBUILD_TESTING=ON
    ctest --test-dir build --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
