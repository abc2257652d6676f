#ifdef _WIN32

#include <windows.h>

#include <cstring>

#include "cli/cli.h"

// FindFirstFileA matches the whole pattern, directory part included, by the platform's rules.
bool DirSearch::list_entries(const char* directory, const char* name_pattern) {
  std::string pattern = std::string(directory) + name_pattern;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    add_name(found.cFileName, std::strlen(found.cFileName));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

#endif
