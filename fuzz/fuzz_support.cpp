#include "fuzz_support.h"

#include <cstdlib>

void fuzz_check_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

#if defined(_WIN32)

// Windows has no memory streams; a temporary file stands in.
OutputCapture::OutputCapture() : file_(std::tmpfile()) {
  FUZZ_CHECK(file_ != nullptr);
}

OutputCapture::~OutputCapture() {
  std::fclose(file_);
}

std::string OutputCapture::text() {
  std::fflush(file_);
  const long end = std::ftell(file_);
  std::string text(static_cast<size_t>(end), '\0');
  std::rewind(file_);
  FUZZ_CHECK(std::fread(&text[0], 1, text.size(), file_) == text.size());
  std::fseek(file_, 0, SEEK_END);
  return text;
}

#else

OutputCapture::OutputCapture() : file_(open_memstream(&buffer_, &size_)) {
  FUZZ_CHECK(file_ != nullptr);
}

OutputCapture::~OutputCapture() {
  std::fclose(file_);
  std::free(buffer_);
}

std::string OutputCapture::text() {
  std::fflush(file_);
  return std::string(buffer_, size_);
}

#endif
