// What the fault-tolerance tests share: releases made here, a key disk laid out as a user's
// would be (an older release with read-only, hidden and system files, files of the user's own,
// the files the release no longer uses, other drives beside it), and the update run the way the
// program runs it (key-disk search, then installation), in this process or in a child process
// that is killed part-way.
#pragma once

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/keydisk.h"
#include "package/install.h"
#include "release/package_writer.h"
#include "support/disk_state.h"
#include "support/faults.h"
#include "support/file_times.h"
#include "support/package_module.h"
#include "support/scratch_drive.h"

namespace update_fixture {

const char* const Target = "E:\\Zarpo\\";

// Bytes that do not compress, from a fixed seed.
inline std::string NoiseBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

// A release of `count` entries: the program and its setup in the folder itself, the rest spread
// over sub-folders whose Japanese names have 0x5C trail bytes (表, ソ, 能), with read-only,
// hidden and system files (and read-only without archive), empty files, a few large ones, and
// last-write times with fractions of a second. About 1.3 MB for 40 entries.
inline std::vector<PackEntry> Release(int count, size_t largest = 300000) {
  static const char* const folders[] = {
      "", "Bin\\", "Sample\\表紙\\", "Sample\\平面\\", "Help\\ソフト\\", "Data\\能力\\十\\",
  };
  static const char* const stems[] = {"図面", "構造", "Core", "表示", "ソース", "readme"};
  static const uint32_t attributes[] = {0x20, 0x21, 0x22, 0x24, 0x27, 0x01, 0x23, 0x26};
  std::vector<PackEntry> entries;
  for (int i = 0; i < count; i++) {
    PackEntry e;
    if (i == 0) {
      e.name = "Zarpo.exe";
    } else if (i == 1) {
      e.name = "Setup.exe";
    } else {
      e.name = Ansi(std::string(folders[i % 6]) + stems[(i / 6) % 6] + std::to_string(i) +
                    (i % 3 == 0 ? ".dll" : ".dat"));
    }
    e.attributes = attributes[i % 8];
    e.lastWrite = FileTimeValue(FileTimeOf(2019 + i % 5, 1 + i % 12, 1 + i % 28, i % 24,
                                           (i * 7) % 60, (i * 13) % 60, (i * 1234567) % 10000000));
    size_t size = i % 9 == 4 ? 0 : static_cast<size_t>((i * 7919) % 40000);
    if (i % 13 == 7) size = largest - static_cast<size_t>(i);
    e.data = NoiseBytes(size, static_cast<uint32_t>(i));
    entries.push_back(e);
  }
  return entries;
}

// The folder part of a code page 932 path (before its last separator), a 0x5C trail byte
// being part of its character.
inline std::string FolderOf(const std::string& path) {
  size_t cut = 0;
  for (size_t i = 0; i < path.size(); i++) {
    if (IsDBCSLeadByte(static_cast<BYTE>(path[i]))) {
      i++;
    } else if (path[i] == '\\') {
      cut = i;
    }
  }
  return path.substr(0, cut);
}

inline std::string PackageOf(const std::vector<PackEntry>& entries) {
  return BuildPackage(BuildUnpacked(entries));
}

// A key disk E: with an older release in Zarpo, and beside it a removable F: without the
// product folder, a fixed C: with one (never a key disk), an empty card reader D:.
//
// `prepare` runs on the fresh drive before anything is laid out (to mount a small file system
// behind E:, say); what it returns is run when the key disk goes, before the drive is removed.
//
// Zarpo holds: older versions of every third entry (other contents, read-only hidden system),
// the entry at `identical` already as the package has it (when >= 0), the obsolete files
// (read-only), and files of the user's own, one of them inside a folder the package uses.
struct KeyDisk {
  using Prepare = std::function<std::function<void()>(const ScratchDrive&)>;

  explicit KeyDisk(const std::vector<PackEntry>& release, int identicalEntry = -1,
                   const Prepare& prepare = {})
      : entries(release), identical(identicalEntry) {
    if (prepare) cleanup = prepare(drive);
    drive.AddDrive('F', "removable");
    drive.AddDrive('C', "fixed");
    drive.AddDrive('D', "removable", false);
    drive.MakeFolder("Zarpo");
    drive.WriteHostFile("readme.txt", "outside the product folder");
    WriteOn('C', "Zarpo/Zarpo.exe", "on the fixed drive");
    WriteOn('F', "Other/file.txt", "on another removable drive");

    for (size_t i = 0; i < entries.size(); i += 3) {
      if (static_cast<int>(i) == identical) continue;
      Place(entries[i].name, "an older release's file " + std::to_string(i), 0x27,
            FileTimeOf(2015, 5, 5));
    }
    if (identical >= 0) {
      const PackEntry& e = entries[static_cast<size_t>(identical)];
      Place(e.name, e.data, e.attributes, MakeFileTime(e.lastWrite));
    }
    for (const char* name : ObsoleteFiles)
      Place(name, "no longer used", 0x21, FileTimeOf(2014, 1, 1));
    Place("memo.txt", "the user's notes", 0x21, FileTimeOf(2020, 2, 2, 2, 2, 2, 2));
    Place(Ansi("個人\\予定表.txt"), "the user's plans", 0x22, FileTimeOf(2021, 3, 3));
    Place(Ansi("Sample\\表紙\\mine.dwg"), "the user's drawing", 0x20, FileTimeOf(2022, 4, 4));

    outside = Outside();
    own = OwnFiles();
  }

