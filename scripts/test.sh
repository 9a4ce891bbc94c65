#!/usr/bin/env bash
# Runs every test of the project: builds the Linux, 32-bit and 64-bit Windows programs, runs
# the host tests (under ASan/UBSan), the 32-bit Linux build's tests under qemu-i386, checks the
# shipped executable, runs the 64-bit program end to end under Wine, the shipped 32-bit program
# end to end under 32-bit Wine in an emulated machine, and the fuzz targets for a bounded time.
# Usage: scripts/test.sh            (after scripts/setup.sh has installed the packages)
#
# The quick tier, for the loop of a change: the Linux build and every test of it that builds no
# tree of its own and needs no Wine and no emulated machine (in-process tests, whole runs of the
# program, the fuzz targets over their seeds, the house style). About a minute on two cores from
# a built tree:
#        scripts/test.sh --quick
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n=== %s ===\n' "$*"; }

case "${1:-}" in
  --quick)
    start=$SECONDS
    step "Linux build and its quick tests"
    cmake --workflow --preset quick
    step "Quick tier passed in $((SECONDS - start)) s"
    exit 0 ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

# Each step is a workflow preset of CMakePresets.json (configure, build, test), so that one step
# is run alone with the same command: cmake --workflow --preset NAME.
step "Linux build and tests"
cmake --workflow --preset host

step "32-bit Linux build and tests (under qemu-i386)"
cmake --workflow --preset host32

step "The shipped executable: the 32-bit product and its checks"
cmake --workflow --preset win32
file build/win32/ZarpoUpdate.exe

step "End-to-end under Wine (64-bit twin)"
cmake --workflow --preset win64
file build/win64/ZarpoUpdate.exe

step "End-to-end under 32-bit Wine (the shipped program, in an emulated machine)"
cmake --workflow --preset wine32

if [ -x scripts/fuzz.sh ]; then
  step "Fuzzing (bounded)"
  scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi

step "All tests passed"
