// The subcommands of zarpo-pack, one file each (cmd_*.cpp), and what they share (common.cpp).
// A subcommand takes the words after its name and answers the exit code: 0, 1 for a refusal or
// a failure named on standard error, 2 for a usage error.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "release/package_writer.h"
#include "release/program_file.h"

int CmdPack(const std::vector<std::string>& args);
int CmdScan(const std::vector<std::string>& args);
int CmdList(const std::vector<std::string>& args);
int CmdVerify(const std::vector<std::string>& args);
int CmdExtract(const std::vector<std::string>& args);
int CmdDiff(const std::vector<std::string>& args);
int CmdNewestTime(const std::vector<std::string>& args);

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);
// Written and synced; false with the reason in `error`.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error);
uint32_t ReadDword(const std::string& bytes, size_t at);
std::string Hex(uint32_t value);
// A code page 932 name in UTF-8, or its bytes escaped when it is not valid code page 932.
std::string PrintableName(const char* ansi);

// Why the updater would refuse the package file's bytes, or "" when it would take them; with
// `checkEntries`, also why one of its entries would go wrong on a key disk.
std::string Diagnose(const std::string& file, bool checkEntries = false);

// The package bytes of FILE: the file itself, or the ZIPFILE/UPDATE resource of a built updater.
// false with a message printed (and `missing` set when the file cannot be read at all).
bool LoadPackageFile(const std::string& path, std::string* package, ProgramInfo* info,
                     bool* isProgram, bool* missing = nullptr);
// The entries of a package the reader takes, copied out; false with the reason printed.
bool ReadEntries(const std::string& path, const std::string& file,
                 std::vector<PackEntry>* entries);

// What a package file or updater holds: the package bytes, what the program's version resource
// says, and the entries; false with the reason printed.
struct Loaded {
  std::string file;
  ProgramInfo info;
  bool isProgram = false;
  std::vector<PackEntry> entries;
};

bool LoadEntries(const std::string& path, Loaded* loaded);

// "zarpo-pack: MESSAGE; see zarpo-pack --help" on standard error; answers 2.
int UsageError(const std::string& message);
// --name VALUE options and --flag flags of a command, from args[from] on ("" and false for
// those not given); the other words in `positional`. 0 with the usage error printed.
int Options(const std::vector<std::string>& args, size_t from,
            std::vector<std::pair<std::string, std::string*>> values,
            std::vector<std::pair<std::string, bool*>> flags,
            std::vector<std::string>* positional);
// A command that takes no option and one package or updater: `run` on it, or the usage error.
int WithOneFile(const std::vector<std::string>& args, const char* usage,
                int (*run)(const std::string& path));
