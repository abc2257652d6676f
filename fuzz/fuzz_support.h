// Shared by the fuzz targets: an in-memory output stream and a check that aborts, so that
// libFuzzer and the replay program both report a broken property as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : fuzz_check_failed(#condition, __FILE__, __LINE__))

[[noreturn]] void fuzz_check_failed(const char* condition, const char* file, int line);

// A write stream whose contents can be read back.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  FILE* get() const { return file_; }
  std::string text();  // everything written so far

 private:
  FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};
