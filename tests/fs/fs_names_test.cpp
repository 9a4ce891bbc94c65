// Whether a name a lookup reports is the name asked for: the same bytes, the same text in code
// page 932 (two codes of one character), or the same text but for letter case as Windows folds
// it; anything else is another file.
#include <gtest/gtest.h>

#include "fs/names.h"

namespace {

TEST(IsSameName, TellsTheAskedNameFromAnother) {
  struct Case {
    const char* asked;  // code page 932 bytes
    const char* found;
    int same;
  };
  const Case cases[] = {
      {"Zarpo.exe", "Zarpo.exe", 1},
      {"Zarpo.exe", "ZARPO.EXE", 1},
      {"ZARPOC~1.DLL", "ZarpoCore.dll", 0},  // a short alias led to the long-named file
      {"Readme.txt.", "Readme.txt", 0},      // trailing dot stripped
      {"a.txt", "a.txt ", 0},
      {"\x82\x9A.txt", "\x82\x79.txt", 1},  // fullwidth ｚ and Ｚ
      {"\x83\xBF", "\x83\x9F", 1},          // Greek α and Α
      {"\x84\x70", "\x84\x40", 1},          // Cyrillic а and А
      {"\x84\x76", "\x84\x46", 1},          // ё and Ё
      {"\xFA\x40", "\x87\x54", 1},          // small Roman numeral one (IBM row) and capital
      {"\x87\x90", "\x81\xE0", 1},          // ≒ in the NEC row and in JIS: one character
      {"\xFA\x40", "\xEE\xEF", 1},          // ⅰ in the IBM row and in NEC's copy of it
      {"\x95\x5C", "\x95\x5D", 0},          // 表 and 評: other characters
      {"\x82\xA0", "\x83\x41", 0},          // hiragana あ and katakana ア are not a case
      {"\x82\x60", "A", 0},                 // fullwidth Ａ is not the ASCII letter
      {"\x95", "\x95", 1},                  // the same bytes, even when no text
      {"\x95", "\x95\x40", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    EXPECT_EQ(IsSameName(c.asked, c.found), c.same);
    EXPECT_EQ(IsSameName(c.found, c.asked), c.same);
  }
}

TEST(LastLevel, StepsOverTrailBytesThatLookLikeSeparators) {
  EXPECT_STREQ(LastLevel("E:\\Zarpo\\a.txt"), "a.txt");
  EXPECT_STREQ(LastLevel("E:\\Zarpo\\\x95\x5C"), "\x95\x5C");  // 表 ends in 0x5C
  EXPECT_STREQ(LastLevel("E:/Zarpo/b"), "b");
  EXPECT_STREQ(LastLevel("plain"), "plain");
}

}  // namespace
