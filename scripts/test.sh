#!/usr/bin/env bash
# Runs every test of the project: builds the Linux, 32-bit and 64-bit Windows programs, runs
# the host tests (under ASan/UBSan), checks the shipped executable, runs the 64-bit program
# end to end under Wine, and the fuzz targets for a bounded time.
# Usage: scripts/test.sh            (after scripts/setup.sh has installed the packages)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

step() { printf '\n=== %s ===\n' "$*"; }

# Each step is a workflow preset of CMakePresets.json (configure, build, test), so that one step
# is run alone with the same command: cmake --workflow --preset NAME.
step "Linux build and tests"
cmake --workflow --preset host

step "The shipped executable: the 32-bit product and its checks"
cmake --workflow --preset win32
file build/win32/ZarpoUpdate.exe

step "End-to-end under Wine (64-bit twin)"
cmake --workflow --preset win64
file build/win64/ZarpoUpdate.exe

if [ -x scripts/fuzz.sh ]; then
  step "Fuzzing (bounded)"
  scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi

step "All tests passed"
