// The trace channel end to end on Linux: Trace over the POSIX layer's DebugMonitor window
// (a local socket), against the debug-monitor program and against listeners in the test that
// misbehave on purpose.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/extra_calls.h"
#include "host/host.h"
#include "support/host_files.h"
#include "support/launcher.h"
#include "trace/trace.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// Each test gets its own XDG_RUNTIME_DIR, so the monitor socket is its own too.
class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zarpo-trace-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Folder = pattern;
    const char* old = getenv("XDG_RUNTIME_DIR");
    HadRuntime = old != nullptr;
    if (old) OldRuntime = old;
    setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
    SocketPath = Folder + "/DebugMonitor";
  }
  void TearDown() override {
    if (HadRuntime)
      setenv("XDG_RUNTIME_DIR", OldRuntime.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(Folder);
  }

  std::string Folder;
  std::string SocketPath;
  std::string OldRuntime;
  bool HadRuntime = false;
};

// What a listener in the test does with each line it is sent.
enum class Behaviour {
  Ack,             // acknowledges at once
  AckLate,         // acknowledges after a pause, noting when
  CloseUnread,     // closes the connection without reading anything
  CloseUnanswered  // reads the line, then closes without acknowledging
};

// A stand-in monitor on a thread: serves connections at the socket path until stopped, then
// closes its socket but leaves the file, as a killed monitor does. Probes (connections that
// close before sending) are not counted as lines.
class Listener {
 public:
  Listener(const std::string& path, Behaviour behaviour) : Path(path), Mode(behaviour) {
    Socket = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = AddressOf(path);
    Ready = Socket >= 0 && bind(Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(Socket, 8) == 0;
    if (Ready) Worker = std::thread([this] { Serve(); });
  }
  ~Listener() { Stop(); }

  void Stop() {
    Stopping = true;
    if (Worker.joinable()) Worker.join();
    if (Socket >= 0) close(Socket);
    Socket = -1;
  }

  bool Ready = false;
  std::vector<std::string> Lines;  // read after Stop()
  Clock::time_point AckTime;

 private:
  static bool ReadAll(int fd, char* data, size_t length) {
    while (length) {
      ssize_t got = read(fd, data, length);
      if (got <= 0) return false;
      data += got;
      length -= static_cast<size_t>(got);
    }
    return true;
  }

  void Serve() {
    while (!Stopping) {
      pollfd wait = {Socket, POLLIN, 0};
      if (poll(&wait, 1, 20) <= 0) continue;
      int client = accept(Socket, nullptr, nullptr);
      if (client < 0) continue;
      if (Mode == Behaviour::CloseUnread) {
        close(client);
        continue;
      }
      unsigned char header[4];
      if (ReadAll(client, reinterpret_cast<char*>(header), 4)) {
        size_t length = header[0] | header[1] << 8 | header[2] << 16 | size_t(header[3]) << 24;
        std::string line(length, '\0');
        if (ReadAll(client, line.data(), length)) {
          Lines.push_back(line);
          if (Mode == Behaviour::AckLate) std::this_thread::sleep_for(milliseconds(300));
          if (Mode != Behaviour::CloseUnanswered) {
            AckTime = Clock::now();
            char ack = HOST_MONITOR_ACK;
            send(client, &ack, 1, MSG_NOSIGNAL);
          }
        }
      }
      close(client);
    }
  }

  std::string Path;
  Behaviour Mode;
  int Socket = -1;
  std::atomic<bool> Stopping{false};
  std::thread Worker;
};

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

TEST_F(TraceTest, MonitorProgramShowsAndStoresEveryLineInOrder) {
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
  EXPECT_EQ(ReadWholeFile(stored), "NotFound [" + path + "]\n"
                                   "Existing [E:\\Zarpo\\Setup.exe]\n"
                                   "Different [" + path + "] 1024, 21, 0\n"
                                   "[" + path + "] 1\n"
                                   "\n");
  std::string utf8Path = "E:\\Zarpo\\表示\\構成.txt";
  EXPECT_EQ(ReadWholeFile(shown), "1 NotFound [" + utf8Path + "]\n"
                                  "2 Existing [E:\\Zarpo\\Setup.exe]\n"
                                  "3 Different [" + utf8Path + "] 1024, 21, 0\n"
                                  "4 [" + utf8Path + "] 1\n"
                                  "5 \n");

  kill(monitor, SIGTERM);
  EXPECT_EQ(WaitExit(monitor), 0);
  EXPECT_FALSE(std::filesystem::exists(SocketPath)) << "the monitor left its socket behind";
  EXPECT_FALSE(MonitorFound());
}

TEST_F(TraceTest, MonitorProgramEscapesWhatIsNoText) {
  std::string shown = Folder + "/shown.txt";
  pid_t monitor = StartMonitor({"--socket", SocketPath}, shown);
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(WaitFor(MonitorFound));
  Trace("bad \x80 lone lead \x81");
  Trace("escape \x1B[2J and tab\t");
  kill(monitor, SIGINT);
  EXPECT_EQ(WaitExit(monitor), 0);
  EXPECT_EQ(ReadWholeFile(shown), "bad \\x80 lone lead \\x81\n"
                                  "escape \\x1B[2J and tab\t\n");
}

TEST_F(TraceTest, MonitorProgramAppendsInUtf8ByDefault) {
  // What a file viewer shows, as on the terminal, without the number.
  std::string stored = Folder + "/trace.log";
  pid_t monitor = StartMonitor({"--number", "--append", stored}, Folder + "/shown.txt");
  ASSERT_GT(monitor, 0);
  ASSERT_TRUE(WaitFor(MonitorFound));
  Trace("[%s] %d", "E:\\Zarpo\\\x95\x5C\x8E\xA6\\\x8D\x5C\x90\xAC.txt", 1);
  Trace("bad \x80 and \x1B");
  EXPECT_EQ(ReadWholeFile(stored), "[E:\\Zarpo\\表示\\構成.txt] 1\n"
                                   "bad \\x80 and \\x1B\n");
  kill(monitor, SIGTERM);
  EXPECT_EQ(WaitExit(monitor), 0);

  std::string version = Folder + "/version.txt";
  EXPECT_EQ(WaitExit(StartMonitor({"--version"}, version)), 0);
  std::regex shape("debug-monitor [0-9]+\\.[0-9]+\\.[0-9]+\n");
  EXPECT_TRUE(std::regex_match(ReadWholeFile(version), shape)) << ReadWholeFile(version);
}

TEST_F(TraceTest, LinesLongerThan1023BytesAreCut) {
  Listener listener(SocketPath, Behaviour::Ack);
  ASSERT_TRUE(listener.Ready);
  const size_t lengths[] = {0, 1022, 1023, 1024, 2000};
  std::string text;
  for (size_t i = 0; i < 2000; i++) text += char('A' + i % 26);
  for (size_t length : lengths) Trace("%s", text.substr(0, length).c_str());
  // And when the cut falls in the middle of a directive's output.
  Trace("%s%d", text.substr(0, 1020).c_str(), 123456);
  listener.Stop();

  ASSERT_EQ(listener.Lines.size(), std::size(lengths) + 1);
  for (size_t i = 0; i < std::size(lengths); i++)
    EXPECT_EQ(listener.Lines[i], text.substr(0, std::min<size_t>(lengths[i], 1023))) << lengths[i];
  EXPECT_EQ(listener.Lines.back(), text.substr(0, 1020) + "123");
}

TEST_F(TraceTest, WithoutMonitorTracingHasNoEffect) {
  // No socket at all, then a socket file nobody listens on.
  for (bool stale : {false, true}) {
    if (stale) {
      int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address = AddressOf(SocketPath);
      ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      close(fd);
    }
    EXPECT_EQ(FindWindowA("DebugMonitor", nullptr), nullptr) << stale;
    auto start = Clock::now();
    for (int i = 0; i < 100; i++) Trace("[%s] %d", "E:\\Zarpo\\a.txt", i);
    EXPECT_LT(Clock::now() - start, milliseconds(2000)) << stale;
    // Nothing was created or left behind by the attempts.
    size_t entries = std::distance(std::filesystem::directory_iterator(Folder),
                                   std::filesystem::directory_iterator());
    EXPECT_EQ(entries, stale ? 1u : 0u);
  }
}

TEST_F(TraceTest, MonitorGoneMidRunCostsOnlyTheLine) {
  // Long lines, so that a peer that closed unread makes the send itself fail (EPIPE), which
  // must not raise SIGPIPE; a peer that reads but never answers ends the wait by closing.
  std::string longLine(60000, 'x');
  for (Behaviour behaviour : {Behaviour::CloseUnread, Behaviour::CloseUnanswered}) {
    Listener listener(SocketPath, behaviour);
    ASSERT_TRUE(listener.Ready);
    HWND window = FindWindowA("DebugMonitor", nullptr);
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 20; i++) {
      EXPECT_EQ(SendMessageA(window, WM_SETTEXT, 0, (LPARAM)longLine.c_str()), 0);
      Trace("line %d", i);
    }
    listener.Stop();
    unlink(SocketPath.c_str());
  }

