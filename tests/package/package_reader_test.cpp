// The package reader: opening (resource lookup, inflate, length and checksum), and the walk
// over the entries, malformed ones included. Packages are crafted with the writer library;
// every byte string handed to the reader lives in a buffer of exactly its size, so the
// sanitizers catch a read past its end.
#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "package/package.h"
#include "release/package_writer.h"
#include "support/host_files.h"
#include "support/package_module.h"

namespace {

std::vector<PackEntry> TwoEntries() {
  return {{"Zarpo.exe", 0x21, 0x01DCA0B3C4D5E6F0ull, "program bytes"},
          {"Sample\\\x95\x5C\x8E\x86\\\x8D\x5C\x91\xA2.dwg", 0x20, 133000000000000000ull,
           std::string(3000, 'd')}};
}

PackageOutcome Unpack(const std::string& resource, Package* package) {
  std::vector<BYTE> exact(resource.begin(), resource.end());
  return UnpackPackage(exact.data(), (DWORD)exact.size(), package);
}

// `package` with the unpacked length in its header changed by `delta`.
std::string WithUnpackedLength(std::string package, int delta) {
  PackageHeader header = ReadPackageHeader((const BYTE*)package.data());
  header.UnpackedLength += (uint32_t)delta;
  WritePackageHeader((BYTE*)&package[0], header);
  return package;
}

// A two-byte zlib header: CMF, and FLG with the given level and dictionary bits (the top three)
// and the check bits that make it valid.
std::string ZlibHeader(unsigned char cmf, unsigned char flagBits) {
  unsigned base = cmf * 256u + (flagBits & 0xE0u);
  unsigned check = (31 - base % 31) % 31;
  return std::string{(char)cmf, (char)((flagBits & 0xE0u) | check)};
}

struct OutcomeCase {
  const char* what;
  std::string resource;
  PackageReason expected;  // PackageFine: the package is good
};

TEST(PackageReader, OutcomesOfCraftedPackages) {
  std::string unpacked = BuildUnpacked(TwoEntries());
  std::string good = BuildPackage(unpacked);
  std::string stream = good.substr(PackageHeaderSize);
  uint32_t crc = Crc32(unpacked);
  uint32_t length = (uint32_t)unpacked.size();
  auto package = [&](const std::string& zlib, uint32_t stored) {
    return RawPackageHeader(stored, length, crc) + zlib;
  };
  std::string dictionary = ZlibHeader(0x78, 0xC0 | 0x20) + "\0\0\0\1" + stream.substr(2);

  std::vector<OutcomeCase> cases = {
      {"well-formed", good, PackageFine},
      {"level 0 (stored blocks)", BuildPackage(unpacked, 0), PackageFine},
      {"unpacked length one more", WithUnpackedLength(good, 1), ReasonUnpackedLength},
      {"unpacked length one less", WithUnpackedLength(good, -1), ReasonStreamTooLong},
      {"unpacked length 16 MB", RawPackageHeader((uint32_t)good.size(), 1u << 24, crc) + stream,
       ReasonUnpackedLength},
      {"checksum off by one", RawPackageHeader((uint32_t)good.size(), length, crc + 1) + stream,
       ReasonChecksum},
      {"fastest-level bits",
       package(ZlibHeader(0x78, 0x00) + stream.substr(2), (uint32_t)good.size()), PackageFine},
      {"fast-level bits", package(ZlibHeader(0x78, 0x40) + stream.substr(2), (uint32_t)good.size()),
       PackageFine},
      {"default-level bits",
       package(ZlibHeader(0x78, 0x80) + stream.substr(2), (uint32_t)good.size()), PackageFine},
      {"broken header check",
       package(std::string("\x78\xDB", 2) + stream.substr(2), (uint32_t)good.size()),
       ReasonBadStream},
      {"preset dictionary", package(dictionary, (uint32_t)(12 + dictionary.size())),
       ReasonBadStream},
      {"trailing bytes inside the stored length",
       package(stream + "trailing", (uint32_t)(good.size() + 8)), PackageFine},
      {"trailing bytes beyond the stored length", good + "trailing", PackageFine},
      {"stream cut short", package(stream.substr(0, stream.size() - 1), (uint32_t)good.size() - 1),
       ReasonStreamTooLong},
      {"stored length 0", package(stream, 0), ReasonStoredLength},
      {"stored length 11", package(stream, 11), ReasonStoredLength},
      {"stored length 12 (no stream)", package(stream, 12), ReasonBadStream},
      {"stored length one past the resource", package(stream, (uint32_t)good.size() + 1),
       ReasonStoredLength},
      {"stored length 0xFFFFFFFF", package(stream, 0xFFFFFFFF), ReasonStoredLength},
      {"resource shorter than a header", good.substr(0, 11), ReasonTooShort},
      {"empty resource", "", ReasonTooShort},
      {"empty package", BuildPackage(""), PackageFine},
      {"empty package with a nonzero checksum", RawPackageHeader(20, 0, 1) + Deflate(""),
       ReasonChecksum},
  };
  for (const OutcomeCase& c : cases) {
    Package opened;
    EXPECT_EQ(Unpack(c.resource, &opened), c.expected == PackageFine ? PackageGood : PackageBad)
        << c.what;
    EXPECT_EQ(opened.Reason, c.expected) << c.what;
    ClosePackage(&opened);
  }
}

TEST(PackageReader, GoodPackageHoldsExactlyTheUnpackedData) {
  std::string unpacked = BuildUnpacked(TwoEntries());
  Package package;
  ASSERT_EQ(Unpack(BuildPackage(unpacked), &package), PackageGood);
  ASSERT_EQ(package.Length, unpacked.size());
  EXPECT_EQ(0, memcmp(package.Data, unpacked.data(), unpacked.size()));
  ClosePackage(&package);
  EXPECT_EQ(package.Data, nullptr);
  EXPECT_EQ(package.Length, 0u);
  ClosePackage(&package);  // harmless a second time
}

TEST(PackageReader, EmptyPackageIsGoodWithNoEntry) {
  Package package;
  ASSERT_EQ(Unpack(BuildPackage(""), &package), PackageGood);
  EXPECT_EQ(package.Length, 0u);
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  EXPECT_EQ(NextEntry(&walk, &entry), 0);
  EXPECT_EQ(walk.Broken, 0);
  ClosePackage(&package);
}

// Every single-bit change anywhere in the stream: the reader may call the package good only
// when it really inflates to the original data.
TEST(PackageReader, ChangedStreamBytesNeverPassAsDifferentData) {
  std::string unpacked = BuildUnpacked(TwoEntries());
  std::string good = BuildPackage(unpacked);
  int bad = 0, total = 0;
  for (size_t at = PackageHeaderSize; at < good.size(); at++) {
    for (int bit = 0; bit < 8; bit += 3) {
      std::string changed = good;
      changed[at] = (char)(changed[at] ^ (1 << bit));
      Package package;
      PackageOutcome outcome = Unpack(changed, &package);
      total++;
      if (outcome == PackageGood) {
        ASSERT_EQ(package.Length, unpacked.size()) << "offset " << at;
        EXPECT_EQ(0, memcmp(package.Data, unpacked.data(), unpacked.size())) << "offset " << at;
      } else {
        bad++;
      }
      ClosePackage(&package);
    }
  }
  // A few changes (level bits, unused code lengths, padding bits) leave the data as they were;
  // nearly all others must be caught.
  EXPECT_GT(bad, total * 9 / 10);
}

// The walk over raw unpacked bytes, held in a buffer of exactly their size.
struct Walked {
  std::vector<Entry> entries;
  int broken;
};

Walked Walk(const std::string& unpacked) {
  std::vector<BYTE> exact(unpacked.begin(), unpacked.end());
  Package package = {exact.empty() ? nullptr : exact.data(), (DWORD)exact.size()};
  EntryWalk walk;
  Entry entry;
  Walked result;
  StartEntryWalk(&walk, &package);
  while (NextEntry(&walk, &entry)) {
    // Touch the data view in full, so that a view past the end shows up under ASan.
    std::string data((const char*)entry.Data, entry.Header.DataLength);
    EXPECT_EQ(data.size(), entry.Header.DataLength);
    result.entries.push_back(entry);
  }
  result.broken = walk.Broken;
  EXPECT_EQ(NextEntry(&walk, &entry), 0) << "a finished walk stays finished";
  return result;
}

TEST(PackageWalk, VisitsEveryEntryInStoredOrderWithItsFields) {
  std::vector<PackEntry> entries = TwoEntries();
  entries.push_back({"Zarpo.exe", 0x27, 5, "second copy"});
  entries.push_back({"empty.dat", 0x80, 0, ""});
  std::string unpacked = BuildUnpacked(entries);
  std::vector<BYTE> exact(unpacked.begin(), unpacked.end());
  Package package = {exact.data(), (DWORD)exact.size()};
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  for (const PackEntry& expected : entries) {
    ASSERT_EQ(NextEntry(&walk, &entry), 1) << expected.name;
    EXPECT_STREQ(entry.Name, expected.name.c_str());
    EXPECT_EQ(entry.Header.NameLength, expected.name.size());
    EXPECT_EQ(entry.Header.Attributes, expected.attributes);
    EXPECT_EQ(entry.Header.LastWrite.dwLowDateTime, (DWORD)expected.lastWrite);
    EXPECT_EQ(entry.Header.LastWrite.dwHighDateTime, (DWORD)(expected.lastWrite >> 32));
    ASSERT_EQ(entry.Header.DataLength, expected.data.size());
    EXPECT_EQ(std::string((const char*)entry.Data, entry.Header.DataLength), expected.data);
    EXPECT_GE(entry.Data, exact.data());
    EXPECT_LE(entry.Data + entry.Header.DataLength, exact.data() + exact.size())
        << "viewed in place";
  }
  EXPECT_EQ(NextEntry(&walk, &entry), 0);
  EXPECT_EQ(walk.Broken, 0);
}

TEST(PackageWalk, NameLengthLimit) {
  Walked longest = Walk(EntryBytes({std::string(259, 'n'), 0x20, 0, "x"}));
  ASSERT_EQ(longest.entries.size(), 1u);
  EXPECT_EQ(strlen(longest.entries[0].Name), 259u);
  EXPECT_EQ(longest.entries[0].Name[258], 'n');
  EXPECT_EQ(longest.broken, 0);

  Walked tooLong = Walk(EntryBytes({"first", 0x20, 0, "1"}) +
                        EntryBytes({std::string(260, 'n'), 0x20, 0, "x"}));
  ASSERT_EQ(tooLong.entries.size(), 1u);
  EXPECT_STREQ(tooLong.entries[0].Name, "first");
  EXPECT_EQ(tooLong.broken, 1);
}

struct BrokenCase {
  const char* what;
  std::string tail;  // follows one well-formed entry
};

TEST(PackageWalk, EntryRunningPastTheEndEndsTheWalkBroken) {
  std::string first = EntryBytes({"first.dll", 0x27, 1, "abc"});
  std::string whole = EntryBytes({"second.dll", 0x27, 2, "defgh"});
  std::vector<BrokenCase> cases = {
      {"one byte of a header", whole.substr(0, 1)},
      {"19 bytes of a header", whole.substr(0, 19)},
      {"header without its name", whole.substr(0, EntryHeaderSize)},
      {"name cut short", whole.substr(0, 25)},
      {"data cut short", whole.substr(0, whole.size() - 1)},
      {"data length 0xFFFFFFFF", RawEntryHeader(0xFFFFFFFF, 0, 0, 1) + "n" + "data"},
      {"data length wrapping the offset", RawEntryHeader(0xFFFFFFFF - 20, 0, 0, 1) + "n"},
      {"name length 0xFFFFFFFF", RawEntryHeader(0, 0, 0, 0xFFFFFFFF) + "name"},
      {"name and data lengths summing past 2^32",
       RawEntryHeader(0xFFFFFFF0, 0, 0, 0x20) + std::string(0x20, 'n') + "data"},
  };
  for (const BrokenCase& c : cases) {
    Walked walked = Walk(first + c.tail);
    ASSERT_EQ(walked.entries.size(), 1u) << c.what;
    EXPECT_STREQ(walked.entries[0].Name, "first.dll") << c.what;
    EXPECT_EQ(walked.broken, 1) << c.what;
  }
}

TEST(PackageWalk, EmptyOrAbsentDataHasNoEntry) {
  Package none = {nullptr, 0};
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &none);
  EXPECT_EQ(NextEntry(&walk, &entry), 0);
  EXPECT_EQ(walk.Broken, 0);
  // A bad package may leave Data NULL with a length: the walk must not trust the length.
  Package bad = {nullptr, 100};
  StartEntryWalk(&walk, &bad);
  EXPECT_EQ(NextEntry(&walk, &entry), 0);
}

