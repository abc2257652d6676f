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
using fixture::full_box;
using fixture::HeifOptions;
using fixture::join;
using fixture::le;
using fixture::Order;
using fixture::Tiff;

namespace {

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

Bytes london_block(Order order = Order::kIntel) {
  Tiff tiff(order);
  return london(tiff).block();
}

Bytes london_item(Order order = Order::kIntel) {
  Tiff tiff(order);
  return fixture::exif_item(london(tiff));
}

Bytes london_jpeg(Order order = Order::kIntel) {
  Tiff tiff(order);
  return fixture::Jpeg().soi().app1_exif(london(tiff)).dqt().sof(0xC0, 8, 8, 3).sos().eoi().bytes();
}

struct Read {
  PhotoFormat format;
  std::string csv;  // the CSV line for the name "x", or ""
  uint64_t fetched;
};

Read read(const Bytes& bytes) {
  ImageMetadata md;
  std::memset(&md, 0, sizeof md);
  fixture::Stream stream(bytes);
  ExifReader reader(&md);
  Read r{reader.read_photo(stream.get()), "", stream.get().bytes_fetched()};
  FILE* out = platform::scratch_file();
  CsvWriter writer(out);
  RunContext run;
  run.writer = &writer;
  deliver_photo(run, md, "x", "x");
  std::rewind(out);
  char line[256];
  while (std::fgets(line, sizeof line, out) != nullptr) r.csv += line;
  std::fclose(out);
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

void put(Bytes& bytes, size_t at, const Bytes& value) {
  std::copy(value.begin(), value.end(), bytes.begin() + static_cast<long>(at));
}

}  // namespace

TEST(Containers, TheContentDecidesTheContainer) {
  EXPECT_EQ(read(london_jpeg()).format, PhotoFormat::kJpeg);
  EXPECT_EQ(read(london_block()).format, PhotoFormat::kTiff);
  EXPECT_EQ(read(fixture::heif(london_item())).format, PhotoFormat::kHeif);
  EXPECT_EQ(read(fixture::cr3(london_block())).format, PhotoFormat::kCr3);
  EXPECT_EQ(read(fixture::raf(london_jpeg())).format, PhotoFormat::kRaf);
  EXPECT_EQ(read(fixture::png(london_block())).format, PhotoFormat::kPng);
  EXPECT_EQ(read(fixture::webp(london_block())).format, PhotoFormat::kWebp);
  EXPECT_EQ(read(fixture::jxl(london_item())).format, PhotoFormat::kJxl);
  // A bare JPEG XL codestream is one, without a position; a video's ftyp brand is none.
  const Read bare = read({0xFF, 0x0A, 0x12, 0x34});
  EXPECT_EQ(bare.format, PhotoFormat::kJxl);
  EXPECT_EQ(bare.csv, "");
  EXPECT_EQ(read(box("ftyp", bytes_of("isom\0\0\0\0mp41"s))).format, PhotoFormat::kNone);
  for (const Bytes& other : {Bytes{}, Bytes{0xFF}, bytes_of("GIF89a"), bytes_of("II+\0"s),
                             bytes_of("RIFF\x04\0\0\0WAVE"s), bytes_of("FUJIFILM")}) {
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
  EXPECT_FALSE(has_photo_extension(nullptr));

  const std::string dir = platform::make_temp_dir();
  ASSERT_NE(dir, "");
  const std::string heic_as_jpeg = dir + "/x.jpg", png_as_txt = dir + "/x.txt";
  fixture::write_file(heic_as_jpeg, fixture::heif(london_item(Order::kMotorola)));
  fixture::write_file(png_as_txt, fixture::png(london_block()));
  FILE* out = platform::scratch_file();
  CsvWriter writer(out);
  RunContext run;
  run.writer = &writer;
  EXPECT_EQ(process_image(run, PhotoEntry{heic_as_jpeg.c_str(), "x.jpg", "x.jpg"}).status,
            PhotoStatus::kListed);
  EXPECT_EQ(process_image(run, PhotoEntry{png_as_txt.c_str(), "x.txt", "x.txt"}).status,
            PhotoStatus::kNotPhotoName);
  std::rewind(out);
  char line[256] = "";
  EXPECT_NE(std::fgets(line, sizeof line, out), nullptr);
  EXPECT_EQ(line, "x.jpg" + kLondon.substr(1));
  std::fclose(out);
  std::error_code error;
  std::filesystem::remove_all(dir, error);
  EXPECT_FALSE(error) << error.message();
}

TEST(Heif, ExifItemWhereverTheItemLocationsSayItLies) {
  for (Order order : {Order::kIntel, Order::kMotorola}) {
    EXPECT_EQ(csv(fixture::heif(london_item(order))), kLondon);
    HeifOptions avif;
    avif.brand = "avif";
    avif.meta_last = true;
    EXPECT_EQ(csv(fixture::heif(london_item(order), avif)), kLondon);
  }
  // iloc versions 0 to 2, 8-byte fields, base offsets, indices, pieces, idat; infe version 3.
  HeifOptions o;
  o.tiles = 48;  // a grid's tiles listed before the Exif item
  for (int version = 0; version <= 2; ++version) {
    o.iloc_version = static_cast<uint8_t>(version);
    o.infe_version = version == 2 ? 3 : 2;
    EXPECT_EQ(csv(fixture::heif(london_item(), o)), kLondon) << version;
  }
  o.offset_size = o.length_size = o.base_offset_size = o.index_size = 8;
  o.pieces = 3;
  EXPECT_EQ(csv(fixture::heif(london_item(Order::kMotorola), o)), kLondon);
  o.offset_size = o.base_offset_size = 4;
  o.index_size = 0;
  o.in_idat = true;
  EXPECT_EQ(csv(fixture::heif(london_item(), o)), kLondon);
  o.length_size = 0;  // the item runs to the end of idat
  o.pieces = 1;
  EXPECT_EQ(csv(fixture::heif(london_item(), o)), kLondon);

  // A TIFF header right after an offset of 0, and "Exif\0\0" after an offset of 0 too.
  EXPECT_EQ(csv(fixture::heif(join({be(0, 4), london_block()}))), kLondon);
  EXPECT_EQ(csv(fixture::heif(join({be(0, 4), bytes_of("Exif\0\0"s), london_block()}))), kLondon);
  // The large-size form of a box, and size 0 for the last box.
  HeifOptions last;
  last.meta_last = true;
  const Bytes normal = fixture::heif(london_item(), last);
  const auto meta = static_cast<long>(find(normal, "meta") - 4);
  const Bytes large = join({Bytes(normal.begin(), normal.begin() + meta),
                            box("meta", Bytes(normal.begin() + meta + 8, normal.end()), true)});
  EXPECT_EQ(csv(normal), kLondon);
  EXPECT_EQ(csv(large), kLondon);
  Bytes to_end = normal;
  put(to_end, static_cast<size_t>(meta), be(0, 4));
  EXPECT_EQ(csv(to_end), kLondon);
}

// Sizes that point outside their parent or the file, counts far beyond the data, protected or
// missing items: nothing read outside, no position, and the container still named.
TEST(Heif, HostileSizesAndCountsReadNothingOutside) {
  const Bytes good = fixture::heif(london_item());
  const size_t meta = find(good, "meta") - 4, iinf = find(good, "iinf") - 4;
  const size_t iloc = find(good, "iloc") - 4, mdat = find(good, "mdat") - 4;
  // iloc: header 12, field sizes 2, item count 2, then items of 16 bytes: ID, construction
  // method, data reference, extent count, offset, length.
  const size_t exif_item = iloc + 32, exif_extent = exif_item + 8;
  struct Patch {
    const char* what;
    size_t at;
    Bytes value;
  };
  for (const Patch& p : {
           Patch{"meta past the file", meta, be(good.size(), 4)},
           Patch{"meta shorter than its header", meta, be(4, 4)},
           Patch{"iinf past meta", iinf, be(good.size() - iinf, 4)},
           Patch{"infe protected", find(good, "Exif") - 2, be(1, 2)},
           Patch{"iloc version 3", iloc + 8, Bytes{3}},
           Patch{"iloc field size 2", iloc + 12, Bytes{0x24}},
           Patch{"extent past the file", exif_extent, be(good.size() - 10, 4)},
           Patch{"extent longer than the file", exif_extent + 4, be(0xFFFFFFF0u, 4)},
           Patch{"Exif item not located", exif_item, be(9, 2)},
           Patch{"Exif item by reference to another item", exif_item + 2, be(2, 2)},
           Patch{"offset before the TIFF header past the item", mdat + 8 + 64, be(0xFFFFFFF0u, 4)},
           Patch{"data in another file", exif_item + 4, be(1, 2)},
       }) {
    Bytes bad = good;
    put(bad, p.at, p.value);
    const Read r = read(bad);
    EXPECT_EQ(r.csv, "") << p.what;
    EXPECT_EQ(r.format, PhotoFormat::kHeif) << p.what;
  }
  // Items and extents counted far beyond the box, extents of no bytes, boxes of eight bytes by the
  // hundred thousand: bounded work, nothing found.
  Bytes many_items = good;
  put(many_items, iloc + 14, be(0xFFFF, 2));
  put(many_items, exif_item, be(9, 2));
  EXPECT_EQ(csv(many_items), "");
  Bytes empty_extents = good;
  put(empty_extents, iloc + 12, Bytes{0, 0});
  put(empty_extents, iloc + 22, be(0, 2));  // item 1 ends there; item 2 follows at once
  put(empty_extents, iloc + 24, join({be(2, 2), be(0, 2), be(0, 2), be(0xFFFF, 2)}));
  EXPECT_EQ(csv(empty_extents), "");
  Bytes tiny_boxes = box("ftyp", bytes_of("heic\0\0\0\0"s));
  for (int i = 0; i < 200000; ++i)
    tiny_boxes.insert(tiny_boxes.end(), {0, 0, 0, 8, 'f', 'r', 'e', 'e'});
  EXPECT_EQ(csv(join({tiny_boxes, fixture::heif(london_item())})), "");

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
  for (Order order : {Order::kIntel, Order::kMotorola}) {
    Tiff gps(order);
    london_entries(gps.first());
    const Bytes good = fixture::cr3(gps.block(), 64, 40000);
    EXPECT_EQ(csv(good), kLondon);
    Bytes other_uuid = good;
    other_uuid[find(good, "uuid") + 4] ^= 1;
    EXPECT_EQ(csv(other_uuid), "");
    Bytes no_gps = good;
    put(no_gps, find(good, "CMT4"), bytes_of("CMT9"));
    EXPECT_EQ(csv(no_gps), "");
    Bytes cut_box = good;
    put(cut_box, find(good, "CMT4") - 4, be(0xFFFF, 4));
    EXPECT_EQ(read(cut_box).format, PhotoFormat::kCr3);
    EXPECT_EQ(read(cut_box).csv, "");
  }
}

// A TIFF-based file is its own block: TIFF, the raws built on it, Olympus's and Panasonic's magics.
TEST(TiffFile, PositionsInEveryMagicAndByteOrder) {
  for (Order order : {Order::kIntel, Order::kMotorola}) {
    Tiff tiff(order);
    london(tiff).tail(Bytes(5000, 0));
    EXPECT_EQ(csv(tiff.block()), kLondon);
    tiff.magic(0x4F52);  // "IIRO" / "MMOR"
    EXPECT_EQ(csv(tiff.block()), kLondon);
    tiff.magic(0x55);  // Panasonic's "IIU\0"; its big-endian form is none
    EXPECT_EQ(csv(tiff.block()), order == Order::kIntel ? kLondon : "");
    tiff.magic(0x5352);  // "IIRS"
    EXPECT_EQ(csv(tiff.block()), order == Order::kIntel ? kLondon : "");
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
  fixture::Directory& exif = far.add_directory().undefined(37500, std::string(100000, 'm'));
  far.first().pointer(fixture::kExifPointer, exif);
  london(far).tail(Bytes(kImage, 0));
  Read r = read(far.block());
  EXPECT_EQ(r.csv, kLondon);
  EXPECT_LE(r.fetched, 3u * ExifReader::kWindowSize);

  Tiff last(Order::kMotorola);
  last.first().undefined(700, std::string(kImage, 'i'));  // image data, then the directories
  fixture::Directory& first = last.add_directory();
  fixture::Directory& gps = last.add_directory();
  london_entries(gps);
  first.ascii(271, "Camera").pointer(fixture::kGpsPointer, gps);
  last.first_offset(last.offset_of(first));
  r = read(last.block());
  EXPECT_EQ(r.csv, kLondon);
  EXPECT_LE(r.fetched, 3u * ExifReader::kWindowSize);

  // A GPS directory whose values would straddle the first window's end gets its own window.
  Tiff straddle;
  straddle.first().undefined(700, std::string(ExifReader::kWindowSize - 100, 's'));
  london(straddle).tail(Bytes(kImage, 0));
  EXPECT_EQ(csv(straddle.block()), kLondon);

  // Pointers past the end, at the very end, or into a cycle give nothing and read nothing more.
  for (uint32_t offset : {0xFFFFFFF0u, static_cast<uint32_t>(kImage)}) {
    Tiff past;
    past.first().raw(fixture::kGpsPointer, fixture::kLong, 1, fixture::at(offset));
    past.tail(Bytes(kImage / 2, 0));
    r = read(past.block());
    EXPECT_EQ(r.csv, "");
    EXPECT_LE(r.fetched, 2u * ExifReader::kWindowSize);
  }
}

TEST(Raf, EmbeddedJpegAtTheOffsetTheHeaderGives) {
  for (Order order : {Order::kIntel, Order::kMotorola}) {
    EXPECT_EQ(csv(fixture::raf(london_jpeg(order), 1 << 20)), kLondon);
  }
  const Bytes good = fixture::raf(london_jpeg());
  Bytes past = good;
  put(past, 84, be(good.size() - 10, 4));
  EXPECT_EQ(csv(past), "");
  Bytes wrapping = good;
  put(wrapping, 84, be(0xFFFFFFFFu, 4));
  put(wrapping, 88, be(0xFFFFFFFFu, 4));
  EXPECT_EQ(csv(wrapping), "");
  // The JPEG ends where the header says: an EXIF segment cut by the length is not decoded.
  Bytes short_length = good;
  put(short_length, 88, be(20, 4));
  EXPECT_EQ(csv(short_length), "");
  EXPECT_EQ(read(Bytes(good.begin(), good.begin() + 90)).format, PhotoFormat::kRaf);
}

TEST(Png, ExifChunkBeforeOrAfterTheImageData) {
  for (Order order : {Order::kIntel, Order::kMotorola}) {
    EXPECT_EQ(csv(fixture::png(london_block(order))), kLondon);
    EXPECT_EQ(csv(fixture::png(london_block(order), true)), kLondon);
    EXPECT_EQ(csv(fixture::png(join({bytes_of("Exif\0\0"s), london_block(order)}))), kLondon);
  }
  // The image data is not read when the chunk comes first, as ExifTool writes it; after it, each
  // image chunk is passed over by its length.
  const Read large = read(fixture::png(london_block(), false, 4 << 20));
  EXPECT_EQ(large.csv, kLondon);
  EXPECT_LE(large.fetched, 16384u);
  EXPECT_EQ(csv(fixture::png(london_block(), true, 1 << 20)), kLondon);

  const Bytes after = fixture::png(london_block(), true);
  const size_t idat = find(after, "IDAT") - 4, iend = find(after, "IEND") - 4;
  Bytes huge = after;
  put(huge, idat, be(0x7FFFFFFFu, 4));
  EXPECT_EQ(csv(huge), "");
  put(huge, idat, be(0x80000000u, 4));
  EXPECT_EQ(csv(huge), "");
  // Chunks after IEND are not read.
  const Bytes ended = join({fixture::png(Bytes{}), Bytes(after.begin() + static_cast<long>(idat),
                                                         after.begin() + static_cast<long>(iend))});
  EXPECT_EQ(csv(ended), "");
  Bytes cut_exif = fixture::png(london_block());
  put(cut_exif, find(cut_exif, "eXIf") - 4, be(cut_exif.size(), 4));
  EXPECT_EQ(csv(cut_exif), "");
}

TEST(WebP, ExifChunkWithOrWithoutItsPrefix) {
  for (Order order : {Order::kIntel, Order::kMotorola}) {
    EXPECT_EQ(csv(fixture::webp(london_block(order))), kLondon);
    EXPECT_EQ(csv(fixture::webp(join({bytes_of("Exif\0\0"s), london_block(order)}), 333)), kLondon);
  }
  const Bytes good = fixture::webp(london_block(), 101);  // an odd chunk and its pad byte
  EXPECT_EQ(csv(good), kLondon);
  Bytes riff_longer = good;
  put(riff_longer, 4, le(0xFFFFFFF0u, 4));  // the file is cut, the chunks are whole
  EXPECT_EQ(csv(riff_longer), kLondon);
  Bytes riff_shorter = good;
  put(riff_shorter, 4, le(good.size() - 200, 4));  // EXIF lies past the RIFF's end
  EXPECT_EQ(csv(riff_shorter), "");
  Bytes chunk_past = good;
  put(chunk_past, find(good, "VP8 ") + 4, le(0xFFFFFFF0u, 4));
  EXPECT_EQ(csv(chunk_past), "");
  EXPECT_EQ(read(Bytes(good.begin(), good.begin() + 12)).format, PhotoFormat::kWebp);
}

TEST(Jxl, ExifBoxBeforeOrAfterTheCodestream) {
  for (Order order : {Order::kIntel, Order::kMotorola}) {
    EXPECT_EQ(csv(fixture::jxl(london_item(order))), kLondon);
    EXPECT_EQ(csv(fixture::jxl(london_item(order), true)), kLondon);
  }
  Bytes bad_offset = fixture::jxl(london_item());
  put(bad_offset, find(bad_offset, "Exif") + 4, be(0xFFFF, 4));
  EXPECT_EQ(csv(bad_offset), "");
  Bytes to_end = fixture::jxl(london_item());
  put(to_end, find(to_end, "Exif") - 4, be(0, 4));  // size 0: the last box, to the file's end
  EXPECT_EQ(csv(to_end), kLondon);
  put(to_end, find(to_end, "jxlc") - 4, be(1, 4));  // a large size cut by the file
  EXPECT_EQ(csv(to_end), "");
}
