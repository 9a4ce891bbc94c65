#!/usr/bin/env bash
# The updater's main job, shown on Linux: sets up, builds, and updates a demo key disk (a fresh
# folder registered as removable drive E: holding Zarpo, seeded with a few files to be replaced,
# two obsolete files and one file of the user's own), with debug-monitor showing the trace; then
# runs once more to show that the second run writes nothing.
# Interactive on a terminal; otherwise the answers are Yes to the update and No to the setup.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" != "--no-setup" ]; then bash scripts/setup.sh; fi
cmake --preset host >/dev/null
cmake --build --preset host -j "${JOBS:-2}" --target ZarpoUpdate debug-monitor >/dev/null

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/disk/Zarpo" "$demo/dosdevices" "$demo/run"
chmod 700 "$demo/run"
ln -s "$demo/disk" "$demo/dosdevices/e:"
echo "e: removable" > "$demo/dosdevices/drive-types"
export ZARPO_DOSDEVICES=$demo/dosdevices XDG_RUNTIME_DIR=$demo/run

# An older release: a few files of the package with other contents, read-only as shipped,
# two files the new release no longer uses, and a file of the user's own.
zarpo=$demo/disk/Zarpo
echo "old main program" > "$zarpo/Zarpo.exe"
echo "old setup" > "$zarpo/Setup.exe"
chmod a-w "$zarpo/Zarpo.exe" "$zarpo/Setup.exe"
setfattr -n user.DOSATTRIB -v '"0x21"' "$zarpo/Zarpo.exe" "$zarpo/Setup.exe"
echo "obsolete module" > "$zarpo/ZpFont32.dll"
echo "obsolete tool" > "$zarpo/ZpConv.exe"
echo "my notes" > "$zarpo/memo.txt"

snapshot() { (cd "$demo/disk" && find . -type f -printf '%p %s %T@ %m\n' | LC_ALL=C sort); }

"$root/build/host/monitor/debug-monitor" &
monitor=$!
trap 'kill $monitor 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/DebugMonitor" ] && break; sleep 0.1; done

run() {
  if [ -t 0 ]; then
    "$root/build/host/ZarpoUpdate"
  else
    printf 'y\nn\n' | "$root/build/host/ZarpoUpdate"
  fi
}

printf '\n--- The key disk before the update ---\n'
(cd "$demo/disk" && find . | LC_ALL=C sort | head -40)
printf '\n--- First run ---\n'
run
snapshot > "$demo/after-first"
printf '\n--- Second run (the key disk is up to date: nothing is written) ---\n'
run
snapshot > "$demo/after-second"
sleep 0.2
if diff -q "$demo/after-first" "$demo/after-second" >/dev/null; then
  printf '\nSecond run wrote nothing: every file has the same size, time and mode.\n'
else
  printf '\nSecond run changed files:\n'; diff "$demo/after-first" "$demo/after-second" || true
fi
printf 'The key disk now holds %s files; the demo lives in %s.\n' \
  "$(wc -l < "$demo/after-second")" "$demo"
