// bench-floor: the least any updater must spend on a package in process, to weigh the real
// program against: obtain a buffer of the unpacked length, inflate the stream into it with
// zlib's one-call uncompress, and take its CRC-32. The package file is read into memory first
// and not timed. Prints one JSON object: the samples and their median, in seconds.
//
//   bench-floor PACKAGE [REPETITIONS]
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <vector>

static uint32_t ReadLe32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: bench-floor PACKAGE [REPETITIONS]\n");
    return 2;
  }
  int repetitions = argc == 3 ? atoi(argv[2]) : 7;
  if (repetitions < 1) repetitions = 1;
  std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
  std::vector<unsigned char> package(in ? (size_t)in.tellg() : 0);
  in.seekg(0);
  if (!in || !in.read((char*)package.data(), (std::streamsize)package.size()) ||
      package.size() < 12) {
    fprintf(stderr, "bench-floor: cannot read a package from %s\n", argv[1]);
    return 1;
  }
  uint32_t stored = ReadLe32(package.data());
  uint32_t unpacked = ReadLe32(package.data() + 4);
  uint32_t checksum = ReadLe32(package.data() + 8);
  if (stored < 12 || stored > package.size()) {
    fprintf(stderr, "bench-floor: the stored length does not fit the file\n");
    return 1;
  }

  // A fixed mmap threshold stops glibc from raising it after the first free and handing later
  // repetitions pages already touched: the program, one run per process, always pays for
  // fresh pages, and so must the floor.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);

  std::vector<double> samples;
  for (int i = 0; i < repetitions; i++) {
    auto start = std::chrono::steady_clock::now();
    unsigned char* data = (unsigned char*)malloc(unpacked ? unpacked : 1);
    uLongf produced = unpacked;
    int result = data ? uncompress(data, &produced, package.data() + 12, stored - 12) : Z_MEM_ERROR;
    uLong crc = result == Z_OK ? crc32(0, data, (uInt)produced) : 0;
    free(data);
    auto end = std::chrono::steady_clock::now();
    if (result != Z_OK || produced != unpacked || crc != checksum) {
      fprintf(stderr, "bench-floor: %s is not a good package\n", argv[1]);
      return 1;
    }
    samples.push_back(std::chrono::duration<double>(end - start).count());
  }

  std::vector<double> sorted = samples;
  std::sort(sorted.begin(), sorted.end());
  printf("{\"stored\": %u, \"unpacked\": %u, \"median\": %.6f, \"samples\": [", stored, unpacked,
         sorted[sorted.size() / 2]);
  for (size_t i = 0; i < samples.size(); i++) printf("%s%.6f", i ? ", " : "", samples[i]);
  printf("]}\n");
  return 0;
}
