#!/usr/bin/env bash
# The emulated machine in which the shipped 32-bit ZarpoUpdate.exe runs under 32-bit Wine: this
# machine's kernel runs no 32-bit code, so a guest with Debian's own amd64 kernel (which does)
# boots under qemu's software emulation. The guest image is built from Debian's packages only,
# once per package list, and kept in a cache folder between runs.
#
#   scripts/vm32.sh image                          build the guest image unless it is cached
#   scripts/vm32.sh run --build DIR --out DIR      boot once: every scenario of
#        [--linux DIR] [--scale N]                 tests/wine/scenarios.py against DIR's programs,
#        [--scenario NAME]...                      and the key-disk scenarios of tests/keydisk on
#                                                  a FAT32 and an exFAT disk (the Linux build's
#                                                  folder given by --linux); each scenario's log
#                                                  and exit code go to --out, and so do the two
#                                                  disk images, for tests/keydisk/readback.py,
#                                                  and the recordings' disks with their write
#                                                  logs, for tests/keydisk/crash_states.py
#   scripts/vm32.sh result --out DIR --scenario NAME
#                                                  a scenario's log, exiting with its exit code
#   scripts/vm32.sh boot --linux DIR --out DIR      boot once for one step of a trial that cuts the
#        [--disk SERIAL=IMAGE]...                  guest off (tests/keydisk/pulled_disk.py): --out
#                                                  is kept (its params say the step), the images
#                                                  are attached under their serials, qemu's pid
#                                                  goes to --out/qemu.pid; a guest killed by the
#                                                  host (which first writes --out/cut) is no error
#   scripts/vm32.sh key                            the image's key: a digest of the package list and
#                                                  the guest's first process, which names the
#                                                  cached image (a CI cache can be keyed on it)
#
# Environment: ZARPO_VM32_CACHE (the image's folder, default /var/cache/zarpo-vm32),
# ZARPO_VM32_BOOT_LIMIT (seconds the whole guest run may take, default 2400).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
cache=${ZARPO_VM32_CACHE:-/var/cache/zarpo-vm32}

# What the guest holds. Changing the list (or the guest's first process below) rebuilds the image.
packages=(
  linux-image-amd64 initramfs-tools kmod udev mount procps util-linux coreutils
  locales python3 python3-pefile xvfb xauth x11-utils fonts-ipafont-gothic
  wine wine64 wine32:i386 libasan8 libubsan1
)

# The guest's first process, kept in the image: mounts what the scenarios need, loads 9p (which
# is not in the initrd), hands over to the runner from the shared source tree, and powers off.
read -r -d '' guest_init <<'EOF' || true
#!/bin/sh
# First process of the test guest: mount, run the shared runner, power off.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
# The initrd leaves /proc, /sys and /dev mounted.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname zarpo-vm32
modprobe 9pnet_virtio && modprobe 9p
mkdir -p /mnt/src /mnt/build /mnt/out
for tag in src build out; do
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=1048576 "$tag" "/mnt/$tag" ||
    echo "zarpo-vm32: cannot mount the share $tag"
done
if [ -f /mnt/src/tests/wine/vm32-guest.sh ]; then
  sh /mnt/src/tests/wine/vm32-guest.sh /mnt/src /mnt/build /mnt/out
  echo "zarpo-vm32: runner ended with $?"
else
  echo "zarpo-vm32: no runner in the shared source tree"
fi
sync
umount /mnt/out 2>/dev/null
echo "zarpo-vm32: powering off"
echo o > /proc/sysrq-trigger
sleep 60
EOF

# The image format itself; bump when the way the image is made changes.
format=1
key=$( { echo "format $format"; printf '%s\n' "${packages[@]}"; echo "$guest_init"; } |
       sha256sum | cut -c1-16)

die() { echo "vm32: $*" >&2; exit 1; }
now() { date +%s; }

