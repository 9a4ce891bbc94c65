// zarpo-pack diff: compares two releases as key disks will see them.
#include <string>
#include <vector>

#include "release/cmd/commands.h"
#include "release/inspect.h"
#include "release/load_package.h"
#include "release/options.h"

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
