#ifndef _WIN32

#include <dirent.h>
#include <fnmatch.h>

#include <cstring>

#include "cli/cli.h"

// Matches like the Windows search: ASCII letter case ignored, and '*' matches a leading dot.
bool DirSearch::list_entries(const char* directory, const char* name_pattern) {
  DIR* dir = opendir(directory[0] != '\0' ? directory : ".");
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    if (fnmatch(name_pattern, entry->d_name, FNM_CASEFOLD) == 0) {
      add_name(entry->d_name, std::strlen(entry->d_name));
    }
  }
  closedir(dir);
  return true;
}

#endif
