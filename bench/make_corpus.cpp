// Writes a folder of synthetic camera photographs for the benchmark.
//
// What a header-only reader meets is modelled on real cameras and phones: EXIF blocks with
// maker notes and thumbnails up to the 64 KB segment limit, in both byte orders, JFIF, ICC, MPF,
// XMP and Photoshop segments, quantisation and Huffman tables, a frame and a scan header, and
// compressed data after it. A few dozen header templates are built once with the fixture
// builder; each photograph is a copy of one with its GPS position patched in.
//
// File sizes follow each camera's spread (tens of KB to several MB), but only the first 16 KiB
// of compressed data and the last 2 KiB (ending in EOI) are written: the rest is a hole. A hole
// reads as zeros through the page cache like any other data, and nothing that stops at the start
// of scan reads that far, so the folder costs a fraction of its apparent size on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/exif_builder.h"

namespace {

using fixture::Bytes;
using fixture::Directory;
using fixture::Jpeg;
using fixture::Order;
using fixture::Tiff;

constexpr size_t kScanHeadSize = 16 * 1024;
constexpr size_t kTailSize = 2 * 1024;
constexpr size_t kMaxExifPayload = 65533;

// How a camera writes degrees, minutes and seconds.
enum class DmsStyle { kSecondsHundredths, kDecimalMinutes, kSecondsMicro };

// How a camera lays out its maker note: Apple's and Nikon's count offsets from the note itself,
// the plain kind from the TIFF header.
enum class MakerNote { kNone, kApple, kNikon, kPlain };

struct Camera {
  const char* name_prefix;
  const char* extension;
  Order order;
  const char* make;
  const char* model;
  DmsStyle dms;
  bool altitude;
  MakerNote maker_note;
  size_t maker_note_min, maker_note_max;
  size_t thumbnail_min, thumbnail_max;  // 0: no thumbnail
  bool jfif, mpf, xmp, photoshop, adobe, dri;
  size_t icc_size, xmp_size;  // 0: none
  double median_mb, spread;   // file size: log-normal around the median
  double min_mb, max_mb;
  int weight;
};

// About two in five photographs big-endian ("MM"); mean header about 22 KB, mean apparent file
// size about 1.3 MB.
// clang-format off
const Camera kCameras[] = {
    // Phone, big-endian, Display P3 profile, restart interval.
    {"IMG_", ".JPG", Order::kMotorola, "Apple", "iPhone 12", DmsStyle::kSecondsHundredths, true,
     MakerNote::kApple, 900, 2400, 6000, 14000,
     false, false, false, false, false, true, 548, 0,
     0.6, 0.5, 0.2, 4.0, 30},
    // Phone, little-endian, a thumbnail that nearly fills the segment, MPF index.
    {"IMG_", ".jpg", Order::kIntel, "samsung", "SM-G991B", DmsStyle::kSecondsMicro, true,
     MakerNote::kPlain, 600, 1500, 30000, 58000,
     false, true, false, false, false, false, 0, 0,
     0.7, 0.5, 0.2, 6.0, 22},
    // Compact camera, little-endian, XMP after the tables.
    {"DSCN", ".JPG", Order::kIntel, "NIKON", "COOLPIX P6000", DmsStyle::kDecimalMinutes, false,
     MakerNote::kNikon, 2500, 4000, 4000, 9000,
     false, false, true, false, false, false, 0, 4000,
     0.16, 0.5, 0.05, 2.0, 15},
    // System camera, big-endian, large maker note and ICC profile.
    {"DSC", ".JPG", Order::kMotorola, "NIKON CORPORATION", "NIKON Z 6", DmsStyle::kSecondsMicro, true,
     MakerNote::kNikon, 20000, 38000, 8000, 20000,
     false, false, false, false, false, false, 3144, 0,
     1.8, 0.4, 0.6, 12.0, 10},
    // Photograph exported by an editor: JFIF, EXIF rewritten big-endian without a maker note,
    // Photoshop resources with their own thumbnail, XMP, ICC, Adobe.
    {"photo-", ".jpeg", Order::kMotorola, "FUJIFILM", "X-T3", DmsStyle::kSecondsHundredths, true,
     MakerNote::kNone, 0, 0, 3000, 6000,
     true, false, true, true, true, false, 3144, 12000,
     0.4, 0.7, 0.04, 5.0, 13},
    // Single-lens reflex, little-endian, a maker note of its own kind and a 160 x 120 thumbnail:
    // headers of 10 to 17 KB, the commonest kind in public collections of camera photos.
    {"IMG_", ".JPG", Order::kIntel, "Canon", "Canon EOS 80D", DmsStyle::kSecondsHundredths, true,
     MakerNote::kPlain, 3000, 7000, 5000, 9000,
     false, false, false, false, false, false, 0, 0,
     3.5, 0.4, 1.0, 12.0, 18},
    // Older compact, little-endian, small maker note and thumbnail: headers of 7 to 12 KB.
    {"P", ".JPG", Order::kIntel, "Panasonic", "DMC-TZ7", DmsStyle::kSecondsMicro, false,
     MakerNote::kPlain, 1500, 3000, 3000, 7000,
     false, false, false, false, false, false, 0, 0,
     2.5, 0.5, 0.5, 6.0, 12},
    // Picture scaled down for the web: JFIF, small EXIF, no thumbnail.
    {"web_", ".jpg", Order::kIntel, "Google", "Pixel 7", DmsStyle::kSecondsMicro, true,
     MakerNote::kNone, 0, 0, 0, 0,
     true, false, false, false, false, false, 0, 0,
     0.09, 0.5, 0.02, 0.4, 10},
};
// clang-format on

struct Template {
  const Camera* camera;
  Bytes head;  // SOI up to the end of the scan header
  bool has_gps;
  // Positions in `head` of the GPS values to patch; 0 when absent.
  size_t latitude_ref_at = 0, latitude_at = 0, longitude_ref_at = 0, longitude_at = 0;
  size_t altitude_ref_at = 0, altitude_at = 0;
};

Bytes random_bytes(std::mt19937_64& rng, size_t size) {
  Bytes out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Entropy-coded data: random bytes with every 0xFF stuffed, as an encoder writes them.
Bytes entropy_bytes(std::mt19937_64& rng, size_t size) {
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    const auto b = static_cast<uint8_t>(rng());
    out.push_back(b);
    if (b == 0xFF && out.size() < size) out.push_back(0);
  }
  out.resize(size);
  if (out.back() == 0xFF) out.back() = 0x12;
  return out;
}

Bytes text_bytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

Bytes with_prefix(const char* prefix, size_t prefix_size, const Bytes& body) {
  Bytes out(prefix, prefix + prefix_size);
  append(out, body);
  return out;
}

Bytes encode(uint64_t value, int width, bool big_endian) {
  Bytes out(static_cast<size_t>(width));
  for (int i = 0; i < width; ++i) {
    const int shift = 8 * (big_endian ? width - 1 - i : i);
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(value >> shift);
  }
  return out;
}

void put32(Bytes& b, size_t at, uint32_t v, bool big_endian) {
  const Bytes e = encode(v, 4, big_endian);
  std::memcpy(b.data() + at, e.data(), 4);
}

uint32_t get16(const Bytes& b, size_t at, bool big_endian) {
  return big_endian ? (b[at] << 8u) | b[at + 1] : (b[at + 1] << 8u) | b[at];
}

uint32_t get32(const Bytes& b, size_t at, bool big_endian) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t byte = b[at + static_cast<size_t>(i)];
    v |= byte << (big_endian ? 8 * (3 - i) : 8 * i);
  }
  return v;
}

