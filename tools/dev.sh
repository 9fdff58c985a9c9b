#!/usr/bin/env bash
# One entry point for a newcomer on Debian 12:
#   tools/dev.sh run    install what is missing, build, start the app
#   tools/dev.sh test   install what is missing, build, run the whole test suite, again under
#                       three font configurations, the port and window tests with the port
#                       lister of the other platforms, clang-tidy, and the suite under
#                       AddressSanitizer + UBSan; as root also the Debian package, installed
#                       into a throwaway root and used there
# Both are idempotent: packages are installed only when absent, and the builds are incremental.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(g++ cmake make qt6-base-dev qt6-serialport-dev libudev-dev zlib1g-dev
          xvfb xauth fonts-dejavu-core)
# clang-tidy and python3: tools/tidy.sh; appstream, desktop-file-utils: the packaging tests;
# the fonts: the font configurations; file, dpkg-dev (dpkg-shlibdeps), debootstrap: the package
# step.
test_packages=(clang-tidy python3 appstream desktop-file-utils fonts-noto-mono fonts-liberation2
               file dpkg-dev debootstrap)

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

# The window draws text, so its tests run again with known fonts alone: DejaVu (what every Debian
# desktop has), and Noto Sans Mono and Liberation Mono as the system monospace. Each test run
# checks that the console really got the font named here.
test_with_fonts() {
    local config font
    for config in "dejavu:DejaVu Sans Mono" "noto-mono:Noto Sans Mono" \
                  "liberation-mono:Liberation Mono"; do
        font=${config#*:}
        echo "== Window tests with $font as the system monospace (tests/ui/fonts/${config%%:*}.conf)"
        FONTCONFIG_FILE="$PWD/tests/ui/fonts/${config%%:*}.conf" TAVIX_MONOSPACE="$font" \
            ctest --preset default -L ui
    done
}

# The port lister of every other platform (QSerialPortInfo), built here so that it never rots.
# With no USB adapter on the machine this proves little beyond building and linking.
test_qt_port_lister() {
    local dir=build-qtlister
    echo "== Port and window tests with -DTAVIX_PORT_LISTER=qt"
    [ -f "$dir/CMakeCache.txt" ] ||
        cmake --preset default -B "$dir" -DTAVIX_PORT_LISTER=qt -DTAVIX_BUILD_BENCHMARKS=OFF
    cmake --build "$dir" -j2 --target tavix_tests_ports tavix_tests_ui
    ctest --test-dir "$dir" -L 'ports|ui' --output-on-failure
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
    install_missing_packages "${packages[@]}"
    build default
    run_app
    ;;
test)
    install_missing_packages "${packages[@]}" "${test_packages[@]}"
    build default
    ctest --preset default
    test_with_fonts
    test_qt_port_lister
    tools/tidy.sh build
    build asan
    ctest --preset asan
    if [ "$(id -u)" -ne 0 ]; then
        echo "Package test skipped: it needs root (debootstrap, chroot)."
    elif unchanged_since_pass package-test build/bin/tavix-flash-tool build/bin/resources/* \
            build/tests/support/esp32-sim resources/linux/*.* resources/linux/debian/* \
            cmake/TavixPackagingLinux.cmake tools/package-test.sh; then
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
