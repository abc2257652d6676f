#ifdef _WIN32

#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/platform.h"
#include "util/wide.h"

namespace platform {

namespace {

// One argument as the C runtime's start-up code splits the command line again.
std::string quote_argument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes double only before a quote, which itself is escaped.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

HANDLE open_for_child(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(utf8_to_wide(path.c_str()).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string temp_path() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return length > 0 && length <= MAX_PATH ? wide_to_utf8(buffer, length) : ".\\";
}

// `path` as an absolute "\\?\" path, which may be of any length.
std::wstring long_path(const std::string& path) {
  const std::wstring wide = utf8_to_wide(path.c_str());
  wchar_t full[32768];
  const DWORD length = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
  if (length == 0 || length >= 32768) return wide;
  return L"\\\\?\\" + std::wstring(full, length);
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

int run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::string& stderr_path, const RunOptions&) {
  // The child starts in `cwd`, so a relative (or drive-relative) path must be resolved here.
  wchar_t absolute[MAX_PATH + 1];
  const DWORD length =
      GetFullPathNameW(utf8_to_wide(program.c_str()).c_str(), MAX_PATH + 1, absolute, nullptr);
  if (length == 0 || length > MAX_PATH) return -1;
  std::string command_line = quote_argument(wide_to_utf8(absolute, length));
  for (const auto& arg : args) command_line += " " + quote_argument(arg);
  std::wstring wide_command_line = utf8_to_wide(command_line.c_str());

  HANDLE in = open_for_child("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = open_for_child(stdout_path, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = open_for_child(stderr_path, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  const bool started =
      in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
      CreateProcessW(absolute, &wide_command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                     utf8_to_wide(cwd.c_str()).c_str(), &startup, &process);
  for (HANDLE handle : {in, out, err}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  if (!started) return -1;

  DWORD status = 0;
  const bool exited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                      GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exited ? static_cast<int>(status) : -1;
}

TerminalOutcome run_on_terminal(const std::string&, const std::vector<std::string>&,
                                const std::string&, bool, int, const std::function<void()>&) {
  return TerminalOutcome();
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

ExclusiveHold::ExclusiveHold(const std::string& path) {
  HANDLE file = CreateFileW(utf8_to_wide(path.c_str()).c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = file;
}

ExclusiveHold::~ExclusiveHold() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

}  // namespace platform

#endif