// The value position of `tag` in the directory at `dir` of a TIFF block starting at `block`.
size_t find_value(const Bytes& b, size_t block, size_t dir, uint32_t tag, bool big_endian) {
  const uint32_t count = get16(b, dir, big_endian);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = dir + 2 + 12 * i;
    if (get16(b, entry, big_endian) == tag) return block + get32(b, entry + 8, big_endian);
  }
  return 0;
}

// A baseline JPEG: its own tables, frame, scan and data.
Bytes small_jpeg(std::mt19937_64& rng, size_t size) {
  Jpeg j;
  j.soi().segment(0xDB, random_bytes(rng, 130)).sof(0xC0, 120, 160, 3);
  j.segment(0xC4, random_bytes(rng, 416));
  j.segment(0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
  const size_t used = j.bytes().size() + 2;
  j.raw(entropy_bytes(rng, size > used ? size - used : 16)).eoi();
  return std::move(j).bytes();
}

struct Tag {
  uint16_t tag;
  uint16_t format;
  uint32_t count;
  Bytes value;
};

// Maker-note entries: settings, then opaque blocks under tags no reader knows, up to `size`.
std::vector<Tag> maker_tags(std::mt19937_64& rng, size_t size, bool be) {
  std::vector<Tag> tags = {
      {0x0001, fixture::kUndefined, 4, text_bytes("0211")},
      {0x0002, fixture::kShort, 2, encode(0, 2, be)},
      {0x0004, fixture::kAscii, 8, text_bytes(std::string("FINE   ") + '\0')},
      {0x0005, fixture::kAscii, 8, text_bytes(std::string("AUTO   ") + '\0')},
      {0x0008, fixture::kSRational, 1, {}},
      {0x000B, fixture::kSShort, 2, encode(0, 4, be)},
  };
  append(tags[1].value, encode(200, 2, be));
  append(tags[4].value, encode(static_cast<uint32_t>(-2), 4, be));
  append(tags[4].value, encode(3, 4, be));
  size_t used = 200;
  for (uint16_t tag = 0x3000; used < size; ++tag) {
    const size_t n = std::min<size_t>(size - used, 64 + rng() % 6000);
    tags.push_back({tag, fixture::kUndefined, static_cast<uint32_t>(n), random_bytes(rng, n)});
    used += n + 12;
  }
  return tags;
}

// `prefix`, one directory right after it, then the directory's long values. Offsets are written
// as positions in the result plus `base`.
Bytes directory_blob(const Bytes& prefix, const std::vector<Tag>& tags, int64_t base, bool be) {
  Bytes out = prefix;
  append(out, encode(tags.size(), 2, be));
  size_t value_at = out.size() + 12 * tags.size() + 4;
  Bytes values;
  for (const Tag& t : tags) {
    append(out, encode(t.tag, 2, be));
    append(out, encode(t.format, 2, be));
    append(out, encode(t.count, 4, be));
    if (t.value.size() <= 4) {
      Bytes v = t.value;
      v.resize(4, 0);
      append(out, v);
    } else {
      append(out, encode(static_cast<uint64_t>(static_cast<int64_t>(value_at) + base), 4, be));
      append(values, t.value);
      if (t.value.size() % 2 != 0) values.push_back(0);
      value_at += t.value.size() + t.value.size() % 2;
    }
  }
  append(out, encode(0, 4, be));
  append(out, values);
  return out;
}

// A maker note of `size` bytes or so; the plain kind counts offsets from `position` (its place
// in the TIFF block).
Bytes maker_note(const Camera& cam, size_t size, uint32_t position, std::mt19937_64& rng) {
  const bool be = cam.order == Order::kMotorola;
  switch (cam.maker_note) {
    case MakerNote::kApple:
      return directory_blob(with_prefix("Apple iOS\0\0\x01MM", 14, {}), maker_tags(rng, size, true),
                            0, true);
    case MakerNote::kNikon: {
      Bytes prefix = with_prefix("Nikon\0\x02\x10\0\0", 10, {});
      append(prefix, be ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 8} : Bytes{'I', 'I', 42, 0, 8, 0, 0, 0});
      return directory_blob(prefix, maker_tags(rng, size, be), -10, be);
    }
    case MakerNote::kPlain:
      return directory_blob({}, maker_tags(rng, size, be), position, be);
    case MakerNote::kNone:
      break;
  }
  return {};
}

