// Every platform call of a whole update failed in turn, one per run: the nth call of the key-disk
// search and installation fails, for n = 1, 2, 3, ... until a run makes fewer than n calls. Each
// run must end with the result its failure calls for, a trace that stops at its failed write, no
// descriptor or memory left behind, nothing written outside the product folder; and the run after
// it must complete.
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/update_fixture.h"

// Under AddressSanitizer (gcc says so by a macro, clang by a feature test) leaks are looked
// for after every run, not only at exit, so that a leak is pinned to the call that caused it.
#if defined(__SANITIZE_ADDRESS__)
#define ZARPO_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARPO_LEAK_CHECK 1
#endif
#endif
#ifdef ZARPO_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using namespace update_fixture;

// What a failed call must do to the outcome.
enum class Outcome {
  NoKeyDisk,   // the search finds nothing: nothing is touched anywhere
  NoPackage,   // the resource is not found: false, no trace, nothing touched
  BadPackage,  // the resource cannot be read: false, no trace, no entry written
  Fails,       // a write fails: false, the trace ends with "[path] 0"
  Succeeds,    // ignored by design (or worked around): true
  Either,      // depends on what stands on the disk; the general rules still hold
};

std::string Word(const std::string& call, int index) {
  size_t start = 0;
  for (int i = 0; i < index; i++) {
    start = call.find(' ', start);
    if (start == std::string::npos) return "";
    start++;
  }
  return call.substr(start, call.find(' ', start) - start);
}

// The outcome of failing calls[index] of an update of `disk`.
Outcome Expected(const std::vector<std::string>& calls, size_t index, size_t firstResourceCall,
                 const std::set<std::string>& olderFiles) {
  const std::string name = Word(calls[index], 0);
  const std::string path = Word(calls[index], 1);
  if (index < firstResourceCall) {
    // The search: only E: qualifies, so only a failure about E: loses the key disk.
    return path.rfind("E:\\", 0) == 0 ? Outcome::NoKeyDisk : Outcome::Succeeds;
  }
  if (name == "FindResourceA") return Outcome::NoPackage;
  if (name == "LoadResource" || name == "LockResource" || name == "SizeofResource" ||
      name == "VirtualAlloc") {
    return Outcome::BadPackage;
  }
  // A folder is only made when it is missing; without it the file cannot be made either.
  if (name == "CreateFileA" || name == "WriteFile" || name == "FlushFileBuffers" ||
      name == "SetFileTime" || name == "CloseHandle" || name == "CreateDirectoryA") {
    return Outcome::Fails;
  }
  // Lost trace lines, unclosed searches, failed time conversions (the file then counts as
  // different and is written again) and obsolete files that stay are not failures of the update.
  if (name == "FindWindowA" || name == "SendMessageA" || name == "FindClose" ||
      name == "FileTimeToDosDateTime" || name == "DeleteFileA" || name == "VirtualFree") {
    return Outcome::Succeeds;
  }
  if (name == "SetFileAttributesA") {
    // Before a write it clears the way for replacing a read-only, hidden or system file; where
    // no file stands, or after the write, or before a removal, it changes nothing that counts.
    const bool beforeWrite = index + 1 < calls.size() &&
                             calls[index + 1].rfind("CreateFileA " + path + " ", 0) == 0;
    return beforeWrite && olderFiles.count(path) ? Outcome::Fails : Outcome::Succeeds;
  }
  // FindFirstFileA: a failed comparison means "not found" and the file is written again; a
  // failed folder test on an existing level stops the folder chain there.
  return Outcome::Either;
}

