// zarpo-pack pack: makes the package of a release folder from its manifest.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "package/package.h"
#include "release/cmd/commands.h"
#include "release/diagnose.h"
#include "release/manifest.h"
#include "release/options.h"
#include "release/package_writer.h"
#include "release/release_check.h"
#include "release/system.h"

// The package read back as the updater reads it must hold exactly the entries given.
static std::string ReadBackProblem(const std::string& file, const std::vector<PackEntry>& entries) {
  std::string reason = Diagnose(file);
  if (!reason.empty()) return reason;
  Package package;
  UnpackPackage((const BYTE*)file.data(), (DWORD)file.size(), &package);
  EntryWalk walk;
  Entry entry;
  StartEntryWalk(&walk, &package);
  size_t index = 0;
  while (reason.empty() && NextEntry(&walk, &entry)) {
    if (index >= entries.size()) {
      reason = "more entries read back than were written";
      break;
    }
    const PackEntry& expected = entries[index];
    uint64_t time = (uint64_t)entry.Header.LastWrite.dwHighDateTime << 32 |
                    entry.Header.LastWrite.dwLowDateTime;
    if (expected.name != entry.Name || expected.attributes != entry.Header.Attributes ||
        expected.lastWrite != time || expected.data.size() != entry.Header.DataLength ||
        memcmp(expected.data.data(), entry.Data, expected.data.size()) != 0) {
      reason = "entry " + std::to_string(index + 1) + " reads back differently";
    }
    index++;
  }
  if (reason.empty() && index != entries.size()) {
    reason = std::to_string(index) + " entries read back instead of " +
             std::to_string(entries.size());
  }
  ClosePackage(&package);
  return reason;
}

// Every file below `root`/`relative` whose relative name is not in `named`.
static void ListFilesLeftOut(const std::string& root, const std::string& relative,
                             const std::set<std::string>& named, std::vector<std::string>* left) {
  std::vector<FolderItem> items;
  std::string error;
  if (!ListFolder(relative.empty() ? root : root + "/" + relative, &items, &error)) return;
  for (const FolderItem& item : items) {
    std::string name = relative.empty() ? item.name : relative + "/" + item.name;
    if (item.kind == ItemFolder) {
      ListFilesLeftOut(root, name, named, left);
    } else if (!named.count(name)) {
      left->push_back(name);
    }
  }
}

// A file below the release folder that no line names is most likely a module someone forgot
// to add: each is named on standard error, and the package is made all the same.
static void WarnOfFilesLeftOut(const std::string& root, const std::vector<ManifestEntry>& lines) {
  std::set<std::string> named;
  for (const ManifestEntry& line : lines) {
    std::string relative = line.name;
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    named.insert(relative);
  }
  std::vector<std::string> left;
  ListFilesLeftOut(root, "", named, &left);
  std::sort(left.begin(), left.end());
  for (const std::string& relative : left) {
    fprintf(stderr, "zarpo-pack: warning: %s/%s is not in the manifest and is left out\n",
            root.c_str(), relative.c_str());
  }
}

static int Pack(const std::string& root, const std::string& manifestPath, const std::string& output,
                bool exactTimes, bool subset) {
  std::string text, error;
  if (!ReadWholeFile(manifestPath, &text, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  std::vector<ManifestEntry> lines;
  std::vector<ManifestProblem> problems;
  if (!ParseManifest(text, &lines, &problems)) {
    fputs(FormatProblems(manifestPath, problems).c_str(), stderr);
    return 1;
  }

  std::vector<PackEntry> entries;
  uint64_t total = 0;
  for (const ManifestEntry& line : lines) {
    std::string hostPath = root + "/" + line.name;
    for (size_t i = root.size() + 1; i < hostPath.size(); i++) {
      if (hostPath[i] == '\\') hostPath[i] = '/';
    }
    auto fail = [&](const std::string& message) {
      problems.push_back({line.line, message});
      return 0;
    };
    if (problems.size() >= MostManifestProblems) break;
    FileFacts facts;
    if (!ReadFileFacts(hostPath, &facts, &error)) {
      fail("cannot read " + hostPath + ": " + error);
      continue;
    }
    if (facts.kind != ItemFile) {
      fail(hostPath + " is not a regular file");
      continue;
    }
    PackEntry entry;
    entry.name = line.ansiName;
    entry.attributes = line.attributes;
    if (!ReadWholeFile(hostPath, &entry.data, &error)) {
      fail(error);
      continue;
    }
    if (entry.data.size() > UINT32_MAX) {
      fail(hostPath + " is 4 GB or larger");
      continue;
    }
    if (line.hasTime) {
      entry.lastWrite = line.lastWrite;
    } else if (facts.timeKnown) {
      entry.lastWrite = facts.lastWrite;
    } else {
      fail(hostPath + " was last written before 1601");
      continue;
    }
    if (!exactTimes) entry.lastWrite = RoundDownToEvenSecond(entry.lastWrite);
    std::string problem = TimeProblem(entry.lastWrite);
    if (!problem.empty()) {
      fail(problem + " (" + FormatUtcTime(entry.lastWrite) + ", from " + hostPath +
           "; give the line a time)");
      continue;
    }
    total += EntryHeaderSize + entry.name.size() + entry.data.size();
    if (total > UINT32_MAX) {
      fail("the unpacked package would reach 4 GB");
      break;
    }
    entries.push_back(std::move(entry));
  }
  if (!problems.empty()) {
    fputs(FormatProblems(manifestPath, problems).c_str(), stderr);
    return 1;
  }

  if (!subset) WarnOfFilesLeftOut(root, lines);

  std::string unpacked = BuildUnpacked(entries);
  std::string package = BuildPackage(unpacked, 9);

  // Written under a temporary name and renamed only once it reads back right, so a failed run
  // never leaves a package behind, nor destroys the one that was there.
  std::string temporary = output + ".tmp." + std::to_string(ProcessNumber());
  std::string written;
  bool ok = WriteWholeFile(temporary, package, &error) &&
            ReadWholeFile(temporary, &written, &error);
  if (ok) {
    std::string problem = ReadBackProblem(written, entries);
    if (!problem.empty()) {
      error = "the package does not read back: " + problem;
      ok = false;
    }
  }
  ok = ok && ReplaceFileWith(temporary, output, &error);
  if (!ok) {
    RemoveFile(temporary);
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  printf("%s: %zu entries, %zu bytes unpacked, %zu bytes stored\n", output.c_str(), entries.size(),
         unpacked.size(), package.size());
  return 0;
}

int CmdPack(const std::vector<std::string>& args) {
  std::string root, manifest, output;
  bool exactTimes = false, subset = false;
  std::vector<std::string> files;
  if (!Options(args, 0, {{"--root", &root}, {"--manifest", &manifest}, {"--output", &output}},
               {{"--exact-times", &exactTimes}, {"--subset", &subset}}, &files)) {
    return 2;
  }
  if (root.empty() || manifest.empty() || output.empty() || !files.empty()) {
    return UsageError("pack needs --root, --manifest and --output");
  }
  return Pack(root, manifest, output, exactTimes, subset);
}
