#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy on every source file the default build
# compiles, two at a time; exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json: build first" >&2; exit 2; }

# The project's own sources, as the build compiled them (generated moc files are Qt's).
mapfile -t files < <(python3 - "$build/compile_commands.json" "$PWD" <<'PY'
import json, sys, os
root = sys.argv[2]
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root + "/") and "/build" not in path[len(root):] and path not in seen:
        seen.add(path)
        print(path)
PY
)
# Nothing to do when no source, header, configuration or the tool's release changed since the
# last clean run (a newer clang-tidy brings newer checks).
stamp="$build/.tidy-clean"
key=$(find src esptool esp32sim demo tests tools bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) \
          -print0 2>/dev/null | sort -z | xargs -0 sha256sum |
          cat - .clang-tidy tests/.clang-tidy <(clang-tidy --version) | sha256sum)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
    echo "clang-tidy: nothing changed since the last clean run"
    exit 0
fi
echo "clang-tidy: ${#files[@]} files"
log=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$log" "$errors"' EXIT
printf '%s\0' "${files[@]}" |
    xargs -0 -P2 -n4 clang-tidy -p "$build" --quiet >"$log" 2>"$errors" || true
# A configuration clang-tidy cannot read is said on standard error, and checks nothing.
if grep -E 'error:|Error parsing' "$errors" | sort -u; then
    echo "clang-tidy could not run as configured (above)." >&2
    exit 1
fi
if grep -E '(warning|error):' "$log"; then
    echo "clang-tidy found problems (above)." >&2
    exit 1
fi
echo "$key" >"$stamp"
echo "clang-tidy: no findings"
