// Fuzz target for the whole installation: the input becomes the entries of a well-formed package
// (correct header and checksum), which is installed into E:\Zarpo\ of a scratch drive table over
// the POSIX layer. Nothing may be created, changed or removed outside the product folder (on E:
// or on the fixed drive C: beside it), no descriptor may stay open, and AddressSanitizer watches
// every buffer.
//
// The input is read as a small program rather than as raw entry bytes, so that the names that
// matter come up often: levels of dots, colons and drive prefixes, both separators, double-byte
// characters whose trail byte is 0x5C, a lead byte cut off at the end, names near the path
// limit, the obsolete files' own names, the links and the FIFO planted in the product folder;
// raw name bytes are mixed in as well.
//
//   count      1 + byte % 8 entries, each:
//   form       byte: bit 0 raw name (length byte % 96, then the bytes) else tokens (1 + byte % 8
//              of them, each a byte choosing from Tokens); bit 1 raw attributes (4 bytes) else
//              one byte choosing from Attributes; bit 2 raw time (8 bytes) else a byte of days
//   data       length byte % 64, then the bytes (missing input reads as 0)
#include <dirent.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/install.h"
#include "release/package_writer.h"
#include "support/disk_state.h"
#include "support/host_files.h"
#include "support/package_module.h"
#include "support/scratch_drive.h"

namespace {

const char* const Target = "E:\\Zarpo\\";

const std::string Tokens[] = {
    "..",
    ".",
    ":",
    "\\",
    "/",
    "a",
    "Zarpo",
    "C:",
    "E:",
    " ",
    "...",
    ". ",
    "\x95\x5C",  // 表
    "\x83\x5C",  // ソ
    "\x94\x5C",  // 能
    "\x81",      // a lead byte alone (at the end: cut off)
    "\x82\xA0",  // あ
    std::string(120, 'n'),
    std::string(250, 'm'),
    "Setup.exe",
    "\\\\",
    "\\\\?\\",
    "CON",
    "sub\\",
    "x.dll",
    "*",
    "?",
    "to-beside",
    "to-c\\",
    "fifo",  // what Reset plants in the product folder
};
const size_t TokenCount = sizeof Tokens / sizeof Tokens[0];

const uint32_t Attributes[] = {0x20, 0x21, 0x22, 0x24,  0x27,      0x01,
                               0x80, 0x10, 0x00, 0x100, 0xFFFFFFFF};

struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  uint32_t Dword() {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
  }
  std::string Bytes(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i++) out += static_cast<char>(Byte());
    return out;
  }
};

std::vector<PackEntry> Decode(const uint8_t* data, size_t size) {
  Input in{data, size};
  std::vector<PackEntry> entries;
  const int count = 1 + in.Byte() % 8;
  for (int i = 0; i < count; i++) {
    PackEntry e;
    const uint8_t form = in.Byte();
    if (form & 1) {
      e.name = in.Bytes(in.Byte() % 96);
    } else {
      const int tokens = 1 + in.Byte() % 8;
      for (int t = 0; t < tokens; t++) {
        const uint8_t pick = in.Byte();
        e.name += pick < 224 ? Tokens[pick % TokenCount] : ObsoleteFiles[pick % ObsoleteFileCount];
      }
    }
    e.attributes = (form & 2) ? in.Dword()
                              : Attributes[in.Byte() % (sizeof Attributes / sizeof Attributes[0])];
    if (form & 4) {
      e.lastWrite = static_cast<uint64_t>(in.Dword()) | static_cast<uint64_t>(in.Dword()) << 32;
    } else {
      e.lastWrite = 132000000000000000ULL + static_cast<uint64_t>(in.Byte()) * 864000000000ULL;
    }
    e.data = in.Bytes(in.Byte() % 64);
    entries.push_back(e);
  }
  return entries;
}

// The scratch drives, made once: E: removable with the product folder and a file beside it, C:
// fixed with a folder and a file; the trace goes to a runtime folder without a monitor.
struct World {
  World() : drive('E') {
    drive.AddDrive('C', "fixed");
    drive.WriteHostFile("beside.txt", "outside the product folder");
    drive.MakeFolder("Zarpo");
    std::filesystem::create_directories(drive.HostRootOf('C') + "/Zarpo");
    FILE* file = fopen((drive.HostRootOf('C') + "/Zarpo/Zarpo.exe").c_str(), "wb");
    if (file != nullptr) fclose(file);
    runtime = drive.HostRootOf('C') + "-runtime";
    std::filesystem::create_directories(runtime);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    outside = Outside();
  }
  ~World() { std::filesystem::remove_all(runtime); }

  HostTree Outside() const {
    HostTree all = SnapshotHostTree(drive.HostRoot(), "Zarpo");
    for (const auto& item : SnapshotHostTree(drive.HostRootOf('C')))
      all["C:/" + item.first] = item.second;
    for (const auto& item : SnapshotHostTree(drive.Table()))
      all["table/" + item.first] = item.second;
    all["runtime"].contents = std::to_string(std::distance(
        std::filesystem::directory_iterator(runtime), std::filesystem::directory_iterator()));
    return all;
  }

  // A product folder holding the obsolete files (one of them a link to the file beside it),
  // links to what lies outside, and a FIFO that would hold up a layer that opened it.
  void Reset() const {
    std::filesystem::remove_all(drive.HostPath("Zarpo"));
    drive.MakeFolder("Zarpo");
    for (const char* name : ObsoleteFiles)
      drive.WriteHostFile(std::string("Zarpo\\") + name, "old");
    const std::string zarpo = drive.HostPath("Zarpo") + "/";
    std::filesystem::remove(zarpo + ObsoleteFiles[5]);
    std::filesystem::create_symlink("../beside.txt", zarpo + ObsoleteFiles[5]);
    std::filesystem::create_symlink("../beside.txt", zarpo + "to-beside");
    std::filesystem::create_directory_symlink(drive.HostRootOf('C'), zarpo + "to-c");
    mkfifo((zarpo + "fifo").c_str(), 0666);
  }

  ScratchDrive drive;
  std::string runtime;
  HostTree outside;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  world.Reset();
  PackageModule module(BuildPackage(BuildUnpacked(Decode(data, size)), 1));

  const int descriptors = OpenDescriptorCount();
  InstallPackageFrom(module.Handle(), Target);
  if (OpenDescriptorCount() != descriptors) {
    fprintf(stderr, "a descriptor was left open\n");
    abort();
  }
  const std::string difference = TreeDifference(world.outside, world.Outside());
  if (!difference.empty()) {
    fprintf(stderr, "the installation reached outside the product folder:\n%s", difference.c_str());
    abort();
  }
  return 0;
}