need() {
  local missing=()
  for tool in "$@"; do command -v "$tool" >/dev/null || missing+=("$tool"); done
  [ "${#missing[@]}" -eq 0 ] || die "missing ${missing[*]} (run scripts/setup.sh)"
}

# The machine's own Debian sources, so the guest comes from the same mirror as this machine's
# packages.
debian_sources() {
  local found=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
           /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -q 'debian-archive-keyring\|/debian' "$f" && found+=("$f")
  done
  [ "${#found[@]}" -gt 0 ] || die "no Debian apt sources on this machine"
  printf '%s\n' "${found[@]}"
}

image() {
  if [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$key" ] &&
     [ -f "$cache/root.img" ] && [ -f "$cache/vmlinuz" ] && [ -f "$cache/initrd.img" ]; then
    echo "vm32: guest image $key cached in $cache"
    return 0
  fi
  [ "$(id -u)" -eq 0 ] || die "building the guest image needs root (mmdebstrap --mode=root)"
  need mmdebstrap mkfs.ext4
  local started suite work
  started=$(now)
  # shellcheck disable=SC1091
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/build.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  local mirrors=()
  mapfile -t mirrors < <(debian_sources)
  echo "vm32: building guest image $key (Debian $suite, ${#packages[@]} packages) in $cache"
  local IFS=,
  mmdebstrap --mode=root --variant=apt --architectures=amd64,i386 \
    --include="${packages[*]}" \
    --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
    --customize-hook='echo "ja_JP.UTF-8 UTF-8" > "$1/etc/locale.gen" && chroot "$1" locale-gen' \
    --customize-hook='rm -f "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*_Packages' \
    "$suite" "$work/root" "${mirrors[@]}"
  unset IFS
  printf '%s\n' "$guest_init" > "$work/root/zarpo-init"
  chmod 755 "$work/root/zarpo-init"
  cp -L "$work/root/vmlinuz" "$work/vmlinuz"
  cp -L "$work/root/initrd.img" "$work/initrd.img"
  # Room for the 32-bit Wine prefix and the scenarios' copies of it; the file stays sparse.
  local used
  used=$(du -sm "$work/root" | cut -f1)
  mkfs.ext4 -q -F -L zarpo-vm32 -d "$work/root" "$work/root.img" "$((used + 4096))M"
  rm -rf "$work/root"
  rm -f "$cache/stamp"
  mv -f "$work/vmlinuz" "$work/initrd.img" "$work/root.img" "$cache/"
  echo "$key" > "$cache/stamp"
  rm -rf "$work"
  trap - EXIT
  echo "vm32: guest image built in $(( $(now) - started )) s"
}

# guest LIMIT OUT QEMU-ARGS...: the guest booted once with the source tree and OUT shared in,
# bounded by LIMIT seconds; qemu's exit code.
guest() {
  local limit=$1 out=$2
  shift 2
  local append="root=/dev/vda rw console=ttyS0 init=/zarpo-init"
  append+=" mitigations=off oops=panic panic=-1 quiet"
  # TCG only (no KVM here). The default qemu64 CPU: with -cpu max the guest kernel oopses on the
  # 32-bit iret Wine uses. -snapshot keeps the cached image unchanged.
  timeout --kill-after=20 "$limit" qemu-system-x86_64 \
    -accel tcg,thread=multi -cpu qemu64 -smp 2 -m 3072 \
    -display none -monitor none -serial "file:$out/console.log" -no-reboot -snapshot \
    -pidfile "$out/qemu.pid" \
    -kernel "$cache/vmlinuz" -initrd "$cache/initrd.img" \
    -append "$append" \
    -drive "file=$cache/root.img,format=raw,if=virtio" \
    -virtfs "local,path=$source_dir,mount_tag=src,security_model=none,readonly=on" \
    -virtfs "local,path=$out,mount_tag=out,security_model=none" \
    "$@"
}

run() {
  local build="" out="" linux="" scale=4 scenarios=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --build) build=$2; shift 2 ;;
      --linux) linux=$2; shift 2 ;;
      --out) out=$2; shift 2 ;;
      --scale) scale=$2; shift 2 ;;
      --scenario) scenarios+=("$2"); shift 2 ;;
      *) die "unknown option $1" ;;
    esac
  done
  [ -n "$build" ] && [ -n "$out" ] || die "run needs --build DIR and --out DIR"
  [ -f "$build/ZarpoUpdate.exe" ] || die "no ZarpoUpdate.exe in $build"
  [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$key" ] ||
    die "no guest image for this package list in $cache (run scripts/vm32.sh image)"
  need qemu-system-x86_64 timeout mkfs.fat mkfs.exfat mmd
  build=$(cd "$build" && pwd)
  rm -rf "$out"
  mkdir -p "$out"
  out=$(cd "$out" && pwd)
  # The Linux build is shared read-only when there is one; without it the scenarios that need
  # it fail in the guest, naming the folder that was looked at.
  local linux_share=()
  if [ -n "$linux" ] && [ -x "$linux/ZarpoUpdate" ]; then
    linux=$(cd "$linux" && pwd)
    linux_share=(-virtfs "local,path=$linux,mount_tag=linux,security_model=none,readonly=on")
  elif [ -n "$linux" ]; then
    echo "vm32: no Linux build in $linux (no ZarpoUpdate): its key-disk scenarios will fail" >&2
  fi
  { echo "scale=$scale"; echo "scenarios=${scenarios[*]}"; echo "linux=$linux"
    echo "linux_shared=${#linux_share[@]}"; } > "$out/params"
  # The key disks: sparse images made here by dosfstools and exfatprogs, formatted as a stick
  # would come, mounted by the guest's own vfat and exfat drivers (this kernel has neither)
  # and left in --out for the read-back on this side. Each carries a serial by which the
  # guest finds it; snapshot=off, since -snapshot below would otherwise keep their writes in a
  # temporary file. Their PCI slots come after the root disk's, which stays /dev/vda.
  truncate -s 64M "$out/fat32.img" "$out/exfat.img"
  mkfs.fat -F 32 -n ZARPOKEY "$out/fat32.img" >/dev/null
  mkfs.exfat -L ZARPOKEY "$out/exfat.img" >/dev/null
  # PCI slots are hexadecimal: 0x16 onwards.
  local disks=() slot=22
  for fs in fat32 exfat; do
    disks+=(-drive "file=$out/$fs.img,format=raw,if=none,id=$fs,snapshot=off"
            -device "virtio-blk-pci,drive=$fs,serial=zarpo-$fs,addr=$(printf %x $slot)")
    slot=$((slot + 1))
  done
  # The recordings' disks (RECORDINGS in tests/lib/zarpolib/keydisk.py): qemu's blklogwrites
  # driver logs every write and flush the guest sends to each, in the dm-log-writes format, to
  # REC.log, while REC.img takes the writes. Each starts as REC.base.img, kept: a FAT32 disk
  # with an empty Zarpo folder, so that the log holds the install and nothing before it.
  local rec
  for rec in rec-linux-flush rec-linux-noflush rec-wine; do
    truncate -s 64M "$out/$rec.base.img"
    mkfs.fat -F 32 -n ZARPOKEY "$out/$rec.base.img" >/dev/null
    MTOOLS_SKIP_CHECK=1 mmd -i "$out/$rec.base.img" ::/Zarpo
    cp --sparse=always "$out/$rec.base.img" "$out/$rec.img"
    : > "$out/$rec.log"
    local log_writes="driver=blklogwrites,node-name=$rec,file=$rec-disk,log=$rec-log"
    disks+=(-blockdev "driver=file,filename=$out/$rec.img,node-name=$rec-disk"
            -blockdev "driver=file,filename=$out/$rec.log,node-name=$rec-log"
            -blockdev "$log_writes,log-sector-size=512"
            -device "virtio-blk-pci,drive=$rec,serial=$rec,addr=$(printf %x $slot)")
    slot=$((slot + 1))
  done
  local limit=${ZARPO_VM32_BOOT_LIMIT:-2400} started code=0
  started=$(now)
  echo "vm32: booting the guest (at most $limit s); console in $out/console.log"
  guest "$limit" "$out" \
    -virtfs "local,path=$build,mount_tag=build,security_model=none,readonly=on" \
    "${linux_share[@]}" "${disks[@]}" || code=$?
  local took=$(( $(now) - started ))
  if [ "$code" -eq 124 ] || [ "$code" -eq 137 ]; then
    tail -n 30 "$out/console.log" >&2 || true
    die "the guest did not power off within $limit s (stuck); console in $out/console.log"
  fi
  [ "$code" -eq 0 ] ||
    die "qemu failed with exit code $code after $took s; console in $out/console.log"
  if [ ! -f "$out/finished" ]; then
    tail -n 30 "$out/console.log" >&2 || true
    die "the guest stopped after $took s without finishing its runner; console in $out/console.log"
  fi
  echo "vm32: guest run took $took s"
  cat "$out/summary" 2>/dev/null || true
}