  ~KeyDisk() {
    if (cleanup) cleanup();
  }
  KeyDisk(const KeyDisk&) = delete;
  KeyDisk& operator=(const KeyDisk&) = delete;

  // A file in Zarpo, set up through the host and the layer's attribute call.
  void Place(const std::string& name, const std::string& data, DWORD attributes, FILETIME time) {
    std::string relative = "Zarpo\\" + name;
    drive.MakeFolder(FolderOf(relative));
    drive.WriteHostFile(relative, data);
    EXPECT_TRUE(SetFileAttributesA((std::string(Target) + name).c_str(), attributes)) << name;
    EXPECT_TRUE(SetHostWriteTime(drive.HostPath(relative), time)) << name;
  }

  // A file on another drive, through the host alone.
  void WriteOn(char letter, const std::string& relative, const std::string& data) {
    std::string path = drive.HostRootOf(letter) + "/" + relative;
    std::filesystem::create_directories(path.substr(0, path.find_last_of('/')));
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(data.data(), 1, data.size(), file);
    fclose(file);
  }

  // The paths (as the program spells them) of the entries this disk holds an older file for.
  std::set<std::string> OlderFiles() const {
    std::set<std::string> paths;
    for (size_t i = 0; i < entries.size(); i += 3) {
      if (static_cast<int>(i) != identical) paths.insert(std::string(Target) + entries[i].name);
    }
    return paths;
  }

  // Everything on the drives but the product folder on E:.
  HostTree Outside() const {
    HostTree all;
    for (char letter : {'E', 'F', 'C'}) {
      HostTree one = SnapshotHostTree(drive.HostRootOf(letter), letter == 'E' ? "Zarpo" : "");
      for (auto& item : one) all[std::string(1, letter) + ":/" + item.first] = item.second;
    }
    return all;
  }

  // The files in Zarpo that neither the package nor the obsolete list names.
  HostTree OwnFiles() const {
    std::set<std::string> named;
    for (const std::string& path : EntryHostPaths(drive, "Zarpo", entries)) named.insert(path);
    for (const char* name : ObsoleteFiles) named.insert(std::string("Zarpo/") + name);
    HostTree tree = SnapshotHostTree(drive.HostRoot());
    return FilterTree(tree, [&](const std::string& path) {
      return path.compare(0, 6, "Zarpo/") == 0 && named.count(path) == 0 && tree[path].kind == 'f';
    });
  }

  std::vector<std::string> ObsoleteLeft() const {
    std::vector<std::string> left;
    for (const char* name : ObsoleteFiles) {
      if (drive.Exists(std::string("Zarpo\\") + name)) left.push_back(name);
    }
    return left;
  }

  // What a finished update must leave: the package in place, the user's files and the other
  // drives as they were, the obsolete files gone.
  void ExpectUpdated() const {
    EXPECT_EQ(PackageMismatch(drive, "Zarpo", entries), "");
    EXPECT_EQ(
        TreeDifference(own, FilterTree(SnapshotHostTree(drive.HostRoot()),
                                       [&](const std::string& p) { return own.count(p) > 0; })),
        "");
    EXPECT_EQ(TreeDifference(outside, Outside()), "");
    EXPECT_EQ(ObsoleteLeft(), std::vector<std::string>());
  }

  ScratchDrive drive;
  std::vector<PackEntry> entries;
  int identical;
  HostTree outside;
  HostTree own;
  std::function<void()> cleanup;
};

// One update as the program makes it: the key-disk search, then the installation into what it
// found. `arm` runs first (to plan a fault); trace lines are captured.
struct UpdateRun {
  bool found = false;
  int result = 0;
  int fired = 0;
  std::vector<std::string> lines;
  std::vector<std::string> calls;  // with their arguments
};

inline UpdateRun RunUpdate(HMODULE module, const std::function<void()>& arm = {}) {
  FaultScope scope;
  FaultCaptureTrace(true);
  if (arm) arm();
  UpdateRun run;
  char target[MAX_PATH] = "";
  run.found = FindKeyDisk(target) != 0;
  if (run.found) {
    EXPECT_STREQ(target, Target);
    run.result = InstallPackageFrom(module, target);
  }
  run.fired = FaultFired();
  run.lines = FaultTraceLines();
  run.calls = FaultCallDetails();
  return run;
}

// The calls of a whole update with nothing failed, on a fresh key disk holding `identical`
// entries already; every faulted run on the same disk makes the same ones up to its fault.
inline std::vector<std::string> CleanRunCalls(HMODULE module, const std::vector<PackEntry>& entries,
                                              int identical) {
  KeyDisk disk(entries, identical);
  UpdateRun run = RunUpdate(module);
  EXPECT_EQ(run.result, 1);
  disk.ExpectUpdated();
  return run.calls;
}

// How a child process ended, as waitpid tells it; -1 when it had to be stopped after `seconds`.
inline int WaitForChild(pid_t pid, int seconds) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0) return -1;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= seconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(1000);
  }
}

// The update run in a child process with a fault planned (FaultArm(nth, name, kind)); the
// child's exit status as waitpid gives it, -1 when it hung. A child that is not killed exits 0
// after a complete update, 1 otherwise.
inline int UpdateInChild(HMODULE module, int nth, const char* name, FaultKind kind) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    FaultReset();
    FaultCaptureTrace(true);
    FaultArm(nth, name, kind);
    char target[MAX_PATH];
    int ok = FindKeyDisk(target) && InstallPackageFrom(module, target);
    _exit(ok ? 0 : 1);
  }
  if (pid < 0) return -1;
  return WaitForChild(pid, 60);
}

}  // namespace update_fixture
