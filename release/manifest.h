// The packer's manifest: which files go into a package, in which order, with which attributes
// and times; and the UTC time text the packer reads and prints.
//
// Grammar (UTF-8 text, one entry per line, entries in stored order):
//   line       = blank* [ entry | "#" comment ] blank*      (blank = space or tab; CR LF ok)
//   entry      = attributes blank+ name [ blank+ time ]
//   attributes = "0x" 1*8 hex digits                         e.g. 0x27 (no directory bit 0x10)
//   name       = levels separated by single backslashes, as stored; spaces inside allowed
//   time       = YYYY "-" MM "-" DD "T" hh ":" mm ":" ss [ "." 1*7 digits ] "Z"   (UTC)
// A "#" starts a comment only as the first character of a line. The last blank-separated word
// of an entry is taken as its time when it begins like one ("YYYY-MM-DDT"); anything else there
// belongs to the name.
//
// A name is refused when it is not representable in code page 932, is longer than 250 bytes
// there (it must fit below the nine-byte product folder within MAX_PATH), has an empty, "." or
// ".." level, a level ending in a dot or a space (Windows would drop them), a leading backslash,
// a colon (drive prefix or stream), a slash, a control character or one of < > " | ? *; and when
// it repeats an earlier name or folder (ASCII letters compared without regard to case, as
// Windows does).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

const size_t LongestPackageName = 250;

struct ManifestEntry {
  int line;  // 1-based line number in the manifest
  uint32_t attributes;
  std::string name;      // UTF-8, as written (backslashes)
  std::string ansiName;  // the same in code page 932: what the package stores
  bool hasTime;
  uint64_t lastWrite;  // FILETIME, when hasTime
};

// What is wrong with one line of a manifest.
struct ManifestProblem {
  int line;
  std::string message;
};

// Reading stops after this many problems.
const size_t MostManifestProblems = 20;

// Parses the whole manifest: true with every entry, or false with every problem (up to
// MostManifestProblems), each with its line; the entries then hold the good lines only.
bool ParseManifest(const std::string& text, std::vector<ManifestEntry>* entries,
                   std::vector<ManifestProblem>* problems);

// "FILE:LINE: message" lines, and one more when the list was cut.
std::string FormatProblems(const std::string& file, const std::vector<ManifestProblem>& problems);

struct NameSet;

// The checks of an entry's name (entry->name, UTF-8) as ParseManifest makes them, names seen
// so far in `names`: "" with entry->ansiName set, or what is wrong.
std::string CheckEntryName(ManifestEntry* entry, NameSet* names);

// FILETIME <-> "YYYY-MM-DDThh:mm:ss[.fffffff]Z". Parsing refuses impossible dates and times
// and anything before 1601 or after 9999.
bool ParseUtcTime(const std::string& text, uint64_t* fileTime);
std::string FormatUtcTime(uint64_t fileTime);  // always 7 fraction digits

// A POSIX time (seconds and nanoseconds since 1970) as a FILETIME at full 100 ns precision;
// false before 1601.
bool FileTimeFromUnix(int64_t seconds, long nanoseconds, uint64_t* fileTime);

// Brought down to a whole even second: a FAT key disk keeps times in two-second steps and
// rounds a written time up, so any other time would never compare equal after writing.
uint64_t RoundDownToEvenSecond(uint64_t fileTime);
