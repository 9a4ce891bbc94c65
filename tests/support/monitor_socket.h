// Each test's own monitor socket: a runtime folder of its own (XDG_RUNTIME_DIR), where the
// POSIX layer's DebugMonitor window and the debug-monitor program meet.
#pragma once

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

inline sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// Each test gets its own XDG_RUNTIME_DIR, so the monitor socket is its own too.
class MonitorSocketTest : public ::testing::Test {
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
    if (HadRuntime) setenv("XDG_RUNTIME_DIR", OldRuntime.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(Folder);
  }

  std::string Folder;
  std::string SocketPath;
  std::string OldRuntime;
  bool HadRuntime = false;
};