  // The monitor dies between two lines: its socket file stays, nobody answers.
  Listener listener(SocketPath, Behaviour::Ack);
  ASSERT_TRUE(listener.Ready);
  Trace("before");
  listener.Stop();
  Trace("after");
  EXPECT_EQ(FindWindowA("DebugMonitor", nullptr), nullptr);
  EXPECT_EQ(listener.Lines, std::vector<std::string>{"before"});
}

TEST_F(TraceTest, SendMessageWaitsForTheMonitorToTakeTheLine) {
  Listener listener(SocketPath, Behaviour::AckLate);
  ASSERT_TRUE(listener.Ready);
  HWND window = FindWindowA("DebugMonitor", nullptr);
  ASSERT_NE(window, nullptr);
  auto start = Clock::now();
  EXPECT_EQ(SendMessageA(window, WM_SETTEXT, 0, (LPARAM) "slow"), TRUE);
  auto returned = Clock::now();
  listener.Stop();
  EXPECT_GE(returned - start, milliseconds(300));
  EXPECT_GE(returned, listener.AckTime);
  EXPECT_EQ(listener.Lines, std::vector<std::string>{"slow"});
}

TEST_F(TraceTest, OnlyTheMonitorClassIsFoundAndOnlyWM_SETTEXTCarriesText) {
  Listener listener(SocketPath, Behaviour::Ack);
  ASSERT_TRUE(listener.Ready);
  struct {
    const char* ClassName;
    const char* WindowName;
    bool Found;
  } lookups[] = {
      {"DebugMonitor", nullptr, true}, {"debugmonitor", nullptr, true},
      {"DEBUGMONITOR", "", true},      {"DebugMonitor", "Trace", false},
      {"DebugMonitorX", nullptr, false}, {"", nullptr, false},
      {nullptr, nullptr, false},       {MAKEINTRESOURCEA(32770), nullptr, false},
  };
  for (const auto& lookup : lookups) {
    EXPECT_EQ(FindWindowA(lookup.ClassName, lookup.WindowName) != nullptr, lookup.Found)
        << (IS_INTRESOURCE(lookup.ClassName) ? "(atom)" : lookup.ClassName) << " / "
        << (lookup.WindowName ? lookup.WindowName : "(null)");
  }

  HWND window = FindWindowA("DebugMonitor", nullptr);
  EXPECT_EQ(SendMessageA(window, WM_COMMAND, 1, (LPARAM) "not text"), 0);
  EXPECT_EQ(SendMessageA(window, WM_SETTEXT, 0, 0), TRUE);  // NULL text: an empty line
  SetLastError(0);
  EXPECT_EQ(SendMessageA((HWND)(UINT_PTR)0x1234, WM_SETTEXT, 0, (LPARAM) "lost"), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
  listener.Stop();
  EXPECT_EQ(listener.Lines, std::vector<std::string>{""});
}

}  // namespace
