// VirtualAlloc and VirtualFree for the one use the program has: a large buffer of fresh,
// zero-filled pages, taken and given back whole. An anonymous mapping stands in for committed
// memory. Its first page holds the mapping's extent, since munmap needs the length that
// VirtualFree(MEM_RELEASE) is not given. A buffer of 2 MiB or more starts on a 2 MiB boundary and
// carries the huge-page hint: where the kernel makes huge pages on request
// (transparent_hugepage "madvise"), touching the buffer for the first time then costs one fault
// per 2 MiB instead of one per 4 KiB page.
//
// Under AddressSanitizer the header page and the bytes between the size asked for and the end of
// the last page are poisoned, so that reading or writing past either end of the buffer is caught
// as it would be for a heap block (the macros do nothing in other builds).
#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/extra_calls.h"

namespace {

const size_t HugePage = (size_t)2 << 20;
const uint32_t Magic = 0x5A4D454D;  // marks a header this file wrote

struct Region {
  uint32_t Magic;
  void* Base;     // the mapping
  size_t Length;  // its length
};

size_t PageSize() { return (size_t)sysconf(_SC_PAGESIZE); }

// `value` rounded up to a multiple of `unit` (a power of two); 0 when that overflows.
size_t RoundUp(size_t value, size_t unit) {
  return value > SIZE_MAX - (unit - 1) ? 0 : (value + unit - 1) & ~(unit - 1);
}

}  // namespace

extern "C" LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType,
                                      DWORD protect) {
  if (address || size == 0 || allocationType != (MEM_COMMIT | MEM_RESERVE) ||
      protect != PAGE_READWRITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const size_t page = PageSize();
  const int huge = size >= HugePage;
  size_t data = RoundUp(size, huge ? HugePage : page);
  // The header page before the data, and the slack that lets the data start on a boundary.
  size_t slack = huge ? HugePage : 0;
  size_t length = data ? data + page + slack : 0;
  if (length < data) length = 0;
  void* mapped = length ? mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                               -1, 0)
                        : MAP_FAILED;
  if (mapped == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  char* base = (char*)mapped;
  char* start = base + page;
  if (huge) {
    start = (char*)RoundUp((uintptr_t)start, HugePage);
    // Give back what lies before the header page and after the data.
    char* header = start - page;
    if (header > base) munmap(base, (size_t)(header - base));
    char* end = start + data;
    if (end < base + length) munmap(end, (size_t)(base + length - end));
    base = header;
    length = page + data;
    madvise(start, data, MADV_HUGEPAGE);  // a hint: without huge pages it changes nothing
  }
  Region* region = (Region*)(start - page);
  region->Magic = Magic;
  region->Base = base;
  region->Length = length;
  ASAN_POISON_MEMORY_REGION(start - page, page);
  ASAN_POISON_MEMORY_REGION(start + size, data - size);
  return start;
}

// `address` must be one VirtualAlloc gave and not yet released, as on Windows.
extern "C" BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
  const size_t page = PageSize();
  if (!address || size != 0 || freeType != MEM_RELEASE || (uintptr_t)address % page != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Region* header = (Region*)((char*)address - page);
  ASAN_UNPOISON_MEMORY_REGION(header, sizeof *header);
  if (header->Magic != Magic) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Region region = *header;
  // The shadow of memory given back must be clean for whatever is mapped there next.
  ASAN_UNPOISON_MEMORY_REGION(region.Base, region.Length);
  if (munmap(region.Base, region.Length) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
