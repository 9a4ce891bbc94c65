// The texts the user reads are code page 932 bytes; decoded, they must say exactly this.
#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

#include "app/messages.h"
#include "host/host.h"

namespace {

std::string Decoded(const char* ansi) {
  char utf8[512];
  EXPECT_EQ(HostAnsiToUtf8(ansi, utf8, sizeof utf8), 1) << "not valid code page 932";
  return utf8;
}

TEST(Messages, DecodeToTheJapaneseTexts) {
  const std::pair<const char*, const char*> texts[] = {
      {CaptionText, "ザルポの更新"},
      {NoKeyDiskText, "更新すべきキーディスクが見つかりません。"},
      {ConfirmText, "%c:のキーディスクを最新版に更新します。\nよろしいですか?"},
      {FailedText, "更新に失敗しました。"},
      {DoneText, "キーディスクの更新を完了しました。\n続いてセットアップを実行しますか?"},
  };
  for (const auto& text : texts) EXPECT_EQ(Decoded(text.first), text.second);
}

TEST(Messages, ConfirmationStartsWithTheDriveLetter) {
  char question[256];
  snprintf(question, sizeof question, ConfirmText, 'E');
  EXPECT_EQ(Decoded(question), "E:のキーディスクを最新版に更新します。\nよろしいですか?");
  // The one-byte question mark closes it, right after the last double-byte character.
  std::string bytes = question;
  EXPECT_EQ(bytes.substr(bytes.size() - 3), "\x82\xa9?");
}

}  // namespace
