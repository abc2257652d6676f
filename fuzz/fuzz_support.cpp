#include "fuzz_support.h"

#include <cstdlib>

void fuzz_check_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

namespace {

// Windows has no memory streams; a temporary file stands in.
FILE* temporary_file() {
  FILE* file = std::tmpfile();
  if (file == nullptr) fuzz_check_failed("tmpfile() != nullptr", __FILE__, __LINE__);
  return file;
}

}  // namespace

#if defined(_WIN32)

FILE* open_input(const uint8_t* data, size_t size) {
  FILE* file = temporary_file();
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  std::rewind(file);
  return file;
}

OutputCapture::OutputCapture() : file_(temporary_file()) {}

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

FILE* open_input(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer on some C libraries.
  if (size == 0) return temporary_file();
  // A read-only stream never writes to the buffer.
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  FUZZ_CHECK(file != nullptr);
  return file;
}

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
