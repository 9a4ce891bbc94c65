// What makes a release entry go wrong on a key disk, checked by the packer before it writes a
// package and by `verify` on a package already made: everything the updater refuses to install,
// and what it would install wrongly or again on every run.
#pragma once

#include <stdint.h>

#include <set>
#include <string>

// Why the entry would not end up on a key disk as packed, or "" when it would. `name` is the
// UTF-8 form of `ansiName` (the code page 932 bytes the package stores). Refused: whatever the
// updater refuses (see package/entry_check.h: levels that leave the folder, devices, wildcards,
// trimmed names, control bytes, broken double-byte characters); levels shaped like the short
// 8.3 alias Windows gives long names (ZARPOC~1.DLL), which may stand for another file; the names
// of the obsolete list (the updater deletes them after writing them).
std::string NameProblem(const std::string& name, const std::string& ansiName);

// The same for the attributes: bits that are not attributes, the directory bit, 0x0 or 0x80 (a
// written file reads back with ARCHIVE, so it would be written on every run), and any bit
// beyond 0x27, which a FAT key disk's directory entry drops (the same outcome).
std::string AttributesProblem(uint32_t attributes);

// The same for a last-write time: outside 1980-01-01 to 2107-12-31 there is no DOS time, so the
// file would never compare equal and would be written on every run.
std::string TimeProblem(uint64_t lastWrite);

// The names of one package, as Windows compares them: without regard to case, folded with the
// simple uppercase mapping of every letter code page 932 has (Latin, full-width Latin, Greek,
// Cyrillic).
struct NameSet {
  std::set<std::string> files;
  std::set<std::string> folders;
};

// `name` (UTF-8) as Windows compares names: every character by its simple uppercase mapping.
std::string FoldedName(const std::string& name);

// Adds `name` (UTF-8); "" when it names a new file, else why it clashes with an earlier one.
std::string AddName(NameSet* names, const std::string& name);
