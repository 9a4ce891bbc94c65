// zarpo-pack list: prints the entries of a package or updater.
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "package/format.h"
#include "release/cmd/commands.h"
#include "release/diagnose.h"
#include "release/load_package.h"
#include "release/manifest.h"
#include "release/options.h"
#include "release/program_file.h"

static int List(const std::string& path) {
  Loaded loaded;
  if (!LoadEntries(path, &loaded)) return 1;
  const std::string& file = loaded.file;
  const ProgramInfo& info = loaded.info;
  const std::vector<PackEntry>& entries = loaded.entries;
  bool isProgram = loaded.isProgram;
  if (isProgram) {
    printf("updater version %s, package SHA-256 %s\n",
           info.version.empty() ? "(none)" : info.version.c_str(), Sha256Hex(file).c_str());
    if (!info.packageDigest.empty() && info.packageDigest != Sha256Hex(file)) {
      printf("the version resource names another package: SHA-256 %s\n",
             info.packageDigest.c_str());
    }
  }
  printf("%-10s  %-28s  %10s  %s\n", "attributes", "last write (UTC)", "size", "name");
  uint64_t unpacked = 0;
  for (const PackEntry& entry : entries) {
    printf("%-10s  %-28s  %10zu  %s\n", Hex(entry.attributes).c_str(),
           FormatUtcTime(entry.lastWrite).c_str(), entry.data.size(),
           PrintableName(entry.name).c_str());
    unpacked += EntryHeaderSize + entry.name.size() + entry.data.size();
  }
  printf("%zu entries, %llu bytes unpacked, %zu bytes stored\n", entries.size(),
         (unsigned long long)unpacked, file.size());
  return 0;
}

int CmdList(const std::vector<std::string>& args) {
  return WithOneFile(args, "list takes one package or updater", List);
}
