// The update itself. Each entry, in stored order: compose the target path, compare (one trace
// line), and when different make its folder, write it and trace "[path] 1" or "[path] 0". The
// first failed write ends the walk. Whenever the package resource was found, good or bad, the
// obsolete files are removed afterwards; nothing is ever rolled back.
#include "package/install.h"

#include "fs/compare.h"
#include "fs/paths.h"
#include "fs/write.h"
#include "package/package.h"
#include "trace/trace.h"

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

// Whether an entry name stays inside the folder it is joined to: no empty name or level, no
// leading separator, no drive prefix or other colon, no level made of dots (and spaces) alone
// such as "." or "..".
static int IsContainedName(const char* name) {
  const char* level = name;
  int onlyDots = 1;  // so far the level holds nothing but dots and spaces
  for (const char* p = name;; p++) {
    // A lead byte before the NUL ends the name, as everywhere in the path helpers.
    int end = *p == '\0' || (IsDBCSLeadByte((BYTE)*p) && p[1] == '\0');
    if (end || IsSeparator(*p)) {
      // Empty levels and levels of dots and spaces alone ("." and ".." after Windows trims
      // them) would leave the folder or name no file at all.
      if (p == level || onlyDots) return 0;
      if (end) return 1;
      level = p + 1;
      onlyDots = 1;
    } else if (*p == ':') {
      return 0;
    } else if (IsDBCSLeadByte((BYTE)*p)) {
      onlyDots = 0;
      p++;
    } else if (*p != '.' && *p != ' ') {
      onlyDots = 0;
    }
  }
}

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
    // A name that would leave the product folder, or a path that would not fit, is never
    // written: it counts as a failed write.
    if (!IsContainedName(entry.Name) || !JoinPath(target, nullptr, TargetFolder, entry.Name)) {
      Trace("[%s%s] %d", TargetFolder, entry.Name, 0);
      return 0;
    }
    if (IsSameFile(target, &entry.Header)) continue;
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
