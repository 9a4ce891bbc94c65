// The whole program as a user runs it: the host build of the updater started as a process, on a
// scratch drive table, answering its questions through standard input, with debug-monitor
// recording the trace.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "package/install.h"
#include "package/package.h"
#include "support/host_files.h"
#include "support/launcher.h"
#include "support/monitor_socket.h"
#include "support/package_module.h"
#include "support/scratch_drive.h"

namespace fs = std::filesystem;

namespace {

const std::string Program = ZARPO_BINARY_DIR "/ZarpoUpdate";
const std::string Monitor = ZARPO_BINARY_DIR "/monitor/debug-monitor";

// debug-monitor appending the raw trace lines to a file, for as long as it is in scope.
struct TraceMonitor {
  explicit TraceMonitor(const RuntimeFolder& runtime) : file(runtime.path + "/trace.txt") {
    std::vector<std::string> words = LaunchWords(Monitor);
    words.insert(words.end(), {"--raw", "--append", file});
    std::vector<char*> argv = LaunchArgv(words);
    pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      execv(argv[0], argv.data());
      _exit(127);
    }
    std::string socket = runtime.path + "/DebugMonitor";
    EXPECT_TRUE(WaitFor([&] { return fs::exists(socket); })) << "debug-monitor did not start";
  }
  ~TraceMonitor() {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadWholeFile(file));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string file;
  pid_t pid;
};

struct Outcome {
  int exitCode;
  std::string output;
};

// Runs the updater with `answers` as its standard input; bounded by a time-out.
Outcome RunUpdater(const std::string& answers) {
  char inputName[] = "/tmp/zarpo-answers-XXXXXX";
  int input = mkstemp(inputName);
  EXPECT_EQ(write(input, answers.data(), answers.size()), (ssize_t)answers.size());
  lseek(input, 0, SEEK_SET);
  char outputName[] = "/tmp/zarpo-output-XXXXXX";
  int output = mkstemp(outputName);
  std::vector<std::string> words = LaunchWords(Program);
  std::vector<char*> argv = LaunchArgv(words);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(input, 0);
    dup2(output, 1);
    dup2(output, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(input);
  close(output);
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the updater did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Outcome outcome = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(outputName)};
  unlink(inputName);
  unlink(outputName);
  return outcome;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Everything below a host folder: contents, size, times to the nanosecond and mode, so that any
// write, attribute change or time change shows.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> snapshot;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    struct stat st;
    EXPECT_EQ(lstat(item.path().c_str(), &st), 0);
    std::ostringstream line;
    line << st.st_mode << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec
         << ' ' << st.st_ctim.tv_sec << '.' << st.st_ctim.tv_nsec;
    if (item.is_regular_file()) line << ' ' << ReadWholeFile(item.path());
    snapshot[fs::relative(item.path(), root)] = line.str();
  }
  return snapshot;
}

// The entries of the sample release the updater carries, as target paths in code page 932.
std::vector<std::string> PackagedTargets() {
  std::vector<std::string> targets;
  PackageModule module(ReadWholeFile(ZARPO_SAMPLE_PACKAGE));
  Package package;
  EXPECT_EQ(OpenPackage(module.Handle(), &package), PackageGood);
  EntryWalk walk;
  StartEntryWalk(&walk, &package);
  Entry entry;
  while (NextEntry(&walk, &entry)) targets.push_back(std::string("E:\\Zarpo\\") + entry.Name);
  ClosePackage(&package);
  return targets;
}

const char Caption[] = "ザルポの更新";
const char Confirm[] = "E:のキーディスクを最新版に更新します。\nよろしいですか?";
const char Done[] = "キーディスクの更新を完了しました。\n続いてセットアップを実行しますか?";
const char Failed[] = "更新に失敗しました。";
const char NoKeyDisk[] = "更新すべきキーディスクが見つかりません。";

TEST(Program, NoKeyDiskIsReportedAndExitsZero) {
  RuntimeFolder runtime;
  ScratchDrive drive('E', "fixed");
  drive.MakeFolder("Zarpo");
  Outcome outcome = RunUpdater("");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_TRUE(Contains(outcome.output, Caption)) << outcome.output;
  EXPECT_TRUE(Contains(outcome.output, NoKeyDisk)) << outcome.output;
  EXPECT_FALSE(Contains(outcome.output, "よろしいですか")) << outcome.output;
}

