// zarpo-pack verify: says whether the updater would take a package, or why not.
#include <stdio.h>

#include <string>
#include <vector>

#include "release/cmd/commands.h"
#include "release/diagnose.h"
#include "release/load_package.h"
#include "release/options.h"
#include "release/program_file.h"

static int Verify(const std::string& path) {
  std::string file;
  ProgramInfo info;
  bool isProgram, missing;
  if (!LoadPackageFile(path, &file, &info, &isProgram, &missing)) {
    printf(missing ? "missing\n" : "not an updater with a package\n");
    return 1;
  }
  std::string reason = Diagnose(file, true);
  if (reason.empty() && isProgram && !info.packageDigest.empty() &&
      info.packageDigest != Sha256Hex(file)) {
    reason = "the version resource names the package " + info.packageDigest +
             ", the program carries " + Sha256Hex(file);
  }
  if (!reason.empty()) {
    printf("%s\n", reason.c_str());
    return 1;
  }
  printf("good\n");
  return 0;
}

int CmdVerify(const std::vector<std::string>& args) {
  return WithOneFile(args, "verify takes one package or updater", Verify);
}
