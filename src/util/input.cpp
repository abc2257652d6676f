#include "util/input.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <string>

#include "util/wide.h"
#else
#include <sys/uio.h>
#include <unistd.h>
#endif

void Input::reset(int64_t size) {
  next_ = end_ = buffer_;
  buffer_offset_ = 0;
  size_ = size;
  error_ = 0;
  fetched_ = 0;
}

long Input::fetch_counted(uint64_t offset, uint8_t* dest, size_t n) {
  if (error_ != 0) return -1;
  errno = 0;
  const long got = fetch(offset, dest, n);
  if (got < 0) {
    error_ = errno != 0 ? errno : EIO;
    return -1;
  }
  fetched_ += static_cast<uint64_t>(got);
  return got;
}

// An empty buffer positioned at `offset`.
void Input::jump(uint64_t offset) {
  buffer_offset_ = offset;
  next_ = end_ = buffer_;
}

// An empty buffer filled with up to `size` bytes from the present position; false at the end.
bool Input::fill(size_t size) {
  jump(position());
  const long got = fetch_counted(buffer_offset_, buffer_, size);
  if (got <= 0) return false;
  end_ = buffer_ + got;
  return true;
}

// The first fill takes a whole buffer, which holds most headers. A header that goes on past it
// has mostly small segments left, or segments passed over, after which only a few bytes are
// needed: later fills take little, so that no more is copied past the start of scan than needed.
int Input::refill_and_get() {
  return fill(fetched_ == 0 ? kBufferSize : kRefillSize) ? *next_++ : -1;
}

size_t Input::read(uint8_t* dest, size_t n) {
  size_t done = 0;
  for (;;) {
    const size_t buffered = std::min(static_cast<size_t>(end_ - next_), n - done);
    std::memcpy(dest + done, next_, buffered);
    next_ += buffered;
    done += buffered;
    if (done == n) return done;
    const uint64_t at = position();
    // (The test of `n` alone lets the compiler see that small reads never take this way.)
    if (n > kBufferSize / 2 && n - done > kBufferSize / 2) {
      // Straight into the destination: copying it through the buffer gains nothing.
      const long got = fetch_counted(at, dest + done, n - done);
      if (got <= 0) return done;
      done += static_cast<size_t>(got);
      jump(at + static_cast<uint64_t>(got));
    } else if (!fill(std::min(kBufferSize, n - done + kRefillSize))) {
      return done;
    }
  }
}

uint64_t Input::size() {
  if (size_ < 0) {
    errno = 0;
    size_ = query_size();
    if (size_ < 0) {
      error_ = errno != 0 ? errno : EIO;
      size_ = 0;
    }
  }
  return static_cast<uint64_t>(size_);
}

bool Input::skip(uint64_t n) {
  if (n <= static_cast<uint64_t>(end_ - next_)) {
    next_ += n;
    return true;
  }
  const uint64_t at = position();
  const uint64_t total = size();
  if (at > total || n > total - at) {
    jump(total);
    return false;
  }
  return seek(at + n);
}

bool Input::seek(uint64_t offset) {
  // Within the buffer the offset lies inside the input: no need to ask for its size.
  if (offset >= buffer_offset_ &&
      offset <= buffer_offset_ + static_cast<uint64_t>(end_ - buffer_)) {
    next_ = buffer_ + (offset - buffer_offset_);
    return true;
  }
  const uint64_t total = size();
  if (offset > total) {
    jump(total);
    return false;
  }
  jump(offset);
  return true;
}

MemoryInput::MemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

long MemoryInput::fetch(uint64_t offset, uint8_t* dest, size_t n) {
  if (offset >= size_) return 0;
  const size_t available = size_ - static_cast<size_t>(offset);
  const size_t count = n < available ? n : available;
  if (count > LONG_MAX) return -1;
  std::memcpy(dest, data_ + offset, count);
  return static_cast<long>(count);
}

SliceInput::SliceInput(Input& whole, uint64_t offset, uint64_t length)
    : whole_(whole), offset_(offset), length_(length <= UINT64_MAX - offset ? length : 0) {}

long SliceInput::fetch(uint64_t offset, uint8_t* dest, size_t n) {
  if (offset >= length_) return 0;
  if (n > length_ - offset) n = static_cast<size_t>(length_ - offset);
  if (n > LONG_MAX) n = LONG_MAX;
  const size_t got = whole_.seek(offset_ + offset) ? whole_.read(dest, n) : 0;
  if (got == 0 && whole_.error() != 0) {
    errno = whole_.error();
    return -1;
  }
  return static_cast<long>(got);
}

