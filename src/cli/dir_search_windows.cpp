#ifdef _WIN32

#include <windows.h>

#include <cwchar>
#include <string>

#include "cli/cli.h"

// The whole folder is listed, so that its sidecars are seen and names are matched as on every
// platform (the system's own matching also looks at short 8.3 names). FindFirstFileW fails with
// another error than ERROR_FILE_NOT_FOUND (a path not found, not a directory, access denied) when
// the directory cannot be listed. Names arrive in UTF-16 and are kept in UTF-8.
int DirSearch::list_entries(const char* directory) {
  const std::wstring pattern = wide_path((std::string(directory) + "*").c_str());
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
    add_listed(name.c_str(), name.size(), type);
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : errno_from_windows_error(error);
}

#endif
