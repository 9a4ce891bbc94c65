// Extracting and comparing packages; see inspect.h.
#include "release/inspect.h"

#include <stdio.h>

#include <map>

#include "fs/compare.h"
#include "package/entry_check.h"
#include "package/install.h"
#include "release/diagnose.h"
#include "release/manifest.h"
#include "release/release_check.h"
#include "release/system.h"

namespace {

bool IsEmptyFolder(const std::string& folder) {
  std::vector<FolderItem> items;
  std::string error;
  return ListFolder(folder, &items, &error) && items.empty();
}

// Makes every folder of `relative` (levels separated by '/') below `folder`.
bool MakeFolders(const std::string& folder, const std::string& relative) {
  for (size_t at = relative.find('/'); at != std::string::npos; at = relative.find('/', at + 1)) {
    if (!MakeFolder(folder + "/" + relative.substr(0, at))) return false;
  }
  return true;
}

std::string WriteEntry(const PackEntry& entry, const std::string& folder) {
  if (!IsInstallableName(entry.name.data(), (DWORD)entry.name.size())) {
    return "the updater would not install a file of this name; not written";
  }
  std::string relative = PrintableName(entry.name);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  if (!MakeFolders(folder, relative)) return "cannot make its folder";
  return WriteReleaseFile(folder + "/" + relative, entry.data, entry.attributes, entry.lastWrite);
}

// Whether the updater deletes a file of this name (UTF-8, as stored) from a key disk: only the
// names of its obsolete list, and only in the product folder itself, case ignored as FAT does.
bool UpdaterRemoves(const std::string& name) {
  std::string folded = FoldedName(name);
  for (const char* obsolete : ObsoleteFiles) {
    if (folded == FoldedName(obsolete)) return true;
  }
  return false;
}

}  // namespace

int ExtractEntries(const std::vector<PackEntry>& entries, const std::string& folder) {
  if (!MakeFolder(folder)) {
    fprintf(stderr, "zarpo-pack: cannot make %s\n", folder.c_str());
    return 1;
  }
  if (!IsEmptyFolder(folder)) {
    fprintf(stderr, "zarpo-pack: %s is not an empty folder; nothing written\n", folder.c_str());
    return 1;
  }
  int status = 0;
  for (size_t i = 0; i < entries.size(); i++) {
    std::string problem = WriteEntry(entries[i], folder);
    if (!problem.empty()) {
      fprintf(stderr, "zarpo-pack: entry %zu (%s): %s\n", i + 1,
              PrintableName(entries[i].name).c_str(), problem.c_str());
      status = 1;
    }
  }
  printf("%s: %zu entries\n", folder.c_str(), entries.size());
  return status;
}

int DiffEntries(const std::vector<PackEntry>& before, const std::vector<PackEntry>& after) {
  std::map<std::string, const PackEntry*> old;
  for (const PackEntry& entry : before) old[FoldedName(PrintableName(entry.name))] = &entry;
  int added = 0, removed = 0, changed = 0, stuck = 0, stays = 0;
  std::map<std::string, bool> seen;
  for (const PackEntry& entry : after) {
    std::string key = FoldedName(PrintableName(entry.name));
    seen[key] = true;
    std::string name = PrintableName(entry.name);
    auto found = old.find(key);
    if (found == old.end()) {
      printf("added     %s\n", name.c_str());
      added++;
      continue;
    }
    const PackEntry& was = *found->second;
    FILETIME a = {(DWORD)was.lastWrite, (DWORD)(was.lastWrite >> 32)};
    FILETIME b = {(DWORD)entry.lastWrite, (DWORD)(entry.lastWrite >> 32)};
    bool sameContents = was.data == entry.data;
    bool sameSize = was.data.size() == entry.data.size();
    bool sameAttributes = was.attributes == entry.attributes;
    bool sameDosTime = DosTimeKey(&a, 1) == DosTimeKey(&b, 0);
    if (sameContents && sameAttributes && was.lastWrite == entry.lastWrite &&
        was.name == entry.name) {
      continue;
    }
    changed++;
    std::string what;
    if (!sameContents) what += ", contents";
    if (!sameAttributes) {
      char text[48];
      snprintf(text, sizeof text, ", attributes 0x%X -> 0x%X", was.attributes, entry.attributes);
      what += text;
    }
    if (was.lastWrite != entry.lastWrite) {
      what += ", time " + FormatUtcTime(was.lastWrite) + " -> " + FormatUtcTime(entry.lastWrite);
    }
    if (was.name != entry.name) what += ", name was " + PrintableName(was.name);
    printf("changed   %s (%s)\n", name.c_str(), what.substr(2).c_str());
    if (!sameContents && sameSize && sameAttributes && sameDosTime) {
      printf(
          "NEVER DELIVERED %s: new contents with the same size, attributes and DOS time; a key"
          " disk that holds the old file keeps it\n",
          name.c_str());
      stuck++;
    }
  }
  for (const PackEntry& entry : before) {
    std::string name = PrintableName(entry.name);
    if (seen.count(FoldedName(name))) continue;
    printf("removed   %s\n", name.c_str());
    removed++;
    if (!UpdaterRemoves(name)) {
      printf(
          "STAYS ON KEY DISKS %s: not on the updater's obsolete list (package/obsolete_files.cpp),"
          " so a key disk that holds it keeps it\n",
          name.c_str());
      stays++;
    }
  }
  printf("%d added, %d removed, %d changed, %d never delivered, %d stay on key disks\n", added,
         removed, changed, stuck, stays);
  return stuck || stays ? 1 : 0;
}
