#ifdef _WIN32

#include <windows.h>

#include <cwchar>
#include <string>

#include "cli/cli.h"

// FindFirstFileW matches the whole pattern, directory part included, by the platform's rules.
// It fails with ERROR_FILE_NOT_FOUND when nothing matches, and with another error (a path not
// found, not a directory, access denied) when the directory cannot be listed. Names arrive in
// UTF-16 and are kept in UTF-8.
int DirSearch::list_entries(const char* directory, const char* name_pattern) {
  const std::wstring pattern = wide_path((std::string(directory) + name_pattern).c_str());
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES
               ? 0
               : errno_from_windows_error(error);
  }
  do {
    // A reparse point (a link) is looked at when it is opened.
    EntryType type = EntryType::kRegular;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      type = EntryType::kUnknown;
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      type = EntryType::kOther;
    }
    const std::string name = wide_to_utf8(found.cFileName, std::wcslen(found.cFileName));
    add_name(name.c_str(), name.size(), type);
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : errno_from_windows_error(error);
}

#endif