const char* Describe(Outcome outcome) {
  switch (outcome) {
    case Outcome::NoKeyDisk:
      return "no key disk";
    case Outcome::NoPackage:
      return "no package";
    case Outcome::BadPackage:
      return "bad package";
    case Outcome::Fails:
      return "fails";
    case Outcome::Succeeds:
      return "succeeds";
    case Outcome::Either:
      return "either";
  }
  return "?";
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(EveryCallFailingOnce, EachRunEndsRightAndTheNextCompletes) {
  const std::vector<PackEntry> entries = Release(12, 30000);
  const int identical = 4;
  PackageModule module(PackageOf(entries));

  const std::vector<std::string> clean = CleanRunCalls(module.Handle(), entries, identical);
  ASSERT_FALSE(HasFailure());
  size_t firstResourceCall = 0;
  while (firstResourceCall < clean.size() && clean[firstResourceCall] != "FindResourceA") {
    firstResourceCall++;
  }
  ASSERT_LT(firstResourceCall, clean.size());

  [[maybe_unused]] bool leakReported = false;
  const int failedRuns = FailEachCallInTurn([&](int n) {
    KeyDisk disk(entries, identical);
    const int buffers = FaultLiveBuffers();
    const HostTree zarpoBefore = SnapshotHostTree(disk.drive.HostRoot() + "/Zarpo");
    const int descriptors = OpenDescriptorCount();

    UpdateRun run = RunUpdate(module.Handle(), [n] { FaultArm(n); });
    if (run.fired == 0) return false;  // the update makes fewer than n calls

    EXPECT_GE(run.calls.size(), static_cast<size_t>(n));
    if (run.calls.size() < static_cast<size_t>(n)) return true;
    const size_t index = static_cast<size_t>(n - 1);
    EXPECT_EQ(run.calls[index], clean[index]) << "the runs went apart before the failed call";
    if (run.calls[index] != clean[index]) return true;
    const std::string failed = run.calls[index];
    const Outcome outcome = Expected(clean, index, firstResourceCall, disk.OlderFiles());
    SCOPED_TRACE("call " + std::to_string(n) + " failed: " + failed + " (" + Describe(outcome) +
                 ")");

    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a handle was left open";
    // The unpacked buffer is given back, unless giving it back is the call that failed.
    EXPECT_EQ(FaultLiveBuffers(), buffers + (Word(failed, 0) == "VirtualFree" ? 1 : 0))
        << "the package's buffer was not released";
#ifdef ZARPO_LEAK_CHECK
    // Leaked blocks stay leaked, so every later check would repeat the first report.
    if (!leakReported && __lsan_do_recoverable_leak_check() != 0) {
      leakReported = true;
      ADD_FAILURE() << "memory was leaked (see the report above)";
    }
#endif
    // Nothing outside the product folder, and none of the user's files in it, was touched.
    EXPECT_EQ(TreeDifference(disk.outside, disk.Outside()), "");
    EXPECT_EQ(TreeDifference(disk.own, FilterTree(SnapshotHostTree(disk.drive.HostRoot()),
                                                  [&](const std::string& p) {
                                                    return disk.own.count(p) > 0;
                                                  })),
              "");
    // A failed write is the last line of the trace, and it is the only one.
    for (size_t i = 0; i < run.lines.size(); i++) {
      if (EndsWith(run.lines[i], "] 0")) {
        EXPECT_EQ(i + 1, run.lines.size()) << run.lines[i];
      }
    }

    switch (outcome) {
      case Outcome::NoKeyDisk:
        EXPECT_FALSE(run.found);
        EXPECT_EQ(TreeDifference(zarpoBefore, SnapshotHostTree(disk.drive.HostRoot() + "/Zarpo")),
                  "");
        break;
      case Outcome::NoPackage:
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.lines.empty());
        EXPECT_EQ(TreeDifference(zarpoBefore, SnapshotHostTree(disk.drive.HostRoot() + "/Zarpo")),
                  "");
        break;
      case Outcome::BadPackage:
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.lines.empty());
        EXPECT_EQ(FaultCalls("CreateFileA"), 0);
        EXPECT_EQ(disk.ObsoleteLeft(), std::vector<std::string>());
        break;
      case Outcome::Fails:
        EXPECT_EQ(run.result, 0);
        EXPECT_FALSE(run.lines.empty());
        EXPECT_TRUE(!run.lines.empty() && EndsWith(run.lines.back(), "] 0"));
        break;
      case Outcome::Succeeds:
        EXPECT_TRUE(run.found);
        EXPECT_EQ(run.result, 1);
        break;
      case Outcome::Either:
        break;
    }
    if (run.found && run.result == 1) {
      // Success means the package is in place. Only a failed closing attribute call may leave
      // a file with the attributes it was created with, as the system leaves it.
      std::string mismatch = PackageMismatch(disk.drive, "Zarpo", entries);
      if (Word(failed, 0) == "SetFileAttributesA" && mismatch.rfind("attributes: ", 0) == 0 &&
          mismatch.find('\n') + 1 == mismatch.size()) {
        mismatch.clear();
      }
      EXPECT_EQ(mismatch, "");
      for (const std::string& line : run.lines) EXPECT_FALSE(EndsWith(line, "] 0")) << line;
    } else if (run.found && outcome != Outcome::NoPackage && outcome != Outcome::BadPackage) {
      EXPECT_TRUE(!run.lines.empty() && EndsWith(run.lines.back(), "] 0"))
          << "false without a failed write";
    }

    UpdateRun again = RunUpdate(module.Handle());
    EXPECT_EQ(again.result, 1);
    disk.ExpectUpdated();
    return true;
  });
  // Every call of the clean run was failed once.
  EXPECT_EQ(static_cast<size_t>(failedRuns), clean.size());
}

}  // namespace
