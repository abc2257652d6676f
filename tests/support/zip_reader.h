// A zip archive read the way an unzip program reads one: from the end records (ZIP64 ones
// included) to the central directory, and from each entry there to its local header and data,
// with every size, name and CRC-32 compared. For the tests of the KMZ output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipread {

struct Entry {
  std::string name;
  uint16_t method;       // 0 stored, 8 deflated
  uint64_t offset;       // of the local header
  std::string contents;  // inflated
};

// False, with `error` saying what did not hold, unless the whole archive is consistent.
bool read_zip(const std::string& archive, std::vector<Entry>& entries, std::string& error);

}  // namespace zipread
