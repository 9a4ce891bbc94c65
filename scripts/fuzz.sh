#!/usr/bin/env bash
# Fuzzes the package reader and the whole installation: configures and builds the "fuzz" preset
# (clang, libFuzzer, ASan + UBSan), then runs each target for a bounded time on the committed
# seeds.
#
#   scripts/fuzz.sh [seconds per target, default 30]
#
# A longer run of one target once this script has built it, an hour on both cores, keeping what
# it finds in build/fuzz/corpus:
#
#   build/fuzz/tests/fuzz/install_fuzz -max_total_time=3600 -jobs=2 -workers=2 \
#       -artifact_prefix=build/fuzz/artifacts/install_fuzz/ \
#       build/fuzz/corpus/install_fuzz tests/fuzz/corpus/install_fuzz
#
# New inputs go to build/fuzz/corpus/<target> (the committed seeds stay untouched); a crash
# leaves its input in build/fuzz/artifacts/ and makes this script exit non-zero.
set -euo pipefail

seconds="${1:-30}"
case "$seconds" in
  ''|*[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;;
esac

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build "$build" -j2

status=0
for target in package_reader_fuzz package_walk_fuzz install_fuzz; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: $seconds s"
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$artifacts" "$corpus" "$root/tests/fuzz/corpus/$target"; then
    echo "== $target: FAILED (input in $artifacts)" >&2
    status=1
  fi
done
exit "$status"
