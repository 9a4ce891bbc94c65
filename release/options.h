// The command line of a zarpo-pack subcommand: its options and words, and the usage error.
#pragma once

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

// "zarpo-pack: MESSAGE; see zarpo-pack --help" on standard error; answers 2.
int UsageError(const std::string& message);
// --name VALUE options and --flag flags of a command, from args[from] on ("" and false for
// those not given); the other words in `positional`. 0 with the usage error printed.
int Options(const std::vector<std::string>& args, size_t from,
            std::vector<std::pair<std::string, std::string*>> values,
            std::vector<std::pair<std::string, bool*>> flags, std::vector<std::string>* positional);
// A command that takes no option and one package or updater: `run` on it, or the usage error.
int WithOneFile(const std::vector<std::string>& args, const char* usage,
                int (*run)(const std::string& path));
