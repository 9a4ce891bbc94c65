// zarpo-pack verify: says whether the updater would take a package, or why not.
#include <stdio.h>

#include <string>
#include <vector>

#include "release/cmd/commands.h"
#include "release/load_package.h"
#include "release/options.h"

static int Verify(const std::string& path) {
  std::string file;
  ProgramInfo info;
  bool isProgram, missing;
  if (!LoadPackageFile(path, &file, &info, &isProgram, &missing)) {
    printf(missing ? "missing\n" : "not an updater with a package\n");
    return 1;
  }
  std::string reason = PackageProblem(file, info, isProgram);
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
