#!/usr/bin/env bash
# The updater's performance benchmark. Builds the `bench` preset (Release, no sanitizers),
# generates the synthetic releases (1x, 2x and 4x the size of a real one, and one of 10,000
# small entries), packs each with our packer and with the archivers a user would take instead
# (tar | gzip -9, zip -9, 7z -mx=9), links one program per package, and measures on a tmpfs
# folder, every variant a fresh process, in interleaved rounds: the program's fresh install,
# its rerun on the up-to-date folder and its start with no key disk; our yardsticks (the floor:
# read and inflate the package; the limit: that and write the files; writing the files from
# memory); tar, bsdtar, unzip, pigz | tar, 7z and cp -a of the same files. Writes the tables
# into docs/performance.md, the chart beside it (only where matplotlib is installed), and JSON
# into the work folder; bench/report.py writes the tables and chart again from that JSON.
#
#   bash scripts/bench.sh [--rounds N] [--shapes "1x 2x 4x 10000"] [--keep]
#
# BENCH_WORK names the work folder (default: /dev/shm/zarpo-bench, a tmpfs); it is removed at
# the end unless --keep is given. JOBS sets the build's parallel jobs (default 2). Needs
# strace, gzip, pigz, zip, unzip, bsdtar, 7zz and the system python3; matplotlib for the chart
# (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# The system interpreter: it sees Debian's modules (matplotlib draws the chart).
python=/usr/bin/python3
# The Wine run imports the tests' shared package (tests/lib) and the package format (release/).
export PYTHONPATH="$root/tests/lib:$root/release"

rounds=7
shapes="1x 2x 4x 10000"
keep=0
wine_rounds=3
wine=1
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --shapes) shapes=$2; shift 2 ;;
    --wine-rounds) wine_rounds=$2; shift 2 ;;
    --no-wine) wine=0; shift ;;
    --keep) keep=1; shift ;;
    *) echo "usage: bash scripts/bench.sh [--rounds N] [--shapes LIST] [--wine-rounds N]" \
         "[--no-wine] [--keep]" >&2; exit 2 ;;
  esac
done

for tool in strace tar gzip pigz zip unzip bsdtar 7zz cp "$python"; do
  if ! command -v "$tool" >/dev/null; then
    echo "bench: $tool is missing; run scripts/setup.sh" >&2
    exit 1
  fi
done
chart=(--chart docs/performance.png)
if ! "$python" -c "import matplotlib" 2>/dev/null; then
  echo "bench: $python has no matplotlib: no chart (scripts/setup.sh installs it)" >&2
  chart=()
fi

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
cmake --build "$build" -j "${JOBS:-2}" --target zarpo-pack bench-floor bench-limit \
  bench-write-floor >/dev/null

for shape in $shapes; do
  dir=$work/$shape
  "$python" bench/make_release.py --shape "$shape" --out "$dir"
  "$build/release/zarpo-pack" pack --root "$dir/files" --manifest "$dir/release.manifest" \
    --output "$dir/package.bin"
  # The peers' archives, at their best compression as our package is at zlib's.
  tar -cf - -C "$dir/files" . | gzip -9 >"$dir/files.tar.gz"
  (cd "$dir/files" && zip -9 -r -q ../files.zip . && 7zz a -mx=9 -bso0 -bsp0 ../files.7z .)
  # The same build folder with another package: only the embed file is recompiled.
  cmake -S "$root" -B "$build" -DZARPO_PACKAGE="$dir/package.bin" >/dev/null
  cmake --build "$build" -j "${JOBS:-2}" --target ZarpoUpdate >/dev/null
  cp "$build/ZarpoUpdate" "$dir/ZarpoUpdate"
done
# Leave the build folder packing the sample release again.
cmake -S "$root" -B "$build" -DZARPO_PACKAGE= >/dev/null

# Under Wine: the 64-bit twin with the 10,000-entry package swapped in (bench/wine.py).
wine_json=()
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || true)
if [ "$wine" = 1 ] && [ -n "$wine64" ] && [[ " $shapes " == *" 10000 "* ]]; then
  cmake --preset win64 >/dev/null
  cmake --build "$root/build/win64" -j "${JOBS:-2}" --target ZarpoUpdate swap-package \
    dialog-driver stat >/dev/null
  PYTHONDONTWRITEBYTECODE=1 "$python" bench/wine.py --build "$root/build/win64" \
    --package "$work/10000/package.bin" --template "$root/build/win64/bench-prefix" \
    --drive "$work/wine-disk" --wine "$wine64" --rounds "$wine_rounds" --json "$work/wine.json"
  rm -rf "$work/wine-disk"
  wine_json=(--wine-json "$work/wine.json")
fi

# shellcheck disable=SC2086
PYTHONDONTWRITEBYTECODE=1 "$python" bench/run.py --work "$work" \
  --floor "$build/bench/bench-floor" --limit "$build/bench/bench-limit" \
  --write-floor "$build/bench/bench-write-floor" --shapes $shapes --rounds "$rounds" \
  --json "$work/results.json" --doc docs/performance.md "${chart[@]}" "${wine_json[@]}"
if [ "$keep" = 1 ]; then cp "$work/results.json" "$root/build/bench/results.json"; fi
