// The containers around the EXIF block, per container: positions in both byte orders, boxes and
// chunks before and after the EXIF data, cut and hostile sizes; which names are read and how the
// content decides the container.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

TEST(Containers, TheContentDecidesTheContainer) {
  EXPECT_EQ(read(london(Order::kIntel, "jpeg")).format, PhotoFormat::kJpeg);
  EXPECT_EQ(read(london()).format, PhotoFormat::kTiff);
  EXPECT_EQ(read(fixture::heif(london(Order::kIntel, "item"))).format, PhotoFormat::kHeif);
  EXPECT_EQ(read(fixture::cr3(london())).format, PhotoFormat::kCr3);
  EXPECT_EQ(read(fixture::raf(london(Order::kIntel, "jpeg"))).format, PhotoFormat::kRaf);
  EXPECT_EQ(read(fixture::png(london())).format, PhotoFormat::kPng);
  EXPECT_EQ(read(fixture::webp(london())).format, PhotoFormat::kWebp);
  EXPECT_EQ(read(fixture::jxl(london(Order::kIntel, "item"))).format, PhotoFormat::kJxl);
  // A bare JPEG XL codestream is one, without a position; a video's ftyp brand is none.
  const Read bare = read({0xFF, 0x0A, 0x12, 0x34});
  EXPECT_EQ(bare.format, PhotoFormat::kJxl);
  EXPECT_EQ(bare.csv, "");
  for (const Bytes& other : {Bytes{}, Bytes{0xFF}, bytes_of("GIF89a"), bytes_of("II+\0"s),
                             bytes_of("RIFF\x04\0\0\0WAVE"s), bytes_of("FUJIFILM"),
                             box("ftyp", bytes_of("isom\0\0\0\0mp41"s))}) {
    EXPECT_EQ(read(other).format, PhotoFormat::kNone);
  }
}

// The extension decides whether a file is read, the content how: a HEIC under a .jpg name.
TEST(Containers, PhotoExtensionsAndContentUnderAnyName) {
  for (const char* name :
       {"a.jpg",  "a.JPEG", "a.heic", "a.HEIF", "a.hif", "a.avif", "a.Cr3", "a.tif",
        "a.TIFF", "a.dng",  "a.cr2",  "a.nef",  "a.nrw", "a.arw",  "a.sr2", "a.srw",
        "a.pef",  "a.orf",  "a.RW2",  "a.raf",  "a.png", "a.webp", "a.jxl"}) {
    EXPECT_TRUE(has_photo_extension(name)) << name;
  }
  for (const char* name : {"a.gif", "a.heic.txt", "heic", "a.cr", "a.tiff2", "a.mp4", "a.", ""}) {
    EXPECT_FALSE(has_photo_extension(name)) << name;
  }
  const std::string dir = platform::make_temp_dir();
  ASSERT_NE(dir, "");
  const std::string heic = dir + "/x.jpg", png = dir + "/x.txt";
  fixture::write_file(heic, fixture::heif(london(Order::kMotorola, "item")));
  fixture::write_file(png, fixture::png(london()));
  EXPECT_EQ(platform::capture([&](FILE* out) {
              CsvWriter writer(out);
              RunContext run;
              run.writer = &writer;
              EXPECT_EQ(process_image(run, PhotoEntry{heic.c_str(), "x.jpg", "x.jpg"}).status,
                        PhotoStatus::kListed);
              EXPECT_EQ(process_image(run, PhotoEntry{png.c_str(), "x.txt", "x.txt"}).status,
                        PhotoStatus::kNotPhotoName);
            }),
            "x.jpg" + kLondon.substr(1));
  std::filesystem::remove_all(dir);
}

