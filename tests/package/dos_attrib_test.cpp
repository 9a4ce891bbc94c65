// Reading user.DOSATTRIB: the text form, Samba's binary forms with their alignment (values as
// Samba writes them, and one shape per version), and the values that must be refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/pack/dos_attrib.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += (char)value;
  return bytes;
}

// Samba's binary form: `head` (the string with its NUL and the padding), version and level, the
// padding up to four, then `fields` bytes of structure with `attrib` at `attribAt`.
std::string Binary(const std::string& head, int version, int level, size_t fields,
                   size_t attribAt, uint32_t attrib) {
  std::string value = head + Bytes({version & 0xFF, version >> 8, level & 0xFF, level >> 8});
  value.resize((value.size() + 3) / 4 * 4, '\0');
  std::string body(fields, '\x55');
  for (int i = 0; i < 4; i++) body[attribAt + i] = (char)(attrib >> (8 * i));
  return value + body;
}

struct Case {
  std::string value;
  bool readable;
  uint32_t attributes;  // when readable, else a part of the reason
  std::string says;
};

TEST(DosAttrib, ReadsEveryFormInUseAndNamesTheRest) {
  std::string times(8, '\x9e');
  std::vector<Case> cases = {
      {"0x27", true, 0x27, ""},
      {std::string("0x21\0", 5), true, 0x21, ""},
      {"0X2a\n", true, 0x2A, ""},
      {"0x00002027", true, 0x2027, ""},
      // Written by Samba (version 3 after "0x22", 4 and 5 after an empty string).
      {Bytes({'0', 'x', '2', '2', 0, 0, 3, 0, 3, 0, 0, 0, 0x11, 0, 0, 0, 0x22, 0, 0, 0}) +
           std::string(36, '\0'), true, 0x22, ""},
      {Bytes({0, 0, 4, 0, 4, 0, 0, 0, 0x51, 0, 0, 0, 0x11, 0, 0, 0}) + times + times, true, 0x11,
       ""},
      {Bytes({0, 0, 5, 0, 5, 0, 0, 0, 0x11, 0, 0, 0, 0x30, 0, 0, 0}) + times, true, 0x30, ""},
      // Version 1 after a five-byte string; version 2 after a four-byte one, so no padding at all.
      {Binary(std::string("0x21\0\0", 6), 1, 1, 40, 0, 0x21), true, 0x21, ""},
      {Binary(std::string("0x2\0", 4), 2, 2, 52, 4, 0x02) + "name", true, 0x02, ""},
      {Binary(std::string("\0\0", 2), 5, 5, 16, 4, 0x27) + "more", true, 0x27, ""},
      {"", false, 0, "is empty"},
      {"!", false, 0, "1 byte (21 \"!\"), not 0x and 1 to 8 hex digits (setfattr -v 0x21"},
      {"0x", false, 0, "not 0x and 1 to 8 hex digits"},
      {"0x123456789", false, 0, "not 0x and 1 to 8 hex digits"},
      {"0x2G", false, 0, "not 0x and 1 to 8 hex digits"},
      {std::string("0x21\0\0\3", 7), false, 0, "too few bytes for Samba's version"},
      {Binary(std::string("\0\0", 2), 6, 6, 16, 4, 0x20), false, 0, "version 6): not a version"},
      {Binary(std::string("\0\0", 2), 4, 3, 24, 4, 0x20), false, 0, "its union level is 3"},
      {Binary(std::string("\0\0", 2), 4, 4, 23, 4, 0x20), false, 0,
       "ends after 31 bytes, its structure needs 32"},
      {Binary(std::string("\0\0", 2), 0xFFFF, 0xFFFF, 16, 4, 0x20), false, 0, "not a version"},
  };
  for (const Case& c : cases) {
    uint32_t attributes = 0xDEAD;
    std::string why;
    bool readable = DecodeDosAttrib((const unsigned char*)c.value.data(), c.value.size(),
                                    &attributes, &why);
    EXPECT_EQ(readable, c.readable) << testing::PrintToString(c.value) << " -> " << why;
    if (c.readable) {
      EXPECT_EQ(attributes, c.attributes) << testing::PrintToString(c.value);
    } else {
      EXPECT_NE(why.find(c.says), std::string::npos) << c.says << " -> " << why;
    }
  }
}

}  // namespace
