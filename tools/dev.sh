#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the build needs (Debian 12), builds Kestrel, then either runs
# it or runs every test.
#
#   tools/dev.sh run [ARGS...]   build, then start the desktop program kestrel
#   tools/dev.sh cli [ARGS...]   build, then run kestrel-cli (with ARGS, or --help)
#   tools/dev.sh test            build, then run the whole test suite
#   tools/dev.sh sanitize        build the core, kestrel-cli and their tests with
#                                AddressSanitizer and UndefinedBehaviorSanitizer
#                                in build-asan (no Qt), then run those tests
#   tools/dev.sh package         build, then make the Debian package
#                                build/kestrel_<version>_<arch>.deb with cpack
#   tools/dev.sh build           build only
set -euo pipefail

cd "$(dirname "$0")/.."

packages=(g++ make cmake pkg-config libsqlite3-dev libblkid-dev libarchive-dev libgtest-dev libgmock-dev qt6-base-dev qt6-svg-dev fonts-dejavu-core python3
    # What the volume tests make and mount their disk images with.
    util-linux mount e2fsprogs xfsprogs dosfstools
    # What the archive tests make archives with, and list them with to compare.
    libarchive-tools p7zip-full xorriso cpio zstd)
# What making the package needs (dpkg-shlibdeps), and what tools/check-package.sh
# checks it with.
package_tools=(dpkg-dev file appstream desktop-file-utils groff-base mandoc lintian)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "dev.sh: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
        sudo=(sudo)
    fi
    echo "dev.sh: installing ${missing[*]}" >&2
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$(nproc)"
}

# Any finding ends the process with its own status, so a test that expects
# kestrel-cli to exit 1 or 2 cannot mistake a finding for that answer;
# -fno-sanitize-recover makes UBSan stop at its first finding too.
sanitize() {
    local flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all -D_GLIBCXX_ASSERTIONS"
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTREL_GUI=OFF -DKESTREL_BUILD_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
    export ASAN_OPTIONS="detect_leaks=1:exitcode=86:detect_stack_use_after_return=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=87"
    cmake --build build-asan -j "$(nproc)"
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
}

mode="${1:-test}"
[ $# -gt 0 ] && shift
[ "$mode" = package ] && packages+=("${package_tools[@]}")
install_missing
if [ "$mode" = sanitize ]; then
    sanitize
    exit
fi
build
case "$mode" in
    run)
        exec ./build/kestrel "$@"
        ;;
    cli)
        if [ $# -eq 0 ]; then set -- --help; fi
        exec ./build/cli/kestrel-cli "$@"
        ;;
    test)
        exec ctest --test-dir build --output-on-failure -j "$(nproc)"
        ;;
    package)
        cd build
        exec cpack -G DEB
        ;;
    build) ;;
    *)
        echo "usage: tools/dev.sh run | cli [ARGS...] | test | sanitize | package | build" >&2
        exit 2
        ;;
esac
