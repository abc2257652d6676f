#ifndef _WIN32

#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "cli/cli.h"

namespace {

EntryType entry_type(const dirent* entry) {
#ifdef DT_UNKNOWN
  switch (entry->d_type) {
    case DT_REG:
      return EntryType::kRegular;
    case DT_LNK:
    case DT_UNKNOWN:
      return EntryType::kUnknown;
    default:
      return EntryType::kOther;
  }
#else
  (void)entry;
  return EntryType::kUnknown;
#endif
}

}  // namespace

// A name without wildcards names one entry: the one spelled exactly so, when there is one,
// rather than every entry that differs from it only in case.
int DirSearch::list_entries(const char* directory, const char* name_pattern) {
  DIR* dir = opendir(directory[0] != '\0' ? directory : ".");
  if (dir == nullptr) return errno;
  const bool literal = !has_wildcards(name_pattern);
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;  // 0 at the end of the listing
      break;
    }
    if (literal && std::strcmp(name_pattern, entry->d_name) == 0) {
      names_.clear();
      offsets_.clear();
      add_name(entry->d_name, std::strlen(entry->d_name), entry_type(entry));
      break;
    }
    if (matches_name_pattern(name_pattern, entry->d_name)) {
      add_name(entry->d_name, std::strlen(entry->d_name), entry_type(entry));
    }
  }
  closedir(dir);
  return error;
}

#endif