// An ICC profile: header, tag table, colorant and curve tags.
Bytes icc_profile(size_t size) {
  const char* sigs[] = {"rXYZ", "gXYZ", "bXYZ", "wtpt", "rTRC", "gTRC", "bTRC"};
  const size_t table_end = 128 + 4 + 12 * 7;
  const size_t curve_points =
      size > table_end + 4 * 20 + 3 * 12 ? (size - table_end - 80) / 6 - 6 : 1;
  Bytes tags;
  Bytes table = encode(7, 4, true);
  for (int i = 0; i < 7; ++i) {
    Bytes data;
    if (i < 4) {
      data = text_bytes("XYZ ");
      append(data, Bytes(16, 0));
      put32(data, 8, static_cast<uint32_t>(0x6FA2 + 1000 * i), true);
    } else {
      data = text_bytes("curv");
      append(data, encode(0, 4, true));
      append(data, encode(curve_points, 4, true));
      for (size_t p = 0; p < curve_points; ++p)
        append(data, encode(p * 65535 / curve_points, 2, true));
      if (data.size() % 4 != 0) data.resize(data.size() + 4 - data.size() % 4, 0);
    }
    append(table, text_bytes(sigs[i]));
    append(table, encode(table_end + tags.size(), 4, true));
    append(table, encode(data.size(), 4, true));
    append(tags, data);
  }
  Bytes header(128, 0);
  put32(header, 0, static_cast<uint32_t>(128 + table.size() + tags.size()), true);
  std::memcpy(header.data() + 4, "appl", 4);
  put32(header, 8, 0x04000000, true);
  std::memcpy(header.data() + 12, "mntrRGB XYZ ", 12);
  std::memcpy(header.data() + 36, "acspAPPL", 8);
  Bytes out = header;
  append(out, table);
  append(out, tags);
  return out;
}

