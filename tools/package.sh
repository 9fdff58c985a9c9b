#!/usr/bin/env bash
# Builds the Debian package from a build:
#   tools/package.sh          build/package/tavix-flash-tool_<version>_<arch>.deb (this machine's)
#   tools/package.sh arm64    build-arm64/package/tavix-flash-tool_<version>_arm64.deb
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
preset=${1:-default}
dir=build
[ "$preset" = default ] || dir=build-$preset
[ -f "$dir/CMakeCache.txt" ] || cmake --preset "$preset"
cmake --build --preset "$preset"
(cd "$dir" && cpack -G DEB -B "$PWD/package")
ls "$dir"/package/*.deb
