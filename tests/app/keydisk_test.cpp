// Finding the key disk among the drives of a scratch drive table.
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/keydisk.h"
#include "platform/platform.h"
#include "support/scratch_drive.h"

namespace {

struct Drive {
  char letter;
  const char* type;
  bool medium;
  bool product;  // holds the folder Zarpo at its root
};

TEST(FindKeyDisk, HighestRemovableDriveWithMediumAndProductFolderWins) {
  struct Case {
    const char* title;
    std::vector<Drive> drives;
    const char* expected;  // nullptr: no key disk
  } cases[] = {
      {"one key disk", {{'E', "removable", true, true}}, "E:\\Zarpo\\"},
      {"two key disks: the higher letter",
       {{'E', "removable", true, true}, {'F', "removable", true, true}},
       "F:\\Zarpo\\"},
      {"Z: is tried", {{'Z', "removable", true, true}}, "Z:\\Zarpo\\"},
      {"D: is tried", {{'D', "removable", true, true}}, "D:\\Zarpo\\"},
      {"empty card reader above the key disk",
       {{'E', "removable", true, true}, {'G', "removable", false, false}},
       "E:\\Zarpo\\"},
      {"removable drive without the folder is passed over",
       {{'E', "removable", true, true}, {'H', "removable", true, false}},
       "E:\\Zarpo\\"},
      {"C: is never tried", {{'C', "removable", true, true}}, nullptr},
      {"nor A: and B:", {{'A', "removable", true, true}, {'B', "removable", true, true}}, nullptr},
      {"a fixed drive never qualifies", {{'E', "fixed", true, true}}, nullptr},
      {"nor network, CD or RAM disk",
       {{'E', "remote", true, true}, {'F', "cdrom", true, true}, {'G', "ramdisk", true, true}},
       nullptr},
      {"no drives at all", {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    // The scratch table's first drive is a fixed Y: holding nothing; the case's drives join it.
    ScratchDrive table('Y', "fixed");
    for (const Drive& d : c.drives) {
      table.AddDrive(d.letter, d.type, true);
      if (d.product) {
        std::string folder = table.HostRootOf(d.letter) + "/Zarpo";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
      }
      if (!d.medium) table.SetMedium(d.letter, false);
    }
    char target[MAX_PATH];
    memset(target, '#', sizeof target);
    int found = FindKeyDisk(target);
    if (c.expected) {
      EXPECT_EQ(found, 1);
      EXPECT_STREQ(target, c.expected);
    } else {
      EXPECT_EQ(found, 0);
      EXPECT_EQ(std::string(target, sizeof target), std::string(sizeof target, '#'))
          << "the buffer must be left untouched";
    }
  }
}

TEST(FindKeyDisk, PlainFileNamedZarpoIsNoProductFolder) {
  ScratchDrive drive('E', "removable");
  drive.WriteHostFile("Zarpo", "not a folder");
  char target[MAX_PATH] = "untouched";
  EXPECT_EQ(FindKeyDisk(target), 0);
  EXPECT_STREQ(target, "untouched");
}

}  // namespace
