#!/usr/bin/env bash
# Installs the Debian package into a throwaway minimal Debian root made with debootstrap and uses
# it there as a new user would: the app starts (offscreen, then on a virtual display), installs its
# flasher into the user's fresh data folder, lists a board and, when "Burn" is clicked, flashes
# it. The board is esp32-sim behind a /dev/ttyUSB name; the root has no /sys, so the app lists
# ports from /dev as it does wherever the device registry cannot be read.
#
# usage (as root): tools/package-test.sh [--release NAME] [DEB]
#   --release  the Debian release of the root (bookworm, trixie); default: this machine's. The one
#              amd64 package serves Debian 12 and 13, so the package built here is tried on both.
#   MIRROR=... overrides the Debian mirror.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
. tools/debian-root.sh

[ "$(id -u)" -eq 0 ] || { echo "package-test: needs root (debootstrap, chroot, mounts)" >&2; exit 2; }
release=$(debian_release)
if [ "${1:-}" = --release ]; then
    release=${2:?"package-test: --release needs a name (bookworm, trixie)"}
    shift 2
fi
deb=${1:-$(ls build/package/tavix-flash-tool_*.deb 2>/dev/null | tail -n1)}
[ -f "$deb" ] || { echo "package-test: no package; run tools/package.sh first" >&2; exit 2; }
sim=build/bin/esp32-sim
[ -x "$sim" ] || { echo "package-test: no $sim; build the tests first" >&2; exit 2; }

root=$(mktemp -d /var/tmp/tavix-root.XXXXXX)
trap 'remove_debian_root "$root"' EXIT
step() { printf '\n== %s\n' "$*"; }
# env -i keeps this machine's environment out, so apt is told here that nobody answers questions.
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
                DEBIAN_FRONTEND=noninteractive "$@"; }
as_user() { chroot --userspec="$uid:$uid" "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin \
                HOME=/home/flasher USER=flasher LANG=C.UTF-8 "$@"; }

step "debootstrap $release into $root"
SECONDS=0
make_debian_root "$release" "$root" || { echo "package-test: no $release root" >&2; exit 1; }
echo "done in ${SECONDS}s"

step "apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root apt-get update -q >/dev/null
in_root apt-get install -y -q --no-install-recommends \
    "/tmp/$(basename "$deb")" xvfb xauth xdotool procps desktop-file-utils >/dev/null
in_root dpkg -s tavix-flash-tool | grep -E '^(Status|Version|Depends):'
in_root sh -c 'command -v tavix-flash-tool'
in_root desktop-file-validate /usr/share/applications/com.tavix.FlashTool.desktop
in_root sh -c 'grep "^Exec=" /usr/share/applications/com.tavix.FlashTool.desktop'
install -m 0755 "$sim" "$root/usr/local/bin/esp32-sim"
in_root useradd --create-home --user-group flasher
uid=$(in_root id -u flasher)

data="/home/flasher/.local/share/Tavix Flash Tool/esptool"
step "the installed app starts offscreen and installs its flasher for a fresh user"
status=0
as_user env QT_QPA_PLATFORM=offscreen timeout 5 tavix-flash-tool >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || { echo "the app ended early (status $status)"; exit 1; }
ls -l "$root$data"
[ -x "$root$data/esptool_amd64" ] || [ -x "$root$data/esptool_arm64" ] ||
    { echo "no flasher installed in $data"; exit 1; }
rm -rf "$root/home/flasher/.local"

step "a simulated board behind /dev/ttyUSB9"
as_user sh -c 'esp32-sim --dump /tmp/flash.bin >/tmp/sim.out 2>&1 & echo $! >/tmp/sim.pid'
for _ in $(seq 50); do [ -s "$root/tmp/sim.out" ] && break; sleep 0.1; done
port=$(head -n1 "$root/tmp/sim.out")
echo "esp32-sim on $port"
ln -sf "$port" "$root/dev/ttyUSB9"

step "start the app on a virtual display and click Burn"
cat >"$root/tmp/burn.sh" <<'SCRIPT'
#!/bin/sh
set -eu
tavix-flash-tool >/tmp/app.log 2>&1 &
app=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^Tavix Flash Tool$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "no window"; exit 1; }
sleep 1
xdotool getwindowgeometry "$window"
# "Burn" spans x 16-340, y 350-402 of the window's 900 x 630.
xdotool mousemove --window "$window" 178 376 click 1
# The flasher runs as a child of the app; wait for it to come and go. The root shares the
# machine's processes, so only the app's own child counts: other flashers may be running there.
for _ in $(seq 100); do pgrep -P $app -f esptool_ >/dev/null && break; sleep 0.1; done
pgrep -a -P $app -f esptool_ || { echo "the flasher never started"; kill $app; exit 1; }
for _ in $(seq 600); do pgrep -P $app -f esptool_ >/dev/null || break; sleep 0.2; done
sleep 0.5
kill $app
SCRIPT
chmod +x "$root/tmp/burn.sh"
as_user xvfb-run -a -s "-screen 0 1280x800x24" /tmp/burn.sh
kill -TERM "$(cat "$root/tmp/sim.pid")"
for _ in $(seq 50); do [ -s "$root/tmp/flash.bin" ] && break; sleep 0.1; done

step "the simulated flash holds the installed firmware image"
image="$root/usr/share/tavix-flash-tool/UIFlow-core2-Tavix-V2.2-0x0.bin"
size=$(stat -c %s "$image")
cmp -n "$size" "$image" "$root/tmp/flash.bin"
ls -l "$root$data"
echo "OK on $release: installed, started, flasher installed for the user, board flashed ($size bytes)"
