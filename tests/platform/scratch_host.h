// Host-side view of the scratch drive, for the checks that only make sense over the POSIX
// layer (how things are stored on the host).
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

// The host folder behind ScratchRoot(), with a trailing '/'.
std::string ScratchHostRoot();

// The drive table folder the scratch drive is registered in (ZARPO_DOSDEVICES).
std::string ScratchDriveTable();

// A drive table in the test's scratch folder, in place of the scratch drive's while it lives.
class TestDriveTable {
 public:
  TestDriveTable() : folder_(ScratchHostRoot() + "table") {
    saved_ = getenv("ZARPO_DOSDEVICES");
    mkdir(folder_.c_str(), 0755);
    setenv("ZARPO_DOSDEVICES", folder_.c_str(), 1);
  }
  ~TestDriveTable() { setenv("ZARPO_DOSDEVICES", saved_.c_str(), 1); }
  std::string Entry(char letter) const { return folder_ + "/" + letter + ":"; }
  void Link(char letter, const std::string& target) const {
    unlink(Entry(letter).c_str());
    EXPECT_EQ(symlink(target.c_str(), Entry(letter).c_str()), 0);
  }
  void Unlink(char letter) const { unlink(Entry(letter).c_str()); }
  void Types(const std::string& text) const { std::ofstream(folder_ + "/drive-types") << text; }

 private:
  std::string folder_;
  std::string saved_;
};
