// zarpo-pack extract: writes the entries of a package below a folder.
#include <string>
#include <vector>

#include "release/cmd/commands.h"
#include "release/inspect.h"
#include "release/load_package.h"
#include "release/options.h"

static int Extract(const std::string& path, const std::string& output) {
  Loaded loaded;
  if (!LoadEntries(path, &loaded)) return 1;
  return ExtractEntries(loaded.entries, output);
}

int CmdExtract(const std::vector<std::string>& args) {
  std::string output;
  std::vector<std::string> files;
  if (!Options(args, 0, {{"--output", &output}}, {}, &files)) return 2;
  if (files.size() != 1 || output.empty()) {
    return UsageError("extract takes one package or updater and --output DIR");
  }
  return Extract(files[0], output);
}
