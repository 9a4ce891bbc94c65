// The trace channel end to end on Linux: Trace over the POSIX layer's DebugMonitor window
// (a local socket), against listeners in the test that misbehave on purpose.
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/host.h"
#include "platform/extra_calls.h"
#include "support/host_files.h"
#include "support/monitor_socket.h"
#include "trace/trace.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using TraceTest = MonitorSocketTest;

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
    Ready = Socket >= 0 &&
            bind(Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
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
      {"DebugMonitor", nullptr, true},   {"debugmonitor", nullptr, true},
      {"DEBUGMONITOR", "", true},        {"DebugMonitor", "Trace", false},
      {"DebugMonitorX", nullptr, false}, {"", nullptr, false},
      {nullptr, nullptr, false},         {MAKEINTRESOURCEA(32770), nullptr, false},
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
