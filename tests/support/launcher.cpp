// The launcher in front of the programs our tests start (see launcher.h).
#include "support/launcher.h"

std::vector<std::string> LaunchWords(const std::string& program) {
  std::vector<std::string> words;
  std::string launcher = ZARPO_TEST_LAUNCHER;
  size_t start = 0;
  while (start < launcher.size()) {
    size_t end = launcher.find('|', start);
    if (end == std::string::npos) end = launcher.size();
    if (end > start) words.push_back(launcher.substr(start, end - start));
    start = end + 1;
  }
  words.push_back(program);
  return words;
}

std::string LaunchCommand(const std::string& program) {
  std::string command;
  for (const std::string& word : LaunchWords(program)) {
    if (!command.empty()) command += ' ';
    command += '\'';
    for (char c : word) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += '\'';
  }
  return command;
}

std::vector<char*> LaunchArgv(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  return argv;
}