TEST(Heif, ExifItemWhereverTheItemLocationsSayItLies) {
  for (Order order : kOrders) {
    HeifOptions avif;
    avif.brand = "avif";
    avif.meta_last = true;
    EXPECT_EQ(csv(fixture::heif(london(order, "item"))), kLondon);
    EXPECT_EQ(csv(fixture::heif(london(order, "item"), avif)), kLondon);
  }
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

TEST(Cr3, GpsBlockInCanonsBox) {
  for (Order order : kOrders) {
    Tiff gps(order);
    london_entries(gps.first());
    const Bytes good = fixture::cr3(gps.block(), 64, 40000);
    EXPECT_EQ(csv(good), kLondon);
    EXPECT_EQ(csv(patched(good, find(good, "uuid") + 4, Bytes{0x84})), "");  // another uuid
    EXPECT_EQ(csv(patched(good, find(good, "CMT4"), bytes_of("CMT9"))), "");
    const Read cut_box = read(patched(good, find(good, "CMT4") - 4, be(0xFFFF, 4)));
    EXPECT_EQ(cut_box.format, PhotoFormat::kCr3);
    EXPECT_EQ(cut_box.csv, "");
  }
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

TEST(Raf, EmbeddedJpegAtTheOffsetTheHeaderGives) {
  for (Order order : kOrders) EXPECT_EQ(csv(fixture::raf(london(order, "jpeg"), 1 << 20)), kLondon);
  const Bytes good = fixture::raf(london(Order::kIntel, "jpeg"));
  EXPECT_EQ(csv(patched(good, 84, be(good.size() - 10, 4))), "");
  EXPECT_EQ(csv(patched(good, 84, be(~0ull, 8))), "");  // offset and length wrap
  // The JPEG ends where the header says: an EXIF segment cut by the length is not decoded.
  EXPECT_EQ(csv(patched(good, 88, be(20, 4))), "");
  EXPECT_EQ(read(Bytes(good.begin(), good.begin() + 90)).format, PhotoFormat::kRaf);
}

TEST(Png, ExifChunkBeforeOrAfterTheImageData) {
  for (Order order : kOrders) {
    EXPECT_EQ(csv(fixture::png(london(order))), kLondon);
    EXPECT_EQ(csv(fixture::png(london(order), true)), kLondon);
    EXPECT_EQ(csv(fixture::png(join({bytes_of("Exif\0\0"s), london(order)}))), kLondon);
  }
  // The image data is not read when the chunk comes first, as ExifTool writes it; after it, each
  // image chunk is passed over by its length.
  const Read large = read(fixture::png(london(), false, 4 << 20));
  EXPECT_EQ(large.csv, kLondon);
  EXPECT_LE(large.fetched, 16384u);
  EXPECT_EQ(csv(fixture::png(london(), true, 1 << 20)), kLondon);

  const Bytes after = fixture::png(london(), true);
  const size_t idat = find(after, "IDAT") - 4, iend = find(after, "IEND") - 4;
  EXPECT_EQ(csv(patched(after, idat, be(0x7FFFFFFFu, 4))), "");
  EXPECT_EQ(csv(patched(after, idat, be(0x80000000u, 4))), "");
  // Chunks after IEND are not read.
  EXPECT_EQ(csv(join({fixture::png(Bytes{}), Bytes(after.begin() + static_cast<long>(idat),
                                                   after.begin() + static_cast<long>(iend))})),
            "");
  const Bytes before = fixture::png(london());
  EXPECT_EQ(csv(patched(before, find(before, "eXIf") - 4, be(before.size(), 4))), "");
}

TEST(WebP, ExifChunkWithOrWithoutItsPrefix) {
  for (Order order : kOrders) {
    EXPECT_EQ(csv(fixture::webp(london(order))), kLondon);
    EXPECT_EQ(csv(fixture::webp(join({bytes_of("Exif\0\0"s), london(order)}), 333)), kLondon);
  }
  const Bytes good = fixture::webp(london(), 101);  // an odd chunk and its pad byte
  EXPECT_EQ(csv(good), kLondon);
  EXPECT_EQ(csv(patched(good, 4, le(0xFFFFFFF0u, 4))), kLondon);   // the file cut, chunks whole
  EXPECT_EQ(csv(patched(good, 4, le(good.size() - 200, 4))), "");  // EXIF past the RIFF's end
  EXPECT_EQ(csv(patched(good, find(good, "VP8 ") + 4, le(0xFFFFFFF0u, 4))), "");
  EXPECT_EQ(read(Bytes(good.begin(), good.begin() + 12)).format, PhotoFormat::kWebp);
}

TEST(Jxl, ExifBoxBeforeOrAfterTheCodestream) {
  for (Order order : kOrders) {
    EXPECT_EQ(csv(fixture::jxl(london(order, "item"))), kLondon);
    EXPECT_EQ(csv(fixture::jxl(london(order, "item"), true)), kLondon);
  }
  const Bytes good = fixture::jxl(london(Order::kIntel, "item"));
  EXPECT_EQ(csv(patched(good, find(good, "Exif") + 4, be(0xFFFF, 4))), "");
  // Size 0: the last box, to the file's end; a large size cut by the file.
  const Bytes to_end = patched(good, find(good, "Exif") - 4, be(0, 4));
  EXPECT_EQ(csv(to_end), kLondon);
  EXPECT_EQ(csv(patched(to_end, find(to_end, "jxlc") - 4, be(1, 4))), "");
}
