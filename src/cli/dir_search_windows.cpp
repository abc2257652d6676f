#ifdef _WIN32

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "cli/cli.h"

int errno_from_windows_error(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:  // Wine's answer for a file taken as a folder
      return ENOENT;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

// FindFirstFileA matches the whole pattern, directory part included, by the platform's rules.
// It fails with ERROR_FILE_NOT_FOUND when nothing matches, and with another error (a path not
// found, not a directory, access denied) when the directory cannot be listed.
int DirSearch::list_entries(const char* directory, const char* name_pattern) {
  std::string pattern = std::string(directory) + name_pattern;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
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
    add_name(found.cFileName, std::strlen(found.cFileName), type);
  } while (FindNextFileA(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : errno_from_windows_error(error);
}

#endif
