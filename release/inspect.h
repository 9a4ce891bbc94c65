// The packer's commands that look at packages already made: writing their files out, and
// comparing two releases as a key disk will see them.
#pragma once

#include <string>
#include <vector>

#include "release/package_writer.h"

// Writes every entry below `folder` (made when missing; it must be empty) with its contents,
// last-write time and attributes (WriteReleaseFile, system.h); the exit code (0, or
// 1 with the reasons printed). An entry the updater would not install under its name (one that
// would leave the folder, for one) is never written.
int ExtractEntries(const std::vector<PackEntry>& entries, const std::string& folder);

// Prints what `after` adds, removes and changes against `before`, entries matched by name as
// Windows compares names; flags every entry whose contents changed while its size, attributes
// and DOS time did not, which a key disk holding `before` never receives, and every removed
// entry that is not on the updater's obsolete list, which stays on such a key disk. 1 when there
// is such an entry, else 0.
int DiffEntries(const std::vector<PackEntry>& before, const std::vector<PackEntry>& after);
