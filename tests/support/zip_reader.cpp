#include "support/zip_reader.h"

#include <zlib.h>

namespace zipread {

namespace {

struct Reader {
  const std::string& bytes;
  uint64_t at;
  bool ok = true;
  uint64_t get(unsigned width) {
    uint64_t value = 0;
    if (at > bytes.size() || static_cast<uint64_t>(width) > bytes.size() - at) {
      ok = false;
      return 0;
    }
    for (unsigned i = 0; i < width; ++i) {
      value |= uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    }
    at += width;
    return value;
  }
  std::string text(uint64_t length) {
    if (at > bytes.size() || length > bytes.size() - at) {
      ok = false;
      return "";
    }
    at += length;
    return bytes.substr(at - length, length);
  }
};

bool inflate_raw(const std::string& in, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  char buffer[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  const bool ended = result == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ended;
}

}  // namespace

bool read_zip(const std::string& archive, std::vector<Entry>& entries, std::string& error) {
  entries.clear();
  const auto fail = [&](const std::string& what) {
    error = what;
    return false;
  };
  if (archive.size() < 22) return fail("shorter than the end record");
  Reader end{archive, archive.size() - 22};
  if (end.get(4) != 0x06054b50) return fail("no end record without a comment at the end");
  end.get(4);  // disk numbers
  uint64_t count = end.get(2);
  if (end.get(2) != count) return fail("entry counts differ");
  uint64_t directory_size = end.get(4);
  uint64_t directory_offset = end.get(4);
  if (count == 0xFFFF || directory_size == 0xFFFFFFFF || directory_offset == 0xFFFFFFFF) {
    Reader locator{archive, archive.size() - 42};
    if (locator.get(4) != 0x07064b50) return fail("no ZIP64 locator");
    locator.get(4);
    Reader record{archive, locator.get(8)};
    if (locator.get(4) != 1 || record.get(4) != 0x06064b50 || record.get(8) != 44) {
      return fail("no ZIP64 end record where the locator says");
    }
    record.text(12);  // versions, disk numbers
    count = record.get(8);
    if (record.get(8) != count) return fail("ZIP64 entry counts differ");
    directory_size = record.get(8);
    directory_offset = record.get(8);
    if (!record.ok || record.at != locator.at - 20) return fail("ZIP64 end record misplaced");
  }
  Reader central{archive, directory_offset};
  for (uint64_t i = 0; i < count; ++i) {
    if (central.get(4) != 0x02014b50) return fail("central header " + std::to_string(i));
    central.get(4);  // versions
    const uint64_t flags = central.get(2);
    Entry entry;
    entry.method = static_cast<uint16_t>(central.get(2));
    central.get(4);  // time and date
    const uint64_t crc = central.get(4);
    uint64_t compressed = central.get(4);
    uint64_t size = central.get(4);
    const uint64_t name_length = central.get(2);
    const uint64_t extra_length = central.get(2);
    const uint64_t comment_length = central.get(2);
    central.get(8);  // disk, attributes
    entry.offset = central.get(4);
    entry.name = central.text(name_length);
    Reader extra{archive, central.at};
    central.text(extra_length + comment_length);
    if (extra_length > 0 && extra.get(2) == 1) {
      extra.get(2);
      if (size == 0xFFFFFFFF) size = extra.get(8);
      if (compressed == 0xFFFFFFFF) compressed = extra.get(8);
      if (entry.offset == 0xFFFFFFFF) entry.offset = extra.get(8);
    }
    Reader local{archive, entry.offset};
    if (local.get(4) != 0x04034b50 || (local.get(2), local.get(2)) != flags ||
        local.get(2) != entry.method || (local.get(4), local.get(4)) != crc) {
      return fail("local header of " + entry.name);
    }
    uint64_t local_compressed = local.get(4);
    uint64_t local_size = local.get(4);
    const uint64_t local_name_length = local.get(2);
    const uint64_t local_extra_length = local.get(2);
    if (local.text(local_name_length) != entry.name) return fail("local name of " + entry.name);
    Reader local_extra{archive, local.at};
    local.text(local_extra_length);
    if (local_size == 0xFFFFFFFF && local_extra.get(2) == 1) {
      local_extra.get(2);
      local_size = local_extra.get(8);
      local_compressed = local_extra.get(8);
    }
    if (local_size != size || local_compressed != compressed) return fail("sizes of " + entry.name);
    const std::string data = local.text(compressed);
    if (entry.method == 0) {
      entry.contents = data;
    } else if (entry.method != 8 || !inflate_raw(data, entry.contents)) {
      return fail("data of " + entry.name);
    }
    const auto* contents = reinterpret_cast<const Bytef*>(entry.contents.data());
    if (entry.contents.size() != size ||
        crc32(0, contents, static_cast<uInt>(entry.contents.size())) != crc) {
      return fail("size or CRC-32 of " + entry.name);
    }
    if (!central.ok || !extra.ok || !local.ok || !local_extra.ok) return fail("cut short");
    entries.push_back(entry);
  }
  if (central.at != directory_offset + directory_size) return fail("central directory size");
  return true;
}

}  // namespace zipread
