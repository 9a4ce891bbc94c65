// Writing a manifest from a release folder as it stands: every file, in a stable order, with
// the attributes and times it has on the host.
#pragma once

#include <string>
#include <vector>

// The manifest of every file below `root`, in this order: the files of a folder before its
// sub-folders, each group in byte order of the code page 932 names; attributes from the
// extended attribute user.DOSATTRIB where it holds them (every form of dos_attrib.h), else
// ARCHIVE, with READONLY added when the mode has no write bit; times from the last
// modification, brought down to an even second. A file that could not be packed is left out
// and named in `leftOut` with the reason ("Sample/x.dll: ..."); so is a link or anything else
// that is not a regular file or a folder. A file whose user.DOSATTRIB cannot be read is named
// in `unreadable` with the reason, and written with the attributes it would have without one,
// after a comment line that says so. false only when `root` cannot be read.
bool ScanRelease(const std::string& root, std::string* manifest, std::vector<std::string>* leftOut,
                 std::vector<std::string>* unreadable, std::string* error);
