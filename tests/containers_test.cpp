// The containers around the EXIF block, per container: positions in both byte orders, boxes and
// chunks before and after the EXIF data, cut and hostile sizes; which names are read and how the
// content decides the container.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "exif/exif_reader.h"
#include "output/output.h"
#include "photo/photo.h"
#include "support/exif_builder.h"
#include "support/platform.h"

using namespace std::string_literals;
using fixture::be;
using fixture::box;
using fixture::Bytes;
using fixture::bytes_of;
using fixture::HeifOptions;
using fixture::join;
using fixture::le;
using fixture::Order;
using fixture::Tiff;

namespace {

constexpr Order kOrders[] = {Order::kIntel, Order::kMotorola};
const std::string kLondon = "x,51.507332,-0.127667,+35\n";

// The GPS entries of a photo taken in London, 35 m up, in `gps`.
void london_entries(fixture::Directory& gps) {
  gps.ascii(1, "N").rationals(2, {{51, 1}, {30, 1}, {2640, 100}});
  gps.ascii(3, "W").rationals(4, {{0, 1}, {7, 1}, {3960, 100}});
  gps.integer(5, fixture::kByte, 0).rationals(6, {{35, 1}});
}

// A camera's block with the London position in its GPS directory.
Tiff& london(Tiff& tiff) {
  fixture::Directory& gps = tiff.add_directory();
  london_entries(gps);
  tiff.first().ascii(271, "Camera").pointer(fixture::kGpsPointer, gps);
  return tiff;
}

// That block bare, as a HEIF item or JPEG XL box ("item"), or in a JPEG.
Bytes london(Order order = Order::kIntel, const std::string& as = "block") {
  Tiff tiff(order);
  london(tiff);
  if (as == "item") return fixture::exif_item(tiff);
  if (as == "jpeg") return fixture::Jpeg().soi().app1_exif(tiff).dqt().sos().eoi().bytes();
  return tiff.block();
}

struct Read {
  PhotoFormat format;
  std::string csv;  // the CSV line for the name "x", or ""
  uint64_t fetched;
};

Read read(const Bytes& bytes) {
  ImageMetadata md;
  std::memset(&md, 0, sizeof md);
  MemoryInput input(bytes.data(), bytes.size());
  ExifReader reader(&md);
  Read r{reader.read_photo(input), "", input.bytes_fetched()};
  r.csv = platform::capture([&](FILE* out) {
    CsvWriter writer(out);
    RunContext run;
    run.writer = &writer;
    deliver_photo(run, md, "x", "x");
  });
  return r;
}

std::string csv(const Bytes& bytes) {
  return read(bytes).csv;
}

// The offset of the first `text` in `bytes`.
size_t find(const Bytes& bytes, const std::string& text) {
  const auto at = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
  EXPECT_NE(at, bytes.end()) << text;
  return static_cast<size_t>(at - bytes.begin());
}

// `bytes` with `value` written at `at`.
Bytes patched(Bytes bytes, size_t at, const Bytes& value) {
  std::copy(value.begin(), value.end(), bytes.begin() + static_cast<long>(at));
  return bytes;
}

}  // namespace

// Every container in both byte orders, as encoders and cameras lay it out; what the content is
// named whatever the name. A bare JPEG XL codestream is one, without a position; a video's ftyp
// brand is none.
TEST(Containers, EveryContainerInBothByteOrders) {
  for (Order order : kOrders) {
    const Bytes block = london(order), item = london(order, "item"), jpeg = london(order, "jpeg");
    const Bytes prefixed = join({bytes_of("Exif\0\0"s), block});
    HeifOptions avif;
    avif.brand = "avif";
    avif.meta_last = true;
    Tiff gps(order);  // CR3's GPS block is its own first directory
    london_entries(gps.first());
    const std::pair<Bytes, PhotoFormat> photos[] = {
        {jpeg, PhotoFormat::kJpeg},
        {block, PhotoFormat::kTiff},
        {fixture::heif(item), PhotoFormat::kHeif},
        {fixture::heif(item, avif), PhotoFormat::kHeif},
        {fixture::cr3(gps.block(), 64, 40000), PhotoFormat::kCr3},
        {fixture::raf(jpeg, 1 << 20), PhotoFormat::kRaf},
        {fixture::png(block), PhotoFormat::kPng},
        {fixture::png(block, true), PhotoFormat::kPng},
        {fixture::png(prefixed), PhotoFormat::kPng},
        {fixture::webp(block), PhotoFormat::kWebp},
        {fixture::webp(prefixed, 333), PhotoFormat::kWebp},
        {fixture::jxl(item), PhotoFormat::kJxl},
        {fixture::jxl(item, true), PhotoFormat::kJxl}};
    for (const auto& [bytes, format] : photos) {
      const Read r = read(bytes);
      EXPECT_EQ(r.csv, kLondon) << static_cast<int>(format);
      EXPECT_EQ(r.format, format);
    }
  }
  const Read bare = read({0xFF, 0x0A, 0x12, 0x34});
  EXPECT_EQ(bare.format, PhotoFormat::kJxl);
  EXPECT_EQ(bare.csv, "");
  for (const Bytes& other : {Bytes{}, Bytes{0xFF}, bytes_of("GIF89a"), bytes_of("II+\0"s),
                             bytes_of("RIFF\x04\0\0\0WAVE"s), bytes_of("FUJIFILM"),
                             box("ftyp", bytes_of("isom\0\0\0\0mp41"s))}) {
    EXPECT_EQ(read(other).format, PhotoFormat::kNone);
  }
}

