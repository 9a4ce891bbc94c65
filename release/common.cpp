// What the subcommands of zarpo-pack share: reading and writing whole files, a package file or
// updater loaded and its entries read as the updater reads them, the reader's reason for
// refusing a package put into words, and the parsing of a command's options.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "host/host.h"
#include "package/package.h"
#include "release/command.h"
#include "release/inspect.h"
#include "release/manifest.h"
#include "release/package_writer.h"
#include "release/program_file.h"
#include "release/release_check.h"
#include "release/scan.h"

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  *bytes = text.str();
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) {
    *error = "cannot create " + path + ": " + strerror(errno);
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  ok = fflush(out) == 0 && ok;
  ok = fsync(fileno(out)) == 0 && ok;
  if (fclose(out) != 0) ok = false;
  if (!ok) *error = "cannot write " + path + ": " + strerror(errno);
  return ok;
}

uint32_t ReadDword(const std::string& bytes, size_t at) {
  return (uint32_t)(unsigned char)bytes[at] | (uint32_t)(unsigned char)bytes[at + 1] << 8 |
         (uint32_t)(unsigned char)bytes[at + 2] << 16 | (uint32_t)(unsigned char)bytes[at + 3] << 24;
}

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string PrintableName(const char* ansi) {
  char utf8[MAX_PATH * 4];
  if (HostAnsiToUtf8(ansi, utf8, sizeof utf8)) return utf8;
  // Not valid code page 932: show the bytes.
  std::string out;
  for (const char* at = ansi; *at; at++) {
    unsigned char c = (unsigned char)*at;
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
  char utf8[MAX_PATH * 4];
  std::string ansi(entry.Name, entry.Header.NameLength);
  if (ansi.find('\0') != std::string::npos || !HostAnsiToUtf8(entry.Name, utf8, sizeof utf8)) {
    return "the name is not valid code page 932 text";
  }
  uint64_t time = (uint64_t)entry.Header.LastWrite.dwHighDateTime << 32 |
                  entry.Header.LastWrite.dwLowDateTime;
  std::string problem = NameProblem(utf8, ansi);
  if (problem.empty()) problem = AttributesProblem(entry.Header.Attributes);
  if (problem.empty()) problem = TimeProblem(time);
  if (problem.empty()) problem = AddName(names, utf8);
  return problem;
}

// The reader's reason for refusing a package, with the header's figures it concerns.
static std::string ReasonText(const Package& package, const std::string& file) {
  uint32_t stored = ReadDword(file, StoredLengthAt), unpacked = ReadDword(file, UnpackedLengthAt);
  switch (package.Reason) {
    case ReasonTooShort:
      return "too short: " + std::to_string(file.size()) + " bytes, less than the 12-byte header";
    case ReasonStoredLength:
      return "length: the header says " + std::to_string(stored) + " stored bytes, the file has " +
             std::to_string(file.size());
    case ReasonNoMemory:
      return "no memory for the " + std::to_string(unpacked) + " unpacked bytes the header declares";
    case ReasonStreamTooLong:
      return "inflate error: the stream does not end at the " + std::to_string(unpacked) +
             " bytes the header declares";
    case ReasonBadStream:
      return std::string("inflate error: ") + zError((int)(int32_t)package.Detail);
    case ReasonUnpackedLength:
      return "length: the header declares " + std::to_string(unpacked) +
             " unpacked bytes, the stream gives " + std::to_string(package.Detail);
    case ReasonChecksum:
      return "checksum: the header says " + Hex(ReadDword(file, ChecksumAt)) + ", the data have " +
             Hex(package.Detail);
    default:
      return "the reader refuses the package";
  }
}

// Why the updater would refuse the package file's bytes, or "" when it would take them; with
// `checkEntries`, also why one of its entries would go wrong on a key disk. The reader says why
// it refuses; a file longer than its stored length is refused here, since a file holds nothing
// but the package.
std::string Diagnose(const std::string& file, bool checkEntries) {
  if (file.size() >= PackageHeaderSize && ReadDword(file, StoredLengthAt) != file.size()) {
    return "length: the header says " + std::to_string(ReadDword(file, StoredLengthAt)) +
           " stored bytes, the file has " + std::to_string(file.size());
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
        reason = "entry " + std::to_string(count) + " (" + PrintableName(entry.Name) + "): " + problem;
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

bool LoadPackageFile(const std::string& path, std::string* package, ProgramInfo* info,
                            bool* isProgram, bool* missing) {
  std::string file, error;
  *info = ProgramInfo();
  *isProgram = false;
  if (missing) *missing = false;
  if (!ReadWholeFile(path, &file, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    if (missing) *missing = true;
    return false;
  }
  if (!IsProgramFile(file)) {
    *package = std::move(file);
    return true;
  }
  *isProgram = true;
  if (!ReadProgramFile(file, package, info, &error)) {
    fprintf(stderr, "zarpo-pack: %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

bool ReadEntries(const std::string& path, const std::string& file,
                        std::vector<PackEntry>* entries) {
  std::string reason = Diagnose(file);
  if (!reason.empty()) {
    fprintf(stderr, "zarpo-pack: %s: %s\n", path.c_str(), reason.c_str());
    return false;
  }
  Package package;
  UnpackPackage((const BYTE*)file.data(), (DWORD)file.size(), &package);
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  while (NextEntry(&walk, &entry)) {
    PackEntry copy;
    copy.name.assign(entry.Name, entry.Header.NameLength);
    copy.attributes = entry.Header.Attributes;
    copy.lastWrite = (uint64_t)entry.Header.LastWrite.dwHighDateTime << 32 |
                     entry.Header.LastWrite.dwLowDateTime;
    copy.data.assign((const char*)entry.Data, entry.Header.DataLength);
    entries->push_back(std::move(copy));
  }
  ClosePackage(&package);
  return true;
}

bool LoadEntries(const std::string& path, Loaded* loaded) {
  return LoadPackageFile(path, &loaded->file, &loaded->info, &loaded->isProgram) &&
         ReadEntries(path, loaded->file, &loaded->entries);
}

int UsageError(const std::string& message) {
  fprintf(stderr, "zarpo-pack: %s; see zarpo-pack --help\n", message.c_str());
  return 2;
}

int Options(const std::vector<std::string>& args, size_t from,
                   std::vector<std::pair<std::string, std::string*>> values,
                   std::vector<std::pair<std::string, bool*>> flags,
                   std::vector<std::string>* positional) {
  for (size_t i = from; i < args.size(); i++) {
    const std::string& arg = args[i];
    bool known = false;
    for (auto& flag : flags) {
      if (arg == flag.first) *flag.second = known = true;
    }
    for (auto& value : values) {
      if (arg != value.first) continue;
      if (i + 1 >= args.size()) return UsageError(arg + " needs a value"), 0;
      *value.second = args[++i];
      known = true;
    }
    if (known) continue;
    if (arg.compare(0, 2, "--") == 0) return UsageError("unknown option '" + arg + "'"), 0;
    positional->push_back(arg);
  }
  return 1;
}

int WithOneFile(const std::vector<std::string>& args, const char* usage,
                int (*run)(const std::string& path)) {
  std::vector<std::string> files;
  if (!Options(args, 0, {}, {}, &files)) return 2;
  if (files.size() != 1) return UsageError(usage);
  return run(files[0]);
}
