#include "support/exif_builder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <zlib.h>

#include "support/platform.h"

namespace fixture {

namespace {

void put(Bytes& out, size_t at, const Bytes& bytes) {
  if (bytes.empty()) return;
  std::memcpy(out.data() + at, bytes.data(), bytes.size());
}

int element_size(uint16_t format) {
  static const int kSizes[] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return format < 14 ? kSizes[format] : 1;
}

// A zlib stream, as PNG's compressed text chunks hold.
Bytes zlib_stream(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes packed(size);
  compress2(packed.data(), &size, data.data(), static_cast<uLong>(data.size()), 9);
  packed.resize(size);
  return packed;
}

}  // namespace

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes Directory::encode(uint64_t value, int width) const {
  return tiff_->big_endian() ? be(value, width) : le(value, width);
}

Directory& Directory::entry(uint16_t tag, uint16_t format, uint32_t count, Bytes value) {
  entries_.push_back(Entry{tag, format, count, std::move(value)});
  return *this;
}

Directory& Directory::raw(uint16_t tag, uint16_t format, uint32_t count, Field field) {
  Entry e{tag, format, count, {}};
  e.raw = true;
  e.field = field;
  entries_.push_back(e);
  return *this;
}

Directory& Directory::pointer(uint16_t tag, const Directory& target, uint16_t format) {
  Entry e{tag, format, 1, {}};
  e.target = target.index();
  entries_.push_back(e);
  return *this;
}

Directory& Directory::numbers(uint16_t tag, uint16_t format, size_t count,
                              const std::vector<uint64_t>& parts, int width) {
  Bytes value;
  for (uint64_t part : parts) value = join({value, encode(part, width)});
  return entry(tag, format, static_cast<uint32_t>(count), std::move(value));
}

Directory& Directory::ascii(uint16_t tag, const std::string& text) {
  return entry(tag, kAscii, static_cast<uint32_t>(text.size() + 1), join({bytes_of(text), {0}}));
}

Directory& Directory::undefined(uint16_t tag, const std::string& bytes) {
  return entry(tag, kUndefined, static_cast<uint32_t>(bytes.size()), bytes_of(bytes));
}

Directory& Directory::shorts(uint16_t tag, std::initializer_list<uint16_t> values) {
  return numbers(tag, kShort, values.size(), {values.begin(), values.end()}, 2);
}

Directory& Directory::longs(uint16_t tag, std::initializer_list<uint32_t> values) {
  return numbers(tag, kLong, values.size(), {values.begin(), values.end()}, 4);
}

Directory& Directory::rationals(uint16_t tag,
                                std::initializer_list<std::pair<uint32_t, uint32_t>> values) {
  std::vector<uint64_t> parts;
  for (const auto& v : values) parts.insert(parts.end(), {v.first, v.second});
  return numbers(tag, kRational, values.size(), parts, 4);
}

Directory& Directory::srationals(uint16_t tag,
                                 std::initializer_list<std::pair<int32_t, int32_t>> values) {
  std::vector<uint64_t> parts;
  for (const auto& v : values) {
    parts.insert(parts.end(), {static_cast<uint32_t>(v.first), static_cast<uint32_t>(v.second)});
  }
  return numbers(tag, kSRational, values.size(), parts, 4);
}

Directory& Directory::floats(uint16_t tag, std::initializer_list<float> values) {
  std::vector<uint64_t> parts;
  for (float v : values) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    parts.push_back(bits);
  }
  return numbers(tag, kFloat, values.size(), parts, 4);
}

Directory& Directory::doubles(uint16_t tag, std::initializer_list<double> values) {
  std::vector<uint64_t> parts(values.size());
  std::memcpy(parts.data(), values.begin(), 8 * values.size());
  return numbers(tag, kDouble, values.size(), parts, 8);
}

Directory& Directory::integer(uint16_t tag, uint16_t format, int64_t value) {
  return entry(tag, format, 1, encode(static_cast<uint64_t>(value), element_size(format)));
}

