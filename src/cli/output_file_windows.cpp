#ifdef _WIN32

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace {

// The temporary file's path where the signal handler can reach it without allocating.
wchar_t temporary_path[32768];
volatile sig_atomic_t temporary_exists = 0;

constexpr int kFatalSignals[] = {SIGINT, SIGBREAK, SIGTERM};

// The file was opened with FILE_SHARE_DELETE, so it goes when the process ends.
extern "C" void remove_temporary_and_die(int signal_number) {
  if (temporary_exists) DeleteFileW(temporary_path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void install_signal_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal_number : kFatalSignals) {
    if (std::signal(signal_number, remove_temporary_and_die) == SIG_IGN) {
      std::signal(signal_number, SIG_IGN);
    }
  }
}

}  // namespace

int OutputFile::inspect(Kind& kind) {
  const std::wstring path = wide_path(path_.c_str());
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Nothing there, or no folder to make it in (which creating the file reports). What cannot
    // be looked at this way (a console) is opened as it is.
    const DWORD error = GetLastError();
    kind =
        error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::kNew : Kind::kOther;
    return 0;
  }
  kind = Kind::kOther;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    kind = Kind::kRegular;
    // A link is replaced through its target, named by the handle that followed it.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      const DWORD size =
          GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      std::wstring final_path(size, L'\0');
      const DWORD length = size > 0
                               ? GetFinalPathNameByHandleW(file, &final_path[0], size,
                                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
                               : 0;
      if (length > 0 && length < size) target_ = wide_to_utf8(final_path.c_str(), length);
    }
  }
  CloseHandle(file);
  return 0;
}

FILE* OutputFile::open_directly(bool binary) {
  return _wfopen(wide_path(path_.c_str()).c_str(), binary ? L"wb" : L"wt");
}

FILE* OutputFile::create_temporary(bool binary) {
  install_signal_handlers();
  // A name beside the target, e.g. ".map.kml.4012-0": created only when no such file exists.
  const size_t name_start = target_.find_last_of("/\\:") + 1;  // 0 when there is none
  size_t name_length = target_.size() - name_start;
  if (name_length > 200) {
    name_length = 200;
    // Not in the middle of a character.
    while (name_length > 0 && (target_[name_start + name_length] & 0xC0) == 0x80) --name_length;
  }
  const std::string prefix = target_.substr(0, name_start) + "." +
                             target_.substr(name_start, name_length) + "." +
                             std::to_string(GetCurrentProcessId()) + "-";
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string name;
  std::wstring wide;
  for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
    name = prefix + std::to_string(attempt);
    wide = wide_path(name.c_str());
    if (wide.size() >= sizeof temporary_path / sizeof temporary_path[0]) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    if (file == INVALID_HANDLE_VALUE &&
        ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 100)) {
      errno = errno_from_windows_error(error);
      return nullptr;
    }
  }
  std::memcpy(temporary_path, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  temporary_exists = 1;
  temporary_ = name;

  const int fd =
      _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | (binary ? _O_BINARY : _O_TEXT));
  FILE* stream = fd >= 0 ? _fdopen(fd, binary ? "wb" : "wt") : nullptr;
  if (stream == nullptr) {
    const int error = errno != 0 ? errno : EIO;
    if (fd >= 0) {
      _close(fd);
    } else {
      CloseHandle(file);
    }
    remove_temporary();
    errno = error;
  }
  return stream;
}

int OutputFile::rename_temporary() {
  if (!MoveFileExW(wide_path(temporary_.c_str()).c_str(), wide_path(target_.c_str()).c_str(),
                   MOVEFILE_REPLACE_EXISTING)) {
    return errno_from_windows_error(GetLastError());
  }
  temporary_exists = 0;
  temporary_.clear();
  return 0;
}

void OutputFile::remove_temporary() {
  DeleteFileW(wide_path(temporary_.c_str()).c_str());
  temporary_exists = 0;
  temporary_.clear();
}

std::string working_folder() {
  wchar_t buffer[32768];
  if (_wgetcwd(buffer, static_cast<int>(sizeof buffer / sizeof buffer[0])) == nullptr) return "";
  return wide_to_utf8(buffer);
}

#endif
