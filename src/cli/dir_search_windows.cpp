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
    // A reparse point (a link) is looked at when it is opened.
    EntryType type = EntryType::kRegular;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      type = EntryType::kUnknown;
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      type = EntryType::kOther;
    }
    add_name(found.cFileName, std::strlen(found.cFileName), type);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

#endif