TEST(Program, AnsweringNoLeavesTheKeyDiskAsItWas) {
  RuntimeFolder runtime;
  ScratchDrive drive('E', "removable");
  drive.MakeFolder("Zarpo");
  drive.WriteHostFile("Zarpo\\Zarpo.exe", "old program");
  drive.WriteHostFile("Zarpo\\ZpFont32.dll", "obsolete");
  auto before = Snapshot(drive.HostRoot());

  for (const char* answer : {"n\n", "", "no\n"}) {
    SCOPED_TRACE(answer);
    Outcome outcome = RunUpdater(answer);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.output, Confirm)) << outcome.output;
    EXPECT_FALSE(Contains(outcome.output, Done));
    EXPECT_EQ(Snapshot(drive.HostRoot()), before);
  }
}

TEST(Program, UpdatesTheKeyDiskAndTheRerunWritesNothing) {
  RuntimeFolder runtime;
  TraceMonitor monitor(runtime);
  ScratchDrive drive('E', "removable");
  drive.MakeFolder("Zarpo");
  drive.WriteHostFile("Zarpo\\Zarpo.exe", "old program");
  drive.WriteHostFile("Zarpo\\memo.txt", "the user's own");
  for (const char* name : ObsoleteFiles) drive.WriteHostFile(std::string("Zarpo\\") + name, "old");
  std::vector<std::string> targets = PackagedTargets();
  ASSERT_EQ(targets.size(), 67u);

  Outcome first = RunUpdater("y\nn\n");

  EXPECT_EQ(first.exitCode, 0);
  EXPECT_TRUE(Contains(first.output, Done)) << first.output;
  std::vector<std::string> lines = monitor.Lines();
  ASSERT_EQ(lines.size(), 2 * targets.size());
  EXPECT_EQ(lines[0].substr(0, 31), "Different [E:\\Zarpo\\Zarpo.exe] ");
  for (size_t i = 1; i < targets.size(); i++) {
    EXPECT_EQ(lines[2 * i], "NotFound [" + targets[i] + "]");
    EXPECT_EQ(lines[2 * i + 1], "[" + targets[i] + "] 1");
  }
  for (const char* name : ObsoleteFiles) EXPECT_FALSE(drive.Exists(std::string("Zarpo\\") + name));
  EXPECT_EQ(drive.ReadHostFile("Zarpo\\memo.txt"), "the user's own");
  EXPECT_TRUE(drive.Exists("Zarpo\\Sample\\" + Ansi("表紙図面")));

  auto installed = Snapshot(drive.HostRoot());
  Outcome second = RunUpdater("y\nn\n");

  EXPECT_EQ(second.exitCode, 0);
  EXPECT_TRUE(Contains(second.output, Done));
  lines = monitor.Lines();
  ASSERT_EQ(lines.size(), 3 * targets.size());
  for (size_t i = 0; i < targets.size(); i++) {
    EXPECT_EQ(lines[2 * targets.size() + i], "Existing [" + targets[i] + "]");
  }
  EXPECT_EQ(Snapshot(drive.HostRoot()), installed);
}

TEST(Program, FailedUpdateIsReported) {
  RuntimeFolder runtime;
  ScratchDrive drive('E', "removable");
  drive.MakeFolder("Zarpo\\Setup.exe");  // a folder where the second entry's file belongs
  Outcome outcome = RunUpdater("y\ny\n");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_TRUE(Contains(outcome.output, Failed)) << outcome.output;
  EXPECT_FALSE(Contains(outcome.output, Done));
  EXPECT_TRUE(drive.Exists("Zarpo\\Zarpo.exe"));
  EXPECT_FALSE(drive.Exists("Zarpo\\ZarpoView.exe"));
}

// The setup program is handed to the shell, which on Linux gives a Windows program to Wine:
// a stand-in `wine` first on PATH records what it was asked to start.
TEST(Program, SetupStartsOnYesOnly) {
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    RuntimeFolder runtime;
    ScratchDrive drive('E', "removable");
    drive.MakeFolder("Zarpo");
    std::string bin = runtime.path + "/bin";
    fs::create_directory(bin);
    std::string mark = runtime.path + "/started";
    {
      std::ofstream wine(bin + "/wine");
      wine << "#!/bin/sh\necho \"$@\" > '" << mark << "'\n";
    }
    fs::permissions(bin + "/wine", fs::perms::owner_all);
    std::string savedPath = getenv("PATH");
    setenv("PATH", (bin + ":" + savedPath).c_str(), 1);
    Outcome outcome = RunUpdater(yes ? "y\ny\n" : "y\nn\n");
    setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.output, Done)) << outcome.output;
    if (yes) {
      EXPECT_TRUE(WaitFor([&] { return fs::exists(mark); })) << "the setup program did not start";
      EXPECT_EQ(ReadWholeFile(mark), drive.HostPath("Zarpo\\Setup.exe") + "\n");
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_FALSE(fs::exists(mark));
    }
  }
}

}  // namespace
