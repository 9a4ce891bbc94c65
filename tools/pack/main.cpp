// zarpo-pack: makes the update package from a release folder and a manifest, lists a package's
// entries and verifies a package the way the updater will read it.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "package/package.h"
#include "platform/posix/codepage.h"
#include "tools/pack/manifest.h"
#include "tools/pack/package_writer.h"
#include "tools/pack/release_check.h"

static const char Usage[] =
    "usage:\n"
    "  zarpo-pack pack --root DIR --manifest FILE --output FILE [--exact-times] [--subset]\n"
    "  zarpo-pack list FILE\n"
    "  zarpo-pack verify FILE\n"
    "  zarpo-pack --help\n"
    "\n"
    "pack    writes the package of the files the manifest names, read from DIR, in manifest\n"
    "        order, compressed at zlib level 9; reads it back and compares before it replaces\n"
    "        FILE. The same input always gives the same bytes.\n"
    "list    prints each entry: attributes, last-write time (UTC), size, name.\n"
    "verify  prints \"good\", or the reason the updater would refuse the package or one of its\n"
    "        entries would go wrong on a key disk (exit 1): the checks pack makes on a manifest.\n"
    "\n"
    "Manifest: UTF-8 text, one entry per line, in the order the package stores them:\n"
    "    ATTRIBUTES  NAME  [TIME]\n"
    "  ATTRIBUTES  0x and 1 to 8 hex digits: FILE_ATTRIBUTE_* bits a file can have (within\n"
    "              0x31A7; not the directory bit 0x10); not 0x0 or 0x80, which read back as 0x20\n"
    "  NAME        the stored name, levels separated by backslashes (Sample\\Folder\\File.dwg);\n"
    "              spaces inside are kept; the file is DIR/Sample/Folder/File.dwg\n"
    "  TIME        last-write time, UTC: YYYY-MM-DDThh:mm:ss[.fffffff]Z, 1980 to 2107\n"
    "              (default: the file's own modification time); the last word of a line\n"
    "              is taken as its time when it begins YYYY-MM-DDT\n"
    "  Fields are separated by spaces or tabs. Blank lines and lines beginning with # are\n"
    "  skipped. A name must be representable in code page 932 in at most 250 bytes, must be\n"
    "  relative (no leading backslash, no drive, no colon), must not have empty, \".\" or \"..\"\n"
    "  levels, levels ending in a dot or space, slashes, control characters or < > \" | ? *,\n"
    "  levels that are Windows devices (NUL, CON, COM1.txt, ...) or shaped like short 8.3\n"
    "  aliases (ZARPOC~1.DLL), must not be on the updater's obsolete list, and must not repeat\n"
    "  an earlier name or folder (case ignored as Windows ignores it). Such lines are refused\n"
    "  with their line number, and nothing is written. Files below DIR that no line names are\n"
    "  listed as warnings (--subset: the manifest names only some of them on purpose).\n"
    "\n"
    "Times are brought down to a whole even second (a FAT key disk keeps two-second steps), so\n"
    "a written file compares equal on the next run; --exact-times keeps them to 100 ns.\n";

static bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
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

static uint32_t ReadDword(const std::string& bytes, size_t at) {
  return (uint32_t)(unsigned char)bytes[at] | (uint32_t)(unsigned char)bytes[at + 1] << 8 |
         (uint32_t)(unsigned char)bytes[at + 2] << 16 | (uint32_t)(unsigned char)bytes[at + 3] << 24;
}

static std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

static std::string PrintableName(const char* ansi);

