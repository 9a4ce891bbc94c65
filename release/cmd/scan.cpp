// zarpo-pack scan: writes the manifest of a release folder.
#include <stdio.h>

#include <string>
#include <vector>

#include "release/cmd/commands.h"
#include "release/options.h"
#include "release/scan.h"
#include "release/system.h"

static int Scan(const std::string& root, const std::string& output, bool keepGoing) {
  std::string manifest, error;
  std::vector<std::string> leftOut, unreadable;
  if (!ScanRelease(root, &manifest, &leftOut, &unreadable, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& line : leftOut) {
    fprintf(stderr, "zarpo-pack: left out %s/%s\n", root.c_str(), line.c_str());
  }
  for (const std::string& line : unreadable) {
    fprintf(stderr, "zarpo-pack: %s%s/%s\n", keepGoing ? "warning: " : "", root.c_str(),
            line.c_str());
  }
  // A release would otherwise ship without the read-only, hidden and system bits it has.
  if (!unreadable.empty() && !keepGoing) {
    fprintf(stderr,
            "zarpo-pack: %zu attribute value%s could not be read; nothing written (set them with"
            " setfattr -n user.DOSATTRIB -v '\"0x21\"' FILE, or --keep-going takes 0x20 and"
            " read-only from the mode)\n",
            unreadable.size(), unreadable.size() == 1 ? "" : "s");
    return 1;
  }
  if (output.empty()) {
    fputs(manifest.c_str(), stdout);
    return 0;
  }
  if (!WriteWholeFile(output, manifest, &error)) {
    fprintf(stderr, "zarpo-pack: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int CmdScan(const std::vector<std::string>& args) {
  std::string root, output;
  bool keepGoing = false;
  std::vector<std::string> files;
  if (!Options(args, 0, {{"--root", &root}, {"--output", &output}}, {{"--keep-going", &keepGoing}},
               &files)) {
    return 2;
  }
  if (root.empty() || !files.empty()) {
    return UsageError("scan takes --root DIR [--output FILE] [--keep-going]");
  }
  return Scan(root, output, keepGoing);
}
