#!/bin/sh
# The runner inside the emulated machine of scripts/vm32.sh: makes one 32-bit Wine prefix, then
# runs every scenario of scenarios.py (or those named in the parameters) against the shared
# win32 build, one after another, each under a time-out. For each scenario NAME the results share
# gets NAME.log and NAME.rc; "summary" gets one line per scenario, "finished" comes last. A
# scenario that fails is run a second time, which decides.
#   vm32-guest.sh SOURCE_DIR BUILD_DIR RESULTS_DIR
src=$1
build=$2
out=$3
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TMPDIR=/tmp

scale=$(sed -n 's/^scale=//p' "$out/params")
wanted=$(sed -n 's/^scenarios=//p' "$out/params")
scale=${scale:-4}

# Debian's Wine: the 32-bit loader and its own server.
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver32
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

work=/var/tmp/wine32
mkdir -p "$work/build"
# The programs and the package run from the guest's own disk: Wine loading a large program
# straight from the 9p share found a page of its code as zeros (a page fault at main()).
(cd "$build" && find . \( -name '*.exe' -o -name package.bin \) -exec cp --parents {} "$work/build" \;)
set -- python3 "$src/tests/wine/scenarios.py" --build "$work/build" --source "$src" \
  --template "$work/template" --wine "$wine" --wineserver "$wineserver" \
  --arch win32 --time-scale "$scale"
# The same bound per scenario as the 64-bit tests' CTest time-out, scaled.
limit=$((180 * scale))

now() { date +%s; }

# bounded NAME ARGS...: one step, its output in NAME.log, its exit code in NAME.rc.
bounded() {
  name=$1
  shift
  started=$(now)
  timeout -k 30 "$limit" "$@" >"$out/$name.log" 2>&1
  code=$?
  if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
    echo "FAIL: $name did not end within $limit s in the emulated machine (stuck)" >>"$out/$name.log"
  fi
  echo "$code" >"$out/$name.rc"
  echo "$name: exit $code in $(($(now) - started)) s" | tee -a "$out/summary"
  return "$code"
}

echo "zarpo-vm32: up $(cut -d' ' -f1 /proc/uptime) s; $(nproc) processors, $(free -m | awk '/Mem:/ {print $2}') MB, time scale $scale"
if [ -z "$wanted" ]; then
  wanted=$("$@" --list) || wanted=""
fi
[ -n "$wanted" ] || echo "FAIL: scenarios.py --list gave no scenario" >>"$out/summary"

if bounded wine-prefix "$@" --make-template; then
  for name in $wanted; do
    # A wait in a scenario can still run out in the emulated machine when the host is busy: a
    # scenario that fails is run once more and its second run counts; the first run's log is
    # kept beside (NAME.first.log) and the summary says so.
    if ! bounded "$name" "$@" --scenario "$name"; then
      mv "$out/$name.log" "$out/$name.first.log"
      echo "$name: failed once, run again" >>"$out/summary"
      bounded "$name" "$@" --scenario "$name"
    fi
  done
else
  for name in $wanted; do
    echo "FAIL: no 32-bit Wine prefix could be made (see wine-prefix.log)" >"$out/$name.log"
    echo 1 >"$out/$name.rc"
  done
fi
date -u >"$out/finished"
sync
