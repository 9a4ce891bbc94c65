#!/usr/bin/env bash
# The updater's performance benchmark. Builds the `bench` preset (Release, no sanitizers),
# generates the synthetic releases (1x, 2x and 4x the size of a real one, and one of 10,000
# small entries), packs each with our packer, links one program per package, and measures on
# a tmpfs folder: the in-process floors (inflate + CRC-32; writing the files from memory), a
# fresh install, a rerun on the up-to-date folder, tar -xzf and cp -a of the same files, and the
# program's start with no key disk. Writes the tables into docs/performance.md, the chart beside it, and JSON into the
# work folder.
#
#   bash scripts/bench.sh [--repetitions N] [--shapes "1x 2x 4x 10000"] [--keep]
#
# BENCH_WORK names the work folder (default: /dev/shm/zarpo-bench, a tmpfs); it is removed at
# the end unless --keep is given. Needs strace, tar, gzip and python3 (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

repetitions=5
shapes="1x 2x 4x 10000"
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --repetitions) repetitions=$2; shift 2 ;;
    --shapes) shapes=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: bash scripts/bench.sh [--repetitions N] [--shapes LIST] [--keep]" >&2; exit 2 ;;
  esac
done

work=${BENCH_WORK:-/dev/shm/zarpo-bench}
if [ "$(stat -f -c %T "$(dirname "$work")")" != tmpfs ]; then
  echo "bench: $(dirname "$work") is not a tmpfs; set BENCH_WORK to a folder on one" >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
if [ "$keep" = 0 ]; then trap 'rm -rf "$work"' EXIT; fi

build=$root/build/bench
cmake --preset bench -DZARPO_PACKAGE= >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target zarpo-pack bench-floor bench-write-floor >/dev/null

for shape in $shapes; do
  dir=$work/$shape
  python3 tools/bench/make_release.py --shape "$shape" --out "$dir"
  "$build/tools/zarpo-pack" pack --root "$dir/files" --manifest "$dir/release.manifest" \
    --output "$dir/package.bin"
  tar -czf "$dir/files.tar.gz" -C "$dir/files" .
  # The same build folder with another package: only the embed file is recompiled.
  cmake -S "$root" -B "$build" -DZARPO_PACKAGE="$dir/package.bin" >/dev/null
  cmake --build "$build" -j "${JOBS:-2}" --target ZarpoUpdate >/dev/null
  cp "$build/ZarpoUpdate" "$dir/ZarpoUpdate"
done
# Leave the build folder packing the sample release again.
cmake -S "$root" -B "$build" -DZARPO_PACKAGE= >/dev/null

# shellcheck disable=SC2086
PYTHONDONTWRITEBYTECODE=1 python3 tools/bench/run.py --work "$work" --floor "$build/tools/bench-floor" \
  --write-floor "$build/tools/bench-write-floor" --shapes $shapes --repetitions "$repetitions" --json "$work/results.json" \
  --doc docs/performance.md --chart docs/performance.png
if [ "$keep" = 1 ]; then cp "$work/results.json" "$root/build/bench/results.json"; fi