// Opening from a module: the running program's own (host-tests carries a small release) and
// modules made here, as the POSIX layer lets a test do. First the sample release the updater is
// built with, as this build packed it.
TEST(PackageOpen, SampleReleaseIsGood) {
  PackageModule module(ReadWholeFile(ZARPO_SAMPLE_PACKAGE));
  Package package;
  ASSERT_EQ(OpenPackage(module.Handle(), &package), PackageGood);
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  int count = 0, topLevel = 0, readOnlyArchive = 0, drawings = 0, withBackslashTrail = 0;
  while (NextEntry(&walk, &entry)) {
    count++;
    if (!strchr(entry.Name, '\\')) topLevel++;
    if (entry.Header.Attributes == 0x21) readOnlyArchive++;
    if (entry.Header.Attributes == 0x20) drawings++;
    if (strstr(entry.Name, "\x8D\x5C")) withBackslashTrail++;
    EXPECT_LE(strlen(entry.Name), 250u) << entry.Name;
  }
  EXPECT_EQ(walk.Broken, 0);
  EXPECT_EQ(count, 67);
  EXPECT_EQ(topLevel, 23);
  EXPECT_EQ(readOnlyArchive, 2);
  EXPECT_EQ(drawings, 44);
  EXPECT_EQ(withBackslashTrail, 8);
  ClosePackage(&package);
}

