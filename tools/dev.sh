#!/usr/bin/env bash
# One entry point for a newcomer on Debian 12:
#   tools/dev.sh run    install what is missing, build the app and what it runs, start it
#   tools/dev.sh demo [--fault NAME]
#                       the same for the demo: the app's window over a simulated ESP32 that is
#                       as slow as a real board (and commits the fault NAME); --help lists faults
#   tools/dev.sh test   install what is missing, build, run the whole test suite, again under
#                       three font configurations, the port and window tests with the port
#                       lister of the other platforms, clang-tidy, and the suite under
#                       AddressSanitizer + UBSan; as root also the Debian package, installed
#                       into a throwaway root and used there; at the end it prints how much of
#                       the code is tests
#   tools/dev.sh arm64  add Debian's arm64 architecture and install the cross compiler, Qt,
#                       libudev and zlib for arm64 and qemu-user (about 1 GB), cross-build for
#                       64-bit Arm, make the arm64 package and run the test suite under qemu-user,
#                       the children the tests start included (tests/support/emulation)
#   tools/dev.sh debian13
#                       as root: the test command above in a throwaway minimal Debian 13 root on a
#                       clean clone of the committed HEAD (tools/debian-root-test.sh), then the
#                       package built here installed and used in a fresh Debian 13 root
# All are idempotent: packages are installed only when absent, and the builds are incremental.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(g++ cmake make qt6-base-dev qt6-serialport-dev libudev-dev zlib1g-dev
          xvfb xauth fonts-dejavu-core)
# clang-tidy and python3: tools/tidy.sh; appstream, desktop-file-utils: the packaging tests;
# the fonts: the font configurations; file, dpkg-dev (dpkg-shlibdeps), debootstrap: the package
# step; Qt's private headers: the window tests switch accessibility on under the offscreen
# platform to see what a screen reader is told.
test_packages=(clang-tidy python3 appstream desktop-file-utils fonts-noto-mono fonts-liberation2
               file dpkg-dev debootstrap qt6-base-private-dev)
arm64_packages=(g++-aarch64-linux-gnu qemu-user-static file
                qt6-base-dev:arm64 qt6-serialport-dev:arm64 libudev-dev:arm64 zlib1g-dev:arm64)

install_missing_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -q
    # Packages of two architectures must be of one version; should that ever ask apt to remove
    # something this machine has, stop and leave the choice to its owner.
    local removals
    removals=$(apt-get install -s -q --no-install-recommends "${missing[@]}" | sed -n 's/^Remv //p')
    if [ -n "$removals" ]; then
        printf 'Installing %s would remove:\n%s\nStopped; nothing was changed.\n' \
            "${missing[*]}" "$removals" >&2
        exit 1
    fi
    as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

add_arm64_architecture() {
    dpkg --print-foreign-architectures | grep -qx arm64 && return 0
    echo "Adding the arm64 architecture to dpkg"
    as_root dpkg --add-architecture arm64
}

# Every program in the package must be built for the package's architecture.
check_package_binaries() {
    local deb=$1 arch=$2 root wrong
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    wrong=$(find "$root" -type f -exec file {} + | grep ': *ELF' | grep -v "$arch" || true)
    rm -rf "$root"
    if [ -n "$wrong" ]; then
        printf 'Not built for %s:\n%s\n' "$arch" "$wrong" >&2
        exit 1
    fi
}

