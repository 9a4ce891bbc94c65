// The POSIX layer's user-facing calls: message boxes answered through standard input, the
// display conversion behind them, and ShellExecuteA starting programs detached.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/host.h"
#include "platform/platform.h"
#include "support/host_files.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// ---- Display conversion ----

TEST(PosixDisplayTest, ShowsCodePage932AsUtf8AndEscapesTheRest) {
  struct {
    std::string Ansi;
    int KeepLineFeeds;
    std::string Shown;
  } cases[] = {
      {"plain ASCII ~\\", 0, "plain ASCII ~\\"},
      {"\x95\x5C\x8E\xA6\\\x8D\x5C\x90\xAC", 0, "表示\\構成"},  // 0x5C trail bytes
      {"\xB1\xB2", 0, "ｱｲ"},                                    // half-width kana
      {"a\nb", 1, "a\nb"},
      {"a\nb", 0, "a\\x0Ab"},
      {"\x1B[2J\x7F\t", 1, "\\x1B[2J\\x7F\t"},
      {std::string("a\0b", 3), 0, "a\\x00b"},
      {"\x80\xFD\xFF", 0, "\\x80\\xFD\\xFF"},
      {"x\x81", 0, "x\\x81"},      // a lead byte with nothing after it
      {"\x81\x0A", 1, "\\x81\n"},  // an invalid pair gives up only its first byte
      {"\x85\x40"
       "A",
       0, "\\x85@A"},  // a pair with no character in the code page
  };
  for (const auto& c : cases) {
    char out[256];
    size_t length = HostAnsiToDisplay(c.Ansi.data(), c.Ansi.size(), c.KeepLineFeeds, out,
                                      sizeof out);
    EXPECT_EQ(std::string(out), c.Shown) << c.Shown;
    EXPECT_EQ(length, c.Shown.size()) << c.Shown;
  }
}

TEST(PosixDisplayTest, CutsOnlyBetweenCharacters) {
  const std::string ansi = "ab\x95\x5C\x80";  // "ab", 表 (3 bytes in UTF-8), an escape
  struct {
    size_t Size;
    std::string Shown;
  } cases[] = {{1, ""}, {3, "ab"}, {5, "ab"}, {6, "ab表"}, {9, "ab表"}, {10, "ab表\\x80"}};
  for (const auto& c : cases) {
    char out[16];
    memset(out, '#', sizeof out);
    size_t length = HostAnsiToDisplay(ansi.data(), ansi.size(), 0, out, c.Size);
    EXPECT_EQ(std::string(out), c.Shown) << c.Size;
    EXPECT_EQ(length, c.Shown.size()) << c.Size;
    EXPECT_EQ(out[c.Size], '#') << "wrote past the buffer of " << c.Size;
  }
}

// ---- Message boxes ----

struct BoxRun {
  int Answer;
  std::string Output;    // what the box wrote to standard output
  std::string Leftover;  // what it left unread on standard input
};

// Runs one box with `input` (then end of input) on fd 0 and fd 1 captured in a file.
BoxRun RunBox(const std::string& input, UINT type, const char* text = "text",
              const char* caption = "caption") {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {-1, "", ""};
  if (write(pipeEnds[1], input.data(), input.size()) != (ssize_t)input.size()) return {-1, "", ""};
  close(pipeEnds[1]);
  char outputPath[] = "/tmp/zarpo-box-XXXXXX";
  int output = mkstemp(outputPath);

  fflush(stdout);
  int savedIn = dup(STDIN_FILENO);
  int savedOut = dup(STDOUT_FILENO);
  dup2(pipeEnds[0], STDIN_FILENO);
  dup2(output, STDOUT_FILENO);
  int answer = MessageBoxA(nullptr, text, caption, type);
  fflush(stdout);
  dup2(savedIn, STDIN_FILENO);
  dup2(savedOut, STDOUT_FILENO);
  close(savedIn);
  close(savedOut);
  close(output);

  BoxRun run{answer, ReadWholeFile(outputPath), ""};
  unlink(outputPath);
  char buffer[256];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) run.Leftover.append(buffer, got);
  close(pipeEnds[0]);
  return run;
}

