#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds, then starts the program ("run"), runs every
# test ("test": the suite, the suite again under the sanitizers, and the fuzz targets) or runs the
# benchmark ("bench", options after it go to bench/run.py).
set -euo pipefail
cd "$(dirname "$0")"

# One package a line, with what needs it.
build_packages=(
    cmake g++ make
    qt6-base-dev
    libcurl4-openssl-dev
    libssl-dev        # reading the server's certificate during the TLS handshake
    fonts-liberation2 # a substitute for the window's bitmap font
    librsvg2-bin      # rsvg-convert renders the icon drawing to PNG
    libminiupnpc-dev  # UPnP IGD: the router's address and port mappings for quendle-publish
    libnatpmp-dev     # NAT-PMP: the same from routers that speak it instead
    libsystemd-dev    # sd_notify: readiness, status and watchdog of quendle-publish's units
    pkgconf           # finds libsystemd and ldns for CMake
    libldns-dev       # DNS names: builds, signs (TSIG), sends and reads DNS UPDATE messages
    libxml2-dev       # its HTML parser finds the links of a page read back after an upload
)
test_packages=(
    googletest libgtest-dev
    python3-pyftpdlib # the FTP server the network tests start
    python3-openssl   # FTP over TLS in that server
    openssl           # a throw-away certificate authority made at test time
    openssh-server    # the SFTP server the tests start
    openssh-client    # ssh-keygen: host keys and known_hosts in the SFTP tests
    locales           # a decimal-comma locale for the number tests
    iproute2          # ip: the veth pairs of the tests in network namespaces
    miniupnpd         # the router of the router tests (its install starts no service)
    miniupnpd-nftables # its nftables backend, which works in a user network namespace
    nftables          # nft: the tables miniupnpd keeps its port mappings in
    miniupnpc         # upnpc: the router tests list the router's mappings with it
    desktop-file-utils # desktop-file-validate checks the desktop entry
    appstream         # appstreamcli checks the AppStream data
    man-db            # man checks that the man pages render without warnings
    dpkg-dev          # dpkg-shlibdeps computes the package's Depends
    file              # CPack finds the binaries for dpkg-shlibdeps with it
    xvfb              # the virtual X server of dist/check-package.sh
    xdotool           # clicks Save in the installed window in dist/check-package.sh
    clang             # the fuzz build
    libclang-rt-14-dev # clang's sanitizer runtimes and libFuzzer
    libidn2-dev       # the host fuzz target maps names with IDNA as libcurl does
    knot              # knotd: the authoritative DNS server the DNS tests update
    knot-dnsutils     # kdig and knsupdate: the DNS tests read the zone back and apply updates
)
bench_packages=(
    curl              # the one-shot upload the benchmark compares Publish with
    python3-pyftpdlib # an FTP server the benchmark starts on loopback
    vsftpd            # another one, started by the benchmark on a loopback port of its own
    python3-openssl   # FTP over TLS in pyftpdlib
    openssl           # the throw-away certificate authority of the FTP over TLS rows
    openssh-server    # the sshd of the SFTP rows
    openssh-client    # ssh-keygen: the host key of that sshd
    iproute2          # ip: the veth of the publisher's address-change measurement
    xvfb              # a virtual X server for the window's start-up and memory
    python3-xlib      # to hear when a window is mapped
    knot              # knotd: the DNS server of the dns section
    knot-dnsutils     # kdig: the dns section waits for knotd with it; knsupdate: the names
                      # section puts the records back between runs
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
    exec ./build/app/quendle
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
bench)
    shift
    install_missing "${build_packages[@]}" "${bench_packages[@]}"
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j"$(nproc)" --target bench
    exec /usr/bin/python3 bench/run.py "$@"
    ;;
*)
    echo "usage: $0 run|test|bench [benchmark options]" >&2
    exit 2
    ;;
esac
