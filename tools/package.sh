#!/usr/bin/env bash
# Builds the Debian package from the default build: build/package/tavix-flash-tool_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
[ -f build/CMakeCache.txt ] || cmake --preset default
cmake --build --preset default
(cd build && cpack -G DEB -B "$PWD/package")
ls build/package/*.deb