TEST(PosixMessageBoxTest, AnswersComeFromOneLineOfInput) {
  struct {
    UINT Type;
    std::string Input;
    int Answer;
    std::string Leftover;
  } cases[] = {
      {MB_YESNO, "\n", IDYES, ""},  // Enter takes the default button, Yes
      {MB_YESNO, "\nnext answer\n", IDYES, "next answer\n"},
      {MB_YESNO, "y\n", IDYES, ""},
      {MB_YESNO, "YES\r\n", IDYES, ""},
      {MB_YESNO, "はい\n", IDYES, ""},
      {MB_YESNO, "n\nrest", IDNO, "rest"},
      {MB_YESNO, "  No \n", IDNO, ""},
      {MB_YESNO, "いいえ\n", IDNO, ""},
      {MB_YESNO, "", IDNO, ""},    // end of input
      {MB_YESNO, "y", IDYES, ""},  // a last line without its line feed
      {MB_YESNO, "x\ny\n", IDYES, ""},
      {MB_YESNO, "ok\n\n", IDYES, ""},                // not an answer to this box: asked again
      {MB_YESNO, "x\nx\nx\nx\nx\ny\n", IDNO, "y\n"},  // gives up after five tries
      {MB_YESNO, std::string(1000, 'y') + "\nn\n", IDNO, ""},  // a long line is read whole
      {MB_YESNO | MB_ICONQUESTION, "n\n", IDNO, ""},
      {MB_OK | MB_ICONERROR, "leftover\n", IDOK, "leftover\n"},  // nothing read: no terminal
      {MB_OK, "", IDOK, ""},
  };
  for (const auto& c : cases) {
    BoxRun run = RunBox(c.Input, c.Type);
    EXPECT_EQ(run.Answer, c.Answer) << "type " << c.Type << " input \"" << c.Input << "\"";
    EXPECT_EQ(run.Leftover, c.Leftover) << "type " << c.Type << " input \"" << c.Input << "\"";
  }
}

TEST(PosixMessageBoxTest, ShowsCaptionAndTextInUtf8WithThePromptAndTheAnswerTaken) {
  // Caption "ザルポの更新"; text with 0x5C trail bytes and a line feed, as the real texts have.
  const char* caption = "\x83\x55\x83\x8B\x83\x7C\x82\xCC\x8D\x58\x90\x56";
  const char* text = "E:\x95\x5C\x8E\xA6\n\x8D\x5C\x90\xAC?";
  BoxRun run = RunBox("maybe\nn\n", MB_YESNO | MB_ICONQUESTION, text, caption);
  EXPECT_EQ(run.Answer, IDNO);
  const std::string prompt = "はい(Y)/いいえ(N) [y]: ";
  EXPECT_EQ(run.Output,
            "\n[ザルポの更新]\n"
            "確認: E:表示\n構成?\n" +
                prompt +
                "maybe\n"
                "答えが分かりません。もう一度入力してください。\n" +
                prompt + "n\n");

  // Nothing to answer: shown and taken as read; a text that is no valid code page 932 is
  // still shown, its bad bytes escaped.
  run = RunBox("", MB_OK | MB_ICONERROR, "bad \x80", nullptr);
  EXPECT_EQ(run.Output, "\n[Error]\nエラー: bad \\x80\n[OK]\n");

  run = RunBox("", MB_YESNO, nullptr, "c");
  EXPECT_EQ(run.Output, "\n[c]\n\n" + prompt + "(入力なし)\n");
}

// ---- ShellExecuteA ----

// A drive E: in a drive table of its own, and a folder of fake programs as the whole PATH.
// Each fake program notes that it started, sleeps a second, then writes what it was given,
// where its input came from and its session into <name>.done. PATH holds only the fakes, so
// the scripts name the system's commands in full.
class PosixShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zarpo-shell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Root = pattern;
    fs::create_directories(Root + "/drive-e/Zarpo");
    fs::create_directories(Root + "/dosdevices");
    fs::create_directories(Root + "/bin");
    fs::create_directory_symlink(Root + "/drive-e", Root + "/dosdevices/e:");
    std::ofstream(Root + "/drive-e/Zarpo/Setup.exe") << "MZ";
    std::ofstream(Root + "/drive-e/Zarpo/Tool.EXE") << "MZ";
    std::ofstream(Root + "/drive-e/Zarpo/readme.txt") << "read me";
    Path.emplace("PATH", Root + "/bin");
    Table.emplace("ZARPO_DOSDEVICES", Root + "/dosdevices");
  }
  void TearDown() override {
    Path.reset();
    Table.reset();
    // Let any fake program still sleeping finish before its folder goes.
    std::this_thread::sleep_for(milliseconds(50));
    fs::remove_all(Root);
  }

  void AddProgram(const std::string& name) {
    std::string path = Root + "/bin/" + name;
    std::string mark = Root + "/" + name;
    std::ofstream script(path);
    script << "#!/bin/sh\n"
              ": > '"
           << mark
           << ".started'\n"
              "/bin/sleep 1\n"
              "read -r pid comm state ppid pgrp session rest < /proc/$$/stat\n"
              "{ echo \"$*\"; /bin/readlink /proc/$$/fd/0; echo \"$session\"; }"
              " > '"
           << mark
           << ".tmp'\n"
              "/bin/mv '"
           << mark << ".tmp' '" << mark << ".done'\n";
    script.close();
    chmod(path.c_str(), 0755);
  }

  std::string Root;
  std::optional<ScopedEnv> Path, Table;
};