# build PRESET [--target NAME]: the whole tree, or only NAME and what it needs.
build() {
    local preset=$1 dir=build
    shift
    [ "$preset" = default ] || dir=build-$preset
    [ -f "$dir/CMakeCache.txt" ] || cmake --preset "$preset"
    cmake --build --preset "$preset" "$@"
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

# timed COMMAND...: runs it and notes how long it took, for the list that test prints at its end
# (CI's time is read off that list).
step_times=()
timed() {
    local started=$SECONDS what="$*"
    "$@"
    step_times+=("$(printf '%4d s  %s' $((SECONDS - started)) "${what:0:72}")")
}
print_step_times() {
    echo "== Time of each step"
    printf '%s\n' "${step_times[@]}"
    printf '%4d s  in all\n' "$SECONDS"
}

# The Debian package, installed into a throwaway root of the release named (default: this
# machine's) and used there; skipped when nothing it depends on changed since it last passed there.
test_package() {
    local release=${1:-} name=package-test${1:+-$1}
    if unchanged_since_pass "$name" build/bin/tavix-flash-tool build/bin/resources/* \
            build/bin/esp32-sim resources/linux/*.* resources/linux/debian/* \
            cmake/TavixPackagingLinux.cmake tools/package-test.sh tools/debian-root.sh; then
        echo "Package test${release:+ on $release}: nothing changed since it last passed."
        return 0
    fi
    tools/package.sh
    tools/package-test.sh ${release:+--release "$release"}
    mark_passed "$name"
}

need_root() {
    [ "$(id -u)" -eq 0 ] && return 0
    echo "tools/dev.sh $1 needs root (debootstrap, chroot, mounts): run it as root, e.g. with sudo." >&2
    exit 2
}

run_app() {
    local app=build/bin/tavix-flash-tool
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display found: starting the app inside Xvfb."
        exec xvfb-run -a -s "-screen 0 1280x800x24" "$app"
    fi
    exec "$app"
}

run_demo() {
    local demo=$PWD/build/bin/tavix-flash-tool-demo
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec "$demo" "$@"
    fi
    echo "No display found: starting the demo inside Xvfb."
    # Once the demo says that it is up, how to look at its window.
    # shellcheck disable=SC2016
    exec xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
        "$0" "$@" | while IFS= read -r line; do
            printf "%s\n" "$line"
            case $line in "The demo (pid "*)
                printf "A screenshot of the virtual display:\n  %s\n" \
                    "DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY $0 --screenshot demo.png"
            esac
        done
        exit "${PIPESTATUS[0]}"' "$demo" "$@"
}

case "${1:-}" in
run)
    install_missing_packages "${packages[@]}"
    build default --target tavix_app
    run_app
    ;;
demo)
    shift
    install_missing_packages "${packages[@]}"
    build default --target tavix_demo
    run_demo "$@"
    ;;
test)
    timed install_missing_packages "${packages[@]}" "${test_packages[@]}"
    timed build default
    timed ctest --preset default
    timed test_with_fonts
    timed test_qt_port_lister
    timed tools/tidy.sh build
    timed build asan
    timed ctest --preset asan
    if [ "$(id -u)" -ne 0 ]; then
        echo "Package test skipped: it needs root (debootstrap, chroot)."
    else
        timed test_package
    fi
    # Information for whoever changes the code, not a gate.
    tools/test-share.sh || true
    print_step_times
    ;;
arm64)
    add_arm64_architecture
    install_missing_packages "${packages[@]}" "${test_packages[@]}" "${arm64_packages[@]}"
    build arm64
    tools/package.sh arm64
    for deb in build-arm64/package/*_arm64.deb; do
        check_package_binaries "$deb" "ARM aarch64"
        echo "$deb: every program in it is built for ARM aarch64"
    done
    ctest --preset arm64
    # What emulation cannot show is skipped with its reason; say so where the run is read.
    grep -h '^SKIP' build-arm64/Testing/Temporary/LastTest.log || true
    ;;
debian13)
    need_root debian13
    timed install_missing_packages git debootstrap
    timed tools/debian-root-test.sh trixie "tools/dev.sh test"
    # The one amd64 package serves both releases: the one built here, on a fresh Debian 13.
    timed install_missing_packages "${packages[@]}" "${test_packages[@]}"
    timed test_package trixie
    print_step_times
    ;;
*)
    echo "usage: $0 run|demo [--fault NAME]|test|arm64|debian13" >&2
    exit 2
    ;;
esac
