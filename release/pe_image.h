// Fields of a PE file's headers (PE32 or PE32+) that zarpo-pack stamp reads and sets, on the
// file's bytes alone, on any host.
#pragma once

#include <stdint.h>

#include <string>

// The optional header's CheckSum as the standard algorithm computes it (16-bit one's-complement
// sum of the file with the field itself taken as 0, plus the file's length); false with `error`
// set when the bytes are not a PE file.
bool ComputePeChecksum(const std::string& bytes, uint32_t* checksum, std::string* error);
// Sets the CheckSum field to ComputePeChecksum's value.
bool SetPeChecksum(std::string* bytes, std::string* error);
// The CheckSum field as the file has it, and the size of its certificate table (0: unsigned).
bool ReadPeFields(const std::string& bytes, uint32_t* checksum, uint32_t* certificates,
                  std::string* error);