TEST_F(PosixShellTest, StartsTheRightProgramDetachedWithoutWaiting) {
  struct {
    const char* File;
    std::vector<std::string> Programs;  // on PATH
    const char* Runs;                   // the one expected to start
    std::string Argument;               // the host file it is given
  } cases[] = {
      {"E:\\Zarpo\\Setup.exe", {"wine", "wine64", "xdg-open"}, "wine", "/drive-e/Zarpo/Setup.exe"},
      {"e:\\Zarpo\\Tool.EXE", {"wine64"}, "wine64", "/drive-e/Zarpo/Tool.EXE"},
      {"E:\\Zarpo\\readme.txt", {"wine", "xdg-open"}, "xdg-open", "/drive-e/Zarpo/readme.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    for (const auto& program : c.Programs) AddProgram(program);
    auto start = Clock::now();
    HINSTANCE result = ShellExecuteA(nullptr, nullptr, c.File, nullptr, nullptr, SW_SHOWNORMAL);
    auto returned = Clock::now();
    EXPECT_GT((INT_PTR)result, 32);
    EXPECT_LT(returned - start, milliseconds(800)) << "ShellExecuteA waited for the program";
    EXPECT_FALSE(fs::exists(Root + "/" + c.Runs + ".done"));
    // Nothing is left for the caller to reap: the program is not the caller's child.
    int status;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);

    std::string done = Root + "/" + c.Runs + ".done";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(done); }, milliseconds(10000)))
        << c.Runs << " did not run";
    std::istringstream report(ReadWholeFile(done));
    std::string arguments, input, session;
    std::getline(report, arguments);
    std::getline(report, input);
    std::getline(report, session);
    EXPECT_EQ(arguments, fs::canonical(Root).string() + c.Argument);
    EXPECT_EQ(input, "/dev/null");
    EXPECT_NE(session, std::to_string(getsid(0))) << "the program shares the caller's session";
    for (const auto& program : c.Programs) {
      if (program != c.Runs) {
        EXPECT_FALSE(fs::exists(Root + "/" + program + ".started")) << program;
      }
      fs::remove(Root + "/bin/" + program);
      fs::remove(Root + "/" + program + ".started");
      fs::remove(Root + "/" + program + ".done");
    }
  }
}

TEST_F(PosixShellTest, FailuresStartNothing) {
  struct {
    const char* Operation;
    const char* File;
    std::vector<std::string> Programs;
    INT_PTR Result;
  } cases[] = {
      {nullptr, "E:\\Zarpo\\Missing.exe", {"wine", "xdg-open"}, 2},
      {"open", "E:\\Zarpo\\Setup.exe", {}, 31},             // no wine on PATH
      {nullptr, "E:\\Zarpo\\Setup.exe", {"xdg-open"}, 31},  // the opener is not for programs
      {nullptr, "E:\\Zarpo\\readme.txt", {"wine"}, 31},     // no opener on PATH
      {"print", "E:\\Zarpo\\readme.txt", {"wine", "xdg-open"}, 31},
      {nullptr, "", {"wine", "xdg-open"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    for (const auto& program : c.Programs) AddProgram(program);
    EXPECT_EQ((INT_PTR)ShellExecuteA(nullptr, c.Operation, c.File, nullptr, nullptr, SW_SHOWNORMAL),
              c.Result);
    std::this_thread::sleep_for(milliseconds(200));
    for (const auto& program : c.Programs) {
      EXPECT_FALSE(fs::exists(Root + "/" + program + ".started")) << program;
      fs::remove(Root + "/bin/" + program);
    }
  }
}

}  // namespace
