#!/usr/bin/env bash
# coverage.sh [BUILD_DIR]: runs every test of a coverage build (preset
# coverage, default build/coverage) and prints the line and branch coverage
# of the library (lib/), the reference host layer (host/) and the tool
# (tools/) that the run reached.
#
#   cmake --preset coverage && cmake --build --preset coverage && tests/coverage.sh
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source/build/coverage}" && pwd)

command -v gcovr >/dev/null || {
    apt-get install -y -q --no-install-recommends gcovr ||
        { apt-get update -q && apt-get install -y -q --no-install-recommends gcovr; }
}

# Tests under throwaway_root write into a disposable overlay of / that only
# lets /tmp through: the counters are written below /tmp (GCOV_PREFIX) and
# brought back beside the objects afterwards.
counters=$(mktemp -d /tmp/logbase-gcov.XXXXXX)
trap 'rm -rf "$counters"' EXIT
find "$build" -name '*.gcda' -delete
GCOV_PREFIX=$counters ctest --test-dir "$build" -j2 --timeout 600 --output-on-failure
cp -a "$counters$build/." "$build/"

# Reports go to files of the build: gcovr tries an output path by creating it
# and then removes it, so naming /dev/null (as root) deletes the device.
# Branches: those gcc adds for exceptions thrown by calls are left out, as
# are those it proves unreachable; every other branch of the source counts.
gcovr --root "$source" --object-directory "$build" --exclude-throw-branches \
      --exclude-unreachable-branches --filter "$source/(lib|host|tools)/" \
      --json "$build/coverage.json" >/dev/null
printf '%-8s %24s %24s\n' part lines branches
for part in lib host tools; do
    gcovr --root "$source" --add-tracefile "$build/coverage.json" \
          --filter "$source/$part/" --print-summary --output "$build/coverage-$part.txt" |
        awk -v part="$part/" '
            $1 == "lines:"    { lines = $2 " " $3 " " $4 " " $5 " " $6 }
            $1 == "branches:" { branches = $2 " " $3 " " $4 " " $5 " " $6 }
            END { printf "%-8s %24s %24s\n", part, lines, branches }'
done
gcovr --root "$source" --add-tracefile "$build/coverage.json" --print-summary --output "$build/coverage.txt" |
    awk '$1 == "lines:" || $1 == "branches:" { print "all " $0 }'
