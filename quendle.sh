#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds, then starts the program ("run") or runs every
# test ("test": the suite, the suite again under the sanitizers, and the fuzz targets).
set -euo pipefail
cd "$(dirname "$0")"

# One package a line, with what needs it.
build_packages=(
    cmake g++ make
    qt6-base-dev
    libcurl4-openssl-dev
    fonts-liberation2 # a substitute for the window's bitmap font
)
test_packages=(
    googletest libgtest-dev
    python3-pyftpdlib  # the FTP server the network tests start
    locales            # a decimal-comma locale for the number tests
    clang              # the fuzz build
    libclang-rt-14-dev # clang's sanitizer runtimes and libFuzzer
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

# build FOLDER CMAKE-OPTIONS...
build() {
    local folder=$1
    shift
    cmake -S . -B "$folder" "$@"
    cmake --build "$folder" -j"$(nproc)"
}

run_tests() {
    ctest --test-dir "$1" --output-on-failure -j"$(nproc)"
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}"
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
    exec ./build/quendle
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
    run_tests build
    # The same suite under AddressSanitizer and UBSan: any report fails it.
    build build-sanitize -DQUENDLE_SANITIZE=ON -DBUILD_TESTING=ON
    run_tests build-sanitize
    # Each fuzz target for a few seconds on its seeds (the README has the long run).
    build build-fuzz -DQUENDLE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
    run_tests build-fuzz
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