// MPF index: two images, the second (a preview) left empty.
Bytes mpf_segment(Order order) {
  const bool be = order == Order::kMotorola;
  Tiff mpf(order);
  Bytes entries = encode(0x20030000, 4, be);
  append(entries, Bytes(12, 0));
  append(entries, encode(0x00010000, 4, be));
  append(entries, Bytes(12, 0));
  mpf.first().undefined(0xB000, "0100").longs(0xB001, {2});
  mpf.first().entry(0xB002, fixture::kUndefined, 32, entries);
  return with_prefix("MPF", 4, mpf.block());
}

// Photoshop image resources: resolution, a digest, and a JPEG thumbnail.
Bytes photoshop_segment(std::mt19937_64& rng, size_t thumbnail_size) {
  Bytes out = with_prefix("Photoshop 3.0", 14, {});
  const auto resource = [&out](uint16_t id, const Bytes& data) {
    append(out, text_bytes("8BIM"));
    append(out, encode(id, 2, true));
    append(out, {0, 0});
    append(out, encode(data.size(), 4, true));
    append(out, data);
    if (data.size() % 2 != 0) out.push_back(0);
  };
  Bytes resolution(16, 0);
  resolution[0] = 0;
  resolution[1] = 72;
  resource(0x03ED, resolution);
  resource(0x0425, random_bytes(rng, 16));
  const Bytes jpeg = small_jpeg(rng, thumbnail_size);
  Bytes thumb = encode(1, 4, true);
  append(thumb, encode(160, 4, true));
  append(thumb, encode(120, 4, true));
  append(thumb, encode(480, 4, true));
  append(thumb, encode(480 * 120, 4, true));
  append(thumb, encode(jpeg.size(), 4, true));
  append(thumb, encode(24, 2, true));
  append(thumb, encode(1, 2, true));
  append(thumb, jpeg);
  resource(0x040C, thumb);
  return out;
}

