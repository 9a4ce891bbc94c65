// Reading user.DOSATTRIB: the text form, Samba's binary forms with their alignment (values as
// Samba writes them, and one shape per version), and the values that must be refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "release/dos_attrib.h"

namespace {

TEST(DosAttrib, ReadsEveryFormInUseAndNamesTheRest) {
  const std::string nttime(8, '\x9e');
  struct Case {
    std::string value;
    uint32_t attributes;  // 0: refused, saying `says`
    std::string says;
  };
  std::vector<Case> cases = {
      {"0x27", 0x27, ""},
      {std::string("0x21\0", 5), 0x21, ""},
      {"0X2a\n", 0x2A, ""},
      // As Samba writes them: version 3 after "0x22", versions 4 and 5 after an empty string.
      {std::string("0x22\0\0\3\0\3\0\0\0\x11\0\0\0\x22\0\0\0", 20) + std::string(36, '\0'), 0x22},
      {std::string("\0\0\4\0\4\0\0\0\x51\0\0\0\x11\0\0\0", 16) + nttime + nttime, 0x11},
      {std::string("\0\0\5\0\5\0\0\0\x11\0\0\0\x30\0\0\0", 16) + nttime, 0x30},
      // Version 1 after a five-byte string; version 2 after four bytes, so with no padding at all.
      {std::string("0x27\0\0\1\0\1\0\0\0\x27\0\0\0", 16) + std::string(36, '\0'), 0x27},
      {std::string("0x2\0\2\0\2\0\0\0\0\0\x27\0\0\0", 16) + std::string(44, '\0') + "name", 0x27},
      {std::string("\0\0\5\0\5\0\0\0\x11\0\0\0\x27\0\0\0", 16) + nttime + "more", 0x27},
      {"", 0, "is empty"},
      {"!", 0, "1 byte (21 \"!\"), not 0x and 1 to 8 hex digits (setfattr -v 0x21 stores"},
      {"0x123456789", 0, "not 0x and 1 to 8 hex digits"},
      {std::string("0x21\0\0\3", 7), 0, "too few bytes for Samba's version"},
      {std::string("\0\0\6\0\6\0\0\0", 8) + nttime + nttime, 0, "version 6): not a version Samba"},
      {std::string("\0\0\4\0\3\0\0\0", 8) + nttime + nttime + nttime, 0, "its union level is 3"},
      {std::string("\0\0\4\0\4\0\0\0", 8) + nttime + nttime + std::string(7, '\0'), 0,
       "ends after 31 bytes, its structure needs 32"},
  };
  for (const Case& c : cases) {
    uint32_t attributes = 0;
    std::string why;
    bool read = DecodeDosAttrib((const unsigned char*)c.value.data(), c.value.size(), &attributes,
                                &why);
    EXPECT_EQ(read, c.attributes != 0) << testing::PrintToString(c.value) << ": " << why;
    EXPECT_EQ(read ? attributes : 0, c.attributes) << testing::PrintToString(c.value);
    EXPECT_NE(why.find(c.says), std::string::npos) << c.says << " -> " << why;
  }
}

}  // namespace
