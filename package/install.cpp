// The update itself. Each entry, in stored order: compose the target path, compare (one trace
// line), and when different make its folder, write it and trace "[path] 1" or "[path] 0". The
// first failed write ends the walk. Whenever the package resource was found, good or bad, the
// obsolete files are removed afterwards; nothing is ever rolled back.
#include "package/install.h"

#include "fs/compare.h"
#include "fs/paths.h"
#include "fs/write.h"
#include "package/entry_check.h"
#include "package/package.h"
#include "trace/trace.h"

// One entry that differs from the disk (or is absent): make its folder and write it.
static int WriteEntry(const char* target, const Entry* entry) {
  EnsureParentFolder(target);
  return WriteEntryFile(target, entry->Data, entry->Header.DataLength, entry->Header.Attributes,
                        &entry->Header.LastWrite);
}

static int InstallEntries(const Package* package, const char* TargetFolder) {
  EntryWalk walk;
  StartEntryWalk(&walk, package);
  Entry entry;
  while (NextEntry(&walk, &entry)) {
    char target[MAX_PATH];
    // An entry that could not be installed as a file of its own name inside the product
    // folder (a name that leaves it or that Windows would take for something else, bits that
    // are not attributes, a path that would not fit) is never written: it counts as a failed
    // write.
    if (!IsInstallableName(entry.Name, entry.Header.NameLength) ||
        !IsInstallableAttributes(entry.Header.Attributes) ||
        !JoinPath(target, nullptr, TargetFolder, entry.Name)) {
      Trace("[%s%s] %d", TargetFolder, entry.Name, 0);
      return 0;
    }
    // A path that leads to a file of another name (a short alias of it on a FAT disk) would
    // overwrite that file: refused as a failed write, nothing written.
    int otherFile = 0;
    if (IsSameFile(target, &entry.Header, &otherFile)) continue;
    if (otherFile) {
      Trace("[%s] %d", target, 0);
      return 0;
    }
    int written = WriteEntry(target, &entry);
    Trace("[%s] %d", target, written);
    if (!written) return 0;
  }
  return !walk.Broken;
}

int InstallPackageFrom(HMODULE module, const char* TargetFolder) {
  Package package;
  PackageOutcome outcome = OpenPackage(module, &package);
  if (outcome == PackageMissing) return 0;

  int result = 0;
  if (outcome == PackageGood) result = InstallEntries(&package, TargetFolder);

  for (int i = 0; i < ObsoleteFileCount; i++) RemoveObsoleteFile(TargetFolder, ObsoleteFiles[i]);
  ClosePackage(&package);
  return result;
}

int InstallPackage(const char* TargetFolder) { return InstallPackageFrom(nullptr, TargetFolder); }
