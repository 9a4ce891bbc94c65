// Reading and writing whole files; see files.h.
#include "release/files.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  *bytes = text.str();
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) {
    *error = "cannot create " + path + ": " + strerror(errno);
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  ok = fflush(out) == 0 && ok;
  ok = fsync(fileno(out)) == 0 && ok;
  if (fclose(out) != 0) ok = false;
  if (!ok) *error = "cannot write " + path + ": " + strerror(errno);
  return ok;
}