int64_t SliceInput::query_size() {
  const uint64_t whole = whole_.size();
  const uint64_t inside = whole > offset_ ? whole - offset_ : 0;
  return static_cast<int64_t>(inside < length_ ? inside : length_);
}

#ifdef _WIN32

FileInput::~FileInput() {
  if (fd_ >= 0) _close(fd_);
}

// The wide API, so that a name outside the ANSI code page opens too.
int FileInput::open(const char* path, EntryType type, int) {
  if (type == EntryType::kOther) return kNotRegularFileError;
  const std::wstring wide = wide_path(path);
  if (type != EntryType::kRegular) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return errno_from_windows_error(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kNotRegularFileError;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder that the listing took for a file (or that became one) cannot be opened so.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return kNotRegularFileError;
    }
    return errno_from_windows_error(error);
  }
  // A device name (CON, NUL, COM1) opens a device.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNotRegularFileError;
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(file);
    return EMFILE;
  }
  reset(-1);
  return 0;
}

int64_t FileInput::query_size() {
  struct _stat64 info;
  return _fstat64(fd_, &info) == 0 ? info.st_size : -1;
}

long FileInput::fetch(uint64_t offset, uint8_t* dest, size_t n) {
  if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
  const unsigned count = n < INT_MAX ? static_cast<unsigned>(n) : INT_MAX;
  return _read(fd_, dest, count);
}

void FileInput::request_ahead(const char*, EntryType, int) {}
uint64_t FileInput::requests_made() {
  return 0;
}
int duplicate_folder(int) {
  return -1;
}
void close_folder(int) {}

#else

FileInput::~FileInput() {
  if (fd_ >= 0) close(fd_);
}

// openat with AT_FDCWD is the very system call that open and stat make.
int FileInput::open(const char* path, EntryType type, int directory) {
  if (type == EntryType::kOther) return kNotRegularFileError;
  const int at = directory >= 0 ? directory : AT_FDCWD;
  struct stat info;
  if (type != EntryType::kRegular) {
    if (fstatat(at, path, &info, 0) != 0) return errno;
    if (!S_ISREG(info.st_mode)) return kNotRegularFileError;
  }
  // O_NONBLOCK: should the entry have become a FIFO since it was looked at, the open cannot hang
  // (and its reads fail).
  fd_ = openat(at, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return errno;
  reset(type == EntryType::kRegular ? -1 : static_cast<int64_t>(info.st_size));
  return 0;
}

// Most headers end inside the first buffer, so most photos never need their size: it costs a
// system call, a few per cent of a photo's time.
int64_t FileInput::query_size() {
  struct stat info;
  return fstat(fd_, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

long FileInput::fetch(uint64_t offset, uint8_t* dest, size_t n) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
#ifdef RWF_NOWAIT
  // The first read asks for what is in memory only, which costs a warm read nothing; when it
  // must wait, the disk is cold and the run modes start reading ahead.
  if (!probed_) {
    probed_ = true;
    iovec io = {dest, n};
    const ssize_t got = preadv2(fd_, &io, 1, static_cast<off_t>(offset), RWF_NOWAIT);
    if (got >= 0) return static_cast<long>(got);
    waited_ = errno == EAGAIN;
  }
#endif
  for (;;) {
    const ssize_t got = pread(fd_, dest, n, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

int duplicate_folder(int directory) {
  return fcntl(directory, F_DUPFD_CLOEXEC, 0);
}

void close_folder(int directory) {
  if (directory >= 0) close(directory);
}

namespace {
std::atomic<uint64_t> requests{0};
}  // namespace

uint64_t FileInput::requests_made() {
  return requests.load();
}

// The first 64 KiB hold the header of nearly every photo.
void FileInput::request_ahead(const char* path, EntryType type, int directory) {
#ifdef POSIX_FADV_WILLNEED
  FileInput file;
  if (file.open(path, type, directory) == 0 &&
      posix_fadvise(file.fd_, 0, 64 * 1024, POSIX_FADV_WILLNEED) == 0) {
    ++requests;
  }
#else
  (void)path, (void)type, (void)directory;
#endif
}

#endif
