// zarpo-pack diff: compares two releases as key disks will see them.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "host/host.h"
#include "package/package.h"
#include "release/command.h"
#include "release/inspect.h"
#include "release/manifest.h"
#include "release/package_writer.h"
#include "release/program_file.h"
#include "release/release_check.h"
#include "release/scan.h"

static int Diff(const std::string& oldPath, const std::string& newPath) {
  Loaded before, after;
  if (!LoadEntries(oldPath, &before) || !LoadEntries(newPath, &after)) return 2;
  return DiffEntries(before.entries, after.entries);
}

int CmdDiff(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  if (!Options(args, 0, {}, {}, &files)) return 2;
  if (files.size() != 2) return UsageError("diff takes two packages or updaters");
  return Diff(files[0], files[1]);
}
