// The output file: which existing files a run may replace, and the temporary file that takes the
// document until it is complete.
#include <cerrno>
#include <cstring>

#include "cli/cli.h"

namespace {

// The kinds of document pinreel writes; an existing file of another kind is most likely a photo
// or its sidecar named by mistake.
constexpr const char* kReplaceableExtensions[] = {".kml",     ".kmz",  ".gpx",
                                                  ".geojson", ".json", ".csv"};

bool ends_with_ignoring_case(const char* name, const char* suffix) {
  const size_t length = std::strlen(name);
  const size_t suffix_length = std::strlen(suffix);
  if (suffix_length > length) return false;
  const char* tail = name + (length - suffix_length);
  for (size_t i = 0; i < suffix_length; ++i) {
    const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] + 32) : tail[i];
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

bool is_replaceable_output_name(const char* name) {
  for (const char* extension : kReplaceableExtensions) {
    if (ends_with_ignoring_case(name, extension)) return true;
  }
  return false;
}

const char* OutputFile::check(const char* path) {
  path_ = path;
  target_ = path;
  error_ = inspect(kind_);
  if (error_ != 0 || kind_ != Kind::kRegular) return nullptr;
  if (!is_replaceable_output_name(path_.c_str())) return path_.c_str();
  if (!is_replaceable_output_name(target_.c_str())) return target_.c_str();
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
