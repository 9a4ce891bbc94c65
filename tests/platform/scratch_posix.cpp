// Scratch folders for the conformance tests over the POSIX layer: one host folder per run,
// registered as the removable drive S: in a drive table of its own, and one fresh folder on S:
// per test.
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "scratch.h"
#include "scratch_host.h"

namespace {

std::string& Base() {
  static std::string base;
  return base;
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveTree(const std::string& path) {
  nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

class ScratchCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!Base().empty()) RemoveTree(Base());
  }
};

[[maybe_unused]] ::testing::Environment* const cleanup =
    ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

const std::string& EnsureDrive() {
  std::string& base = Base();
  if (!base.empty()) return base;
  char folder[] = "/tmp/zarpo-conformance-XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("no temporary folder");
  base = folder;
  std::string table = base + "/dosdevices";
  std::string drive = base + "/drive";
  if (mkdir(table.c_str(), 0755) != 0 || mkdir(drive.c_str(), 0755) != 0 ||
      symlink(drive.c_str(), (table + "/s:").c_str()) != 0) {
    throw std::runtime_error("cannot set up the scratch drive");
  }
  std::ofstream(table + "/drive-types") << "s: removable\n";
  setenv("ZARPO_DOSDEVICES", table.c_str(), 1);
  return base;
}

std::string TestName() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "none";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

}  // namespace

const char* ScratchRoot() {
  static std::string current;
  static std::string root;
  EnsureDrive();
  std::string name = TestName();
  if (name != current) {
    current = name;
    std::string host = Base() + "/drive/" + name;
    RemoveTree(host);
    if (mkdir(host.c_str(), 0755) != 0) throw std::runtime_error("cannot make " + host);
    root = "S:\\" + name + "\\";
  }
  return root.c_str();
}

std::string ScratchHostRoot() {
  ScratchRoot();
  return Base() + "/drive/" + TestName() + "/";
}

std::string ScratchDriveTable() { return EnsureDrive() + "/dosdevices"; }

bool RunningUnderWine() { return false; }

bool AnsiCodePageIs932() { return true; }

void SetProcessTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}
