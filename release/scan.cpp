// The packer's scan of a release folder; see scan.h.
#include "release/scan.h"

#include <dirent.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>

#include "host/host.h"
#include "release/dos_attrib.h"
#include "release/manifest.h"
#include "release/release_check.h"

namespace {

struct Item {
  std::string ansi;  // the level's name in code page 932: the sort key
  std::string utf8;
};

struct Scan {
  std::string root;
  std::string manifest;
  std::vector<std::string>* leftOut;
  std::vector<std::string>* unreadable;
  NameSet names;
};

// The attributes the file has: user.DOSATTRIB where it holds them (as this project's layer,
// Wine and Samba keep them), else ARCHIVE; READONLY added when the mode has no write bit.
// Returns "" or why the extended attribute is there but cannot be read; the attributes are
// then taken as if it were not there.
std::string AttributesOf(const std::string& path, const struct stat& st, uint32_t* attributes) {
  uint32_t value = 0x20;
  std::string problem;
  unsigned char bytes[LongestDosAttrib];
  ssize_t n = lgetxattr(path.c_str(), "user.DOSATTRIB", bytes, sizeof bytes);
  if (n >= 0) {
    uint32_t decoded = 0;
    if (DecodeDosAttrib(bytes, (size_t)n, &decoded, &problem)) value = decoded;
  } else if (errno == ERANGE) {
    problem = "user.DOSATTRIB is longer than " + std::to_string(sizeof bytes) +
              " bytes, which no form of it is";
  } else if (errno != ENODATA && errno != ENOTSUP) {
    // ENODATA: the file has none; ENOTSUP: the file system keeps no extended attributes.
    problem = std::string("user.DOSATTRIB cannot be read: ") + strerror(errno);
  }
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) value |= 0x01;
  // NORMAL means "no other bit"; a file that has none reads back as ARCHIVE once written.
  value &= ~0x80u;
  *attributes = value ? value : 0x20;
  return problem;
}

void LeaveOut(Scan* scan, const std::string& relative, const std::string& reason) {
  scan->leftOut->push_back(relative + ": " + reason);
}

bool ScanFolder(Scan* scan, const std::string& relative, std::string* error) {
  std::string folder = scan->root + (relative.empty() ? "" : "/" + relative);
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    if (relative.empty()) {
      *error = "cannot read " + folder + ": " + strerror(errno);
      return false;
    }
    LeaveOut(scan, relative, std::string("cannot read the folder: ") + strerror(errno));
    return true;
  }
  std::vector<Item> files, folders;
  while (struct dirent* d = readdir(dir)) {
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    std::string shown = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      LeaveOut(scan, shown, strerror(errno));
      continue;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
      LeaveOut(scan, shown, S_ISLNK(st.st_mode) ? "a symbolic link" : "not a regular file");
      continue;
    }
    std::string ansi(name.size() * 2 + 1, '\0');
    if (!HostUtf8ToAnsi(name.c_str(), &ansi[0], ansi.size())) {
      LeaveOut(scan, shown, "the name has a character that code page 932 lacks");
      continue;
    }
    ansi.resize(ansi.find('\0'));
    (S_ISDIR(st.st_mode) ? folders : files).push_back({ansi, name});
  }
  closedir(dir);
  auto byAnsi = [](const Item& a, const Item& b) { return a.ansi < b.ansi; };
  std::sort(files.begin(), files.end(), byAnsi);
  std::sort(folders.begin(), folders.end(), byAnsi);

  for (const Item& file : files) {
    std::string shown = relative.empty() ? file.utf8 : relative + "/" + file.utf8;
    std::string path = scan->root + "/" + shown;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      LeaveOut(scan, shown, strerror(errno));
      continue;
    }
    ManifestEntry entry;
    entry.line = 0;
    entry.name = shown;
    std::replace(entry.name.begin(), entry.name.end(), '/', '\\');
    std::string unreadable = AttributesOf(path, st, &entry.attributes);
    uint64_t time = 0;
    std::string problem = AttributesProblem(entry.attributes);
    if (problem.empty() && !FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, &time)) {
      problem = "last written before 1601";
    }
    if (problem.empty()) problem = TimeProblem(RoundDownToEvenSecond(time));
    if (problem.empty() && (uint64_t)st.st_size > UINT32_MAX) problem = "4 GB or larger";
    // The name is taken into the set only when it passes every check, so a file left out
    // never blocks a later one.
    if (problem.empty()) problem = CheckEntryName(&entry, &scan->names);
    if (!problem.empty()) {
      LeaveOut(scan, shown, problem);
      continue;
    }
    if (!unreadable.empty()) {
      scan->unreadable->push_back(shown + ": " + unreadable);
      scan->manifest += "# " + entry.name + ": " + unreadable + "; taken as if it had none\n";
    }
    char attributes[16];
    snprintf(attributes, sizeof attributes, "0x%02X", entry.attributes);
    scan->manifest += std::string(attributes) + "  " + entry.name + "  " +
                      FormatUtcTime(RoundDownToEvenSecond(time)) + "\n";
  }
  for (const Item& sub : folders) {
    if (!ScanFolder(scan, relative.empty() ? sub.utf8 : relative + "/" + sub.utf8, error)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ScanRelease(const std::string& root, std::string* manifest, std::vector<std::string>* leftOut,
                 std::vector<std::string>* unreadable, std::string* error) {
  Scan scan;
  scan.root = root;
  while (scan.root.size() > 1 && scan.root.back() == '/') scan.root.pop_back();
  scan.leftOut = leftOut;
  scan.unreadable = unreadable;
  scan.manifest = "# Manifest of " + scan.root +
                  ", made by zarpo-pack scan.\n"
                  "# attributes  name  last write (UTC)\n";
  if (!ScanFolder(&scan, "", error)) return false;
  *manifest = scan.manifest;
  return true;
}
