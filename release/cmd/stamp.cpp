// zarpo-pack stamp: a built updater given another package and release version, as the build
// would have made it, without a rebuild. The package is refused as verify refuses it; the
// program is made in a temporary file next to OUT, read back and checked before it replaces OUT.
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "release/cmd/commands.h"
#include "release/load_package.h"
#include "release/options.h"
#include "release/program_file.h"
#include "release/program_resources.h"
#include "release/sha256.h"
#include "release/system.h"
#include "release/version_info.h"

namespace {

struct Request {
  std::string stub, package, version, output;
};

bool Refuse(const std::string& message) {
  fprintf(stderr, "zarpo-pack: %s\n", message.c_str());
  return false;
}

// The stub's version resource changed to name the release and the package.
bool StampedVersion(const Request& request, const std::string& stub, const std::string& digest,
                    std::string* block) {
  std::string error;
  uint32_t checksum, certificates;
  if (!ReadPeFields(stub, &checksum, &certificates, &error))
    return Refuse(request.stub + ": " + error);
  if (certificates) {
    return Refuse(request.stub + ": the program is signed; stamp an unsigned updater, then sign " +
                  "what stamp made");
  }
  VersionNode root;
  if (!ReadProgramVersion(stub, block, &error) || !ParseVersionInfo(*block, &root, &error) ||
      !StampVersionInfo(&root, request.version, digest, &error)) {
    return Refuse(request.stub + ": " + error);
  }
  *block = WriteVersionInfo(root);
  return true;
}

// Whether the program made carries what was asked, read as list and verify read it.
bool Check(const std::string& made, const std::string& package, const std::string& block,
           const std::string& digest, const uint16_t numbers[3], std::string* error) {
  std::string carried, version;
  ProgramInfo info;
  uint32_t checksum, field, certificates;
  const std::string wanted = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                             std::to_string(numbers[2]) + ".0";
  if (!ReadProgramFile(made, &carried, &info, error) ||
      !ReadProgramVersion(made, &version, error) || !ComputePeChecksum(made, &checksum, error) ||
      !ReadPeFields(made, &field, &certificates, error)) {
    return false;
  }
  if (carried != package) *error = "its package differs from the one asked for";
  else if (info.packageDigest != digest) *error = "its PackageSHA256 is " + info.packageDigest;
  else if (info.version != wanted) *error = "its version is " + info.version;
  else if (version != block) *error = "its version resource differs from the one written";
  else if (field != checksum) *error = "its header checksum is wrong";
  return error->empty();
}

bool Stamp(const Request& request, const uint16_t numbers[3]) {
  std::string package, stub, block, error;
  ProgramInfo info;
  bool isProgram;
  if (!LoadPackageFile(request.package, &package, &info, &isProgram)) return false;
  std::string problem = PackageProblem(package, info, isProgram);
  if (!problem.empty()) return Refuse(request.package + ": " + problem);
  const std::string digest = Sha256Hex(package);
  if (!ReadWholeFile(request.stub, &stub, &error)) return Refuse(error);
  if (!StampedVersion(request, stub, digest, &block)) return false;

  // Made in full next to OUT, which is replaced only by a program that reads back right.
  const std::string temporary = request.output + ".stamp-" + std::to_string(ProcessNumber());
  std::string made;
  bool good = WriteWholeFile(temporary, stub, &error) &&
              WriteProgramResources(request.stub, temporary, package, block, &error) &&
              ReadWholeFile(temporary, &made, &error) && SetPeChecksum(&made, &error) &&
              WriteWholeFile(temporary, made, &error);
  if (good && !Check(made, package, block, digest, numbers, &error)) {
    error = "the program made does not read back as asked: " + error;
    good = false;
  }
  if (good && !ReplaceFileWith(temporary, request.output, &error)) good = false;
  if (!good) {
    RemoveFile(temporary);
    return Refuse(request.output + ": " + error + "; left as it was");
  }
  printf("%s: version %s, package %zu bytes, SHA-256 %s\n", request.output.c_str(),
         request.version.c_str(), package.size(), digest.c_str());
  return true;
}

}  // namespace

int CmdStamp(const std::vector<std::string>& args) {
  Request request;
  std::vector<std::string> words;
  if (!Options(args, 0,
               {{"--stub", &request.stub},
                {"--package", &request.package},
                {"--version", &request.version},
                {"--output", &request.output}},
               {}, &words)) {
    return 2;
  }
  if (!words.empty() || request.stub.empty() || request.package.empty() ||
      request.version.empty() || request.output.empty()) {
    return UsageError("stamp takes --stub IN.exe --package PACKAGE --version x.y.z --output OUT");
  }
  uint16_t numbers[3];
  if (!ParseReleaseVersion(request.version, numbers)) {
    return UsageError("the version must be x.y.z, each at most 65535: '" + request.version + "'");
  }
  std::string why;
  if (!CanWriteProgramResources(&why)) return Refuse(why), 1;
  return Stamp(request, numbers) ? 0 : 1;
}
