// A key disk that runs out of room part-way through an update: a small tmpfs of its own mounted
// behind E: (needs root; skipped where mounting is refused), and the same failure injected at
// the nth WriteFile. The update must end with false, the trace naming the file that did not fit
// as its last line, no descriptor left open; once there is room again the next run completes.
#include <errno.h>
#include <string.h>
#include <sys/mount.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/update_fixture.h"

namespace {

using namespace update_fixture;

// The last line of a run that stopped at a failed write, and that it is the only failed one.
void ExpectStoppedAt(const UpdateRun& run, const std::string& path) {
  ASSERT_FALSE(run.lines.empty());
  EXPECT_EQ(run.lines.back(), "[" + path + "] 0");
  for (size_t i = 0; i + 1 < run.lines.size(); i++) {
    EXPECT_NE(run.lines[i].substr(run.lines[i].size() - 2), " 0") << run.lines[i];
  }
}

// Stops and gives the path of the file each WriteFile call wrote, from a run's calls.
std::vector<std::string> WrittenPaths(const std::vector<std::string>& calls) {
  std::vector<std::string> paths;
  std::string opened;
  for (const std::string& call : calls) {
    if (call.rfind("CreateFileA ", 0) == 0) {
      // "CreateFileA path access share disposition attributes": the path is all before the
      // last four fields.
      size_t end = call.size();
      for (int field = 0; field < 4; field++) end = call.rfind(' ', end - 1);
      opened = call.substr(12, end - 12);
    } else if (call.rfind("WriteFile ", 0) == 0) {
      paths.push_back(opened);
    }
  }
  return paths;
}

// A tmpfs mounted over a folder; unmounted again when it goes.
struct SmallVolume {
  SmallVolume(const std::string& where, const std::string& options) : folder(where) {
    mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    error = mounted ? 0 : errno;
  }
  ~SmallVolume() {
    if (mounted) umount2(folder.c_str(), MNT_DETACH);
  }
  bool Remount(const std::string& options) {
    return mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
  }
  std::string folder;
  bool mounted = false;
  int error = 0;
};

TEST(DiskFull, SmallVolumeStopsTheUpdateUntilThereIsRoom) {
  // Entries 0 to 6 take about 100 KB, entry 7 is about 300 KB.
  const std::vector<PackEntry> entries = Release(12);
  const std::string big = std::string(Target) + entries[7].name;
  PackageModule module(PackageOf(entries));

  struct Case {
    const char* what;
    const char* options;  // of the volume at the start
    const char* roomy;    // remounted with these to make room; nullptr: the filler file goes
    std::string stopsAt;  // the file that does not fit
  };
  const Case cases[] = {
      {"blocks run out, volume grown", "size=256k", "size=8m", big},
      {"blocks run out, filler removed", "size=1m", nullptr, big},
      // A few more inodes than the disk's own files and folders take: the three new folders
      // of entry 5 do not all fit.
      {"inodes run out, more given", "nr_inodes=30", "nr_inodes=1000",
       std::string(Target) + entries[5].name},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<SmallVolume> volume;
    KeyDisk disk(entries, -1, [&](const ScratchDrive& drive) {
      volume = std::make_unique<SmallVolume>(drive.HostRoot(), c.options);
      return [&volume] { volume.reset(); };
    });
    if (!volume->mounted) {
      GTEST_SKIP() << "cannot mount a tmpfs here (" << strerror(volume->error)
                   << "); the test needs root with CAP_SYS_ADMIN";
    }
    if (c.roomy == nullptr) {
      // Leave about 200 KB free.
      std::string filler(1024 * 1024, 'f');
      std::filesystem::path path = disk.drive.HostRootOf('E') + "/filler.bin";
      FILE* file = fopen(path.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      size_t total = 0;
      while (total < filler.size()) {
        size_t n = fwrite(filler.data(), 1, 4096, file);
        if (n < 4096 || fflush(file) != 0) break;
        total += n;
      }
      fclose(file);
      std::filesystem::resize_file(path, total > 200 * 1024 ? total - 200 * 1024 : 0);
      disk.outside = disk.Outside();
    }

    const int descriptors = OpenDescriptorCount();
    UpdateRun full = RunUpdate(module.Handle());
    EXPECT_TRUE(full.found);
    EXPECT_EQ(full.result, 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    ExpectStoppedAt(full, c.stopsAt);
    // The user's files were not the ones to suffer.
    EXPECT_EQ(TreeDifference(disk.own, FilterTree(SnapshotHostTree(disk.drive.HostRoot()),
                                                  [&](const std::string& p) {
                                                    return disk.own.count(p) > 0;
                                                  })),
              "");

    if (c.roomy != nullptr) {
      ASSERT_TRUE(volume->Remount(c.roomy)) << strerror(errno);
    } else {
      std::filesystem::remove(disk.drive.HostRootOf('E') + "/filler.bin");
      disk.outside = disk.Outside();
    }
    UpdateRun again = RunUpdate(module.Handle());
    EXPECT_EQ(again.result, 1);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    disk.ExpectUpdated();
  }
}

// The same failure where no volume can be mounted: the nth WriteFile answers ERROR_DISK_FULL,
// or writes half and answers success with the smaller count.
TEST(DiskFull, FailedWriteStopsTheUpdateAndTheNextRunCompletes) {
  const std::vector<PackEntry> entries = Release(12);
  PackageModule module(PackageOf(entries));
  std::vector<std::string> written;
  {
    KeyDisk disk(entries);
    UpdateRun run = RunUpdate(module.Handle());
    ASSERT_EQ(run.result, 1);
    written = WrittenPaths(run.calls);
  }
  ASSERT_EQ(written.size(), entries.size());
  const int last = static_cast<int>(written.size());

  const struct {
    int nth;
    FaultKind kind;
  } cases[] = {{1, FaultKind::Error},    {5, FaultKind::Error},      {8, FaultKind::Error},
               {last, FaultKind::Error}, {3, FaultKind::ShortWrite}, {8, FaultKind::ShortWrite}};
  for (const auto& c : cases) {
    SCOPED_TRACE("write " + std::to_string(c.nth) +
                 (c.kind == FaultKind::ShortWrite ? " short" : " refused"));
    KeyDisk disk(entries);
    const int descriptors = OpenDescriptorCount();

    UpdateRun full = RunUpdate(module.Handle(), [&] { FaultArm(c.nth, "WriteFile", c.kind); });

    EXPECT_EQ(full.fired, 1);
    EXPECT_EQ(full.result, 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    ExpectStoppedAt(full, written[static_cast<size_t>(c.nth - 1)]);
    EXPECT_EQ(WrittenPaths(full.calls).size(), static_cast<size_t>(c.nth));
    EXPECT_EQ(disk.ObsoleteLeft(), std::vector<std::string>());

    UpdateRun again = RunUpdate(module.Handle());
    EXPECT_EQ(again.result, 1);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    disk.ExpectUpdated();
  }
}

}  // namespace
