"""FAT32 key-disk images read on the host, after the emulated machine has let go of them: a
fresh image, the files mtools reads in its Zarpo folder, and a walker along the 32-byte records
of a folder's cluster chain. Shared by the pulled-disk trial, the crash-state explorer and the
read-back of the key disks.
"""
import hashlib
import os
import struct
import subprocess
import tempfile

# mtools as the checks run it: no geometry checks, times in UTC, UTF-8 names.
MTOOLS_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", TZ="UTC", LC_ALL="C.UTF-8")


def fresh_image(path):
    if os.path.exists(path):
        os.remove(path)
    subprocess.run(["truncate", "-s", "64M", path], check=True)
    subprocess.run(["mkfs.fat", "-F", "32", "-n", "ZARPOKEY", path], check=True,
                   stdout=subprocess.DEVNULL)


def image_files(image):
    """{name below Zarpo, as in the entries (code page 932, backslashes): sha256 of its bytes}
    as mtools reads them, or None when it reads no Zarpo folder at all."""
    with tempfile.TemporaryDirectory() as copy:
        done = subprocess.run(["mcopy", "-i", image, "-s", "-n", "::/Zarpo", copy],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=MTOOLS_ENV)
        base = os.path.join(copy, "Zarpo")
        if done.returncode != 0 and not os.path.isdir(base):
            return None
        files = {}
        for root, _, names in os.walk(base):
            for name in names:
                path = os.path.join(root, name)
                key = os.path.relpath(path, base).replace("/", "\\")
                with open(path, "rb") as f:
                    files[key.encode("cp932", "replace")] = hashlib.sha256(f.read()).digest()
    return files


def fat32(disk):
    """(records, root) of a FAT32 image held in `disk` (bytes or an mmap): records(cluster)
    yields the 32-byte records along the chain from `cluster` (to its end, a loop, or a cluster
    past the disk); root is the root folder's first cluster."""
    sector, per_cluster, reserved, fats = struct.unpack_from("<HBHB", disk, 11)
    fat = reserved * sector
    data = fat + fats * struct.unpack_from("<I", disk, 36)[0] * sector
    size = sector * per_cluster
    clusters = (len(disk) - data) // size + 2

    def records(cluster):
        seen = set()
        while 2 <= cluster < clusters and cluster not in seen:
            seen.add(cluster)
            base = data + (cluster - 2) * size
            for i in range(0, size, 32):
                yield disk[base + i:base + i + 32]
            cluster = struct.unpack_from("<I", disk, fat + 4 * cluster)[0] & 0x0FFFFFFF
    return records, struct.unpack_from("<I", disk, 44)[0]
