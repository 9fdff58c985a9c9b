#!/usr/bin/env bash
# Installs the build into a throwaway prefix, starts the installed app offscreen with an empty
# home, and checks that it found its flasher in <prefix>/share/tavix-flash-tool and installed it
# into the user's data folder, as it does when the window appears.
#   installed_tree_test.sh BUILD [EMULATOR...]   the emulator runs the app of a cross build
set -euo pipefail
build=$1
shift
emulator=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/some/where"
cmake --install "$build" --prefix "$prefix" >/dev/null

ls "$prefix/share/tavix-flash-tool"
# Emulated, the app starts several times slower than natively, and the machine may be busy.
seconds=5
((${#emulator[@]} == 0)) || seconds=20
status=0
env -i PATH=/usr/bin:/bin HOME="$scratch/home" QT_QPA_PLATFORM=offscreen \
    timeout "$seconds" "${emulator[@]}" "$prefix/bin/tavix-flash-tool" >"$scratch/app.log" 2>&1 ||
    status=$?
if [ "$status" -ne 124 ]; then
    echo "the installed app ended early (status $status):"
    cat "$scratch/app.log"
    exit 1
fi
installed=$(find "$scratch/home/.local/share/Tavix Flash Tool/esptool" -name 'esptool_*' -perm -0755)
[ -n "$installed" ] || { echo "the installed app did not install its flasher"; exit 1; }
cmp "$installed" "$prefix/share/tavix-flash-tool/$(basename "$installed")"
echo "OK: $installed"
