#!/usr/bin/env bash
# Runs every test of the project: builds the Linux, 32-bit and 64-bit Windows programs, runs
# the host tests (under ASan/UBSan), the 32-bit Linux build's tests under qemu-i386, checks the
# shipped executable, runs the 64-bit program end to end under Wine, the shipped 32-bit program
# end to end under 32-bit Wine in an emulated machine, and the fuzz targets for a bounded time.
# Usage: scripts/test.sh            (after scripts/setup.sh has installed the packages)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

step() { printf '\n=== %s ===\n' "$*"; }

step "Linux build and tests"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"

step "32-bit Linux build and tests (under qemu-i386)"
cmake --preset host32 >/dev/null
cmake --build --preset host32 -j "$jobs"
ctest --preset host32 -j "$jobs"

step "Windows builds (32-bit product, 64-bit twin)"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
file build/win32/ZarpoUpdate.exe build/win64/ZarpoUpdate.exe

step "The shipped executable (PE checks)"
ctest --test-dir build/win32 -L exe --output-on-failure

step "End-to-end under Wine (64-bit twin)"
ctest --test-dir build/win64 -L wine -j "$jobs" --output-on-failure

step "End-to-end under 32-bit Wine (the shipped program, in an emulated machine)"
ctest --test-dir build/win32 -L wine32 --output-on-failure

if [ -x scripts/fuzz.sh ]; then
  step "Fuzzing (bounded)"
  scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi

step "All tests passed"