Tiff::Tiff(Order order) : order_(order), mark_(order == Order::kIntel ? "II" : "MM") {
  add_directory();
}

Directory& Tiff::add_directory() {
  directories_.push_back(Directory(this, static_cast<int>(directories_.size())));
  return directories_.back();
}

Bytes Tiff::block() const {
  // First pass: where every directory and every long value goes.
  offsets_.assign(directories_.size(), 0);
  std::vector<std::vector<uint32_t>> value_offsets(directories_.size());
  uint32_t position = 8;
  for (const Directory& dir : directories_) {
    offsets_[static_cast<size_t>(dir.index())] = position;
    position += 2 + 12 * static_cast<uint32_t>(dir.entries_.size()) + 4;
    for (const Directory::Entry& e : dir.entries_) {
      value_offsets[static_cast<size_t>(dir.index())].push_back(position);
      if (!e.raw && e.target < 0 && e.value.size() > 4) {
        position += static_cast<uint32_t>(e.value.size());
      }
    }
  }
  const auto length = static_cast<uint32_t>(position + tail_.size());
  const auto resolve = [length](Field f) { return f.from_end ? length + f.value : f.value; };

  const Directory& any = directories_.front();
  Bytes out(position, 0);
  for (size_t i = 0; i < 2 && i < mark_.size(); ++i) out[i] = static_cast<uint8_t>(mark_[i]);
  put(out, 2, any.encode(magic_, 2));
  put(out, 4, any.encode(first_offset_, 4));
  for (const Directory& dir : directories_) {
    const uint32_t base = offsets_[static_cast<size_t>(dir.index())];
    put(out, base, dir.encode(dir.entries_.size(), 2));
    for (size_t i = 0; i < dir.entries_.size(); ++i) {
      const Directory::Entry& e = dir.entries_[i];
      const size_t at = base + 2 + 12 * i;
      put(out, at, dir.encode(e.tag, 2));
      put(out, at + 2, dir.encode(e.format, 2));
      put(out, at + 4, dir.encode(e.count, 4));
      if (e.raw) {
        put(out, at + 8, dir.encode(resolve(e.field), 4));
      } else if (e.target >= 0) {
        put(out, at + 8, dir.encode(offsets_.at(static_cast<size_t>(e.target)), 4));
      } else if (e.value.size() <= 4) {
        put(out, at + 8, e.value);
      } else {
        const uint32_t value_at = value_offsets[static_cast<size_t>(dir.index())][i];
        put(out, at + 8, dir.encode(value_at, 4));
        put(out, value_at, e.value);
      }
    }
    uint32_t next = dir.next_ == -2 ? resolve(dir.next_field_) : 0;
    if (dir.next_ >= 0) next = offsets_.at(static_cast<size_t>(dir.next_));
    put(out, base + 2 + 12 * dir.entries_.size(), dir.encode(next, 4));
  }
  out.insert(out.end(), tail_.begin(), tail_.end());
  return out;
}

Bytes Tiff::numbers(std::initializer_list<uint64_t> values, int width) const {
  Bytes out;
  for (uint64_t value : values)
    out = join({out, big_endian() ? be(value, width) : le(value, width)});
  return out;
}

Bytes Tiff::payload() const {
  return join({{'E', 'x', 'i', 'f', 0, 0}, block()});
}

uint32_t Tiff::offset_of(const Directory& dir) const {
  if (offsets_.empty()) block();
  return offsets_.at(static_cast<size_t>(dir.index()));
}

Jpeg& Jpeg::segment(uint8_t marker, const Bytes& payload) {
  if (payload.size() > 65533) throw std::length_error("segment payload too long");
  return segment_with_length(marker, static_cast<uint16_t>(payload.size() + 2), payload);
}

