// The output file: which existing files a run may replace, and the temporary file that takes the
// document until it is complete.
#include <cerrno>
#include <cstring>

#include "cli/cli.h"

OutputFile::Refusal OutputFile::check(const char* path) {
  path_ = path;
  target_ = path;
  error_ = inspect(kind_);
  if (!replaces_file()) return {Refusal::kNone, nullptr, 0};
  if (!is_document_name(path_.c_str())) return {Refusal::kOtherName, path_.c_str(), 0};
  if (!is_document_name(target_.c_str())) return {Refusal::kOtherName, target_.c_str(), 0};
  // Opened by the path given, so that a link is read at its target.
  FileInput file;
  int error = file.open(path_.c_str());
  if (error == 0) {
    const bool written = is_pinreel_document(output_format(path_.c_str()), file);
    error = file.error();
    if (error == 0) {
      return {written ? Refusal::kNone : Refusal::kNotPinreels, path_.c_str(), 0};
    }
  }
  // Not a regular file any more: no document of pinreel's either.
  if (error == kNotRegularFileError) return {Refusal::kNotPinreels, path_.c_str(), 0};
  return {Refusal::kUnreadable, path_.c_str(), error};
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
