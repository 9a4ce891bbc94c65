// The debug-monitor program on Linux: it shows and stores, in order, the lines the updater's
// Trace sends through the POSIX layer's DebugMonitor window (a local socket).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/host_files.h"
#include "support/launcher.h"
#include "support/monitor_socket.h"
#include "trace/trace.h"

extern char** environ;

namespace {

using DebugMonitorProgram = MonitorSocketTest;

// The debug-monitor program, started with the test's environment.
pid_t StartMonitor(const std::vector<std::string>& arguments, const std::string& output) {
  std::vector<std::string> words = LaunchWords(ZARPO_BINARY_DIR "/monitor/debug-monitor");
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = LaunchArgv(words);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; });
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool MonitorFound() { return FindWindowA("DebugMonitor", nullptr) != nullptr; }

TEST_F(DebugMonitorProgram, ShowsAndStoresEveryLineInOrder) {
  // A socket left by a monitor that died: it is no window, and a new monitor takes its place.
  {
    int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = AddressOf(SocketPath);
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(stale);
  }
  EXPECT_FALSE(MonitorFound());

  std::string stored = Folder + "/trace.log";
  std::string shown = Folder + "/shown.txt";
  pid_t monitor = StartMonitor({"--append", stored, "--raw", "--number"}, shown);
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(WaitFor(MonitorFound)) << "debug-monitor did not come up";

  // A second monitor on the same socket refuses to start and leaves the first one alone.
  EXPECT_NE(WaitExit(StartMonitor({}, Folder + "/second.txt")), 0);
  EXPECT_TRUE(MonitorFound());

  // Shift-JIS with 0x5C trail bytes (表 95 5C, 構 8D 5C), as the paths of the update carry.
  const std::string path = "E:\\Zarpo\\\x95\x5C\x8E\xA6\\\x8D\x5C\x90\xAC.txt";
  Trace("NotFound [%s]", path.c_str());
  Trace("Existing [%s]", "E:\\Zarpo\\Setup.exe");
  Trace("Different [%s] %d, %X, %d", path.c_str(), 1024, 0x21u, 0);
  Trace("[%s] %d", path.c_str(), 1);
  Trace("%s", "");

  // Acknowledged means stored: the file is complete as soon as Trace has returned.
  EXPECT_EQ(ReadWholeFile(stored), "NotFound [" + path +
                                       "]\n"
                                       "Existing [E:\\Zarpo\\Setup.exe]\n"
                                       "Different [" +
                                       path +
                                       "] 1024, 21, 0\n"
                                       "[" +
                                       path +
                                       "] 1\n"
                                       "\n");
  std::string utf8Path = "E:\\Zarpo\\表示\\構成.txt";
  EXPECT_EQ(ReadWholeFile(shown), "1 NotFound [" + utf8Path +
                                      "]\n"
                                      "2 Existing [E:\\Zarpo\\Setup.exe]\n"
                                      "3 Different [" +
                                      utf8Path +
                                      "] 1024, 21, 0\n"
                                      "4 [" +
                                      utf8Path +
                                      "] 1\n"
                                      "5 \n");

  kill(monitor, SIGTERM);
  EXPECT_EQ(WaitExit(monitor), 0);
  EXPECT_FALSE(std::filesystem::exists(SocketPath)) << "the monitor left its socket behind";
  EXPECT_FALSE(MonitorFound());
}

TEST_F(DebugMonitorProgram, EscapesWhatIsNoText) {
  std::string shown = Folder + "/shown.txt";
  pid_t monitor = StartMonitor({"--socket", SocketPath}, shown);
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(WaitFor(MonitorFound));
  Trace("bad \x80 lone lead \x81");
  Trace("escape \x1B[2J and tab\t");
  kill(monitor, SIGINT);
  EXPECT_EQ(WaitExit(monitor), 0);
  EXPECT_EQ(ReadWholeFile(shown),
            "bad \\x80 lone lead \\x81\n"
            "escape \\x1B[2J and tab\t\n");
}

TEST_F(DebugMonitorProgram, AppendsInUtf8ByDefault) {
  // What a file viewer shows, as on the terminal, without the number.
  std::string stored = Folder + "/trace.log";
  pid_t monitor = StartMonitor({"--number", "--append", stored}, Folder + "/shown.txt");
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(WaitFor(MonitorFound));
  Trace("[%s] %d", "E:\\Zarpo\\\x95\x5C\x8E\xA6\\\x8D\x5C\x90\xAC.txt", 1);
  Trace("bad \x80 and \x1B");
  EXPECT_EQ(ReadWholeFile(stored),
            "[E:\\Zarpo\\表示\\構成.txt] 1\n"
            "bad \\x80 and \\x1B\n");
  kill(monitor, SIGTERM);
  EXPECT_EQ(WaitExit(monitor), 0);

  std::string version = Folder + "/version.txt";
  EXPECT_EQ(WaitExit(StartMonitor({"--version"}, version)), 0);
  std::regex shape("debug-monitor [0-9]+\\.[0-9]+\\.[0-9]+\n");
  EXPECT_TRUE(std::regex_match(ReadWholeFile(version), shape)) << ReadWholeFile(version);
}

}  // namespace