Jpeg& Jpeg::segment_with_length(uint8_t marker, uint16_t length, const Bytes& payload) {
  raw({0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  return raw(payload);
}

Jpeg& Jpeg::sof(uint8_t marker, uint16_t height, uint16_t width, uint8_t components) {
  Bytes payload = join({{8}, be(height, 2), be(width, 2), {components}});
  for (uint8_t c = 1; c <= components; ++c) payload.insert(payload.end(), {c, 0x11, 0});
  return segment(marker, payload);
}

Jpeg& Jpeg::dqt() {
  return segment(0xDB, join({{0}, Bytes(64, 1)}));  // 8-bit precision, table 0
}

Jpeg& Jpeg::dht() {
  return segment(0xC4, join({{0, 1}, Bytes(16, 0)}));  // one DC code of length 1
}

Jpeg& Jpeg::sos() {
  segment(0xDA, {1, 1, 0x00, 0, 63, 0});
  return raw({0x12, 0x34, 0xFF, 0x00, 0x56});
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

Bytes filler(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 7 + 1);
  return out;
}

Bytes png_chunk(const std::string& type, const Bytes& data) {
  Bytes typed = join({bytes_of(type), data});
  return join(
      {be(data.size(), 4), typed, be(crc32(0, typed.data(), static_cast<uInt>(typed.size())), 4)});
}

// An item's information; a 'mime' item's content type follows its name.
Bytes infe(uint8_t version, uint32_t id, const std::string& type,
           const std::string& content_type = "") {
  Bytes fields = join({be(id, version == 2 ? 2 : 4), be(0, 2), bytes_of(type), Bytes{0}});
  if (!content_type.empty()) fields = join({fields, bytes_of(content_type), Bytes{0}});
  return full_box("infe", version, fields);
}

}  // namespace

Bytes be(uint64_t value, int width) {
  Bytes out(static_cast<size_t>(width));
  for (int i = 0; i < width; ++i)
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
  return out;
}

Bytes le(uint64_t value, int width) {
  Bytes out = be(value, width);
  std::reverse(out.begin(), out.end());
  return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes box(const std::string& type, const Bytes& payload, bool large) {
  if (large) return join({be(1, 4), bytes_of(type), be(payload.size() + 16, 8), payload});
  return join({be(payload.size() + 8, 4), bytes_of(type), payload});
}

Bytes full_box(const std::string& type, uint8_t version, const Bytes& payload) {
  return box(type, join({Bytes{version, 0, 0, 0}, payload}));
}

Bytes exif_item(const Tiff& tiff) {
  return join({be(6, 4), tiff.payload()});
}

Bytes heif(const Bytes& item, const HeifOptions& o) {
  const bool avif = o.brand == "avif";
  const Bytes ftyp = box("ftyp", join({bytes_of(o.brand), be(0, 4), bytes_of("mif1"),
                                       bytes_of(o.brand), bytes_of("miaf")}));
  // The pieces of the item, in reverse order after the image data (or alone in idat): where each
  // lies in the data, and its length.
  const size_t pieces = static_cast<size_t>(o.pieces);
  Bytes data = o.in_idat ? Bytes() : filler(o.image_size);
  const std::pair<uint64_t, uint64_t> other = {data.size(), o.other_exif.size()};
  data.insert(data.end(), o.other_exif.begin(), o.other_exif.end());
  const std::pair<uint64_t, uint64_t> xmp = {data.size(), o.xmp.size()};
  data.insert(data.end(), o.xmp.begin(), o.xmp.end());
  std::vector<std::pair<uint64_t, uint64_t>> extents(pieces);
  for (size_t i = pieces; i-- > 0;) {
    const auto begin = static_cast<long>(item.size() * i / pieces);
    const auto end = static_cast<long>(item.size() * (i + 1) / pieces);
    extents[i] = {data.size(), static_cast<uint64_t>(end - begin)};
    data.insert(data.end(), item.begin() + begin, item.begin() + end);
  }

  const auto meta = [&](uint64_t mdat_data) {
    const int id_width = o.iloc_version < 2 ? 2 : 4;
    const uint64_t source = o.in_idat ? 0 : mdat_data;
    const uint64_t base = o.base_offset_size != 0 ? source : 0;
    const auto item_entry = [&](uint32_t id,
                                const std::vector<std::pair<uint64_t, uint64_t>>& spans) {
      Bytes e = be(id, id_width);
      if (o.iloc_version >= 1) e = join({e, be(o.in_idat && id == 2 ? 1 : 0, 2)});
      e = join({e, be(0, 2), be(base, o.base_offset_size), be(spans.size(), 2)});
      for (const auto& extent : spans) {
        e = join({e, be(0, o.index_size), be(extent.first - base, o.offset_size),
                  be(extent.second, o.length_size)});
      }
      return e;
    };
    std::vector<std::pair<uint64_t, uint64_t>> exif_extents = extents;
    for (auto& extent : exif_extents) extent.first += source;
    const bool two = !o.other_exif.empty();
    const uint8_t sizes[2] = {static_cast<uint8_t>(o.offset_size << 4 | o.length_size),
                              static_cast<uint8_t>(o.base_offset_size << 4 | o.index_size)};
    const uint32_t tiles = static_cast<uint32_t>(o.tiles);
    const bool has_xmp = !o.xmp.empty();
    const uint32_t items = 2 + tiles + (two ? 2 : 0) + (has_xmp ? 1 : 0);
    Bytes iloc = join({Bytes(sizes, sizes + 2), be(items, id_width)});
    Bytes infes = join({be(items, 2), infe(o.infe_version, 1, avif ? "av01" : "hvc1")});
    const uint64_t image_size = o.in_idat ? 0 : o.image_size;
    iloc = join({iloc, item_entry(1, {{mdat_data, image_size}})});
    // Item 1000, another image, and 1001, its Exif item: listed and laid out before item 2.
    Bytes references;
    if (two) {
      iloc = join({iloc, item_entry(1000, {{mdat_data, image_size}}),
                   item_entry(1001, {{source + other.first, other.second}})});
      infes = join({infes, infe(o.infe_version, 1000, "hvc1"), infe(o.infe_version, 1001, "Exif")});
      references = box("cdsc", join({be(1001, 2), be(1, 2), be(1000, 2)}));
    }
    if (!o.unreferenced)
      references = join({references, box("cdsc", join({be(2, 2), be(1, 2), be(1, 2)}))});
    // Item 2000, the XMP packet, listed before the Exif item.
    if (has_xmp) {
      iloc = join({iloc, item_entry(2000, {{source + xmp.first, xmp.second}})});
      infes = join({infes, infe(o.infe_version, 2000, "mime", "application/rdf+xml")});
      references = join({references, box("cdsc", join({be(2000, 2), be(1, 2), be(1, 2)}))});
    }
    for (uint32_t tile = 0; tile < tiles; ++tile) {
      iloc = join({iloc, item_entry(3 + tile, {{mdat_data, image_size / (tiles + 1)}})});
      infes = join({infes, infe(o.infe_version, 3 + tile, avif ? "av01" : "hvc1")});
    }
    iloc = join({iloc, item_entry(2, exif_extents)});
    infes = join({infes, infe(o.infe_version, 2, "Exif")});
    Bytes children =
        join({full_box("hdlr", 0, join({be(0, 4), bytes_of("pict"), Bytes(12, 0), Bytes{0}})),
              full_box("pitm", 0, be(1, 2)), full_box("iinf", 0, infes),
              full_box("iref", 0, references), full_box("iloc", o.iloc_version, iloc)});
    if (o.in_idat) children = join({children, box("idat", data)});
    return full_box("meta", 0, children);
  };
  const Bytes mdat_payload = o.in_idat ? filler(o.image_size) : data;
  const size_t meta_size = meta(0).size();
  if (o.meta_last) {
    return join({ftyp, box("mdat", mdat_payload), meta(ftyp.size() + 8)});
  }
  return join({ftyp, meta(ftyp.size() + meta_size + 8), box("mdat", mdat_payload)});
}

Bytes cr3(const Bytes& gps_block, size_t image_size, size_t maker_note_size,
          const Bytes& exif_block) {
  static const uint8_t kUuid[16] = {0x85, 0xC0, 0xB6, 0x87, 0x82, 0x0F, 0x11, 0xE0,
                                    0x81, 0x11, 0xF4, 0xCE, 0x46, 0x2B, 0x6A, 0x48};
  Tiff camera;
  camera.first().ascii(271, "Canon").ascii(272, "Canon EOS R5");
  const Bytes canon =
      join({Bytes(kUuid, kUuid + 16), box("CNCV", bytes_of("CanonCR3_001/00.09.00/00.00.00")),
            box("CMT1", camera.block()), exif_block.empty() ? Bytes() : box("CMT2", exif_block),
            box("CMT3", filler(maker_note_size)), box("CMT4", gps_block)});
  return join({box("ftyp", join({bytes_of("crx "), be(1, 4), bytes_of("crx isom")})),
               box("moov", join({box("uuid", canon), full_box("mvhd", 0, Bytes(96, 0))})),
               box("mdat", filler(image_size))});
}

Bytes jxl(const Bytes& item, bool exif_first, size_t image_size) {
  const Bytes head = join({box("JXL ", {0x0D, 0x0A, 0x87, 0x0A}),
                           box("ftyp", join({bytes_of("jxl "), be(0, 4), bytes_of("jxl ")}))});
  const Bytes exif = box("Exif", item);
  const Bytes code = box("jxlc", join({Bytes{0xFF, 0x0A}, filler(image_size)}));
  return exif_first ? join({head, exif, code}) : join({head, code, exif});
}

Bytes png_profile(const std::string& type, const Bytes& exif, const std::string& profile,
                  bool plain) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = "\nexif\n" + std::to_string(exif.size()) + "\n";
  for (size_t i = 0; i < exif.size(); ++i) {
    text += kHex[exif[i] >> 4];
    text += kHex[exif[i] & 15];
    if (i % 36 == 35 || i + 1 == exif.size()) text += '\n';
  }
  const bool compress = type != "tEXt" && !plain;
  const Bytes data = compress ? zlib_stream(bytes_of(text)) : bytes_of(text);
  Bytes head = join({bytes_of("Raw profile type " + profile), Bytes{0}});
  if (type == "zTXt") head.push_back(0);
  if (type == "iTXt") head = join({head, Bytes{compress ? uint8_t{1} : uint8_t{0}, 0, 0, 0}});
  return png_chunk(type, join({head, data}));
}

Bytes png(const Bytes& exif, bool after_image, size_t image_size, const Bytes& text) {
  Bytes image;
  const Bytes data = filler(image_size);
  for (size_t at = 0; at < data.size(); at += 8192) {
    const size_t end = std::min(data.size(), at + 8192);
    const Bytes chunk = png_chunk(
        "IDAT", Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(end)));
    image.insert(image.end(), chunk.begin(), chunk.end());
  }
  const Bytes exif_chunk = exif.empty() ? Bytes() : png_chunk("eXIf", exif);
  return join({Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
               png_chunk("IHDR", join({be(640, 4), be(480, 4), Bytes{8, 2, 0, 0, 0}})), text,
               after_image ? image : exif_chunk, after_image ? exif_chunk : image,
               png_chunk("IEND", {})});
}

