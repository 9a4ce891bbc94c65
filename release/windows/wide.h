// Paths as the wide Win32 calls take them: the packer keeps every path in UTF-8.
#pragma once

#include <string>

// The UTF-16 of a UTF-8 text (defined in system.cpp).
std::wstring Wide(const std::string& utf8);