// The extension decides whether a file is read.
TEST(Containers, PhotoExtensions) {
  for (const char* name :
       {"a.jpg",  "a.JPEG", "a.heic", "a.HEIF", "a.hif", "a.avif", "a.Cr3", "a.tif",
        "a.TIFF", "a.dng",  "a.cr2",  "a.nef",  "a.nrw", "a.arw",  "a.sr2", "a.srw",
        "a.pef",  "a.orf",  "a.RW2",  "a.raf",  "a.png", "a.webp", "a.jxl"}) {
    EXPECT_TRUE(has_photo_extension(name)) << name;
  }
  for (const char* name : {"a.gif", "a.heic.txt", "heic", "a.cr", "a.tiff2", "a.mp4", "a.", ""}) {
    EXPECT_FALSE(has_photo_extension(name)) << name;
  }
}

TEST(Heif, ExifItemWhereverTheItemLocationsSayItLies) {
  // iloc versions 0 to 2, 8-byte fields, base offsets, indices, pieces, idat; infe version 3.
  HeifOptions o;
  o.tiles = 48;  // a grid's tiles listed before the Exif item
  for (uint8_t version = 0; version <= 2; ++version) {
    o.iloc_version = version;
    o.infe_version = version == 2 ? 3 : 2;
    EXPECT_EQ(csv(fixture::heif(london(Order::kIntel, "item"), o)), kLondon) << int{version};
  }
  o.offset_size = o.length_size = o.base_offset_size = o.index_size = 8;
  o.pieces = 3;
  EXPECT_EQ(csv(fixture::heif(london(Order::kMotorola, "item"), o)), kLondon);
  o.offset_size = o.base_offset_size = 4;
  o.index_size = 0;
  o.in_idat = true;
  EXPECT_EQ(csv(fixture::heif(london(Order::kIntel, "item"), o)), kLondon);
  o.length_size = 0;  // the item runs to the end of idat
  o.pieces = 1;
  EXPECT_EQ(csv(fixture::heif(london(Order::kIntel, "item"), o)), kLondon);

  // A TIFF header right after an offset of 0, and "Exif\0\0" after an offset of 0 too.
  EXPECT_EQ(csv(fixture::heif(join({be(0, 4), london()}))), kLondon);
  EXPECT_EQ(csv(fixture::heif(join({be(0, 4), bytes_of("Exif\0\0"s), london()}))), kLondon);
  // The large-size form of a box, and size 0 for the last box.
  HeifOptions last;
  last.meta_last = true;
  const Bytes normal = fixture::heif(london(Order::kIntel, "item"), last);
  const auto meta = static_cast<long>(find(normal, "meta") - 4);
  EXPECT_EQ(csv(join({Bytes(normal.begin(), normal.begin() + meta),
                      box("meta", Bytes(normal.begin() + meta + 8, normal.end()), true)})),
            kLondon);
  EXPECT_EQ(csv(patched(normal, static_cast<size_t>(meta), be(0, 4))), kLondon);
}

