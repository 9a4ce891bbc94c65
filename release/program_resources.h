// Rewriting a built updater's resources, for zarpo-pack stamp: the system's own job. On Windows
// (release/windows/program_resources.cpp) through BeginUpdateResourceW and its kin; elsewhere
// (release/posix/program_resources.cpp) a refusal, since there the build embeds the package
// when it links the updater.
#pragma once

#include <string>

// Whether this system can rewrite a program's resources; false with the reason, and what to do
// instead, in `why`.
bool CanWriteProgramResources(std::string* why);

// Gives `path`, a copy of the program `stub`, every resource of `stub` except its package
// (ZIPFILE/UPDATE) and its version resources (RT_VERSION), in every language, and then
// `package` as ZIPFILE/UPDATE and `version` as RT_VERSION 1, both in Japanese (1041). Paths
// in UTF-8. false with the reason in `error`; `path` is then in no known state.
bool WriteProgramResources(const std::string& stub, const std::string& path,
                           const std::string& package, const std::string& version,
                           std::string* error);
