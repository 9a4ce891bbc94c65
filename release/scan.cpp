// The packer's scan of a release folder; see scan.h.
#include "release/scan.h"

#include <stdint.h>
#include <stdio.h>

#include <algorithm>

#include "release/manifest.h"
#include "release/release_check.h"
#include "release/system.h"

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

void LeaveOut(Scan* scan, const std::string& relative, const std::string& reason) {
  scan->leftOut->push_back(relative + ": " + reason);
}

bool ScanFolder(Scan* scan, const std::string& relative, std::string* error) {
  std::string folder = scan->root + (relative.empty() ? "" : "/" + relative);
  std::vector<FolderItem> items;
  std::string unlisted;
  if (!ListFolder(folder, &items, &unlisted)) {
    if (relative.empty()) {
      *error = "cannot read " + folder + ": " + unlisted;
      return false;
    }
    LeaveOut(scan, relative, "cannot read the folder: " + unlisted);
    return true;
  }
  std::vector<Item> files, folders;
  for (const FolderItem& item : items) {
    std::string shown = relative.empty() ? item.name : relative + "/" + item.name;
    if (item.kind == ItemOther) {
      LeaveOut(scan, shown, item.why);
      continue;
    }
    std::string ansi;
    if (!Utf8ToCodePage932(item.name, &ansi)) {
      LeaveOut(scan, shown, "the name has a character that code page 932 lacks");
      continue;
    }
    (item.kind == ItemFolder ? folders : files).push_back({ansi, item.name});
  }
  auto byAnsi = [](const Item& a, const Item& b) { return a.ansi < b.ansi; };
  std::sort(files.begin(), files.end(), byAnsi);
  std::sort(folders.begin(), folders.end(), byAnsi);

  for (const Item& file : files) {
    std::string shown = relative.empty() ? file.utf8 : relative + "/" + file.utf8;
    std::string path = scan->root + "/" + shown;
    FileFacts facts;
    std::string reason;
    if (!ReadFileFacts(path, &facts, &reason)) {
      LeaveOut(scan, shown, reason);
      continue;
    }
    ManifestEntry entry;
    entry.line = 0;
    entry.name = shown;
    std::replace(entry.name.begin(), entry.name.end(), '/', '\\');
    entry.attributes = facts.attributes;
    uint64_t time = facts.lastWrite;
    std::string problem = AttributesProblem(entry.attributes);
    if (problem.empty() && !facts.timeKnown) problem = "last written before 1601";
    if (problem.empty()) problem = TimeProblem(RoundDownToEvenSecond(time));
    if (problem.empty() && facts.size > UINT32_MAX) problem = "4 GB or larger";
    // The name is taken into the set only when it passes every check, so a file left out
    // never blocks a later one.
    if (problem.empty()) problem = CheckEntryName(&entry, &scan->names);
    if (!problem.empty()) {
      LeaveOut(scan, shown, problem);
      continue;
    }
    if (!facts.unreadable.empty()) {
      scan->unreadable->push_back(shown + ": " + facts.unreadable);
      scan->manifest += "# " + entry.name + ": " + facts.unreadable + "; taken as if it had none\n";
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
