// Loading a package file or updater and copying its entries out; see load_package.h.
#include "release/load_package.h"

#include <stdint.h>
#include <stdio.h>

#include <utility>

#include "package/package.h"
#include "release/diagnose.h"
#include "release/sha256.h"
#include "release/system.h"

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

std::string PackageProblem(const std::string& file, const ProgramInfo& info, bool isProgram) {
  std::string reason = Diagnose(file, true);
  if (reason.empty() && isProgram && !info.packageDigest.empty() &&
      info.packageDigest != Sha256Hex(file)) {
    reason = "the version resource names the package " + info.packageDigest +
             ", the program carries " + Sha256Hex(file);
  }
  return reason;
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
  while (NextEntry(&walk, &entry)) entries->push_back(PackEntryOf(entry));
  ClosePackage(&package);
  return true;
}

bool LoadEntries(const std::string& path, Loaded* loaded) {
  return LoadPackageFile(path, &loaded->file, &loaded->info, &loaded->isProgram) &&
         ReadEntries(path, loaded->file, &loaded->entries);
}
