#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>

#include "cli/cli.h"

namespace {

// Old consoles refuse a single write of much more than this.
constexpr size_t kConsoleChunk = 8192;

}  // namespace

Console::~Console() {
  if (scratch_ != nullptr) std::fclose(scratch_);
}

// A process has one console at most: two handles that are consoles are the same terminal.
void Console::detect() {
  DWORD mode;
  stderr_console_ = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  stdout_console_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  stderr_terminal_ = stderr_console_;
  stdout_same_terminal_ = stderr_console_ && stdout_console_;
}

uint64_t Console::now_ms() const {
  return GetTickCount64();
}

size_t Console::terminal_width() const {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

// The writers write bytes to a stream, where a console wants wide text: on a console they write
// to a scratch file that goes when it is closed, and pass_on_output() hands its text on.
FILE* Console::output() {
  if (!stdout_console_ || scratch_ != nullptr) return stdout_console_ ? scratch_ : stdout;
  wchar_t directory[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (length > 0 && length <= MAX_PATH && GetTempFileNameW(directory, L"prl", 0, name) != 0) {
    file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  const int fd = file != INVALID_HANDLE_VALUE
                     ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY)
                     : -1;
  scratch_ = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
  if (scratch_ == nullptr) {
    if (fd >= 0) {
      _close(fd);
    } else if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    }
    stdout_console_ = false;  // bytes, as before
    return stdout;
  }
  return scratch_;
}

void Console::pass_on_output() {
  if (scratch_ == nullptr) return;
  std::fflush(scratch_);
  const long length = std::ftell(scratch_);
  if (length <= 0) return;
  std::string text(static_cast<size_t>(length), '\0');
  std::rewind(scratch_);
  text.resize(std::fread(&text[0], 1, text.size(), scratch_));
  std::rewind(scratch_);
  write_console(text, true);
}

void Console::write_console(const std::string& text, bool to_stdout) {
  const std::wstring wide = utf8_to_wide(text.data(), text.size());
  HANDLE handle = GetStdHandle(to_stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  for (size_t done = 0; done < wide.size();) {
    size_t count = wide.size() - done < kConsoleChunk ? wide.size() - done : kConsoleChunk;
    // A surrogate pair stays in one piece.
    if (count < wide.size() - done && wide[done + count - 1] >= 0xD800 &&
        wide[done + count - 1] <= 0xDBFF) {
      --count;
    }
    DWORD written = 0;
    if (!WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      // No longer a console: the rest as bytes, as to any other stream.
      const std::string rest = wide_to_utf8(wide.data() + done, wide.size() - done);
      std::fwrite(rest.data(), 1, rest.size(), to_stdout ? stdout : stderr);
      return;
    }
    done += written;
  }
}

#endif
