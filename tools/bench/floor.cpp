// bench-floor: the least any updater must spend on a package, as a process of its own, to
// weigh the real program's rerun against: map the package file (the program reads its package
// in place from its image), obtain a buffer of the unpacked length as the program does, inflate
// the stream into it with zlib's one-call uncompress, and take its CRC-32. One run is one
// repetition, since the program too always runs as a fresh process and pays for fresh pages;
// the benchmark times the whole process. Prints one JSON object with the lengths and the
// seconds the inflation and the CRC took inside the process.
//
//   bench-floor PACKAGE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include <chrono>

#include "read_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: bench-floor PACKAGE\n");
    return 2;
  }
  size_t size = 0;
  const unsigned char* package = MapFile(argv[1], &size);
  if (!package || size < 12) {
    fprintf(stderr, "bench-floor: cannot read a package from %s\n", argv[1]);
    return 1;
  }
  uint32_t stored = ReadLe32(package);
  uint32_t unpacked = ReadLe32(package + 4);
  uint32_t checksum = ReadLe32(package + 8);
  if (stored < 12 || stored > size) {
    fprintf(stderr, "bench-floor: the stored length does not fit the file\n");
    return 1;
  }

  auto start = std::chrono::steady_clock::now();
  unsigned char* data = UnpackedBuffer(unpacked);
  uLongf produced = unpacked;
  int result = data ? uncompress(data, &produced, package + 12, stored - 12) : Z_MEM_ERROR;
  uLong crc = result == Z_OK ? crc32(0, data, (uInt)produced) : 0;
  auto end = std::chrono::steady_clock::now();
  if (result != Z_OK || produced != unpacked || crc != checksum) {
    fprintf(stderr, "bench-floor: %s is not a good package\n", argv[1]);
    return 1;
  }
  printf("{\"stored\": %u, \"unpacked\": %u, \"seconds\": %.6f}\n", stored, unpacked,
         std::chrono::duration<double>(end - start).count());
  VirtualFree(data, 0, MEM_RELEASE);
  return 0;
}