// Sizes that point outside their parent or the file, counts far beyond the data, protected or
// missing items: nothing read outside, no position, and the container still named.
TEST(Heif, HostileSizesAndCountsReadNothingOutside) {
  const Bytes good = fixture::heif(london(Order::kIntel, "item"));
  const size_t meta = find(good, "meta") - 4, iinf = find(good, "iinf") - 4;
  const size_t iloc = find(good, "iloc") - 4, mdat = find(good, "mdat") - 4;
  // iloc: header 12, field sizes 2, item count 2, then items of 16 bytes: ID, construction
  // method, data reference, extent count, offset, length.
  const size_t item = iloc + 32, extent = item + 8;
  const std::pair<size_t, Bytes> patches[] = {
      {meta, be(good.size(), 4)},           // meta past the file
      {meta, be(4, 4)},                     // meta shorter than its header
      {iinf, be(good.size() - iinf, 4)},    // iinf past meta
      {find(good, "Exif") - 2, be(1, 2)},   // infe protected
      {iloc + 8, Bytes{3}},                 // iloc version 3
      {iloc + 12, Bytes{0x24}},             // iloc field size 2
      {extent, be(good.size() - 10, 4)},    // extent past the file
      {extent + 4, be(0xFFFFFFF0u, 4)},     // extent longer than the file
      {item, be(9, 2)},                     // Exif item not located
      {item + 2, be(2, 2)},                 // by reference to another item
      {mdat + 8 + 64, be(0xFFFFFFF0u, 4)},  // offset to the TIFF header past the item
      {item + 4, be(1, 2)}};                // data in another file
  for (const auto& [at, value] : patches) {
    const Read r = read(patched(good, at, value));
    EXPECT_EQ(r.csv, "") << at;
    EXPECT_EQ(r.format, PhotoFormat::kHeif) << at;
  }
  // Items and extents counted far beyond the box, extents of no bytes, boxes of eight bytes by the
  // hundred thousand: bounded work, nothing found.
  EXPECT_EQ(csv(patched(patched(good, iloc + 14, be(0xFFFF, 2)), item, be(9, 2))), "");
  Bytes empty_extents = patched(good, iloc + 12, Bytes{0, 0});
  empty_extents = patched(empty_extents, iloc + 22, be(0, 2));  // item 2 follows item 1 at once
  EXPECT_EQ(csv(patched(empty_extents, iloc + 24, join({be(2, 2), be(0, 4), be(0xFFFF, 2)}))), "");
  Bytes tiny_boxes = box("ftyp", bytes_of("heic\0\0\0\0"s));
  for (int i = 0; i < 200000; ++i)
    tiny_boxes.insert(tiny_boxes.end(), {0, 0, 0, 8, 'f', 'r', 'e', 'e'});
  EXPECT_EQ(csv(join({tiny_boxes, good})), "");
  // Cut anywhere, the file gives no position.
  for (size_t keep = 0; keep < good.size(); keep += 7) {
    EXPECT_EQ(csv(Bytes(good.begin(), good.begin() + static_cast<long>(keep))), "") << keep;
  }
  // A block larger than the cap is cut: the position at its start still counts.
  Tiff big;
  london(big).first().pointer(
      fixture::kExifPointer,
      big.add_directory().undefined(37500, std::string(ExifReader::kMaxExifBlock, 'n')));
  EXPECT_EQ(csv(fixture::heif(fixture::exif_item(big))), kLondon);
}

// A TIFF-based file is its own block: TIFF, the raws built on it, Olympus's and Panasonic's magics.
TEST(TiffFile, PositionsInEveryMagicAndByteOrder) {
  for (Order order : kOrders) {
    Tiff tiff(order);
    london(tiff).tail(Bytes(5000, 0));
    EXPECT_EQ(csv(tiff.block()), kLondon);
    EXPECT_EQ(csv(tiff.magic(0x4F52).block()), kLondon);  // "IIRO" / "MMOR"
    // Panasonic's "IIU\0" and Olympus's "IIRS"; their big-endian forms are none.
    for (const uint16_t magic : {uint16_t{0x55}, uint16_t{0x5352}}) {
      EXPECT_EQ(csv(tiff.magic(magic).block()), order == Order::kIntel ? kLondon : "");
    }
  }
  // The same magics in an EXIF segment are refused.
  Tiff orf;
  london(orf).magic(0x4F52);
  EXPECT_EQ(csv(fixture::Jpeg().soi().app1_exif(orf).sos().bytes()), "");
}

