// The version resource as zarpo-pack stamp writes it: read and written back byte for byte, and
// changed to another release and package, against what windres makes of resources/update.rc.in
// (version_info/*.bin, made by version_info/make.sh: 1.0.0 naming the SHA-256 of "a", 4.5.6 and
// 65535.0.65535 that of "b", stub.bin 1.0.0 without PackageSHA256).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "release/version_info.h"

namespace {

const char DigestA[] = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";
const char DigestB[] = "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d";

std::string Block(const std::string& name) {
  std::ifstream in(std::string(ZARPO_SOURCE_DIR) + "/tests/release/version_info/" + name,
                   std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Stamped(const std::string& from, const std::string& version,
                    const std::string& digest) {
  VersionNode root;
  std::string error;
  EXPECT_TRUE(ParseVersionInfo(Block(from), &root, &error)) << error;
  EXPECT_TRUE(StampVersionInfo(&root, version, digest, &error)) << error;
  return WriteVersionInfo(root);
}

TEST(VersionInfo, WritesBackWhatWindresMakes) {
  for (const char* name : {"1.0.0.bin", "4.5.6.bin", "65535.0.65535.bin", "stub.bin"}) {
    const std::string bytes = Block(name);
    ASSERT_GT(bytes.size(), 500u) << name;
    VersionNode root;
    std::string error;
    ASSERT_TRUE(ParseVersionInfo(bytes, &root, &error)) << name << ": " << error;
    EXPECT_EQ(WriteVersionInfo(root), bytes) << name;
  }
}

TEST(VersionInfo, StampsAnotherReleaseAsWindresWould) {
  EXPECT_EQ(Stamped("1.0.0.bin", "1.0.0", DigestA), Block("1.0.0.bin"));
  EXPECT_EQ(Stamped("1.0.0.bin", "4.5.6", DigestB), Block("4.5.6.bin"));
  EXPECT_EQ(Stamped("4.5.6.bin", "65535.0.65535", DigestB), Block("65535.0.65535.bin"));
  EXPECT_EQ(Stamped("65535.0.65535.bin", "1.0.0", DigestA), Block("1.0.0.bin"));
  // A stub without PackageSHA256 gets it at the end of its string table.
  EXPECT_EQ(Stamped("stub.bin", "4.5.6", DigestB), Block("4.5.6.bin"));
}

TEST(VersionInfo, RefusesWhatIsNotAVersionResource) {
  const std::string good = Block("1.0.0.bin");
  VersionNode root;
  std::string error;
  for (size_t cut : {0u, 5u, 40u, 300u}) {
    EXPECT_FALSE(ParseVersionInfo(good.substr(0, cut), &root, &error)) << cut;
  }
  std::string longer = good;
  longer[0] = (char)0xFF;  // wLength beyond the resource
  EXPECT_FALSE(ParseVersionInfo(longer, &root, &error));
  EXPECT_NE(error.find("do not fit its place"), std::string::npos) << error;
  ASSERT_TRUE(ParseVersionInfo(good, &root, &error));
  root.value.clear();
  EXPECT_FALSE(StampVersionInfo(&root, "1.0.0", DigestA, &error));
  EXPECT_EQ(error, "the version resource has no fixed version information");
}

TEST(VersionInfo, TakesVersionsAsTheBuildDoes) {
  uint16_t numbers[3];
  ASSERT_TRUE(ParseReleaseVersion("65535.0.7", numbers));
  EXPECT_EQ(numbers[0], 65535);
  EXPECT_EQ(numbers[2], 7);
  for (const char* bad : {"", "1", "1.2", "1.2.3.4", "1.2.65536", "1..3", "1.2.3 ", "-1.2.3",
                          "a.b.c", "1.2.99999999999"}) {
    EXPECT_FALSE(ParseReleaseVersion(bad, numbers)) << bad;
  }
}

}  // namespace