struct ModuleCase {
  const char* what;
  const char* type;
  const char* name;
  size_t cut;  // bytes taken off the end of the resource
  PackageOutcome expected;
};

TEST(PackageOpen, ResourceLookupAndSize) {
  std::string bytes = BuildPackage(BuildUnpacked(TwoEntries()));
  std::vector<BYTE> exact(bytes.begin(), bytes.end());
  std::vector<ModuleCase> cases = {
      {"the package resource", "ZIPFILE", "UPDATE", 0, PackageGood},
      {"another name only", "ZIPFILE", "OTHER", 0, PackageMissing},
      {"another type only", "RCDATA", "UPDATE", 0, PackageMissing},
      {"resource shorter than its stored length", "ZIPFILE", "UPDATE", 1, PackageBad},
      {"resource shorter than a header", "ZIPFILE", "UPDATE", bytes.size() - 4, PackageBad},
  };
  for (const ModuleCase& c : cases) {
    PosixResource resource = {c.type, c.name, 1041, exact.data(),
                              exact.data() + exact.size() - c.cut};
    HINSTANCE__ module = {&resource, 1};
    Package package;
    EXPECT_EQ(OpenPackage(&module, &package), c.expected) << c.what;
    if (c.expected == PackageMissing) {
      EXPECT_EQ(package.Data, nullptr) << c.what;
    }
    ClosePackage(&package);
  }
  HINSTANCE__ empty = {nullptr, 0};
  Package package;
  EXPECT_EQ(OpenPackage(&empty, &package), PackageMissing);
  EXPECT_EQ(package.Data, nullptr);
}

}  // namespace
