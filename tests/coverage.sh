#!/usr/bin/env bash
# coverage.sh [BUILD_DIR]: runs every test of a coverage build (preset
# coverage, default build/coverage), the replay of the fuzz corpora included,
# and prints the line and branch coverage of the library (lib/), the
# reference host layer (host/) and the tool (tools/) that the run reached.
#
#   cmake --preset coverage && cmake --build --preset coverage && tests/coverage.sh
#
# Coverage is clang's source-based one: a branch is one outcome, true or
# false, of a condition written in the source (each operand of && and ||
# apart), nothing the compiler adds. The reports are left in the build:
# coverage.txt and coverage-{lib,host,tools}.txt (per file), and
# coverage-html/ (the source, line by line).
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source/build/coverage}" && pwd)

if ! command -v llvm-profdata-14 >/dev/null || ! command -v llvm-cov-14 >/dev/null; then
    apt-get install -y -q --no-install-recommends llvm-14 ||
        { apt-get update -q && apt-get install -y -q --no-install-recommends llvm-14; }
fi

# Tests under throwaway_root run in a disposable overlay of / that only lets
# /tmp through, so every process writes its profile below /tmp: one file per
# process (%p) and per instrumented module (%m: the library, the host layer
# and the program each write their own).
profiles=$(mktemp -d /tmp/logbase-profiles.XXXXXX)
trap 'rm -rf "$profiles"' EXIT
LLVM_PROFILE_FILE="$profiles/%p-%m.profraw" \
    ctest --test-dir "$build" -j2 --timeout 600 --output-on-failure
find "$profiles" -name '*.profraw' >"$profiles/list"
llvm-profdata-14 merge -sparse -f "$profiles/list" -o "$build/coverage.profdata"

# Every instrumented program and library of the build.
objects=()
while IFS= read -r file; do
    [[ $(head -c 4 "$file" | od -An -c | tr -d ' ') == 177ELF ]] && objects+=(-object "$file")
done < <(find "$build" -type f \( -perm -u+x -o -name '*.so*' \) -not -path '*/CMakeFiles/*' | sort)
# An inline function a file declares but does not use has a placeholder record
# (hash 0) there; llvm-cov takes the used copy of another program and counts
# each placeholder as "mismatched data", a warning that says nothing here.
cov() {
    llvm-cov-14 "$1" -instr-profile "$build/coverage.profdata" "${objects[@]:1}" "${@:2}" \
        2> >(sed -E 's/\x1b\[[0-9;]*m//g; /functions have mismatched data/d; /^$/d' >&2)
}

# TOTAL row: regions, functions, lines and branches, each as count, missed
# and percentage. Percentages are cut, not rounded, to one decimal.
summary() { # summary PART REPORT, or summary all REPORT
    awk -v label="$1" '
        function cell(total, missed) {
            if (total == 0) return "-"
            covered = total - missed
            return sprintf("%.1f%% (%d out of %d)", int(1000 * covered / total) / 10, covered, total)
        }
        $1 != "TOTAL" { next }
        label == "all" { printf "all lines: %s\nall branches: %s\n", cell($8, $9), cell($11, $12); next }
        { printf "%-8s %-28s %s\n", label, cell($8, $9), cell($11, $12) }' "$2"
}
printf '%-8s %-28s %s\n' part lines branches
for part in lib host tools; do
    cov report "$source/$part/" >"$build/coverage-$part.txt"
    summary "$part/" "$build/coverage-$part.txt"
done
cov report "$source/lib/" "$source/host/" "$source/tools/" >"$build/coverage.txt"
summary all "$build/coverage.txt"
rm -rf "$build/coverage-html"
cov show -format=html -show-branches=count -output-dir="$build/coverage-html" \
    "$source/lib/" "$source/host/" "$source/tools/"
