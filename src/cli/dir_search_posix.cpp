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

int DirSearch::list_entries(const char* directory) {
  DIR* dir = opendir(directory[0] != '\0' ? directory : ".");
  if (dir == nullptr) return errno;
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;  // 0 at the end of the listing
      break;
    }
    add_listed(entry->d_name, std::strlen(entry->d_name), entry_type(entry));
  }
  closedir(dir);
  return error;
}

#endif
