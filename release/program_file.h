// The built updater as the packer reads it: a PE file (PE32 or PE32+) whose ZIPFILE/UPDATE
// resource is the package, and whose version resource names the release and the package's
// SHA-256. Read from the file's bytes alone, on any host.
#pragma once

#include <string>

#include "release/sha256.h"

// Whether the bytes begin like a Windows program ("MZ").
bool IsProgramFile(const std::string& bytes);

struct ProgramInfo {
  std::string version;        // "1.2.3.0" from the fixed version information, "" when none
  std::string packageDigest;  // the PackageSHA256 string of the version resource, "" when none
};

// The package the program carries and what its version resource says. false with `error` set
// when the bytes are not a PE file this reader understands or carry no package.
bool ReadProgramFile(const std::string& bytes, std::string* package, ProgramInfo* info,
                     std::string* error);

// The program's version resource (RT_VERSION 1, its first language) as stored. false with
// `error` set when the bytes are not a PE file this reader understands or carry no such resource.
bool ReadProgramVersion(const std::string& bytes, std::string* block, std::string* error);
