#ifdef _WIN32

#include <windows.h>

#include <cwchar>
#include <string>

#include "cli/cli.h"

namespace {

// "\\?\" paths have no length limit, but they are taken as they are: absolute, with '\' only.
std::string long_form(const std::string& relative) {
  std::string out = relative;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

}  // namespace

bool is_folder(const char* path) {
  const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TreeSearch::open_root() {
  const std::wstring given = utf8_to_wide(directory_.empty() ? "." : directory_.c_str());
  const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = size > 0 ? GetFullPathNameW(given.c_str(), size, &full[0], nullptr) : 0;
  if (length == 0 || length >= size) {
    list_error_ = errno_from_windows_error(GetLastError());
    return false;
  }
  full.resize(length);
  if (full.back() != L'\\') full += L'\\';
  if (full.compare(0, 4, L"\\\\?\\") == 0) {
    root_ = wide_to_utf8(full.c_str(), full.size());
  } else if (full.compare(0, 2, L"\\\\") == 0) {
    root_ = "\\\\?\\UNC\\" + wide_to_utf8(full.c_str() + 2, full.size() - 2);
  } else {
    root_ = "\\\\?\\" + wide_to_utf8(full.c_str(), full.size());
  }
  return true;
}

int TreeSearch::open_folder(uint32_t) {
  return 0;
}

void TreeSearch::close_folder(Level&) {}

int TreeSearch::folder_handle() {
  return 0;
}

// Sub-folders are kept whatever their names; files only when they match. A folder that is a
// symbolic link or a junction is never entered; other reparse points (cloud placeholders, for
// one) are folders like any other.
int TreeSearch::list_folder(Level&) {
  const std::wstring pattern = utf8_to_wide((root_ + long_form(relative_) + "*").c_str());
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : errno_from_windows_error(error);
  }
  std::string name;
  do {
    const wchar_t* wide = found.cFileName;
    if (wide[0] == L'.' && (wide[1] == L'\0' || (wide[1] == L'.' && wide[2] == L'\0'))) continue;
    name = wide_to_utf8(wide, std::wcslen(wide));
    const DWORD attributes = found.dwFileAttributes;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!link || (found.dwReserved0 != IO_REPARSE_TAG_SYMLINK &&
                    found.dwReserved0 != IO_REPARSE_TAG_MOUNT_POINT)) {
        add_name(name.c_str(), name.size(), kFolder);
      }
      continue;
    }
    top_sidecars().add(name.c_str(), name.size(), link ? EntryType::kUnknown : EntryType::kRegular);
    if (matches_name_pattern(name_pattern_.c_str(), name.c_str())) {
      add_name(name.c_str(), name.size(),
               static_cast<char>(link ? EntryType::kUnknown : EntryType::kRegular));
    }
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : errno_from_windows_error(error);
}

// The folder's part is made once for each folder the walk comes to.
void TreeSearch::set_open_path(Entry& entry, const char* name) {
  if (open_changes_ != folder_changes_) {
    open_.assign(root_).append(long_form(relative_));
    open_folder_ = open_.size();
    open_changes_ = folder_changes_;
  }
  open_.resize(open_folder_);
  open_.append(name);
  entry.photo.open_path = open_.c_str();
  entry.photo.directory = FileInput::kWorkingDirectory;
}

#endif
