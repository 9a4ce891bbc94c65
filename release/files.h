// Whole files of the host read and written at once: the manifests, release files and packages
// the packer reads and writes.
#pragma once

#include <string>

// false with the reason in `error`.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);
// Written and synced; false with the reason in `error`.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error);
