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

#include <chrono>

#include "read_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: bench-floor PACKAGE\n");
    return 2;
  }
  PackageFile package;
  if (const char* problem = OpenPackageFile(argv[1], &package)) {
    fprintf(stderr, "bench-floor: %s: %s\n", problem, argv[1]);
    return 1;
  }

  auto start = std::chrono::steady_clock::now();
  unsigned char* data = InflatePackage(package);
  auto end = std::chrono::steady_clock::now();
  if (!data) {
    fprintf(stderr, "bench-floor: not a good package: %s\n", argv[1]);
    return 1;
  }
  printf("{\"stored\": %u, \"unpacked\": %u, \"seconds\": %.6f}\n", package.Stored,
         package.Unpacked, std::chrono::duration<double>(end - start).count());
  VirtualFree(data, 0, MEM_RELEASE);
  return 0;
}
