// What a scratch drive holds, for tests that must show that an update left alone what it should
// not touch and brought the product folder to exactly what its package says.
//
//   HostTree before = SnapshotHostTree(drive.HostRoot(), "Zarpo");  // all but the product folder
//   ... update ...
//   EXPECT_EQ(TreeDifference(before, SnapshotHostTree(drive.HostRoot(), "Zarpo")), "");
//   EXPECT_EQ(PackageMismatch(drive, "Zarpo", entries), "");
//
// No GoogleTest in here: the install fuzz target uses it too.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "release/package_writer.h"
#include "support/scratch_drive.h"

// One file, folder or link of a host tree, with everything an update could change about it.
struct HostNode {
  char kind = '?';       // 'f' file, 'd' folder, 'l' symbolic link, '?' anything else
  std::string contents;  // a file's bytes, a link's target
  mode_t mode = 0;
  int64_t modifiedNs = 0;     // last modification, nanoseconds since 1970 (not kept for folders,
                              // whose time moves whenever something inside them changes)
  std::string dosAttributes;  // the extended attribute the platform layer keeps them in
};

// Relative host path ('/' between levels) -> node.
using HostTree = std::map<std::string, HostNode>;

// Everything below `root` (not `root` itself). `skip`, a path relative to `root`, is left out
// together with everything below it; empty skips nothing.
HostTree SnapshotHostTree(const std::string& root, const std::string& skip = "");

// "" when equal; otherwise one line per path that appeared, vanished or changed (and how).
std::string TreeDifference(const HostTree& before, const HostTree& after);

// The entries of `tree` for which `keep` says yes.
HostTree FilterTree(const HostTree& tree, const std::function<bool(const std::string&)>& keep);

// The host path (relative to the drive's root, '/' between levels) of each entry in `folder`.
std::vector<std::string> EntryHostPaths(const ScratchDrive& drive, const std::string& folder,
                                        const std::vector<PackEntry>& entries);

// "" when `folder` (relative to the drive's root, code page 932) holds every entry exactly:
// the same bytes, the attributes the platform layer reports (an entry of NORMAL alone reads
// back as ARCHIVE) and the last-write time to 100 ns. Otherwise one line per difference.
// Where a name occurs twice the later entry counts. Files the package does not name are not
// looked at.
std::string PackageMismatch(const ScratchDrive& drive, const std::string& folder,
                            const std::vector<PackEntry>& entries);
