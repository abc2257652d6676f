// The output file: which existing files a run may replace, and the temporary file that takes the
// document until it is complete.
#include <cerrno>
#include <cstring>

#include "cli/cli.h"

const char* OutputFile::check(const char* path) {
  path_ = path;
  target_ = path;
  error_ = inspect(kind_);
  if (error_ != 0 || kind_ != Kind::kRegular) return nullptr;
  if (!is_document_name(path_.c_str())) return path_.c_str();
  if (!is_document_name(target_.c_str())) return target_.c_str();
  return nullptr;
}

FILE* OutputFile::open(bool binary) {
  if (error_ != 0) {
    errno = error_;
    return nullptr;
  }
  errno = 0;
  stream_ = kind_ == Kind::kOther ? open_directly(binary) : create_temporary(binary);
  if (stream_ == nullptr && errno == 0) errno = EIO;
  return stream_;
}

int OutputFile::finish(const char*& failure) {
  failure = "cannot write";
  errno = 0;
  const bool failed = std::fflush(stream_) != 0 || std::ferror(stream_);
  int error = failed ? (errno != 0 ? errno : EIO) : 0;
  errno = 0;
  if (std::fclose(stream_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  stream_ = nullptr;
  if (error == 0 && !temporary_.empty()) {
    failure = "cannot replace";
    error = rename_temporary();
  }
  discard();
  return error;
}

void OutputFile::discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) remove_temporary();
}