std::string xmp_packet(size_t size) {
  std::string x =
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n <rdf:RDF "
      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
      "  <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
      "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
      "    xmp:CreatorTool=\"Editor 5.2\" xmp:ModifyDate=\"2023-07-14T18:22:05+02:00\"\n"
      "    xmp:Rating=\"3\">\n"
      "   <dc:subject><rdf:Bag><rdf:li>holiday</rdf:li><rdf:li>coast</rdf:li></rdf:Bag>"
      "</dc:subject>\n"
      "  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n";
  const std::string end = "<?xpacket end=\"w\"?>";
  // Packets are padded with whitespace so that editors can grow them in place.
  while (x.size() + end.size() < size) x += x.size() % 100 == 99 ? '\n' : ' ';
  return x + end;
}

// The EXIF payload; `note` is the maker note (empty for none).
Bytes exif_payload(const Camera& cam, bool with_gps, const Bytes& note, const Bytes& thumb,
                   uint32_t* gps_offset, uint32_t* exif_offset) {
  Tiff tiff(cam.order);
  Directory& ifd0 = tiff.first();
  Directory& exif = tiff.add_directory();
  Directory& interop = tiff.add_directory();
  Directory* gps = with_gps ? &tiff.add_directory() : nullptr;
  Directory* ifd1 = thumb.empty() ? nullptr : &tiff.add_directory();

  ifd0.ascii(271, cam.make).ascii(272, cam.model).shorts(274, {1});
  ifd0.rationals(282, {{72, 1}}).rationals(283, {{72, 1}}).shorts(296, {2});
  ifd0.ascii(305, "Firmware 1.02").ascii(306, "2023:07:14 18:22:05").shorts(531, {1});
  ifd0.pointer(fixture::kExifPointer, exif);
  if (gps != nullptr) ifd0.pointer(fixture::kGpsPointer, *gps);
  if (ifd1 != nullptr) ifd0.link(*ifd1);

  exif.rationals(33434, {{1, 250}}).rationals(33437, {{28, 10}}).shorts(34850, {2});
  exif.shorts(34855, {200}).undefined(36864, "0232");
  exif.ascii(36867, "2023:07:14 18:22:05").ascii(36868, "2023:07:14 18:22:05");
  exif.undefined(37121, std::string("\x01\x02\x03\x00", 4));
  exif.srationals(37377, {{7965784, 1000000}}).rationals(37378, {{2970854, 1000000}});
  exif.srationals(37380, {{0, 6}}).rationals(37381, {{297, 100}});
  exif.shorts(37383, {5}).shorts(37385, {16}).rationals(37386, {{4200, 1000}});
  if (!note.empty())
    exif.entry(37500, fixture::kUndefined, static_cast<uint32_t>(note.size()), note);
  exif.undefined(37510, std::string("ASCII\0\0\0", 8) + std::string(56, ' '));
  exif.ascii(37520, "512").ascii(37521, "512").undefined(40960, "0100").shorts(40961, {1});
  exif.longs(40962, {4032}).longs(40963, {3024}).pointer(fixture::kInteropPointer, interop);
  exif.shorts(41495, {2}).undefined(41728, "\x03").undefined(41729, "\x01");
  exif.shorts(41986, {0}).shorts(41987, {0}).shorts(41989, {26}).shorts(41990, {0});
  exif.ascii(42036, "Lens 4.2mm f/2.8");

  interop.ascii(1, "R98").undefined(2, "0100");

  if (gps != nullptr) {
    gps->entry(0, fixture::kByte, 4, {2, 3, 0, 0});
    gps->ascii(1, "N").rationals(2, {{1, 1}, {2, 1}, {3, 1}});
    gps->ascii(3, "E").rationals(4, {{4, 1}, {5, 1}, {6, 1}});
    if (cam.altitude) gps->entry(5, fixture::kByte, 1, {0}).rationals(6, {{7, 1}});
    gps->rationals(7, {{16, 1}, {22, 1}, {5, 1}}).ascii(18, "WGS-84").ascii(29, "2023:07:14");
  }
  if (ifd1 != nullptr) {
    const auto size = static_cast<uint32_t>(thumb.size());
    ifd1->shorts(259, {6}).rationals(282, {{72, 1}}).rationals(283, {{72, 1}}).shorts(296, {2});
    ifd1->raw(513, fixture::kLong, 1, fixture::block_end(size)).longs(514, {size});
    tiff.tail(thumb);
  }
  Bytes payload = tiff.payload();
  *exif_offset = tiff.offset_of(exif);
  *gps_offset = gps != nullptr ? tiff.offset_of(*gps) : 0;
  return payload;
}

