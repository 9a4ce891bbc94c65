#!/usr/bin/env bash
# Fuzzes the package reader: configures and builds the "fuzz" preset (clang, libFuzzer, ASan +
# UBSan), then runs each target for a bounded time on the committed seeds.
#
#   scripts/fuzz.sh [seconds per target, default 30]
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
for target in package_reader_fuzz package_walk_fuzz; do
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
