#ifdef _WIN32

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/platform.h"
#include "util/wide.h"

namespace platform {

namespace {

std::string temp_path() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return length > 0 && length <= MAX_PATH ? wide_to_utf8(buffer, length) : ".\\";
}

// `path` made absolute, with backslashes.
std::string full_path(const std::string& path) {
  wchar_t full[32768];
  const DWORD length = GetFullPathNameW(utf8_to_wide(path.c_str()).c_str(), 32768, full, nullptr);
  return length > 0 && length < 32768 ? wide_to_utf8(full, length) : path;
}

// `path` as an absolute "\\?\" path, which may be of any length.
std::wstring long_path(const std::string& path) {
  return L"\\\\?\\" + utf8_to_wide(full_path(path).c_str());
}

}  // namespace

// tmpfile() would create its file in the root of the drive, which only administrators may do.
FILE* scratch_file() {
  const std::string directory = temp_path();
  char name[MAX_PATH + 1];
  if (GetTempFileNameA(directory.c_str(), "prl", 0, name) == 0) return nullptr;
  // "D": deleted when closed.
  return std::fopen(name, "w+bD");
}

std::string make_temp_dir() {
  const std::string base = temp_path() + "pinreel-cli-" + std::to_string(GetCurrentProcessId());
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string path = base + "-" + std::to_string(attempt);
    if (CreateDirectoryW(utf8_to_wide(path.c_str()).c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return "";
}

// Through cmd.exe, each path and argument quoted (none holds a quote or ends in a backslash).
int run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::string& stderr_path, const RunOptions&) {
  std::string command = "\"cd /d \"" + full_path(cwd) + "\" && \"" + full_path(program) + "\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  command += " <NUL >\"" + full_path(stdout_path) + "\" 2>\"" + full_path(stderr_path) + "\"\"";
  return _wsystem(utf8_to_wide(command.c_str()).c_str());
}

bool write_nested(const std::string& base, const std::vector<std::string>& folders,
                  const std::string& file, const std::vector<unsigned char>& bytes) {
  std::filesystem::path path = long_path(base);
  std::error_code error;
  for (const std::string& folder : folders) {
    std::filesystem::create_directory(path /= std::filesystem::u8path(folder), error);
  }
  std::ofstream out(path / std::filesystem::u8path(file), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

namespace {

void remove_long_path(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") remove_long_path(path + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

void remove_nested(const std::string& base, const std::string& top) {
  remove_long_path(long_path(base) + L"\\" + utf8_to_wide(top.c_str()));
}

ExclusiveHold::ExclusiveHold(const std::string& path, bool readable) {
  HANDLE file =
      CreateFileW(utf8_to_wide(path.c_str()).c_str(), GENERIC_READ, readable ? FILE_SHARE_READ : 0,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = file;
}

ExclusiveHold::~ExclusiveHold() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

}  // namespace platform

#endif