Template make_template(const Camera& cam, bool with_gps, std::mt19937_64& rng) {
  const bool be = cam.order == Order::kMotorola;
  auto pick = [&rng](size_t lo, size_t hi) {
    return hi <= lo ? lo : lo + static_cast<size_t>(rng() % (hi - lo + 1));
  };

  Bytes thumb;
  if (cam.thumbnail_max > 0) thumb = small_jpeg(rng, pick(cam.thumbnail_min, cam.thumbnail_max));
  const size_t note_size =
      cam.maker_note == MakerNote::kNone ? 0 : pick(cam.maker_note_min, cam.maker_note_max);
  // The plain maker note needs its own place in the block: a first pass finds it.
  const uint64_t note_seed = rng();
  std::mt19937_64 note_rng(note_seed);
  Bytes note = maker_note(cam, note_size, 0, note_rng);
  uint32_t gps_offset = 0, exif_offset = 0;
  Bytes payload = exif_payload(cam, with_gps, note, Bytes(thumb.size()), &gps_offset, &exif_offset);
  // Keep the whole EXIF payload inside one segment, as cameras do.
  if (payload.size() > kMaxExifPayload) {
    thumb = small_jpeg(rng, thumb.size() - (payload.size() - kMaxExifPayload) - 64);
    payload = exif_payload(cam, with_gps, note, Bytes(thumb.size()), &gps_offset, &exif_offset);
  }
  if (cam.maker_note == MakerNote::kPlain) {
    const size_t at = find_value(payload, 6, 6 + exif_offset, 37500, be) - 6;
    note_rng.seed(note_seed);
    note = maker_note(cam, note_size, static_cast<uint32_t>(at), note_rng);
  }
  payload = exif_payload(cam, with_gps, note, thumb, &gps_offset, &exif_offset);

  Jpeg j;
  j.soi();
  if (cam.jfif) j.segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 72, 0, 72, 0, 0});
  const size_t exif_at = j.bytes().size() + 4;  // payload start
  j.segment(0xE1, payload);
  const Bytes xmp =
      with_prefix("http://ns.adobe.com/xap/1.0/", 29, text_bytes(xmp_packet(cam.xmp_size)));
  if (cam.photoshop) j.segment(0xED, photoshop_segment(rng, pick(5000, 12000)));
  if (cam.xmp && cam.photoshop) j.segment(0xE1, xmp);
  if (cam.icc_size > 0)
    j.segment(0xE2, with_prefix("ICC_PROFILE\0\x01\x01", 14, icc_profile(cam.icc_size)));
  if (cam.mpf) j.segment(0xE2, mpf_segment(cam.order));
  if (cam.adobe) j.segment(0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 1});
  if (cam.jfif) {
    j.segment(0xDB, random_bytes(rng, 65)).segment(0xDB, random_bytes(rng, 65));
  } else {
    j.segment(0xDB, random_bytes(rng, 130));
  }
  if (cam.dri) j.segment(0xDD, {0, 0});
  j.sof(0xC0, 3024, 4032, 3);
  if (cam.jfif) {
    for (size_t size : {29u, 179u, 29u, 179u}) j.segment(0xC4, random_bytes(rng, size));
  } else {
    j.segment(0xC4, random_bytes(rng, 416));
  }
  if (cam.xmp && !cam.photoshop) j.segment(0xE1, xmp);
  j.segment(0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});

  Template t{&cam, std::move(j).bytes(), with_gps};
  if (with_gps) {
    const size_t block = exif_at + 6;
    const size_t dir = block + gps_offset;
    // Short values (the reference letters) sit in the entry itself.
    const uint32_t count = get16(t.head, dir, be);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = dir + 2 + 12 * i;
      const uint32_t tag = get16(t.head, entry, be);
      const size_t value_at = block + get32(t.head, entry + 8, be);
      if (tag == 1) t.latitude_ref_at = entry + 8;
      if (tag == 2) t.latitude_at = value_at;
      if (tag == 3) t.longitude_ref_at = entry + 8;
      if (tag == 4) t.longitude_at = value_at;
      if (tag == 5) t.altitude_ref_at = entry + 8;
      if (tag == 6) t.altitude_at = value_at;
    }
  }
  return t;
}

