#!/usr/bin/env bash
# One entry point for a newcomer on Debian 12:
#   tools/dev.sh run    install what is missing, build, start the app
#   tools/dev.sh test   install what is missing, build, run the whole test suite, clang-tidy,
#                       and the test suite again under AddressSanitizer + UBSan; as root also
#                       the Debian package, installed into a throwaway root and used there
# Both are idempotent: packages are installed only when absent, and the builds are incremental.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(g++ cmake make qt6-base-dev qt6-serialport-dev libudev-dev zlib1g-dev
          xvfb xauth fonts-dejavu-core)
test_packages=(clang-tidy appstream desktop-file-utils dpkg-dev)

install_missing_packages() {
    local missing=() p
    for p in "$@"; do
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

# True when the files' contents are those of the last run that passed under this name; the
# caller records a pass with mark_passed.
unchanged_since_pass() {
    local name=$1
    shift
    stamp_key=$(cat "$@" | sha256sum)
    [ -f "build/.$name-passed" ] && [ "$(cat "build/.$name-passed")" = "$stamp_key" ]
}
mark_passed() { echo "$stamp_key" >"build/.$1-passed"; }

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
    install_missing_packages "${packages[@]}"
    build default
    run_app
    ;;
test)
    install_missing_packages "${packages[@]}" "${test_packages[@]}"
    build default
    ctest --preset default
    tools/tidy.sh build
    build asan
    ctest --preset asan
    if [ "$(id -u)" -ne 0 ]; then
        echo "Package test skipped: it needs root (debootstrap, chroot)."
    elif unchanged_since_pass package-test build/bin/tavix-flash-tool build/bin/resources/* \
            build/bin/esp32-sim resources/linux/*.* resources/linux/debian/* \
            cmake/TavixPackaging.cmake tools/package-test.sh; then
        echo "Package test: nothing changed since it last passed."
    else
        tools/package.sh
        tools/package-test.sh
        mark_passed package-test
    fi
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
