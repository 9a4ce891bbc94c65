// zarpo-pack extract: writes the entries of a package below a folder.
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
