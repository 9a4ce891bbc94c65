// Putting a package into words: the reader's reason for refusing it, the release checks made on
// its entries, and the printing of names and numbers; see diagnose.h.
#include "release/diagnose.h"

#include <stdio.h>

#include <zlib.h>

#include "package/package.h"
#include "release/release_check.h"
#include "release/system.h"

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string PrintableName(const std::string& ansi) {
  std::string utf8;
  if (CodePage932ToUtf8(ansi, &utf8)) return utf8;
  // Not valid code page 932: show the bytes.
  std::string out;
  for (unsigned char c : ansi) {
    char text[8];
    if (c >= 0x20 && c < 0x7F) snprintf(text, sizeof text, "%c", c);
    else snprintf(text, sizeof text, "\\x%02X", c);
    out += text;
  }
  return out;
}

// Why an entry of a package would go wrong on a key disk, or "": the release checks the packer
// makes on a manifest, made on what a package holds.
static std::string EntryProblem(const Entry& entry, NameSet* names) {
  std::string ansi(entry.Name, entry.Header.NameLength), utf8;
  if (!CodePage932ToUtf8(ansi, &utf8)) return "the name is not valid code page 932 text";
  uint64_t time = (uint64_t)entry.Header.LastWrite.dwHighDateTime << 32 |
                  entry.Header.LastWrite.dwLowDateTime;
  std::string problem = NameProblem(utf8, ansi);
  if (problem.empty()) problem = AttributesProblem(entry.Header.Attributes);
  if (problem.empty()) problem = TimeProblem(time);
  if (problem.empty()) problem = AddName(names, utf8);
  return problem;
}

// The package header of a file long enough to hold one; zeros otherwise.
static PackageHeader HeaderOf(const std::string& file) {
  PackageHeader header = {};
  if (file.size() >= PackageHeaderSize) header = ReadPackageHeader((const BYTE*)file.data());
  return header;
}

// The reader's reason for refusing a package, with the header's figures it concerns.
static std::string ReasonText(const Package& package, const std::string& file) {
  const PackageHeader header = HeaderOf(file);
  const uint32_t stored = header.StoredLength, unpacked = header.UnpackedLength;
  switch (package.Reason) {
    case ReasonTooShort:
      return "too short: " + std::to_string(file.size()) + " bytes, less than the 12-byte header";
    case ReasonStoredLength:
      return "length: the header says " + std::to_string(stored) + " stored bytes, the file has " +
             std::to_string(file.size());
    case ReasonNoMemory:
      return "no memory for the " + std::to_string(unpacked) +
             " unpacked bytes the header declares";
    case ReasonStreamTooLong:
      return "inflate error: the stream does not end at the " + std::to_string(unpacked) +
             " bytes the header declares";
    case ReasonBadStream:
      return std::string("inflate error: ") + zError((int)(int32_t)package.Detail);
    case ReasonUnpackedLength:
      return "length: the header declares " + std::to_string(unpacked) +
             " unpacked bytes, the stream gives " + std::to_string(package.Detail);
    case ReasonChecksum:
      return "checksum: the header says " + Hex(header.Checksum) + ", the data have " +
             Hex(package.Detail);
    default:
      return "the reader refuses the package";
  }
}

// The reader says why it refuses; a file longer than its stored length is refused here, since
// a file holds nothing but the package.
std::string Diagnose(const std::string& file, bool checkEntries) {
  const uint32_t stored = HeaderOf(file).StoredLength;
  if (file.size() >= PackageHeaderSize && stored != file.size()) {
    return "length: the header says " + std::to_string(stored) + " stored bytes, the file has " +
           std::to_string(file.size());
  }
  Package package;
  PackageOutcome outcome = UnpackPackage((const BYTE*)file.data(), (DWORD)file.size(), &package);
  std::string reason;
  if (outcome != PackageGood) {
    reason = ReasonText(package, file);
  } else {
    EntryWalk walk;
    Entry entry;
    StartEntryWalk(&walk, &package);
    DWORD count = 0;
    NameSet names;
    while (reason.empty() && NextEntry(&walk, &entry)) {
      count++;
      std::string problem = checkEntries ? EntryProblem(entry, &names) : "";
      if (!problem.empty()) {
        reason = "entry " + std::to_string(count) + " (" +
                 PrintableName(std::string(entry.Name, entry.Header.NameLength)) + "): " + problem;
      }
    }
    if (reason.empty() && walk.Broken) {
      reason = "broken entry: entry " + std::to_string(count + 1) + " at offset " +
               std::to_string(walk.Offset) +
               " runs past the end of the data or has a name of 260 bytes or more";
    }
  }
  ClosePackage(&package);
  return reason;
}
