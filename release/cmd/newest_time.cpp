// zarpo-pack newest-time: prints the newest entry time, the signing time of a build.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "release/cmd/commands.h"
#include "release/load_package.h"
#include "release/options.h"

// The newest last-write time among the entries, in seconds since 1970: the time the build
// signs the updater with, so that the same release always gives the same signed bytes.
static int NewestTime(const std::string& path) {
  Loaded loaded;
  if (!LoadEntries(path, &loaded)) return 1;
  if (loaded.entries.empty()) {
    fprintf(stderr, "zarpo-pack: %s has no entries, so no newest time\n", path.c_str());
    return 1;
  }
  uint64_t newest = 0;
  for (const PackEntry& entry : loaded.entries) newest = std::max(newest, entry.lastWrite);
  const uint64_t TicksPerSecond = 10000000, SecondsFrom1601To1970 = 11644473600ull;
  printf("%lld\n", (long long)(newest / TicksPerSecond) - (long long)SecondsFrom1601To1970);
  return 0;
}

int CmdNewestTime(const std::vector<std::string>& args) {
  return WithOneFile(args, "newest-time takes one package or updater", NewestTime);
}