void patch_dms(Template& t, size_t at, double degrees) {
  const bool be = t.camera->order == Order::kMotorola;
  const double a = std::fabs(degrees);
  const auto d = static_cast<uint32_t>(a);
  const double minutes = (a - d) * 60.0;
  uint32_t parts[6] = {d, 1, 0, 1, 0, 1};
  switch (t.camera->dms) {
    case DmsStyle::kSecondsHundredths:
    case DmsStyle::kSecondsMicro: {
      const uint32_t scale = t.camera->dms == DmsStyle::kSecondsMicro ? 1000000 : 100;
      const auto m = static_cast<uint32_t>(minutes);
      parts[2] = m;
      parts[4] = static_cast<uint32_t>(std::lround((minutes - m) * 60.0 * scale));
      parts[5] = scale;
      break;
    }
    case DmsStyle::kDecimalMinutes:
      parts[2] = static_cast<uint32_t>(std::lround(minutes * 10000));
      parts[3] = 10000;
      break;
  }
  for (size_t i = 0; i < 6; ++i) put32(t.head, at + 4 * i, parts[i], be);
}

void patch_position(Template& t, double latitude, double longitude, double altitude) {
  if (!t.has_gps) return;
  t.head[t.latitude_ref_at] = latitude < 0 ? 'S' : 'N';
  t.head[t.longitude_ref_at] = longitude < 0 ? 'W' : 'E';
  patch_dms(t, t.latitude_at, latitude);
  patch_dms(t, t.longitude_at, longitude);
  if (t.altitude_at != 0) {
    const bool be = t.camera->order == Order::kMotorola;
    t.head[t.altitude_ref_at] = altitude < 0 ? 1 : 0;
    put32(t.head, t.altitude_at, static_cast<uint32_t>(std::lround(std::fabs(altitude) * 10)), be);
    put32(t.head, t.altitude_at + 4, 10, be);
  }
}

// A journey: bursts of shots at one spot, walks between spots, now and then a return to an
// earlier place, and a jump to another region.
class Journey {
 public:
  explicit Journey(std::mt19937_64& rng) : rng_(rng) { jump(); }

  void next(double& latitude, double& longitude, double& altitude) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double r = u(rng_);
    if (r < 0.25) {
      // Same spot as the previous shot: a duplicate.
    } else if (r < 0.30 && !visited_.empty()) {
      const Spot& s = visited_[static_cast<size_t>(rng_() % visited_.size())];
      lat_ = s.lat;
      lon_ = s.lon;
    } else if (r < 0.301) {
      jump();
    } else {
      lat_ += (u(rng_) - 0.5) * 0.004;
      lon_ += (u(rng_) - 0.5) * 0.004;
      alt_ += (u(rng_) - 0.5) * 6;
      if (visited_.size() < 4096) visited_.push_back({lat_, lon_});
    }
    latitude = lat_;
    longitude = lon_;
    altitude = alt_;
  }

 private:
  struct Spot {
    double lat, lon;
  };
  void jump() {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    lat_ = (u(rng_) - 0.5) * 140;
    lon_ = (u(rng_) - 0.5) * 350;
    alt_ = (u(rng_) - 0.1) * 900;
  }
  std::mt19937_64& rng_;
  double lat_ = 0, lon_ = 0, alt_ = 0;
  std::vector<Spot> visited_;
};

