// The built updater as the packer reads it: a PE file (PE32 or PE32+) whose ZIPFILE/UPDATE
// resource is the package, and whose version resource names the release and the package's
// SHA-256; and the header fields zarpo-pack stamp reads and sets. From the file's bytes alone,
// on any host.
#pragma once

#include <stdint.h>

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

// The optional header's CheckSum as the standard algorithm computes it (16-bit one's-complement
// sum of the file with the field itself taken as 0, plus the file's length); false with `error`
// set when the bytes are not a PE file.
bool ComputePeChecksum(const std::string& bytes, uint32_t* checksum, std::string* error);
// Sets the CheckSum field to ComputePeChecksum's value.
bool SetPeChecksum(std::string* bytes, std::string* error);
// The CheckSum field as the file has it, and the size of its certificate table (0: unsigned).
bool ReadPeFields(const std::string& bytes, uint32_t* checksum, uint32_t* certificates,
                  std::string* error);
