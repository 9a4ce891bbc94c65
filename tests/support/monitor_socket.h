// Each test's own monitor socket: a runtime folder of its own (XDG_RUNTIME_DIR), where the
// POSIX layer's DebugMonitor window, the updater and the debug-monitor program meet.
#pragma once

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/host_files.h"

inline sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// A runtime folder of the test's own (XDG_RUNTIME_DIR) for as long as this is in scope, so that
// the monitor socket there is its own too.
struct RuntimeFolder {
  RuntimeFolder() : path(Made()), env("XDG_RUNTIME_DIR", path) {}
  ~RuntimeFolder() { std::filesystem::remove_all(path); }
  static std::string Made() {
    char pattern[] = "/tmp/zarpo-run-XXXXXX";
    if (mkdtemp(pattern) != nullptr) return pattern;
    ADD_FAILURE() << "no temporary folder";
    return "/nonexistent";
  }
  std::string path;
  ScopedEnv env;
};

class MonitorSocketTest : public ::testing::Test {
 protected:
  RuntimeFolder Runtime;
  std::string Folder = Runtime.path;
  std::string SocketPath = Folder + "/DebugMonitor";
};