bool write_photo(const std::string& path, const Bytes& head, const Bytes& scan_head,
                 const Bytes& tail, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const size_t head_size = head.size() + scan_head.size();
  if (size < head_size + tail.size()) size = head_size + tail.size();
  iovec parts[2] = {{const_cast<uint8_t*>(head.data()), head.size()},
                    {const_cast<uint8_t*>(scan_head.data()), scan_head.size()}};
  bool ok = ::writev(fd, parts, 2) == static_cast<ssize_t>(head_size);
  ok = ok && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  ok = ok && ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())) ==
                 static_cast<ssize_t>(tail.size());
  return ::close(fd) == 0 && ok;
}

int usage() {
  std::fputs(
      "usage: make_corpus FOLDER [COUNT] [SEED]\n"
      "Writes COUNT (default 10000) synthetic photographs into FOLDER, which must be empty or\n"
      "not exist yet.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4 || argv[1][0] == '-') return usage();
  const std::string folder = argv[1];
  const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
  const unsigned long long seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  if (count <= 0 || count > 10000000) return usage();
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    std::perror(folder.c_str());
    return 1;
  }

  std::mt19937_64 rng(seed);
  // Per camera, several header variants (maker note and thumbnail sizes differ) with GPS, and
  // one without: about one photograph in ten has no position.
  constexpr int kVariants = 6;
  std::vector<Template> with_gps;
  std::vector<Template> without_gps;
  std::vector<int> weights;
  for (const Camera& cam : kCameras) {
    for (int v = 0; v < kVariants; ++v) {
      with_gps.push_back(make_template(cam, true, rng));
      weights.push_back(cam.weight);
    }
    without_gps.push_back(make_template(cam, false, rng));
  }
  std::discrete_distribution<size_t> pick_camera(weights.begin(), weights.end());

  const Bytes scan_head = entropy_bytes(rng, kScanHeadSize);
  Bytes tail = entropy_bytes(rng, kTailSize);
  tail[kTailSize - 2] = 0xFF;
  tail[kTailSize - 1] = 0xD9;

  Journey journey(rng);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  double header_bytes = 0;
  double apparent_bytes = 0;
  char name[64];
  for (long i = 0; i < count; ++i) {
    const size_t index = pick_camera(rng);
    Template& t = u(rng) < 0.1 ? without_gps[index / kVariants] : with_gps[index];
    double latitude, longitude, altitude;
    journey.next(latitude, longitude, altitude);
    patch_position(t, latitude, longitude, altitude);

    const Camera& cam = *t.camera;
    double mb = cam.median_mb * std::exp(cam.spread * normal(rng));
    mb = std::fmin(std::fmax(mb, cam.min_mb), cam.max_mb);
    const auto size = static_cast<size_t>(mb * 1024 * 1024);

    std::snprintf(name, sizeof name, "%s%07ld%s", cam.name_prefix, i + 1, cam.extension);
    const std::string path = folder + "/" + name;
    if (!write_photo(path, t.head, scan_head, tail, size)) {
      std::perror(path.c_str());
      return 1;
    }
    header_bytes += static_cast<double>(t.head.size());
    apparent_bytes +=
        static_cast<double>(std::max(size, t.head.size() + scan_head.size() + tail.size()));
  }
  std::printf("%ld photos in %s: mean header %.1f KB, mean file %.2f MB\n", count, folder.c_str(),
              header_bytes / static_cast<double>(count) / 1024,
              apparent_bytes / static_cast<double>(count) / (1024 * 1024));
  return 0;
}
