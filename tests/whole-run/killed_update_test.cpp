// An update killed with SIGKILL part-way, at points spread over a whole installation of a
// release of some size, and the run after it: that run must complete and leave the product
// folder exactly as the package says (contents, attributes, last-write times to 100 ns), the
// user's own files and the other drives as they were, whatever the killed run left half done.
// The update runs in a child process that a wrapped platform call kills (support/faults.h).
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/update_fixture.h"

namespace {

using namespace update_fixture;

// The index in `calls` of the last call of each entry's write (its closing attribute call), by
// target path; entries not written are absent.
std::map<std::string, size_t> WriteEnds(const std::vector<std::string>& calls,
                                        const std::vector<PackEntry>& entries) {
  std::map<std::string, size_t> ends;
  for (const PackEntry& e : entries) {
    const std::string prefix = "SetFileAttributesA " + std::string(Target) + e.name + " ";
    for (size_t i = 0; i < calls.size(); i++) {
      if (calls[i].compare(0, prefix.size(), prefix) == 0) ends[std::string(Target) + e.name] = i;
    }
  }
  return ends;
}

// The index in `calls` of the first call of each entry's write after its comparison (the
// attribute call that clears the way), by target path.
std::map<std::string, size_t> WriteStarts(const std::vector<std::string>& calls,
                                          const std::vector<PackEntry>& entries) {
  std::map<std::string, size_t> starts;
  for (const PackEntry& e : entries) {
    const std::string path = std::string(Target) + e.name;
    const std::string compare = "FindFirstFileA " + path;
    for (size_t i = 0; i < calls.size(); i++) {
      if (calls[i] == compare) {
        starts[path] = i + 1;
        break;
      }
    }
  }
  return starts;
}

// Index in `calls` of the nth call (1-based) whose name is `name`; nullptr: of any call.
size_t IndexOfCall(const std::vector<std::string>& calls, int nth, const char* name) {
  int seen = 0;
  for (size_t i = 0; i < calls.size(); i++) {
    if (name != nullptr && calls[i].compare(0, strlen(name) + 1, std::string(name) + " ") != 0) {
      continue;
    }
    if (++seen == nth) return i;
  }
  return calls.size();
}

TEST(KilledUpdate, NextRunCompletesTheFolderAfterAKillAnywhere) {
  const std::vector<PackEntry> entries = Release(40);
  const int identical = 5;
  PackageModule module(PackageOf(entries));

  const std::vector<std::string> calls = CleanRunCalls(module.Handle(), entries, identical);
  ASSERT_FALSE(HasFailure());
  const std::map<std::string, size_t> ends = WriteEnds(calls, entries);
  const std::map<std::string, size_t> starts = WriteStarts(calls, entries);
  const int total = static_cast<int>(calls.size());
  const int writes = static_cast<int>(
      std::count_if(calls.begin(), calls.end(),
                    [](const std::string& c) { return c.rfind("WriteFile ", 0) == 0; }));
  ASSERT_EQ(writes, static_cast<int>(entries.size()) - 1);

  struct Point {
    int nth;
    const char* name;
    FaultKind kind;
  };
  std::vector<Point> points;
  const int spread = 24;  // before calls spread evenly from the first to the last
  for (int k = 0; k < spread; k++) {
    points.push_back({1 + k * (total - 1) / (spread - 1), nullptr, FaultKind::Kill});
  }
  for (int k = 0; k < 6; k++) {  // half-way through a file's data
    points.push_back({1 + k * (writes - 1) / 5, "WriteFile", FaultKind::KillMidWrite});
  }

  std::vector<int> tried(points.size());
  for (size_t i = 0; i < points.size(); i++) tried[i] = static_cast<int>(i);
  const int killedRuns = FailEachCallInTurn(
      [&](int which) {
        const Point& point = points[static_cast<size_t>(which)];
        const size_t index = IndexOfCall(calls, point.nth, point.name);
        EXPECT_LT(index, calls.size());
        if (index >= calls.size()) return true;
        SCOPED_TRACE("killed at call " + std::to_string(index + 1) + " of " +
                     std::to_string(total) + ": " + calls[index] +
                     (point.kind == FaultKind::KillMidWrite ? " (half written)" : ""));
        KeyDisk disk(entries, identical);

        int status = UpdateInChild(module.Handle(), point.nth, point.name, point.kind);
        if (!(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
          ADD_FAILURE() << "the update was not killed: status " << status;
          return false;
        }

        const int descriptors = OpenDescriptorCount();
        UpdateRun rerun = RunUpdate(module.Handle());
        EXPECT_TRUE(rerun.found);
        EXPECT_EQ(rerun.result, 1);
        EXPECT_EQ(OpenDescriptorCount(), descriptors);
        disk.ExpectUpdated();

        // What the killed run had finished is recognised and left alone, what it had not begun is
        // written. The file it was writing may go either way: killed before its closing attribute
        // call, it is complete when it was created with all its attributes.
        for (const PackEntry& e : entries) {
          const std::string path = std::string(Target) + e.name;
          auto end = ends.find(path);
          const bool finished = end == ends.end() || end->second < index;
          const bool begun = finished || starts.at(path) < index;
          const bool existing = std::find(rerun.lines.begin(), rerun.lines.end(),
                                          "Existing [" + path + "]") != rerun.lines.end();
          const bool written = std::find(rerun.lines.begin(), rerun.lines.end(),
                                         "[" + path + "] 1") != rerun.lines.end();
          if (finished) {
            EXPECT_TRUE(existing && !written) << path << " was finished";
          } else if (!begun) {
            EXPECT_TRUE(written && !existing) << path << " was not begun";
          } else {
            EXPECT_NE(existing, written) << path << " was being written";
          }
        }
        return true;
      },
      tried);
  EXPECT_EQ(killedRuns, static_cast<int>(points.size()));
}

}  // namespace
