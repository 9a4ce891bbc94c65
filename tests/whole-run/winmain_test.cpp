// The program's entry point with a scripted user: the boxes it shows on each road through the
// update, the setup program it starts, and every platform call of a whole run failed once in
// turn. The package is the one this test program carries, the sample release.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/messages.h"
#include "package/install.h"
#include "package/package.h"
#include "support/disk_state.h"
#include "support/faults.h"
#include "support/file_times.h"
#include "support/host_files.h"
#include "support/scratch_drive.h"
#include "support/update_fixture.h"

namespace {

struct WinMainRun {
  int result = -1;
  int fired = 0;
  std::vector<FaultBox> boxes;
  std::vector<FaultShellCall> shells;
  std::vector<std::string> calls;  // with their arguments
};

// WinMain as the start-up code calls it, the user answering `answers` in turn; `arm` runs
// first (to plan a fault). Trace lines are captured, so no monitor is looked for.
WinMainRun RunWinMain(std::vector<int> answers, const std::function<void()>& arm = {}) {
  FaultScope scope;
  FaultCaptureTrace(true);
  FaultScriptBoxes(std::move(answers));
  if (arm) arm();
  char commandLine[] = "";
  WinMainRun run;
  run.result = WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
  run.fired = FaultFired();
  run.boxes = FaultBoxes();
  run.shells = FaultShellCalls();
  run.calls = FaultCallDetails();
  return run;
}

// The entries of this program's own package, read straight from its resource table.
std::vector<PackEntry> ProgramEntries() {
  std::vector<PackEntry> entries;
  if (PosixProgramModule.Count != 1) return entries;
  const PosixResource& resource = PosixProgramModule.Resources[0];
  Package package;
  if (UnpackPackage(resource.Data, static_cast<DWORD>(resource.End - resource.Data), &package) ==
      PackageGood) {
    EntryWalk walk;
    Entry entry;
    StartEntryWalk(&walk, &package);
    while (NextEntry(&walk, &entry)) entries.push_back(PackEntryOf(entry));
  }
  ClosePackage(&package);
  return entries;
}

std::string Confirmation(char letter) {
  EXPECT_EQ(std::string(ConfirmText, 2), "%c");
  return std::string(1, letter) + (ConfirmText + 2);
}

const UINT Question = MB_YESNO | MB_ICONQUESTION;
const UINT Error = MB_OK | MB_ICONERROR;

struct ExpectedBox {
  std::string text;
  UINT type;
};

struct Flow {
  const char* road;
  char letter;         // of the removable drive
  bool productFolder;  // it holds Zarpo
  bool blocked;        // a folder stands where the package's first file goes
  std::vector<int> answers;
  std::vector<ExpectedBox> boxes;
  bool setupStarted;
};

TEST(WinMainFlow, EachRoadShowsItsBoxesAndReturnsZero) {
  const std::vector<PackEntry> entries = ProgramEntries();
  ASSERT_FALSE(entries.empty()) << "this program carries no package";
  const std::vector<Flow> flows = {
      {"no key disk", 'E', false, false, {IDYES, IDYES}, {{NoKeyDiskText, Error}}, false},
      {"no to the confirmation",
       'G',
       true,
       false,
       {IDNO, IDYES},
       {{Confirmation('G'), Question}},
       false},
      {"installation fails",
       'E',
       true,
       true,
       {IDYES, IDYES},
       {{Confirmation('E'), Question}, {FailedText, Error}},
       false},
      {"no to the setup",
       'H',
       true,
       false,
       {IDYES, IDNO},
       {{Confirmation('H'), Question}, {DoneText, Question}},
       false},
      {"yes to the setup",
       'E',
       true,
       false,
       {IDYES, IDYES},
       {{Confirmation('E'), Question}, {DoneText, Question}},
       true},
  };
  for (const Flow& flow : flows) {
    SCOPED_TRACE(flow.road);
    ScratchDrive drive(flow.letter);
    if (flow.productFolder) drive.MakeFolder("Zarpo");
    if (flow.blocked) drive.MakeFolder("Zarpo\\" + entries[0].name);
    const HostTree before = SnapshotHostTree(drive.HostRoot());

    WinMainRun run = RunWinMain(flow.answers);
    EXPECT_EQ(run.result, 0);
    // The DLL search is restricted before anything else (this layer has no system folder of
    // DLLs and no SetDefaultDllDirectories, so the fallback runs), then the drives are looked at.
    const std::vector<std::string> start = {"GetSystemDirectoryA", "GetModuleHandleA kernel32.dll",
                                            "GetProcAddress SetDefaultDllDirectories",
                                            "SetDllDirectoryA ", "SetErrorMode 0x1"};
    ASSERT_GT(run.calls.size(), start.size());
    EXPECT_EQ(std::vector<std::string>(run.calls.begin(), run.calls.begin() + 5), start);
    ASSERT_EQ(run.boxes.size(), flow.boxes.size());
    for (size_t i = 0; i < run.boxes.size(); i++) {
      EXPECT_EQ(run.boxes[i].owner, nullptr);
      EXPECT_EQ(run.boxes[i].caption, CaptionText);
      EXPECT_EQ(run.boxes[i].text, flow.boxes[i].text) << "box " << i;
      EXPECT_EQ(run.boxes[i].type, flow.boxes[i].type) << "box " << i;
    }
    if (flow.setupStarted) {
      ASSERT_EQ(run.shells.size(), 1u);
      const FaultShellCall& shell = run.shells[0];
      EXPECT_EQ(shell.owner, nullptr);
      EXPECT_EQ(shell.operation, std::nullopt);
      EXPECT_EQ(shell.file, std::string(1, flow.letter) + ":\\Zarpo\\Setup.exe");
      EXPECT_EQ(shell.parameters, std::nullopt);
      EXPECT_EQ(shell.directory, std::nullopt);
      EXPECT_EQ(shell.show, SW_SHOWNORMAL);
      EXPECT_EQ(run.calls.back().rfind("ShellExecuteA ", 0), 0u) << run.calls.back();
    } else {
      EXPECT_TRUE(run.shells.empty());
    }
    if (run.boxes.size() == 2 && run.boxes[1].text == DoneText) {
      EXPECT_EQ(PackageMismatch(drive, "Zarpo", entries), "");
    } else if (run.boxes.size() == 1) {
      EXPECT_EQ(TreeDifference(before, SnapshotHostTree(drive.HostRoot())), "");
    }
  }
}

// Puts the disk back to an older release of the package: an older program file (read-only,
// hidden, system), a folder of sample files missing, and a file the release no longer uses.
// Expects the package to be in place before.
void Age(const ScratchDrive& drive, const std::string& missingFolder) {
  namespace fs = std::filesystem;
  const std::string program = drive.HostPath("Zarpo\\Zarpo.exe");
  fs::remove(program);
  drive.WriteHostFile("Zarpo\\Zarpo.exe", "an older release's program");
  EXPECT_TRUE(SetFileAttributesA("E:\\Zarpo\\Zarpo.exe", 0x27));
  EXPECT_TRUE(SetHostWriteTime(program, FileTimeOf(2015, 5, 5)));
  fs::remove_all(drive.HostPath("Zarpo\\" + missingFolder));
  drive.WriteHostFile(std::string("Zarpo\\") + ObsoleteFiles[0], "no longer used");
  EXPECT_TRUE(SetFileAttributesA((std::string("E:\\Zarpo\\") + ObsoleteFiles[0]).c_str(), 0x21));
}

// All but the product folder, with the user's own file in it.
HostTree NotTheRelease(const HostTree& tree) {
  return FilterTree(tree, [](const std::string& path) {
    return path.rfind("Zarpo/", 0) != 0 || path == "Zarpo/memo.txt";
  });
}

TEST(WinMainFailingEachCall, EachRunEndsRightAndTheNextCompletes) {
  const std::vector<PackEntry> entries = ProgramEntries();
  ASSERT_FALSE(entries.empty()) << "this program carries no package";
  // The folder of the last packaged file in one, to be made again on each run.
  std::string missingFolder;
  for (const PackEntry& e : entries) {
    if (!update_fixture::FolderOf(e.name).empty()) missingFolder = update_fixture::FolderOf(e.name);
  }
  ASSERT_FALSE(missingFolder.empty());

  ScratchDrive drive;
  drive.MakeFolder("Zarpo");
  drive.WriteHostFile("readme.txt", "outside the product folder");
  drive.WriteHostFile("Zarpo\\memo.txt", "the user's notes");
  ASSERT_EQ(RunWinMain({IDYES, IDNO}).boxes.size(), 2u);
  ASSERT_EQ(PackageMismatch(drive, "Zarpo", entries), "");

  Age(drive, missingFolder);
  const WinMainRun clean = RunWinMain({IDYES, IDYES});
  ASSERT_EQ(clean.shells.size(), 1u);
  ASSERT_EQ(PackageMismatch(drive, "Zarpo", entries), "");

  const int failedRuns = FailEachCallInTurn([&](int n) {
    Age(drive, missingFolder);
    const HostTree before = SnapshotHostTree(drive.HostRoot());
    const int descriptors = OpenDescriptorCount();

    WinMainRun run = RunWinMain({IDYES, IDYES}, [n] { FaultArm(n); });
    if (run.fired == 0) return false;  // the run makes fewer than n calls
    const size_t index = static_cast<size_t>(n - 1);
    EXPECT_GT(run.calls.size(), index);
    if (run.calls.size() <= index) return true;
    EXPECT_EQ(run.calls[index], clean.calls[index]) << "the runs went apart before the failed call";
    if (run.calls[index] != clean.calls[index]) return true;
    const std::string failed = run.calls[index];
    SCOPED_TRACE("call " + std::to_string(n) + " failed: " + failed);

    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a handle was left open";
    const HostTree after = SnapshotHostTree(drive.HostRoot());
    EXPECT_EQ(TreeDifference(NotTheRelease(before), NotTheRelease(after)), "");

    // The dialog: no key disk, or the confirmation, then the outcome, then perhaps the setup.
    EXPECT_FALSE(run.boxes.empty());
    if (run.boxes.empty()) return true;
    const FaultBox& first = run.boxes[0];
    if (first.text == NoKeyDiskText || first.answer != IDYES) {
      EXPECT_EQ(run.boxes.size(), 1u);
      EXPECT_TRUE(run.shells.empty());
      EXPECT_EQ(TreeDifference(before, after), "") << "the key disk was touched";
    } else {
      EXPECT_EQ(first.text, Confirmation('E'));
      EXPECT_EQ(run.boxes.size(), 2u);
      if (run.boxes.size() != 2u) return true;
      const FaultBox& outcome = run.boxes[1];
      if (outcome.text == FailedText) {
        EXPECT_TRUE(run.shells.empty());
        EXPECT_EQ(run.calls.back(), "MessageBoxA") << "something after the failure box";
      } else {
        EXPECT_EQ(outcome.text, DoneText);
        // Only a failed closing attribute call may leave a written file with the attributes
        // it was created with; every other success has the package in place.
        if (failed.rfind("SetFileAttributesA ", 0) != 0) {
          EXPECT_EQ(PackageMismatch(drive, "Zarpo", entries), "");
        }
        EXPECT_EQ(run.shells.size(), outcome.answer == IDYES ? 1u : 0u);
        if (!run.shells.empty()) {
          EXPECT_EQ(run.shells[0].file, "E:\\Zarpo\\Setup.exe");
          // Started or not, nothing more is said.
          EXPECT_EQ(run.calls.back().rfind("ShellExecuteA ", 0), 0u) << run.calls.back();
        }
      }
    }

    WinMainRun again = RunWinMain({IDYES, IDNO});
    EXPECT_EQ(again.result, 0);
    EXPECT_EQ(PackageMismatch(drive, "Zarpo", entries), "");
    EXPECT_FALSE(drive.Exists(std::string("Zarpo\\") + ObsoleteFiles[0]));
    EXPECT_EQ(
        TreeDifference(NotTheRelease(before), NotTheRelease(SnapshotHostTree(drive.HostRoot()))),
        "");
    return true;
  });
  // Every call of the clean run was failed once.
  EXPECT_EQ(static_cast<size_t>(failedRuns), clean.calls.size());
}

}  // namespace
