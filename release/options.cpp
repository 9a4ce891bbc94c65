// Parsing a subcommand's command line; see options.h.
#include "release/options.h"

#include <stdio.h>

int UsageError(const std::string& message) {
  fprintf(stderr, "zarpo-pack: %s; see zarpo-pack --help\n", message.c_str());
  return 2;
}

int Options(const std::vector<std::string>& args, size_t from,
            std::vector<std::pair<std::string, std::string*>> values,
            std::vector<std::pair<std::string, bool*>> flags,
            std::vector<std::string>* positional) {
  for (size_t i = from; i < args.size(); i++) {
    const std::string& arg = args[i];
    bool known = false;
    for (auto& flag : flags) {
      if (arg == flag.first) *flag.second = known = true;
    }
    for (auto& value : values) {
      if (arg != value.first) continue;
      if (i + 1 >= args.size()) return UsageError(arg + " needs a value"), 0;
      *value.second = args[++i];
      known = true;
    }
    if (known) continue;
    if (arg.compare(0, 2, "--") == 0) return UsageError("unknown option '" + arg + "'"), 0;
    positional->push_back(arg);
  }
  return 1;
}

int WithOneFile(const std::vector<std::string>& args, const char* usage,
                int (*run)(const std::string& path)) {
  std::vector<std::string> files;
  if (!Options(args, 0, {}, {}, &files)) return 2;
  if (files.size() != 1) return UsageError(usage);
  return run(files[0]);
}
