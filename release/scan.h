// Writing a manifest from a release folder as it stands: every file, in a stable order, with
// the attributes and times it has on the host.
#pragma once

#include <string>
#include <vector>

// The manifest of every file below `root`, in this order: the files of a folder before its
// sub-folders, each group in byte order of the code page 932 names; attributes and times as
// ReadFileFacts (system.h) gives them, the times brought down to an even second. A file that
// could not be packed is left out and named in `leftOut` with the reason ("Sample/x.dll:
// ..."); so is a name code page 932 cannot spell, a link or anything else that is not a regular
// file or a folder. A file whose attributes cannot be read (on Linux, a user.DOSATTRIB of no
// known form) is named in `unreadable` with the reason, and written with the attributes it
// would have without them, after a comment line that says so. false only when `root` cannot be
// read.
bool ScanRelease(const std::string& root, std::string* manifest, std::vector<std::string>* leftOut,
                 std::vector<std::string>* unreadable, std::string* error);
