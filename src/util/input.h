// Buffered reading of a photo's bytes: the byte-at-a-time reads of a marker walk, skips over data
// that nothing reads, and seeks for containers whose offsets point elsewhere. Over a file, or over
// a block of memory (tests, fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>

// What a directory listing knows of an entry: a regular file, something else (a directory, FIFO,
// device or socket), or not known (a symbolic link, or a file system that does not say).
enum class EntryType : uint8_t { kUnknown, kRegular, kOther };

// FileInput::open's result for an entry that is not a regular file. errno values are positive.
constexpr int kNotRegularFileError = -2;

class Input {
 public:
  Input() = default;
  virtual ~Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // The next byte (0 to 255), or -1 at the end or after a read error.
  int get() { return next_ < end_ ? *next_++ : refill_and_get(); }
  // Reads up to `n` bytes into `dest`; fewer arrive only at the end or after a read error.
  size_t read(uint8_t* dest, size_t n);
  // Passes over `n` bytes. False, with the position at the end, when fewer remain.
  bool skip(uint64_t n);
  // Moves to `offset` from the first byte. False, with the position at the end, past the end.
  bool seek(uint64_t offset);

  uint64_t position() const { return buffer_offset_ + static_cast<uint64_t>(next_ - buffer_); }
  // Size of the whole input, as the file system gives it; asked only when first needed.
  uint64_t size();
  // The errno value of a failed read, or 0.
  int error() const { return error_; }
  // Bytes that came from the file or memory block so far, buffered ones included.
  uint64_t bytes_fetched() const { return fetched_; }

 protected:
  // Reads up to `n` bytes at `offset`: how many arrived, 0 at the end, or -1 with errno set.
  virtual long fetch(uint64_t offset, uint8_t* dest, size_t n) = 0;
  // The size of the input, or -1 with errno set.
  virtual int64_t query_size() = 0;
  // Starts over at offset 0, with the size when it is known already (else -1).
  void reset(int64_t size);

 private:
  // Most headers end within the first 16 KiB, and a payload larger than half the buffer is read
  // straight into its destination; later fills take kRefillSize (see refill_and_get).
  static constexpr size_t kBufferSize = 16 * 1024;
  static constexpr size_t kRefillSize = 4 * 1024;

  bool fill(size_t size);
  int refill_and_get();
  long fetch_counted(uint64_t offset, uint8_t* dest, size_t n);
  void jump(uint64_t offset);

  uint8_t buffer_[kBufferSize];
  const uint8_t* next_ = buffer_;
  const uint8_t* end_ = buffer_;
  uint64_t buffer_offset_ = 0;  // input offset of buffer_[0]
  int64_t size_ = -1;           // -1 until asked
  int error_ = 0;
  uint64_t fetched_ = 0;
};

// A block of memory, which must outlive the input.
class MemoryInput : public Input {
 public:
  MemoryInput(const uint8_t* data, size_t size);

 protected:
  long fetch(uint64_t offset, uint8_t* dest, size_t n) override;
  int64_t query_size() override { return static_cast<int64_t>(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
};

// The bytes [offset, offset + length) of another input, which must outlive it, read as an input
// of their own: a JPEG stream embedded in a raw file ends where the file says it does.
class SliceInput : public Input {
 public:
  SliceInput(Input& whole, uint64_t offset, uint64_t length);

 protected:
  long fetch(uint64_t offset, uint8_t* dest, size_t n) override;
  int64_t query_size() override;

 private:
  Input& whole_;
  uint64_t offset_;
  uint64_t length_;
};

// A regular file, opened for reading.
class FileInput : public Input {
 public:
  FileInput() = default;
  ~FileInput() override;

  // Opens `path` when it is a regular file. Anything else is never opened: opening a FIFO waits
  // for a writer, and opening a device may act on it. `type` is what the listing said of the
  // entry; kRegular spares a look before the open. A relative `path` is taken from `directory`,
  // an open directory's descriptor, or from the working directory when it is kWorkingDirectory
  // (always on Windows, where the path is UTF-8). Returns 0, kNotRegularFileError or an errno
  // value.
  static constexpr int kWorkingDirectory = -1;
  int open(const char* path, EntryType type = EntryType::kUnknown,
           int directory = kWorkingDirectory);
  // True when the first read found the file's data not in memory and had to wait for the disk
  // (Linux; elsewhere never).
  bool waited() const { return waited_; }
  // Asks the system to start reading the first bytes of the file that open() would open into
  // memory, without waiting for them. Where kCanReadAhead is false it does nothing.
  static void request_ahead(const char* path, EntryType type, int directory);
  // How many files request_ahead has asked the system for so far in this process (for tests:
  // the effect of reading ahead is otherwise invisible).
  static uint64_t requests_made();

 protected:
  long fetch(uint64_t offset, uint8_t* dest, size_t n) override;
  int64_t query_size() override;

 private:
  int fd_ = -1;
  bool probed_ = false;
  bool waited_ = false;
};

#ifdef _WIN32
constexpr bool kCanReadAhead = false;
#else
constexpr bool kCanReadAhead = true;
#endif
// A descriptor of a folder's own, which outlives the original (-1 on failure); and its closing.
int duplicate_folder(int directory);
void close_folder(int directory);
