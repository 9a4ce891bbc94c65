// The SHA-256 of a package, as an updater's version resource names it (PackageSHA256).
#pragma once

#include <string>

// The digest of `bytes` in 64 lowercase hex digits.
std::string Sha256Hex(const std::string& bytes);