Bytes png_xmp(const std::string& packet, bool compressed) {
  const Bytes data = compressed ? zlib_stream(bytes_of(packet)) : bytes_of(packet);
  return png_chunk("iTXt", join({bytes_of("XML:com.adobe.xmp"),
                                 Bytes{0, static_cast<uint8_t>(compressed), 0, 0, 0}, data}));
}

Bytes webp(const Bytes& exif, size_t image_size, const std::string& xmp) {
  const auto chunk = [](const std::string& type, const Bytes& data) {
    Bytes out = join({bytes_of(type), le(data.size(), 4), data});
    if (data.size() % 2 != 0) out.push_back(0);
    return out;
  };
  const Bytes body =
      join({bytes_of("WEBP"), chunk("VP8X", join({Bytes{0x08, 0, 0, 0}, le(639, 3), le(479, 3)})),
            chunk("VP8 ", filler(image_size)), chunk("EXIF", exif),
            xmp.empty() ? Bytes() : chunk("XMP ", bytes_of(xmp))});
  return join({bytes_of("RIFF"), le(body.size(), 4), body});
}

Bytes video(const Bytes& boxes, const VideoOptions& o) {
  const Bytes ftyp = o.brand.empty()
                         ? Bytes()
                         : box("ftyp", join({bytes_of(o.brand), be(0x200, 4), bytes_of(o.brand)}));
  const int time_size = o.version1 ? 8 : 4;
  const Bytes mvhd = full_box("mvhd", o.version1 ? 1 : 0,
                              join({be(o.creation, time_size), be(o.creation, time_size),
                                    be(1000, 4), be(120, time_size), Bytes(80, 0)}));
  const Bytes moov =
      box("moov", join({mvhd, box("trak", filler(o.track_size)), boxes}), o.large_sizes);
  const Bytes media =
      join({o.wide ? box("wide", {}) : Bytes(), box("mdat", filler(o.media_size), o.large_sizes)});
  return o.moov_first ? join({ftyp, moov, media}) : join({ftyp, media, moov});
}

