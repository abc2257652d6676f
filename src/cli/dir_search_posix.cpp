#ifndef _WIN32

#include <dirent.h>

#include <cstring>

#include "cli/cli.h"

// Matches like the Windows search. A name without wildcards names one entry: the one spelled
// exactly so, when there is one, rather than every entry that differs from it only in case.
bool DirSearch::list_entries(const char* directory, const char* name_pattern) {
  DIR* dir = opendir(directory[0] != '\0' ? directory : ".");
  if (dir == nullptr) return false;
  const bool literal = std::strpbrk(name_pattern, "*?") == nullptr;
  while (const dirent* entry = readdir(dir)) {
    if (literal && std::strcmp(name_pattern, entry->d_name) == 0) {
      names_.clear();
      offsets_.clear();
      add_name(entry->d_name, std::strlen(entry->d_name));
      break;
    }
    if (matches_name_pattern(name_pattern, entry->d_name)) {
      add_name(entry->d_name, std::strlen(entry->d_name));
    }
  }
  closedir(dir);
  return true;
}

#endif
