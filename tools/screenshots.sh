#!/usr/bin/env bash
# Takes pictures of the real window on a virtual X display (Xvfb), flashing a simulated board
# with the bundled flasher: idle with two ports listed,
# a flash under way, a failed flash, and the console hidden. Pictures go to docs/screenshots/
# unless another folder is given.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
output=$(realpath -m "${1:-docs/screenshots}")
mkdir -p "$output"
cmake --build --preset default --target take-screenshots
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x800x24" build/tests/take-screenshots "$output"
