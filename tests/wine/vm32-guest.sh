#!/bin/sh
# The runner inside the emulated machine of scripts/vm32.sh: makes one 32-bit Wine prefix, then
# runs every scenario of scenarios.py and of tests/keydisk/guest.py (or those named in the
# parameters) against the shared win32 build and the shared Linux build, one after another, each
# under a time-out. For each scenario NAME the results share gets NAME.log and NAME.rc; "summary"
# gets one line per scenario, "finished" comes last. A scenario that fails is run a second time,
# which decides. The key disks (a FAT32 and an exFAT image) are mounted here with this kernel's
# own drivers, and unmounted cleanly before the end, so that the host can read them back.
#   vm32-guest.sh SOURCE_DIR BUILD_DIR RESULTS_DIR
src=$1
build=$2
out=$3
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TMPDIR=/tmp
# The scripts' shared package (tests/lib/zarpolib) and the package format (release/).
export PYTHONPATH="$src/tests/lib:$src/release"

scale=$(sed -n 's/^scale=//p' "$out/params")
wanted=$(sed -n 's/^scenarios=//p' "$out/params")
scale=${scale:-4}
linux_dir=$(sed -n 's/^linux=//p' "$out/params")
linux_shared=$(sed -n 's/^linux_shared=//p' "$out/params")

# Debian's Wine: the 32-bit loader and its own server.
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver32
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

work=/var/tmp/wine32
mkdir -p "$work/build"
# The programs, the helpers' DLLs and the package run from the guest's own disk: Wine loading a
# large program straight from the 9p share found a page of its code as zeros (a page fault at
# main()).
(cd "$build" && find . \( -name '*.exe' -o -name '*.dll' -o -name package.bin \) \
  -exec cp --parents {} "$work/build" \;)
set -- python3 "$src/tests/wine/scenarios.py" --build "$work/build" --source "$src" \
  --template "$work/template" --wine "$wine" --wineserver "$wineserver" \
  --arch win32 --time-scale "$scale"
# The same bound per scenario as the 64-bit tests' CTest time-out, scaled.
limit=$((180 * scale))

# The key disks, found by the serials vm32.sh gave them. vfat as a Linux desktop mounts a stick
# (udisks2's options; as root here, so without its uid= and gid=) plus code page 932 for the
# short names; exfat with its UTF-8 names. What was done goes to keydisk-mounts.log.
disk_of() {
  for block in /sys/block/*; do
    [ "$(cat "$block/serial" 2>/dev/null)" = "$1" ] && { echo "/dev/${block##*/}"; return 0; }
  done
  return 1
}
fat_options=utf8=1,shortname=mixed,codepage=932,showexec,flush
exfat_options=iocharset=utf8
{
  modprobe nls_cp932; modprobe nls_utf8; modprobe vfat; modprobe exfat
  echo "kernel $(uname -r)"
  for m in nls_cp932 nls_utf8 vfat exfat; do
    if [ -d "/sys/module/$m" ]; then echo "module $m loaded"; else echo "module $m MISSING"; fi
  done
  mkdir -p /mnt/fat32 /mnt/exfat
  if dev=$(disk_of zarpo-fat32) && mount -t vfat -o "$fat_options" "$dev" /mnt/fat32; then
    echo "fat32 $dev on /mnt/fat32: $(grep ' /mnt/fat32 ' /proc/mounts)"
  else
    echo "fat32 NOT MOUNTED (device ${dev:-none}, options $fat_options)"
  fi
  if dev=$(disk_of zarpo-exfat) && mount -t exfat -o "$exfat_options" "$dev" /mnt/exfat; then
    echo "exfat $dev on /mnt/exfat: $(grep ' /mnt/exfat ' /proc/mounts)"
  else
    echo "exfat NOT MOUNTED (device ${dev:-none}, options $exfat_options)"
  fi
  # The Linux build, from its own share, onto the guest's disk like the Windows programs.
  linux=""
  if [ "$linux_shared" != 0 ] && [ -n "$linux_shared" ]; then
    mkdir -p /mnt/linux "$work/linux"
    if mount -t 9p -o trans=virtio,version=9p2000.L,msize=1048576 linux /mnt/linux; then
      (cd /mnt/linux && cp --parents ZarpoUpdate package.bin monitor/debug-monitor \
         tests/keydisk/install-package-file tests/platform-conformance "$work/linux") &&
        linux=$work/linux
    fi
  fi
  echo "linux build ${linux:-none} (host folder ${linux_dir:-not given})"
} >"$out/keydisk-mounts.log" 2>&1
linux=$(sed -n 's/^linux build \([^ ]*\) .*/\1/p' "$out/keydisk-mounts.log")
[ "$linux" = none ] && linux=""
# One step of a trial that boots the machine for it (vm32.sh boot), instead of the scenarios:
# the pulled-disk trial's (pulled_disk_guest.py; the host may kill the machine in the middle of
# it, so nothing here waits for a clean end), or the program its params name as runner= in
# tests/keydisk.
if grep -q '^step=' "$out/params"; then
  runner=$(sed -n 's/^runner=//p' "$out/params")
  runner=${runner:-pulled_disk_guest.py}
  ZARPO_KEYDISK_LINUX=$linux python3 "$src/tests/keydisk/$runner" --guest "$out" \
    >"$out/step.log" 2>&1
  echo "$?" >"$out/step.rc"
  sync
  date -u >"$out/finished"
  sync
  exit 0
