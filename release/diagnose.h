// A package put into words for the release engineer: why the updater would refuse its bytes or
// one of its entries, and how its names and numbers are printed.
#pragma once

#include <stdint.h>

#include <string>

// Why the updater would refuse the package file's bytes, or "" when it would take them; with
// `checkEntries`, also why one of its entries would go wrong on a key disk.
std::string Diagnose(const std::string& file, bool checkEntries = false);

// "0x" and eight upper-case hex digits.
std::string Hex(uint32_t value);
// A code page 932 name in UTF-8, or its bytes escaped when it is not valid code page 932.
std::string PrintableName(const std::string& ansi);
