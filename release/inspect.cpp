// Extracting and comparing packages; see inspect.h.
#include "release/inspect.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <map>

#include "fs/compare.h"
#include "host/host.h"
#include "package/entry_check.h"
#include "package/install.h"
#include "release/manifest.h"
#include "release/release_check.h"

namespace {

const uint64_t TicksPerSecond = 10000000;
const int64_t EpochDifference = 11644473600LL;  // seconds from 1601 to 1970

std::string Utf8Name(const std::string& ansi) {
  char utf8[4 * 260 + 1];
  if (ansi.find('\0') == std::string::npos && HostAnsiToUtf8(ansi.c_str(), utf8, sizeof utf8)) {
    return utf8;
  }
  std::string shown;
  for (unsigned char c : ansi) {
    char text[8];
    snprintf(text, sizeof text, (c >= 0x20 && c < 0x7F) ? "%c" : "\\x%02X", c);
    shown += text;
  }
  return shown;
}

bool IsEmptyFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  int count = 0;
  while (struct dirent* d = readdir(dir)) {
    if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) count++;
  }
  closedir(dir);
  return count == 0;
}

// Makes every folder of `relative` (levels separated by '/') below `folder`.
bool MakeFolders(const std::string& folder, const std::string& relative) {
  for (size_t at = relative.find('/'); at != std::string::npos; at = relative.find('/', at + 1)) {
    std::string path = folder + "/" + relative.substr(0, at);
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 ? !S_ISDIR(st.st_mode) : mkdir(path.c_str(), 0755) != 0) {
      return false;
    }
  }
  return true;
}

std::string WriteEntry(const PackEntry& entry, const std::string& folder) {
  if (!IsInstallableName(entry.name.data(), (DWORD)entry.name.size())) {
    return "the updater would not install a file of this name; not written";
  }
  std::string relative = Utf8Name(entry.name);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  if (!MakeFolders(folder, relative)) {
    return "cannot make its folder: " + std::string(strerror(errno));
  }
  std::string path = folder + "/" + relative;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot create " + path + ": " + strerror(errno);
  bool ok = write(fd, entry.data.data(), entry.data.size()) == (ssize_t)entry.data.size();
  int64_t seconds = (int64_t)(entry.lastWrite / TicksPerSecond) - EpochDifference;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = (time_t)seconds;
  times[1].tv_nsec = (long)(entry.lastWrite % TicksPerSecond) * 100;
  ok = ok && futimens(fd, times) == 0;
  char text[16];
  int n = snprintf(text, sizeof text, "0x%x", entry.attributes);
  bool stored = fsetxattr(fd, "user.DOSATTRIB", text, (size_t)n, 0) == 0;
  if (ok && (entry.attributes & FILE_ATTRIBUTE_READONLY)) ok = fchmod(fd, 0444) == 0;
  if (close(fd) != 0) ok = false;
  if (!ok) return "cannot write " + path + ": " + strerror(errno);
  if (!stored) {
    return "written, but its attributes could not be kept: " + std::string(strerror(errno));
  }
  return "";
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
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "zarpo-pack: cannot make %s: %s\n", folder.c_str(), strerror(errno));
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
      fprintf(stderr, "zarpo-pack: entry %zu (%s): %s\n", i + 1, Utf8Name(entries[i].name).c_str(),
              problem.c_str());
      status = 1;
    }
  }
  printf("%s: %zu entries\n", folder.c_str(), entries.size());
  return status;
}

int DiffEntries(const std::vector<PackEntry>& before, const std::vector<PackEntry>& after) {
  std::map<std::string, const PackEntry*> old;
  for (const PackEntry& entry : before) old[FoldedName(Utf8Name(entry.name))] = &entry;
  int added = 0, removed = 0, changed = 0, stuck = 0, stays = 0;
  std::map<std::string, bool> seen;
  for (const PackEntry& entry : after) {
    std::string key = FoldedName(Utf8Name(entry.name));
    seen[key] = true;
    std::string name = Utf8Name(entry.name);
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
    if (was.name != entry.name) what += ", name was " + Utf8Name(was.name);
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
    std::string name = Utf8Name(entry.name);
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
