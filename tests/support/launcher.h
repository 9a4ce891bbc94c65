// Starting a program of ours from a test. A cross build (host32) runs its programs through the
// build's emulator, as CTest runs the tests themselves: ZARPO_TEST_LAUNCHER holds its words,
// separated by '|' (empty on a native build).
#pragma once

#include <string>
#include <vector>

// The words that start `program`: the launcher's, then the program itself.
std::vector<std::string> LaunchWords(const std::string& program);

// The same as text for the shell, each word in single quotes.
std::string LaunchCommand(const std::string& program);

// For execv: pointers into `words`, ending with a null pointer.
std::vector<char*> LaunchArgv(std::vector<std::string>& words);
