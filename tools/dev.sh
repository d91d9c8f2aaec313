#!/usr/bin/env bash
# Installs what the build needs (Debian 12), builds Kestrel, then either runs
# it or runs every test.
#
#   tools/dev.sh run [ARGS...]   build, then start the desktop program kestrel
#   tools/dev.sh cli [ARGS...]   build, then run kestrel-cli (with ARGS, or --help)
#   tools/dev.sh test            build, then run the whole test suite
#   tools/dev.sh build           build only
set -euo pipefail

cd "$(dirname "$0")/.."

packages=(g++ make cmake libsqlite3-dev libgtest-dev libgmock-dev qt6-base-dev qt6-svg-dev fonts-dejavu-core)

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

mode="${1:-test}"
[ $# -gt 0 ] && shift
install_missing
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
    build) ;;
    *)
        echo "usage: tools/dev.sh run | cli [ARGS...] | test | build" >&2
        exit 2
        ;;
esac
