#!/bin/bash
# Makes one of the version resources version_info_test.cpp compares with, as windres makes it
# from resources/update.rc.in (run from this folder; the .bin files were made so):
#   bash make.sh 1.0.0 $(printf a | sha256sum | cut -c1-64) 1.0.0.bin
#   bash make.sh 4.5.6 $(printf b | sha256sum | cut -c1-64) 4.5.6.bin
#   bash make.sh 65535.0.65535 $(printf b | sha256sum | cut -c1-64) 65535.0.65535.bin
#   bash make.sh 1.0.0 "" stub.bin       (no PackageSHA256 string)
set -e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
IFS=. read -r major minor patch <<< "$1"
: > "$work/digest.h"
[ -z "$2" ] || echo "#define ZARPO_PACKAGE_SHA256 \"$2\\0\"" > "$work/digest.h"
sed -e "s|@ZARPO_RC_DIGEST@|$work/digest.h|" \
    -e "s/@ZARPO_RELEASE_VERSION_MAJOR@/$major/g; s/@ZARPO_RELEASE_VERSION_MINOR@/$minor/g" \
    -e "s/@ZARPO_RELEASE_VERSION_PATCH@/$patch/g; s/@ZARPO_RELEASE_VERSION@/$1/g" \
    -e '/ZIPFILE/d; /RT_MANIFEST/d' ../../../resources/update.rc.in > "$work/v.rc"
[ -n "$2" ] || sed -i '/PackageSHA256/d' "$work/v.rc"
x86_64-w64-mingw32-windres -O res "$work/v.rc" "$work/v.res"
# The data of the RT_VERSION entry of the .res file (a header, then the data, 32-bit aligned).
python3 - "$work/v.res" "$3" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = 0
while at < len(data):
    size, header = struct.unpack_from("<II", data, at)
    if size and data[at + 8:at + 12] == b"\xff\xff\x10\x00":
        open(sys.argv[2], "wb").write(data[at + header:at + header + size])
    at += (header + size + 3) & ~3
PY