fi
# What the key-disk scenarios take beyond scenarios.py's arguments (see guest.py).
ZARPO_KEYDISK_RESULTS=$out ZARPO_KEYDISK_FAT32=/mnt/fat32 ZARPO_KEYDISK_EXFAT=/mnt/exfat
ZARPO_KEYDISK_LINUX=$linux ZARPO_KEYDISK_LINUX_HOST=$linux_dir
export ZARPO_KEYDISK_RESULTS ZARPO_KEYDISK_FAT32 ZARPO_KEYDISK_EXFAT ZARPO_KEYDISK_LINUX \
  ZARPO_KEYDISK_LINUX_HOST
keydisk="python3 $src/tests/keydisk/guest.py"

now() { date +%s; }

# bounded NAME ARGS...: one step, its output in NAME.log, its exit code in NAME.rc.
bounded() {
  name=$1
  shift
  started=$(now)
  timeout -k 30 "$limit" "$@" >"$out/$name.log" 2>&1
  code=$?
  if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
    echo "FAIL: $name did not end within $limit s in the emulated machine (stuck)" \
      >>"$out/$name.log"
  fi
  echo "$code" >"$out/$name.rc"
  echo "$name: exit $code in $(($(now) - started)) s" | tee -a "$out/summary"
  return "$code"
}

echo "zarpo-vm32: up $(cut -d' ' -f1 /proc/uptime) s; $(nproc) processors," \
  "$(free -m | awk '/Mem:/ {print $2}') MB, time scale $scale"
keydisk_names=$($keydisk --list --all) || keydisk_names=""
if [ -z "$wanted" ]; then
  wanted="$(python3 "$src/tests/wine/scenarios.py" --list) $($keydisk --list)" || wanted=""
fi
[ -n "$wanted" ] || echo "FAIL: scenarios.py --list gave no scenario" >>"$out/summary"

# The program that runs scenario NAME: the key-disk ones are guest.py's, which takes the same
# arguments.
runner_of() {
  for k in $keydisk_names; do
    [ "$k" = "$1" ] && { echo "$src/tests/keydisk/guest.py"; return; }
  done
  echo "$src/tests/wine/scenarios.py"
}

# Only the key-disk scenarios of the Linux build need no Wine prefix.
prefix_needed=0
for name in $wanted; do
  case "$name" in keydisk-linux-*) ;; *) prefix_needed=1 ;; esac
done
if [ "$prefix_needed" = 0 ] || bounded wine-prefix "$@" --make-template; then
  for name in $wanted; do
    shift 2
    set -- python3 "$(runner_of "$name")" "$@"
    # A wait in a scenario can still run out in the emulated machine when the host is busy: a
    # scenario that fails is run once more and its second run counts; the first run's log is
    # kept beside (NAME.first.log) and the summary says so. A key-disk scenario starts over
    # from an empty folder of its own.
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
# The disks cleanly unmounted (no dirty bit left), so that the host reads what the guest wrote.
sync
for m in /mnt/fat32 /mnt/exfat; do
  mountpoint -q "$m" && { umount "$m" || echo "FAIL: cannot unmount $m" >>"$out/summary"; }
done
date -u >"$out/finished"
sync