// Why an entry of a package would go wrong on a key disk, or "": the release checks the packer
// makes on a manifest, made on what a package holds.
static std::string EntryProblem(const Entry& entry, NameSet* names) {
  char utf8[MAX_PATH * 4];
  std::string ansi(entry.Name, entry.Header.NameLength);
  if (ansi.find('\0') != std::string::npos || !PosixAnsiToUtf8(entry.Name, utf8, sizeof utf8)) {
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

// Why the updater would refuse the package file's bytes, or "" when it would take them; with
// `checkEntries`, also why one of its entries would go wrong on a key disk. Goes step by step so
// that the reason can be named; the reader itself has the last word.
static std::string Diagnose(const std::string& file, bool checkEntries = false) {
  if (file.size() < PackageHeaderSize) {
    return "too short: " + std::to_string(file.size()) + " bytes, less than the 12-byte header";
  }
  uint32_t stored = ReadDword(file, 0), unpacked = ReadDword(file, 4), checksum = ReadDword(file, 8);
  if (stored < PackageHeaderSize || stored != file.size()) {
    return "length: the header says " + std::to_string(stored) + " stored bytes, the file has " +
           std::to_string(file.size());
  }
  // Left uninitialised: a header may declare up to 4 GB, and only what inflates is touched.
  std::unique_ptr<Bytef[]> buffer(new Bytef[unpacked ? unpacked : 1]);
  uLongf produced = unpacked;
  int result = uncompress(buffer.get(), &produced, (const Bytef*)file.data() + PackageHeaderSize,
                          (uLong)(stored - PackageHeaderSize));
  if (result == Z_BUF_ERROR) {
    return "inflate error: the stream gives more than the " + std::to_string(unpacked) +
           " bytes the header declares";
  }
  if (result != Z_OK) return std::string("inflate error: ") + zError(result);
  if (produced != unpacked) {
    return "length: the header declares " + std::to_string(unpacked) +
           " unpacked bytes, the stream gives " + std::to_string(produced);
  }
  uint32_t actual = (uint32_t)crc32(0, buffer.get(), (uInt)produced);
  if (actual != checksum) {
    return "checksum: the header says " + Hex(checksum) + ", the data have " + Hex(actual);
  }

  Package package;
  PackageOutcome outcome = UnpackPackage((const BYTE*)file.data(), (DWORD)file.size(), &package);
  std::string reason;
  if (outcome != PackageGood) {
    reason = "the reader refuses the package";
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

static std::string PrintableName(const char* ansi) {
  char utf8[MAX_PATH * 4];
  if (PosixAnsiToUtf8(ansi, utf8, sizeof utf8)) return utf8;
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

static int List(const std::string& path) {
  std::string file, error;
  if (!ReadWholeFile(path, &file, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  std::string reason = Diagnose(file);
  if (!reason.empty()) {
    fprintf(stderr, "zarpo-pack: %s: %s\n", path.c_str(), reason.c_str());
    return 1;
  }
  Package package;
  UnpackPackage((const BYTE*)file.data(), (DWORD)file.size(), &package);
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  printf("%-10s  %-28s  %10s  %s\n", "attributes", "last write (UTC)", "size", "name");
  DWORD count = 0;
  while (NextEntry(&walk, &entry)) {
    uint64_t time = (uint64_t)entry.Header.LastWrite.dwHighDateTime << 32 |
                    entry.Header.LastWrite.dwLowDateTime;
    printf("%-10s  %-28s  %10lu  %s\n", Hex(entry.Header.Attributes).c_str(),
           FormatUtcTime(time).c_str(), (unsigned long)entry.Header.DataLength,
           PrintableName(entry.Name).c_str());
    count++;
  }
  printf("%lu entries, %lu bytes unpacked, %zu bytes stored\n", (unsigned long)count,
         (unsigned long)package.Length, file.size());
  ClosePackage(&package);
  return 0;
}

static int Verify(const std::string& path) {
  std::string file, error;
  if (!ReadWholeFile(path, &file, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    printf("missing\n");
    return 1;
  }
  std::string reason = Diagnose(file, true);
  if (!reason.empty()) {
    printf("%s\n", reason.c_str());
    return 1;
  }
  printf("good\n");
  return 0;
}

// The package read back as the updater reads it must hold exactly the entries given.
static std::string ReadBackProblem(const std::string& file, const std::vector<PackEntry>& entries) {
  std::string reason = Diagnose(file);
  if (!reason.empty()) return reason;
  Package package;
  UnpackPackage((const BYTE*)file.data(), (DWORD)file.size(), &package);
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  size_t index = 0;
  while (reason.empty() && NextEntry(&walk, &entry)) {
    if (index >= entries.size()) {
      reason = "more entries read back than were written";
      break;
    }
    const PackEntry& expected = entries[index];
    uint64_t time = (uint64_t)entry.Header.LastWrite.dwHighDateTime << 32 |
                    entry.Header.LastWrite.dwLowDateTime;
    if (expected.name != entry.Name ||
        expected.attributes != entry.Header.Attributes || expected.lastWrite != time ||
        expected.data.size() != entry.Header.DataLength ||
        memcmp(expected.data.data(), entry.Data, expected.data.size()) != 0) {
      reason = "entry " + std::to_string(index + 1) + " reads back differently";
    }
    index++;
  }
  if (reason.empty() && index != entries.size()) {
    reason = std::to_string(index) + " entries read back instead of " + std::to_string(entries.size());
  }
  ClosePackage(&package);
  return reason;
}

static bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
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

// A file below the release folder that no line names is most likely a module someone forgot
// to add: each is named on standard error, and the package is made all the same.
static void WarnOfFilesLeftOut(const std::string& root, const std::vector<ManifestEntry>& lines) {
  std::set<std::string> named;
  for (const ManifestEntry& line : lines) {
    std::string relative = line.name;
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    named.insert(relative);
  }
  std::error_code error;
  std::vector<std::string> left;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error)) continue;
    std::string relative = std::filesystem::relative(it->path(), root, error).generic_string();
    if (!named.count(relative)) left.push_back(relative);
  }
  std::sort(left.begin(), left.end());
  for (const std::string& relative : left) {
    fprintf(stderr, "zarpo-pack: warning: %s/%s is not in the manifest and is left out\n",
            root.c_str(), relative.c_str());
  }
}

static int Pack(const std::string& root, const std::string& manifestPath,
                const std::string& output, bool exactTimes, bool subset) {
  std::string text, error;
  if (!ReadWholeFile(manifestPath, &text, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  std::vector<ManifestEntry> lines;
  if (!ParseManifest(text, &lines, &error)) {
    fprintf(stderr, "zarpo-pack: %s: %s\n", manifestPath.c_str(), error.c_str());
    return 1;
  }

  std::vector<PackEntry> entries;
  uint64_t total = 0;
  for (const ManifestEntry& line : lines) {
    std::string hostPath = root + "/" + line.name;
    for (size_t i = root.size() + 1; i < hostPath.size(); i++) {
      if (hostPath[i] == '\\') hostPath[i] = '/';
    }
    auto fail = [&](const std::string& message) {
      fprintf(stderr, "zarpo-pack: %s: line %d: %s\n", manifestPath.c_str(), line.line,
              message.c_str());
      return 1;
    };
    struct stat info;
    if (stat(hostPath.c_str(), &info) != 0) return fail("cannot read " + hostPath + ": " + strerror(errno));
    if (!S_ISREG(info.st_mode)) return fail(hostPath + " is not a regular file");
    PackEntry entry;
    entry.name = line.ansiName;
    entry.attributes = line.attributes;
    if (!ReadWholeFile(hostPath, &entry.data, &error)) return fail(error);
    if (entry.data.size() > UINT32_MAX) return fail(hostPath + " is 4 GB or larger");
    if (line.hasTime) {
      entry.lastWrite = line.lastWrite;
    } else if (!FileTimeFromUnix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec, &entry.lastWrite)) {
      return fail(hostPath + " was last written before 1601");
    }
    if (!exactTimes) entry.lastWrite = RoundDownToEvenSecond(entry.lastWrite);
    std::string problem = TimeProblem(entry.lastWrite);
    if (!problem.empty()) {
      return fail(problem + " (" + FormatUtcTime(entry.lastWrite) + ", from " + hostPath +
                  "; give the line a time)");
    }
    total += EntryHeaderSize + entry.name.size() + entry.data.size();
    if (total > UINT32_MAX) return fail("the unpacked package would reach 4 GB");
    entries.push_back(std::move(entry));
  }

  if (!subset) WarnOfFilesLeftOut(root, lines);

  std::string unpacked = BuildUnpacked(entries);
  std::string package = BuildPackage(unpacked, 9);

  // Written under a temporary name and renamed only once it reads back right, so a failed run
  // never leaves a package behind, nor destroys the one that was there.
  std::string temporary = output + ".tmp." + std::to_string(getpid());
  std::string written;
  bool ok = WriteWholeFile(temporary, package, &error) && ReadWholeFile(temporary, &written, &error);
  if (ok) {
    std::string problem = ReadBackProblem(written, entries);
    if (!problem.empty()) {
      error = "the package does not read back: " + problem;
      ok = false;
    }
  }
  if (ok && rename(temporary.c_str(), output.c_str()) != 0) {
    error = "cannot rename " + temporary + " to " + output + ": " + strerror(errno);
    ok = false;
  }
  if (!ok) {
    unlink(temporary.c_str());
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  printf("%s: %zu entries, %zu bytes unpacked, %zu bytes stored\n", output.c_str(), entries.size(),
         unpacked.size(), package.size());
  return 0;
}

static int UsageError(const std::string& message) {
  fprintf(stderr, "zarpo-pack: %s\n\n%s", message.c_str(), Usage);
  return 2;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no command");
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      fputs(Usage, stdout);
      return 0;
    }
  }
  try {
    const std::string& command = args[0];
    if (command == "list" || command == "verify") {
      if (args.size() != 2) return UsageError(command + " takes one package file");
      return command == "list" ? List(args[1]) : Verify(args[1]);
    }
    if (command != "pack") return UsageError("unknown command '" + command + "'");
    std::string root, manifest, output;
    bool exactTimes = false;
    bool subset = false;
    for (size_t i = 1; i < args.size(); i++) {
      const std::string& arg = args[i];
      std::string* value = arg == "--root" ? &root : arg == "--manifest" ? &manifest
                         : arg == "--output" ? &output : nullptr;
      if (arg == "--exact-times") {
        exactTimes = true;
      } else if (arg == "--subset") {
        subset = true;
      } else if (!value) {
        return UsageError("unknown option '" + arg + "'");
      } else if (i + 1 >= args.size()) {
        return UsageError(arg + " needs a value");
      } else {
        *value = args[++i];
      }
    }
    if (root.empty() || manifest.empty() || output.empty()) {
      return UsageError("pack needs --root, --manifest and --output");
    }
    return Pack(root, manifest, output, exactTimes, subset);
  } catch (const std::exception& failure) {
    fprintf(stderr, "zarpo-pack: %s\n", failure.what());
    return 1;
  }
}
