// A package file or built updater loaded for a subcommand: the package bytes, what the
// program's version resource says, and the entries read as the updater reads them.
#pragma once

#include <string>
#include <vector>

#include "release/package_writer.h"
#include "release/program_file.h"

// The package bytes of FILE: the file itself, or the ZIPFILE/UPDATE resource of a built updater.
// false with a message printed (and `missing` set when the file cannot be read at all).
bool LoadPackageFile(const std::string& path, std::string* package, ProgramInfo* info,
                     bool* isProgram, bool* missing = nullptr);
// Why `verify` refuses what LoadPackageFile loaded, or "" when it would say "good": the reader's
// reasons and the entries' checks (Diagnose), and for an updater a version resource naming
// another package than the one it carries.
std::string PackageProblem(const std::string& file, const ProgramInfo& info, bool isProgram);
// The entries of a package the reader takes, copied out; false with the reason printed.
bool ReadEntries(const std::string& path, const std::string& file, std::vector<PackEntry>* entries);

// What a package file or updater holds: the package bytes, what the program's version resource
// says, and the entries; false with the reason printed.
struct Loaded {
  std::string file;
  ProgramInfo info;
  bool isProgram = false;
  std::vector<PackEntry> entries;
};

bool LoadEntries(const std::string& path, Loaded* loaded);