Bytes user_text(const std::string& type, const std::string& text) {
  return box(type, join({be(text.size(), 2), be(0x15C7, 2), bytes_of(text)}));
}

namespace {

Bytes item_list(const std::vector<std::pair<Bytes, std::string>>& items) {
  Bytes list;
  for (const auto& item : items) {
    const Bytes data = box("data", join({be(1, 4), be(0, 4), bytes_of(item.second)}));
    list = join({list, join({be(data.size() + 8, 4), item.first, data})});
  }
  return box("ilst", list);
}

Bytes handler(const std::string& type) {
  return full_box("hdlr", 0, join({be(0, 4), bytes_of(type), Bytes(12, 0), Bytes{0}}));
}

}  // namespace

Bytes keyed_meta(const std::vector<std::pair<std::string, std::string>>& items) {
  Bytes keys = be(items.size(), 4);
  std::vector<std::pair<Bytes, std::string>> values;
  for (const auto& item : items) {
    keys = join({keys, be(item.first.size() + 8, 4), bytes_of("mdta"), bytes_of(item.first)});
    values.emplace_back(be(values.size() + 1, 4), item.second);
  }
  return box("meta", join({handler("mdta"), full_box("keys", 0, keys), item_list(values)}));
}

Bytes listed_meta(const std::string& type, const std::string& text) {
  return full_box("meta", 0, join({handler("mdir"), item_list({{bytes_of(type), text}})}));
}

Bytes location_box(int32_t latitude, int32_t longitude, int32_t altitude, const Bytes& name) {
  const auto fixed = [](int32_t value) { return be(static_cast<uint32_t>(value), 4); };
  return full_box("loci", 0,
                  join({be(0x15C7, 2), name, Bytes{0}, fixed(longitude), fixed(latitude),
                        fixed(altitude), bytes_of("earth"), Bytes{0, 0}}));
}

Bytes raf(const Bytes& jpeg, size_t image_size) {
  constexpr size_t kJpegOffset = 148;
  Bytes head = join({bytes_of("FUJIFILMCCD-RAW 0201FF129502"), bytes_of("X-T3"), Bytes(28, 0),
                     bytes_of("0100"), Bytes(20, 0), be(kJpegOffset, 4), be(jpeg.size(), 4),
                     be(kJpegOffset + jpeg.size(), 4), be(image_size, 4)});
  head.resize(kJpegOffset, 0);
  return join({head, jpeg, filler(image_size)});
}

}  // namespace fixture
