// Reading a whole input file into memory, with a limit on its size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the file at `path` into `bytes`. Fails with a sentence in `error`
// (naming the reason, not the file) when it cannot be opened or read, is a
// directory, or is larger than `maxBytes`.
bool readFileBytes(const std::string& path, int64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error);

// The path of `name` as seen from the folder that holds `reference`: `name`
// itself when it is absolute.
std::string besideFile(const std::string& reference, const std::string& name);