boot() {
  local linux="" out="" disks=() slot=16 serial image
  while [ $# -gt 0 ]; do
    case "$1" in
      --linux) linux=$2; shift 2 ;;
      --out) out=$2; shift 2 ;;
      --disk)
        serial=${2%%=*}; image=${2#*=}
        [ -f "$image" ] || die "no disk image $image"
        disks+=(-drive "file=$image,format=raw,if=none,id=$serial,snapshot=off"
                -device "virtio-blk-pci,drive=$serial,serial=$serial,addr=$slot")
        slot=$((slot + 1)); shift 2 ;;
      *) die "unknown option $1" ;;
    esac
  done
  [ -n "$linux" ] && [ -n "$out" ] && [ -f "$out/params" ] ||
    die "boot needs --linux DIR and --out DIR holding the step's params"
  [ -x "$linux/ZarpoUpdate" ] || die "no Linux build in $linux (no ZarpoUpdate)"
  [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$key" ] ||
    die "no guest image for this package list in $cache (run scripts/vm32.sh image)"
  need qemu-system-x86_64 timeout
  linux=$(cd "$linux" && pwd)
  out=$(cd "$out" && pwd)
  rm -f "$out/finished" "$out/cut" "$out/qemu.pid"
  { echo "linux=$linux"; echo "linux_shared=1"; } >> "$out/params"
  local code=0
  guest "${ZARPO_VM32_BOOT_LIMIT:-2400}" "$out" \
    -virtfs "local,path=$linux,mount_tag=linux,security_model=none,readonly=on" \
    "${disks[@]}" || code=$?
  if [ -f "$out/cut" ]; then
    return 0
  fi
  [ "$code" -eq 0 ] || die "qemu failed with exit code $code; console in $out/console.log"
  [ -f "$out/finished" ] ||
    die "the guest stopped without finishing its step; console in $out/console.log"
}

result() {
  local out="" scenario=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --out) out=$2; shift 2 ;;
      --scenario) scenario=$2; shift 2 ;;
      *) die "unknown option $1" ;;
    esac
  done
  [ -n "$out" ] && [ -n "$scenario" ] || die "result needs --out DIR and --scenario NAME"
  if [ ! -f "$out/$scenario.rc" ]; then
    [ -f "$out/$scenario.log" ] && cat "$out/$scenario.log"
    die "no result for $scenario: the guest did not run it to its end (see $out/console.log)"
  fi
  cat "$out/$scenario.log"
  exit "$(cat "$out/$scenario.rc")"
}

case "${1:-}" in
  image) image ;;
  run) shift; run "$@" ;;
  result) shift; result "$@" ;;
  boot) shift; boot "$@" ;;
  key) echo "$key" ;;
  *) awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0" >&2; exit 2 ;;
esac
