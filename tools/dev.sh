#!/usr/bin/env bash
# One entry point for a newcomer on Debian 12:
#   tools/dev.sh run    install what is missing, build, start the app
#   tools/dev.sh test   install what is missing, build, run the whole test suite
# Both are idempotent: packages are installed only when absent, and the build is incremental.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(g++ cmake make qt6-base-dev qt6-serialport-dev libudev-dev zlib1g-dev
          xvfb xauth fonts-dejavu-core)

install_missing_packages() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {
    local preset=$1 dir=build
    [ "$preset" = default ] || dir=build-$preset
    [ -f "$dir/CMakeCache.txt" ] || cmake --preset "$preset"
    cmake --build --preset "$preset"
}

run_app() {
    local app=build/bin/tavix-flash-tool
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display found: starting the app inside Xvfb."
        exec xvfb-run -a -s "-screen 0 1280x800x24" "$app"
    fi
    exec "$app"
}

case "${1:-}" in
run)
    install_missing_packages
    build default
    run_app
    ;;
test)
    install_missing_packages
    build default
    ctest --preset default
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
