// The subcommands of zarpo-pack, one file each in this folder, as main.cpp dispatches them. A
// subcommand takes the words after its name and answers the exit code: 0, 1 for a refusal or
// a failure named on standard error, 2 for a usage error.
#pragma once

#include <string>
#include <vector>

int CmdPack(const std::vector<std::string>& args);
int CmdScan(const std::vector<std::string>& args);
int CmdList(const std::vector<std::string>& args);
int CmdVerify(const std::vector<std::string>& args);
int CmdExtract(const std::vector<std::string>& args);
int CmdDiff(const std::vector<std::string>& args);
int CmdNewestTime(const std::vector<std::string>& args);
int CmdStamp(const std::vector<std::string>& args);
