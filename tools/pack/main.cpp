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
#include "platform/posix/host.h"
#include "tools/pack/inspect.h"
#include "tools/pack/manifest.h"
#include "tools/pack/package_writer.h"
#include "tools/pack/program_file.h"
#include "tools/pack/release_check.h"
#include "tools/pack/scan.h"

static const char Usage[] =
    "usage:\n"
    "  zarpo-pack pack --root DIR --manifest FILE --output FILE [--exact-times] [--subset]\n"
    "  zarpo-pack scan --root DIR [--output FILE] [--keep-going]\n"
    "  zarpo-pack list FILE\n"
    "  zarpo-pack verify FILE\n"
    "  zarpo-pack extract FILE --output DIR\n"
    "  zarpo-pack diff OLD NEW\n"
    "  zarpo-pack newest-time FILE\n"
    "  zarpo-pack --help | --version\n"
    "\n"
    "FILE, OLD and NEW are package files or built updaters (ZarpoUpdate.exe, PE32 or PE32+),\n"
    "whose ZIPFILE/UPDATE resource is read.\n"
    "\n"
    "pack    writes the package of the files the manifest names, read from DIR, in manifest\n"
    "        order, compressed at zlib level 9; reads it back and compares before it replaces\n"
    "        FILE. The same input always gives the same bytes. Every problem of the manifest\n"
    "        is reported at once (up to 20), as FILE:LINE: message.\n"
    "scan    writes a manifest of every file below DIR (standard output without --output):\n"
    "        the files of a folder before its sub-folders, each in byte order of the code\n"
    "        page 932 names; attributes from user.DOSATTRIB where a file has it (the text\n"
    "        0x27 of Wine and older Samba, or Samba's binary forms, versions 1 to 5), else 0x20\n"
    "        and read-only from the mode; the last-write time brought down to an even second.\n"
    "        Files that cannot be packed are named on standard error and left out. A\n"
    "        user.DOSATTRIB that cannot be read is named there too, and nothing is written\n"
    "        (exit 1); --keep-going writes the manifest with 0x20 and read-only from the mode\n"
    "        for those files.\n"
    "list    prints each entry: attributes, last-write time (UTC), size, name; for an updater\n"
    "        first its version and the SHA-256 of the package it carries.\n"
    "verify  prints \"good\", or the reason the updater would refuse the package or one of its\n"
    "        entries would go wrong on a key disk (exit 1): the checks pack makes on a manifest.\n"
    "extract writes every entry below DIR (new or empty) with its last-write time, its\n"
    "        attributes in user.DOSATTRIB and read-only in the mode, as scan reads them back.\n"
    "diff    lists the entries NEW adds, removes and changes against OLD, and flags each one\n"
    "        whose contents changed while size, attributes and DOS time stayed the same\n"
    "        (NEVER DELIVERED: the updater takes such a file on a key disk that holds OLD for\n"
    "        up to date, so the new contents never arrive), and each removed one that is not on\n"
    "        the updater's obsolete list (STAYS ON KEY DISKS: the updater deletes no other\n"
    "        file). Exit 1 when there is such an entry; 0 otherwise; 2 on errors.\n"
    "newest-time prints the newest last-write time of the entries in seconds since 1970 UTC:\n"
    "        the signing time of a build that carries the package.\n"
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
static bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error);

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
static std::string Diagnose(const std::string& file, bool checkEntries = false) {
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

// The package bytes of FILE: the file itself, or the ZIPFILE/UPDATE resource of a built updater.
// false with a message printed (and `missing` set when the file cannot be read at all).
static bool LoadPackageFile(const std::string& path, std::string* package, ProgramInfo* info,
                            bool* isProgram, bool* missing = nullptr) {
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

// The entries of a package the reader takes, copied out; false with the reason printed.
static bool ReadEntries(const std::string& path, const std::string& file,
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

// What a package file or updater holds: the package bytes, what the program's version resource
// says, and the entries; false with the reason printed.
struct Loaded {
  std::string file;
  ProgramInfo info;
  bool isProgram = false;
  std::vector<PackEntry> entries;
};

static bool LoadEntries(const std::string& path, Loaded* loaded) {
  return LoadPackageFile(path, &loaded->file, &loaded->info, &loaded->isProgram) &&
         ReadEntries(path, loaded->file, &loaded->entries);
}

static int List(const std::string& path) {
  Loaded loaded;
  if (!LoadEntries(path, &loaded)) return 1;
  const std::string& file = loaded.file;
  const ProgramInfo& info = loaded.info;
  const std::vector<PackEntry>& entries = loaded.entries;
  bool isProgram = loaded.isProgram;
  if (isProgram) {
    printf("updater version %s, package SHA-256 %s\n",
           info.version.empty() ? "(none)" : info.version.c_str(), Sha256Hex(file).c_str());
    if (!info.packageDigest.empty() && info.packageDigest != Sha256Hex(file)) {
      printf("the version resource names another package: SHA-256 %s\n", info.packageDigest.c_str());
    }
  }
  printf("%-10s  %-28s  %10s  %s\n", "attributes", "last write (UTC)", "size", "name");
  uint64_t unpacked = 0;
  for (const PackEntry& entry : entries) {
    printf("%-10s  %-28s  %10zu  %s\n", Hex(entry.attributes).c_str(),
           FormatUtcTime(entry.lastWrite).c_str(), entry.data.size(),
           PrintableName(entry.name.c_str()).c_str());
    unpacked += EntryHeaderSize + entry.name.size() + entry.data.size();
  }
  printf("%zu entries, %llu bytes unpacked, %zu bytes stored\n", entries.size(),
         (unsigned long long)unpacked, file.size());
  return 0;
}

static int Verify(const std::string& path) {
  std::string file;
  ProgramInfo info;
  bool isProgram, missing;
  if (!LoadPackageFile(path, &file, &info, &isProgram, &missing)) {
    printf(missing ? "missing\n" : "not an updater with a package\n");
    return 1;
  }
  std::string reason = Diagnose(file, true);
  if (reason.empty() && isProgram && !info.packageDigest.empty() &&
      info.packageDigest != Sha256Hex(file)) {
    reason = "the version resource names the package " + info.packageDigest +
             ", the program carries " + Sha256Hex(file);
  }
  if (!reason.empty()) {
    printf("%s\n", reason.c_str());
    return 1;
  }
  printf("good\n");
  return 0;
}

static int Extract(const std::string& path, const std::string& output) {
  Loaded loaded;
  if (!LoadEntries(path, &loaded)) return 1;
  return ExtractEntries(loaded.entries, output);
}

static int Diff(const std::string& oldPath, const std::string& newPath) {
  Loaded before, after;
  if (!LoadEntries(oldPath, &before) || !LoadEntries(newPath, &after)) return 2;
  return DiffEntries(before.entries, after.entries);
}

static int Scan(const std::string& root, const std::string& output, bool keepGoing) {
  std::string manifest, error;
  std::vector<std::string> leftOut, unreadable;
  if (!ScanRelease(root, &manifest, &leftOut, &unreadable, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& line : leftOut) {
    fprintf(stderr, "zarpo-pack: left out %s/%s\n", root.c_str(), line.c_str());
  }
  for (const std::string& line : unreadable) {
    fprintf(stderr, "zarpo-pack: %s%s/%s\n", keepGoing ? "warning: " : "", root.c_str(),
            line.c_str());
  }
  // A release would otherwise ship without the read-only, hidden and system bits it has.
  if (!unreadable.empty() && !keepGoing) {
    fprintf(stderr,
            "zarpo-pack: %zu attribute value%s could not be read; nothing written (set them with"
            " setfattr -n user.DOSATTRIB -v '\"0x21\"' FILE, or --keep-going takes 0x20 and"
            " read-only from the mode)\n",
            unreadable.size(), unreadable.size() == 1 ? "" : "s");
    return 1;
  }
  if (output.empty()) {
    fputs(manifest.c_str(), stdout);
    return 0;
  }
  if (!WriteWholeFile(output, manifest, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// The newest last-write time among the entries, in seconds since 1970: the time the build
// signs the updater with, so that the same release always gives the same signed bytes.
static int NewestTime(const std::string& path) {
  Loaded loaded;
  if (!LoadEntries(path, &loaded)) return 1;
  if (loaded.entries.empty()) {
    fprintf(stderr, "zarpo-pack: %s has no entries, so no newest time\n", path.c_str());
    return 1;
  }
  uint64_t newest = 0;
  for (const PackEntry& entry : loaded.entries) newest = std::max(newest, entry.lastWrite);
  const uint64_t TicksPerSecond = 10000000, SecondsFrom1601To1970 = 11644473600ull;
  printf("%lld\n", (long long)(newest / TicksPerSecond) - (long long)SecondsFrom1601To1970);
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
  std::vector<ManifestProblem> problems;
  if (!ParseManifest(text, &lines, &problems)) {
    fputs(FormatProblems(manifestPath, problems).c_str(), stderr);
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
      problems.push_back({line.line, message});
      return 0;
    };
    if (problems.size() >= MostManifestProblems) break;
    struct stat info;
    if (stat(hostPath.c_str(), &info) != 0) {
      fail("cannot read " + hostPath + ": " + strerror(errno));
      continue;
    }
    if (!S_ISREG(info.st_mode)) {
      fail(hostPath + " is not a regular file");
      continue;
    }
    PackEntry entry;
    entry.name = line.ansiName;
    entry.attributes = line.attributes;
    if (!ReadWholeFile(hostPath, &entry.data, &error)) {
      fail(error);
      continue;
    }
    if (entry.data.size() > UINT32_MAX) {
      fail(hostPath + " is 4 GB or larger");
      continue;
    }
    if (line.hasTime) {
      entry.lastWrite = line.lastWrite;
    } else if (!FileTimeFromUnix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec, &entry.lastWrite)) {
      fail(hostPath + " was last written before 1601");
      continue;
    }
    if (!exactTimes) entry.lastWrite = RoundDownToEvenSecond(entry.lastWrite);
    std::string problem = TimeProblem(entry.lastWrite);
    if (!problem.empty()) {
      fail(problem + " (" + FormatUtcTime(entry.lastWrite) + ", from " + hostPath +
           "; give the line a time)");
      continue;
    }
    total += EntryHeaderSize + entry.name.size() + entry.data.size();
    if (total > UINT32_MAX) {
      fail("the unpacked package would reach 4 GB");
      break;
    }
    entries.push_back(std::move(entry));
  }
  if (!problems.empty()) {
    fputs(FormatProblems(manifestPath, problems).c_str(), stderr);
    return 1;
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
  fprintf(stderr, "zarpo-pack: %s; see zarpo-pack --help\n", message.c_str());
  return 2;
}

// --name VALUE options of a command; "" for those not given. 0 with the usage error printed.
static int Options(const std::vector<std::string>& args, size_t from,
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

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no command");
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      fputs(Usage, stdout);
      return 0;
    }
    if (arg == "--version") {
      printf("zarpo-pack %s\n", ZARPO_VERSION);
      return 0;
    }
  }
  try {
    const std::string& command = args[0];
    std::string root, manifest, output;
    bool exactTimes = false, subset = false;
    std::vector<std::string> files;
    if (command == "list" || command == "verify") {
      if (!Options(args, 1, {}, {}, &files)) return 2;
      if (files.size() != 1) return UsageError(command + " takes one package or updater");
      return command == "list" ? List(files[0]) : Verify(files[0]);
    }
    if (command == "extract") {
      if (!Options(args, 1, {{"--output", &output}}, {}, &files)) return 2;
      if (files.size() != 1 || output.empty()) {
        return UsageError("extract takes one package or updater and --output DIR");
      }
      return Extract(files[0], output);
    }
    if (command == "diff") {
      if (!Options(args, 1, {}, {}, &files)) return 2;
      if (files.size() != 2) return UsageError("diff takes two packages or updaters");
      return Diff(files[0], files[1]);
    }
    if (command == "scan") {
      bool keepGoing = false;
      if (!Options(args, 1, {{"--root", &root}, {"--output", &output}},
                   {{"--keep-going", &keepGoing}}, &files)) {
        return 2;
      }
      if (root.empty() || !files.empty()) {
        return UsageError("scan takes --root DIR [--output FILE] [--keep-going]");
      }
      return Scan(root, output, keepGoing);
    }
    if (command == "newest-time") {
      if (!Options(args, 1, {}, {}, &files)) return 2;
      if (files.size() != 1) return UsageError("newest-time takes one package or updater");
      return NewestTime(files[0]);
    }
    if (command != "pack") return UsageError("unknown command '" + command + "'");
    if (!Options(args, 1, {{"--root", &root}, {"--manifest", &manifest}, {"--output", &output}},
                 {{"--exact-times", &exactTimes}, {"--subset", &subset}}, &files)) {
      return 2;
    }
    if (root.empty() || manifest.empty() || output.empty() || !files.empty()) {
      return UsageError("pack needs --root, --manifest and --output");
    }
    return Pack(root, manifest, output, exactTimes, subset);
  } catch (const std::exception& failure) {
    fprintf(stderr, "zarpo-pack: %s\n", failure.what());
    return 1;
  }
}