// Directories far from the start are read from windows loaded where they lie; the image data
// and whatever else the file holds are never fetched.
TEST(TiffFile, FarDirectoriesAndBytesRead) {
  constexpr size_t kImage = 8 << 20;
  // The GPS directory after a 100 KB maker note, the first directory after the image data.
  Tiff far;
  far.first().pointer(fixture::kExifPointer,
                      far.add_directory().undefined(37500, std::string(100000, 'm')));
  london(far).tail(Bytes(kImage, 0));
  Tiff last(Order::kMotorola);
  last.first().undefined(700, std::string(kImage, 'i'));  // image data, then the directories
  fixture::Directory& first = last.add_directory();
  fixture::Directory& gps = last.add_directory();
  london_entries(gps);
  first.ascii(271, "Camera").pointer(fixture::kGpsPointer, gps);
  last.first_offset(last.offset_of(first));
  for (const Bytes& block : {far.block(), last.block()}) {
    const Read r = read(block);
    EXPECT_EQ(r.csv, kLondon);
    EXPECT_LE(r.fetched, 3u * ExifReader::kWindowSize);
  }
  // A GPS directory whose values would straddle the first window's end gets its own window.
  Tiff straddle;
  straddle.first().undefined(700, std::string(ExifReader::kWindowSize - 100, 's'));
  EXPECT_EQ(csv(london(straddle).tail(Bytes(kImage, 0)).block()), kLondon);
  // Pointers past the end or at the very end give nothing and read nothing more.
  for (uint32_t offset : {0xFFFFFFF0u, static_cast<uint32_t>(kImage)}) {
    Tiff past;
    past.first().raw(fixture::kGpsPointer, fixture::kLong, 1, fixture::at(offset));
    const Read r = read(past.tail(Bytes(kImage / 2, 0)).block());
    EXPECT_EQ(r.csv, "");
    EXPECT_LE(r.fetched, 2u * ExifReader::kWindowSize);
  }
}

// Chunks and boxes whose sizes point past their parent or the file, offsets that wrap, a box not
// Canon's: no position, and the container still named.
TEST(Containers, HostileSizesInChunksAndBoxes) {
  Tiff gps;
  london_entries(gps.first());
  const Bytes cr3 = fixture::cr3(gps.block());
  const Bytes raf = fixture::raf(london(Order::kIntel, "jpeg"));
  const Bytes png = fixture::png(london()), after = fixture::png(london(), true);
  const Bytes webp = fixture::webp(london(), 101);  // an odd chunk and its pad byte
  const Bytes jxl = fixture::jxl(london(Order::kIntel, "item"));
  const size_t idat = find(after, "IDAT") - 4, iend = find(after, "IEND") - 4;
  const Bytes jxl_to_end = patched(jxl, find(jxl, "Exif") - 4, be(0, 4));  // to the file's end
  const std::pair<Bytes, std::string> photos[] = {
      {patched(cr3, find(cr3, "uuid") + 4, Bytes{0x84}), ""},  // another uuid
      {patched(cr3, find(cr3, "CMT4"), bytes_of("CMT9")), ""},
      {patched(cr3, find(cr3, "CMT4") - 4, be(0xFFFF, 4)), ""},
      {patched(raf, 84, be(raf.size() - 10, 4)), ""},
      {patched(raf, 84, be(~0ull, 8)), ""},  // offset and length wrap
      {patched(raf, 88, be(20, 4)), ""},     // the JPEG ends inside its EXIF segment
      {Bytes(raf.begin(), raf.begin() + 90), ""},
      {patched(after, idat, be(0x7FFFFFFFu, 4)), ""},
      {patched(after, idat, be(0x80000000u, 4)), ""},
      {patched(png, find(png, "eXIf") - 4, be(png.size(), 4)), ""},
      {webp, kLondon},
      {patched(webp, 4, le(0xFFFFFFF0u, 4)), kLondon},   // the file cut, its chunks whole
      {patched(webp, 4, le(webp.size() - 200, 4)), ""},  // EXIF past the RIFF's end
      {patched(webp, find(webp, "VP8 ") + 4, le(0xFFFFFFF0u, 4)), ""},
      {Bytes(webp.begin(), webp.begin() + 12), ""},
      {patched(jxl, find(jxl, "Exif") + 4, be(0xFFFF, 4)), ""},
      {jxl_to_end, kLondon},
      {patched(jxl_to_end, find(jxl, "jxlc") - 4, be(1, 4)), ""}};  // a large size cut
  for (size_t i = 0; i < std::size(photos); ++i) {
    const Read r = read(photos[i].first);
    EXPECT_EQ(r.csv, photos[i].second) << i;
    EXPECT_NE(r.format, PhotoFormat::kNone) << i;
  }
  // Chunks after IEND are not read.
  EXPECT_EQ(csv(join({fixture::png(Bytes{}), Bytes(after.begin() + static_cast<long>(idat),
                                                   after.begin() + static_cast<long>(iend))})),
            "");
  // The image data is not read when the chunk comes first, as ExifTool writes it; after it, each
  // image chunk is passed over by its length.
  const Read large = read(fixture::png(london(), false, 4 << 20));
  EXPECT_EQ(large.csv, kLondon);
  EXPECT_LE(large.fetched, 16384u);
  EXPECT_EQ(csv(fixture::png(london(), true, 1 << 20)), kLondon);
}
