// The zip container (local headers, central directory, end records, ZIP64 where needed), an
// in-memory deflate stream, and the inflating of an earlier archive's document to recognise it.
// zlib does the deflating, the inflating and the CRC-32.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "output/output.h"

namespace {

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kEnd = 0x06054b50;
constexpr uint16_t kZip64Extra = 0x0001;
constexpr uint16_t kVersion = 20;       // 2.0: deflate
constexpr uint16_t kVersionZip64 = 45;  // 4.5: ZIP64 records
// Every entry is dated 1980-01-01 00:00, the earliest DOS date: the same input makes the same
// archive.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = (1 << 5) | 1;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFFu;

// Little-endian fields, appended to a header under construction.
struct Fields {
  std::vector<uint8_t> bytes;
  Fields& u16(uint64_t value) { return put(value, 2); }
  Fields& u32(uint64_t value) { return put(value, 4); }
  Fields& u64(uint64_t value) { return put(value, 8); }
  Fields& text(const std::string& value) {
    bytes.insert(bytes.end(), value.begin(), value.end());
    return *this;
  }
  Fields& put(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
};

// A field that does not fit in 32 bits holds all ones and moves to the ZIP64 extra field.
uint64_t clamp32(uint64_t value) {
  return value >= kMax32 ? kMax32 : value;
}

uint64_t little_endian(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

uint32_t crc32_of(uint32_t crc, const uint8_t* data, size_t size) {
  while (size > 0) {
    const uInt chunk = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(crc32(crc, data, chunk));
    data += chunk;
    size -= chunk;
  }
  return crc;
}

}  // namespace

void ZipWriter::put(const void* bytes, size_t size) {
  if (size == 0) return;
  std::fwrite(bytes, 1, size, out_);
  offset_ += size;
}

void ZipWriter::add_stored(const char* name, const uint8_t* data, size_t size) {
  add(Entry{name, crc32_of(0, data, size), 0, size, size, 0}, data);
}

void ZipWriter::add_deflated(const char* name, const std::vector<uint8_t>& data, uint32_t crc,
                             uint64_t size) {
  add(Entry{name, crc, Z_DEFLATED, data.size(), size, 0}, data.data());
}

void ZipWriter::add(Entry entry, const uint8_t* data) {
  entry.offset = offset_;
  // Sizes that overflow go to the ZIP64 field here; the offset only in the central directory.
  const bool zip64 = entry.size >= kMax32 || entry.compressed_size >= kMax32;
  Fields header;
  header.u32(kLocalHeader).u16(zip64 ? kVersionZip64 : kVersion).u16(0).u16(entry.method);
  header.u16(kDosTime).u16(kDosDate).u32(entry.crc);
  header.u32(zip64 ? kMax32 : entry.compressed_size).u32(zip64 ? kMax32 : entry.size);
  header.u16(entry.name.size()).u16(zip64 ? 20 : 0).text(entry.name);
  if (zip64) header.u16(kZip64Extra).u16(16).u64(entry.size).u64(entry.compressed_size);
  put(header.bytes.data(), header.bytes.size());
  put(data, static_cast<size_t>(entry.compressed_size));
  entries_.push_back(std::move(entry));
}

void ZipWriter::finish(const std::string& comment) {
  const uint64_t directory_offset = offset_;
  bool zip64 = entries_.size() >= kMax16;
  Fields header;
  for (const Entry& entry : entries_) {
    Fields extra;
    if (entry.size >= kMax32) extra.u64(entry.size);
    if (entry.compressed_size >= kMax32) extra.u64(entry.compressed_size);
    if (entry.offset >= kMax32) extra.u64(entry.offset);
    const bool entry_zip64 = !extra.bytes.empty();
    zip64 = zip64 || entry_zip64;
    const uint16_t version = entry_zip64 ? kVersionZip64 : kVersion;
    header.bytes.clear();
    header.u32(kCentralHeader).u16(version).u16(version).u16(0).u16(entry.method);
    header.u16(kDosTime).u16(kDosDate).u32(entry.crc);
    header.u32(clamp32(entry.compressed_size)).u32(clamp32(entry.size));
    header.u16(entry.name.size()).u16(entry_zip64 ? extra.bytes.size() + 4 : 0).u16(0);
    header.u16(0).u16(0).u32(0).u32(clamp32(entry.offset)).text(entry.name);
    if (entry_zip64) {
      header.u16(kZip64Extra).u16(extra.bytes.size());
      header.bytes.insert(header.bytes.end(), extra.bytes.begin(), extra.bytes.end());
    }
    put(header.bytes.data(), header.bytes.size());
  }
  const uint64_t directory_size = offset_ - directory_offset;
  zip64 = zip64 || directory_size >= kMax32 || directory_offset >= kMax32;

  Fields end;
  if (zip64) {
    const uint64_t record_offset = offset_;
    end.u32(kZip64End).u64(44).u16(kVersionZip64).u16(kVersionZip64).u32(0).u32(0);
    end.u64(entries_.size()).u64(entries_.size()).u64(directory_size).u64(directory_offset);
    end.u32(kZip64Locator).u32(0).u64(record_offset).u32(1);
  }
  const uint64_t count = entries_.size() >= kMax16 ? kMax16 : entries_.size();
  end.u32(kEnd).u16(0).u16(0).u16(count).u16(count);
  end.u32(clamp32(directory_size)).u32(clamp32(directory_offset));
  const std::string kept = comment.substr(0, kMax16);
  end.u16(kept.size()).text(kept);
  put(end.bytes.data(), end.bytes.size());
}

struct Deflater::State {
  z_stream stream;
};

Deflater::Deflater() : state_(new State()) {
  // Raw deflate (negative window bits): the zip entry has no zlib header.
  if (deflateInit2(&state_->stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    std::abort();
  }
  crc_ = static_cast<uint32_t>(crc32(0, Z_NULL, 0));
}

Deflater::~Deflater() {
  deflateEnd(&state_->stream);
}

void Deflater::add(const std::string& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  crc_ = crc32_of(crc_, bytes, text.size());
  size_ += text.size();
  run(bytes, text.size(), false);
}

void Deflater::finish() {
  run(nullptr, 0, true);
}

void Deflater::run(const uint8_t* input, size_t size, bool last) {
  z_stream& z = state_->stream;
  constexpr size_t kStep = 64 * 1024;
  uint8_t buffer[kStep];
  for (;;) {
    const uInt chunk = size > kStep ? static_cast<uInt>(kStep) : static_cast<uInt>(size);
    const bool finishing = last && chunk == size;
    z.next_in = const_cast<Bytef*>(input);
    z.avail_in = chunk;
    int result;
    do {
      z.next_out = buffer;
      z.avail_out = static_cast<uInt>(kStep);
      result = deflate(&z, finishing ? Z_FINISH : Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR) std::abort();
      data_.insert(data_.end(), buffer, buffer + (kStep - z.avail_out));
    } while (z.avail_out == 0 || (finishing && result != Z_STREAM_END));
    size -= chunk;
    if (size == 0) return;
    input += chunk;
  }
}

bool inflate_start(Input& input, uint64_t compressed_size, size_t limit,
                   std::vector<uint8_t>& out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.resize(limit);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(limit);
  uint8_t chunk[16 * 1024];
  int result = Z_OK;
  while (result == Z_OK && z.avail_out > 0 && compressed_size > 0) {
    const size_t got =
        input.read(chunk, compressed_size < sizeof chunk ? static_cast<size_t>(compressed_size)
                                                         : sizeof chunk);
    if (got == 0) break;
    compressed_size -= got;
    z.next_in = chunk;
    z.avail_in = static_cast<uInt>(got);
    result = inflate(&z, Z_NO_FLUSH);
  }
  out.resize(limit - z.avail_out);
  inflateEnd(&z);
  return (result == Z_OK || result == Z_STREAM_END || result == Z_BUF_ERROR) && input.error() == 0;
}

// The end record: signature, 16 bytes of counts, sizes and offset, the comment's length (offset 20,
// 2 bytes), then the comment, which runs to the end of the file. The record lies in the last
// 22 + 65,535 bytes, and is looked for from the end.
bool read_zip_comment(Input& input, std::string& comment) {
  constexpr size_t kEndSize = 22;
  const uint64_t size = input.size();
  if (size < kEndSize) return false;
  const size_t tail = static_cast<size_t>(std::min<uint64_t>(size, kEndSize + kMax16));
  std::vector<uint8_t> bytes(tail);
  if (!input.seek(size - tail) || input.read(bytes.data(), tail) != tail) return false;
  for (size_t at = tail - kEndSize + 1; at-- > 0;) {
    const uint8_t* record = bytes.data() + at;
    if (little_endian(record, 4) == kEnd && little_endian(record + 20, 2) == tail - at - kEndSize) {
      comment.assign(reinterpret_cast<const char*>(record + kEndSize), tail - at - kEndSize);
      return true;
    }
  }
  return false;
}

// A local header: signature, version, flags, method (offset 8), time, date, CRC-32, compressed
// size (18), size, name length (26), extra field length (28); then the name and the extra field,
// which holds both sizes (size first) when they do not fit in 32 bits.
bool read_zip_local_header(Input& input, ZipLocalHeader& entry) {
  uint8_t header[30];
  if (input.read(header, sizeof header) != sizeof header ||
      little_endian(header, 4) != kLocalHeader) {
    return false;
  }
  entry.method = static_cast<uint16_t>(little_endian(header + 8, 2));
  entry.compressed_size = little_endian(header + 18, 4);
  entry.name.resize(static_cast<size_t>(little_endian(header + 26, 2)));
  const auto extra_length = static_cast<size_t>(little_endian(header + 28, 2));
  if (input.read(reinterpret_cast<uint8_t*>(&entry.name[0]), entry.name.size()) !=
      entry.name.size()) {
    return false;
  }
  if (entry.compressed_size != kMax32) return input.skip(extra_length);
  uint8_t extra[20];
  if (extra_length != sizeof extra || input.read(extra, sizeof extra) != sizeof extra ||
      little_endian(extra, 2) != kZip64Extra) {
    return false;
  }
  entry.compressed_size = little_endian(extra + 12, 8);
  return true;
}

bool at_zip_central_directory(Input& input) {
  uint8_t signature[4];
  return input.read(signature, sizeof signature) == sizeof signature &&
         little_endian(signature, 4) == kCentralHeader;
}
