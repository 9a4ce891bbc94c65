// A program's version resource (VS_VERSIONINFO) as a tree of blocks, read from and written back
// to its bytes, and changed to name a release and the package it carries. Portable: the bytes
// are those of the resource itself, on any host.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// One block: a key, a value (the bytes as stored: UTF-16LE text when `text`, else binary) and
// the blocks below it. wLength and the padding to 32 bits are worked out when written.
struct VersionNode {
  std::u16string key;
  bool text = false;  // wType 1: wValueLength counts UTF-16 units, not bytes
  std::string value;
  std::vector<VersionNode> children;
};

// The tree of a VS_VERSIONINFO resource; false with `error` set when the bytes do not hold one.
bool ParseVersionInfo(const std::string& bytes, VersionNode* root, std::string* error);
// The bytes of the tree as the resource compiler lays them out: each block's wLength ends with
// its last byte, and every block and value begins on a 32-bit boundary of the resource.
std::string WriteVersionInfo(const VersionNode& root);

// x.y.z, each a decimal number of at most 65535 (as the build's ZARPO_RELEASE_VERSION); false
// otherwise.
bool ParseReleaseVersion(const std::string& text, uint16_t numbers[3]);

// Names the release and the package: the fixed information's file and product versions become
// x.y.z.0, the strings FileVersion and ProductVersion "x.y.z" and PackageSHA256 `digest` in every
// string table (added at its end, in that order, where it lacks them). Every other string and
// field is kept, as are the number of terminating zeros each changed string had. false with
// `error` set when the tree has no fixed information or no string table.
bool StampVersionInfo(VersionNode* root, const std::string& version, const std::string& digest,
                      std::string* error);
