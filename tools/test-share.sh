#!/usr/bin/env bash
# How much of the project's code is tests, as information for whoever changes it: the owner asks
# for roughly a quarter to a third. Counts lines that hold more than blanks or a comment, in the
# C++, Python and shell files git tracks. Tests are everything under tests/ and fuzz/ (and any
# other tests/ folder, tst_* or *Test.cpp file); benchmarks (bench/) count as neither.
#   tools/test-share.sh [REPO]
set -euo pipefail
cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}"

git ls-files -- '*.cpp' '*.h' '*.hpp' '*.c' '*.py' '*.sh' ':!bench/' | awk '
    {
        test = $0 ~ /^(tests|fuzz)\// || $0 ~ /(^|\/)tests?\// || $0 ~ /(^|\/)tst_[^\/]*$/ ||
               $0 ~ /Tests?\.cpp$/
        while ((getline line < $0) > 0)
            if (line !~ /^[ \t]*($|\/\/|#|\/\*|\*)/)
                count[test]++
        close($0)
    }
    END {
        total = count[0] + count[1]
        printf "Code lines: product %d, tests %d; tests are %d%% of all code.\n",
               count[0], count[1], total ? int(100 * count[1] / total) : 0
    }'
