// bench-limit: the least a fresh install can cost as a process of its own, to weigh the real
// program's fresh install against. It maps the package file, inflates it into a fresh buffer
// of the unpacked length (taken as the program takes it) with zlib's one-call uncompress,
// checks its CRC-32, then walks the entries and writes each one out of that buffer below
// TARGET: the folders a name needs are made once, the file is opened (O_CREAT | O_TRUNC |
// O_WRONLY), written in one write and closed. No times, no attributes, no checks of what is
// already there: that is the updater's own work. Names are code page 932 in the package and
// UTF-8 on the host; one converter is opened for the whole run. Prints nothing; exits 0 when
// every entry was written.
//
//   bench-limit [--fair] PACKAGE TARGET
//
// --fair: the least a fresh install costs that also leaves what the updater must leave, its
// time and attributes: after the write, one futimens gives the file its last-write time, and
// one fsetxattr stores the attributes in user.DOSATTRIB, in the form the POSIX layer stores
// them ("0x21"), where the entry has any the layer would not report without it (a file with no
// stored value reads ARCHIVE). A read-only entry is created without write bits, as the layer
// creates it, which costs no call.
//
// The package's layout, header and entries, is package/format.h's, read through its helpers.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <unordered_set>

#include "read_file.h"

namespace {

int Fail(const char* what, const char* detail) {
  fprintf(stderr, "bench-limit: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  return 1;
}

// The UTF-8 spelling of a code page 932 name, slashes between levels. The levels are split
// after converting: the second byte of a double-byte character may be 0x5C.
bool HostName(iconv_t cd, const unsigned char* name, size_t length, std::string* out) {
  out->resize(length * 3 + 1);
  char* in = (char*)name;
  size_t inLeft = length;
  char* o = out->data();
  size_t outLeft = out->size();
  if (iconv(cd, &in, &inLeft, &o, &outLeft) == (size_t)-1 || inLeft != 0) return false;
  out->resize(out->size() - outLeft);
  for (char& c : *out) {
    if (c == '\\') c = '/';
  }
  return true;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= (size_t)n;
  }
  return true;
}

// The time and attributes of an entry, set as the POSIX layer sets them; see --fair above.
bool SetTimeAndAttributes(int fd, uint32_t attributes, uint64_t lastWrite) {
  const uint64_t unixEpoch = 116444736000000000ull;  // 1970-01-01 as a FILETIME
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  uint64_t since = lastWrite > unixEpoch ? lastWrite - unixEpoch : 0;
  times[1].tv_sec = (time_t)(since / 10000000u);
  times[1].tv_nsec = (long)(since % 10000000u) * 100;
  if (futimens(fd, times) != 0) return false;
  // NORMAL stands alone; without a stored value a file reads ARCHIVE, so ARCHIVE needs none.
  const uint32_t settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  uint32_t kept = attributes & settable;
  if (kept & ~FILE_ATTRIBUTE_NORMAL) kept &= ~FILE_ATTRIBUTE_NORMAL;
  else kept = FILE_ATTRIBUTE_NORMAL;
  if (kept == FILE_ATTRIBUTE_ARCHIVE) return true;
  char text[16];
  int n = snprintf(text, sizeof text, "0x%x", (unsigned)kept);
  return fsetxattr(fd, "user.DOSATTRIB", text, (size_t)n, 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool fair = argc == 4 && strcmp(argv[1], "--fair") == 0;
  if (argc != 3 && !fair) {
    fprintf(stderr, "usage: bench-limit [--fair] PACKAGE TARGET\n");
    return 2;
  }
  argv += fair ? 1 : 0;
  PackageFile package;
  if (const char* problem = OpenPackageFile(argv[1], &package)) return Fail(problem, argv[1]);
  unsigned char* data = InflatePackage(package);
  if (!data) return Fail("not a good package", argv[1]);
  const uint32_t unpacked = package.Unpacked;

  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == (iconv_t)-1) return Fail("no converter from code page 932", nullptr);
  const std::string target = argv[2];
  std::unordered_set<std::string> made;
  std::string name;
  size_t at = 0;
  while (at < unpacked) {
    if (unpacked - at < EntryHeaderSize) {
      return Fail("an entry header runs past the end", nullptr);
    }
    const EntryHeader header = ReadEntryHeader(data + at);
    const uint32_t length = header.DataLength, nameLength = header.NameLength;
    const uint32_t attributes = header.Attributes;
    const uint64_t lastWrite = (uint64_t)header.LastWrite.dwHighDateTime << 32 |
                               header.LastWrite.dwLowDateTime;
    at += EntryHeaderSize;
    if (nameLength == 0 || nameLength > unpacked - at || length > unpacked - at - nameLength) {
      return Fail("an entry runs past the end", nullptr);
    }
    if (!HostName(cd, data + at, nameLength, &name)) {
      return Fail("a name is not code page 932", nullptr);
    }
    at += nameLength;
    std::string path = target + "/" + name;
    for (size_t slash = path.find('/', target.size() + 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      std::string folder = path.substr(0, slash);
      if (made.insert(folder).second && mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        return Fail(strerror(errno), folder.c_str());
      }
    }
    mode_t mode = fair && (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0 || !WriteAll(fd, data + at, length) ||
        (fair && !SetTimeAndAttributes(fd, attributes, lastWrite)) || close(fd) != 0) {
      return Fail(strerror(errno), path.c_str());
    }
    at += length;
  }
  iconv_close(cd);
  VirtualFree(data, 0, MEM_RELEASE);
  return 0;
}
