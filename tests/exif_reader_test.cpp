// The EXIF reader: the marker-segment walk, the decoder of TIFF blocks, and the containers around
// them (per container: positions in both byte orders, cut and hostile sizes; which names are read
// and how the content decides the container).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "exif/exif_reader.h"
#include "output/output.h"
#include "photo/photo.h"
#include "support/exif_builder.h"
#include "support/platform.h"

using namespace std::string_literals;
using namespace fixture;

namespace {

// Reads `bytes` with a fresh reader over a zeroed record.
struct Walk {
  explicit Walk(Bytes b) : bytes(std::move(b)), input(bytes.data(), bytes.size()), reader(&md) {
    ok = read_jpeg(input, reader);
  }
  Bytes bytes;
  MemoryInput input;
  ImageMetadata md{};
  ExifReader reader;
  bool ok;
};

// An EXIF segment naming the camera's make.
Bytes exif(const char* make) {
  Tiff tiff;
  tiff.first().ascii(271, make);
  return Jpeg().app1_exif(tiff).bytes();
}

constexpr Order kOrders[] = {Order::kIntel, Order::kMotorola};
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

// One APP1 payload decoded into a zeroed record; the payload stays alive for `thumbnail`.
struct Decode {
  explicit Decode(const Tiff& tiff) : payload(tiff.payload()), reader(&md) { again(); }
  bool again() {
    return ok = reader.process_exif(payload.data(), static_cast<int32_t>(payload.size() + 2));
  }
  ImageMetadata md{};
  Bytes payload;
  ExifReader reader;
  bool ok = false;
};

ImageMetadata decode(const Directory& any) {
  return Decode(any.tiff()).md;
}

// The GPS fields that a position is made of, "-" for a coordinate without its value:
// "N 43 28 2.84, W -11 53 0, 1 -639".
std::string gps_of(const ImageMetadata& md) {
  const auto part = [](const char* ref, bool has, const float(&v)[3]) {
    char text[96] = " -";
    if (has)
      std::snprintf(text, sizeof text, " %g %g %g", double{v[0]}, double{v[1]}, double{v[2]});
    return ref + std::string(text);
  };
  return part(md.gps_latitude_ref, md.has_gps_latitude, md.gps_latitude) + ", " +
         part(md.gps_longitude_ref, md.has_gps_longitude, md.gps_longitude) + ", " +
         std::to_string(md.gps_altitude_ref) + " " + std::to_string(md.gps_altitude);
}

const std::string kLondon = "x,51.507332,-0.127667,+35\n";

// The GPS entries of a photo taken in London, 35 m up, in `gps`.
void london_entries(Directory& gps) {
  gps.ascii(1, "N").rationals(2, {{51, 1}, {30, 1}, {2640, 100}});
  gps.ascii(3, "W").rationals(4, {{0, 1}, {7, 1}, {3960, 100}});
  gps.integer(5, kByte, 0).rationals(6, {{35, 1}});
}

// A camera's block with the London position in its GPS directory.
Tiff& london(Tiff& tiff) {
  Directory& gps = tiff.add_directory();
  london_entries(gps);
  tiff.first().ascii(271, "Camera").pointer(kGpsPointer, gps);
  return tiff;
}

// That block bare, as a HEIF item or JPEG XL box ("item"), or in a JPEG.
Bytes london(Order order = Order::kIntel, const std::string& as = "block") {
  Tiff tiff(order);
  london(tiff);
  if (as == "item") return exif_item(tiff);
  if (as == "jpeg") return Jpeg().soi().app1_exif(tiff).dqt().sos().eoi().bytes();
  return tiff.block();
}

struct Read {
  PhotoFormat format;
  std::string csv;  // the CSV line for the name "x", or ""
  uint64_t fetched;
  std::string time;  // as -t states it
  ImageMetadata md;
};

Read read(const Bytes& bytes) {
  ImageMetadata md;
  std::memset(&md, 0, sizeof md);
  MemoryInput input(bytes.data(), bytes.size());
  ExifReader reader(&md);
  Read r{read_photo(input, reader), "", input.bytes_fetched(), "", md};
  r.time = capture_time(md).stated;
  r.md = md;
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

TEST(JpegSections, StartOfImageAndFillBytes) {
  Walk sos_only(Bytes{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02});
  EXPECT_TRUE(sos_only.ok);
  for (const Bytes& bad :
       {Bytes{}, Bytes{0xFF}, Bytes{0xFF, 0xD8}, Bytes{0xFF, 0xD9, 0xFF, 0xDA, 0, 2},
        Bytes{0x00, 0xFF, 0xD8, 0xFF, 0xDA, 0, 2}}) {
    EXPECT_FALSE(Walk(bad).ok);
  }
  // Up to five fill bytes before a marker; a marker code straight after a segment.
  const Bytes app1 = exif("Fill");
  Walk five(Jpeg().soi().raw(Bytes(5, 0xFF)).raw(app1).sos().bytes());
  EXPECT_TRUE(five.ok);
  EXPECT_STREQ(five.md.camera_make, "Fill");
  EXPECT_FALSE(Walk(Jpeg().soi().raw(Bytes(6, 0xFF)).raw(app1).sos().bytes()).ok);
  Walk bare(Jpeg().soi().raw(Bytes(app1.begin() + 1, app1.end())).sos().bytes());
  EXPECT_TRUE(bare.ok);
  EXPECT_STREQ(bare.md.camera_make, "Fill");
}

TEST(JpegSections, LengthFieldsCutsAndEndOfImage) {
  EXPECT_FALSE(Walk(Jpeg().soi().segment_with_length(0xDB, 0, {}).sos().bytes()).ok);
  EXPECT_FALSE(Walk(Jpeg().soi().segment_with_length(0xDB, 1, {}).sos().bytes()).ok);
  EXPECT_TRUE(Walk(Jpeg().soi().segment(0xDB, {}).sos().bytes()).ok);
  EXPECT_FALSE(Walk(Jpeg().soi().eoi().bytes()).ok);
  EXPECT_FALSE(Walk(Jpeg().soi().dqt().eoi().raw({0x00, 0x02}).sos().bytes()).ok);
  EXPECT_FALSE(Walk(Jpeg().soi().dqt().bytes()).ok);  // no marker after the segment

  // A segment cut short fails wherever it lies, read or passed over; what came before stays.
  for (const Bytes& cut :
       {Jpeg().soi().sof(0xC0, 10, 20, 3).com(std::string(100, 'x')).truncate(90).bytes(),
        Jpeg().soi().sof(0xC0, 10, 20, 3).dqt().truncate(10).bytes(),
        Jpeg().soi().sof(0xC0, 10, 20, 3).raw(exif("x")).truncate(3).bytes(),
        Jpeg().soi().sof(0xC0, 10, 20, 3).sos().truncate(8).bytes()}) {
    Walk r(cut);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.md.width, 20);
    EXPECT_EQ(r.md.comment[0], 0);
    EXPECT_EQ(r.md.camera_make[0], 0);
  }
}

// Any number of segments may precede the image data: quantisation tables, ICC chunks, XMP, an
// APP1 too short for EXIF.
TEST(JpegSections, ManySegmentsAreReadToTheStartOfScan) {
  Jpeg many;
  many.soi();
  for (int i = 0; i < 40; ++i) {
    many.dqt()
        .segment(0xE2, bytes_of("ICC_PROFILE\0"s + std::string(300, 'i')))
        .segment(0xE1, bytes_of("http://ns.adobe.com/xap/1.0/\0"s))
        .segment(0xE1, {'E', 'x', 'i'})
        .com("again");
  }
  Walk r(many.sof(0xC0, 480, 640, 3).raw(exif("Late")).sos().bytes());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.md.width, 640);
  EXPECT_STREQ(r.md.camera_make, "Late");
}

// The comment's cleaning and its cut at 1022 bytes, whose CR LF look-ahead may pass the cut but
// never the segment; the walk reads only the start of a long comment, and the first one counts.
TEST(JpegSections, CommentCleaning) {
  const auto comment_of = [](const std::string& payload) {
    return std::string(Walk(Jpeg().soi().com(payload).com("second").sos().bytes()).md.comment);
  };
  EXPECT_EQ(comment_of("ab\r\ncd\ra\0\t\x7f\xe9"s), "ab\ncd?a?\t\x7f\xe9");
  const std::string y(1020, 'y');
  EXPECT_EQ(comment_of(y + "y\r\nz"), y + "y");
  EXPECT_EQ(comment_of(y + "y\r"), y + "y?");
  EXPECT_EQ(comment_of(y + "\r\nz"), y + "\n");
  EXPECT_EQ(comment_of(y + "y\r\n" + std::string(5000, 'z')), y + "y");
}

// A later EXIF block that fails keeps what an earlier one gave; the thumbnail stays readable
// while later segments are read.
TEST(JpegSections, ExifBlocksAndTheSegmentKept) {
  Tiff with_thumbnail;
  with_thumbnail.tail(Bytes{0xFF, 0xD8, 0xFF, 0xD9}).first().ascii(271, "Thumb");
  with_thumbnail.first().raw(513, kLong, 1, block_end(4)).longs(514, {4});
  Tiff broken;
  broken.mark("XX");

  Walk r(Jpeg().soi().app1_exif(with_thumbnail).app1_exif(broken).raw(exif("Last")).sos().bytes());
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.md.has_exif);
  EXPECT_STREQ(r.md.camera_make, "Last");
  ASSERT_NE(r.md.thumbnail, nullptr);
  EXPECT_EQ(std::memcmp(r.md.thumbnail, "\xFF\xD8\xFF\xD9", 4), 0);

  Walk none(Jpeg().soi().raw(exif("One")).app1_exif(broken).sos().bytes());
  EXPECT_TRUE(none.md.has_exif);
  EXPECT_FALSE(Walk(Jpeg().soi().app1_exif(broken).sos().bytes()).md.has_exif);
}

TEST(ExifDecoder, HeaderChecks) {
  // The first directory lies where the header says, anywhere after the header.
  for (Order order : kOrders) {
    Tiff tiff(order);
    tiff.first().ascii(271, "at 8");
    const Directory& later = tiff.add_directory().ascii(271, "later");
    EXPECT_STREQ(decode(tiff.first_offset(tiff.offset_of(later)).first()).camera_make, "later");
  }
  for (uint32_t offset : {0u, 7u, 0x08000000u}) {
    EXPECT_FALSE(Decode(Tiff().first_offset(offset).first().ascii(271, "x").tiff()).ok);
  }
  EXPECT_FALSE(Decode(Tiff().mark("IM").first().tiff()).ok);
  EXPECT_FALSE(Decode(Tiff().magic(43).first().tiff()).ok);
}

TEST(ExifDecoder, EveryFormatCodeInBothByteOrders) {
  const std::pair<uint16_t, int64_t> integers[] = {
      {1, 0xFE},   {3, 0xFFFE}, {4, 0x7FFFFFFF}, {6, 0xFE}, {8, 0xFFFE},
      {9, -70000}, {13, 70000}, {0, 9},          {2, '7'},  {7, 5}};
  const int32_t expected[] = {254, 65534, kMax, -2, -2, -70000, 70000, 0, 0, 0};  // no number: 0
  for (Order order : kOrders) {
    for (size_t i = 0; i < std::size(integers); ++i) {
      const auto [format, raw] = integers[i];
      EXPECT_EQ(decode(Tiff(order).first().integer(274, format, raw)).orientation, expected[i])
          << format;
    }
    Tiff tiff(order);  // RATIONAL is unsigned: 0xFFFFFFF6 / 4 is 1073741821.5
    tiff.first().rationals(37386, {{7, 2}}).rationals(282, {{1, 0}});
    tiff.first().rationals(283, {{0xFFFFFFF6u, 4}}).srationals(37380, {{-1, 3}});
    tiff.first().floats(37382, {-2.75f}).doubles(37379, {0.1});
    const ImageMetadata md = decode(tiff.first().rationals(274, {{0x80000000u, 1}}));
    const float reals[] = {md.focal_length,  md.x_resolution,     md.y_resolution,
                           md.exposure_bias, md.subject_distance, md.brightness};
    EXPECT_EQ(
        std::vector<float>(reals, reals + 6),
        (std::vector<float>{3.5f, 0, 1073741821.5f, static_cast<float>(-1.0 / 3.0), -2.75f, 0.1f}));
    EXPECT_EQ(md.orientation, kMax);
  }
}

TEST(ExifDecoder, GpsFieldsInBothByteOrders) {
  for (Order order : kOrders) {
    Tiff tiff(order);
    Directory& gps = tiff.add_directory().ascii(1, "North").ascii(3, "W");
    gps.rationals(2, {{43, 1}, {28, 1}, {284, 100}}).srationals(4, {{-11, 1}, {53, 1}, {1, 0}});
    tiff.first().pointer(kGpsPointer, gps.integer(5, kByte, 1).srationals(6, {{-63959, 100}}));
    EXPECT_EQ(gps_of(decode(tiff.first())), "No 43 28 2.84, W -11 53 0, 1 -639");

    // Elements at value offsets 0, 8 and 16 whatever the format and count: they read the next
    // value's bytes, and zeros past the block's end.
    Tiff other(order);
    other.first().pointer(kGpsPointer,
                          other.add_directory().longs(4, {7, 8, 9}).rationals(2, {{40, 1}}));
    EXPECT_EQ(gps_of(decode(other.first())), " 40 0 0,  7 9 1, 0 0");  // 1: the next value's

    // Direction, its reference and accuracy: one RATIONAL each, where a zero denominator or
    // another format is no value.
    for (const bool known : {true, false}) {
      Tiff view(order);
      Directory& directions = view.add_directory();
      if (known) {
        directions.ascii(16, "Magnetic").rationals(17, {{12345, 100}}).rationals(31, {{7, 2}});
      } else {
        directions.rationals(17, {{5, 0}}).srationals(31, {{7, 2}});
      }
      view.first().pointer(kGpsPointer, directions);
      const ImageMetadata md = decode(view.first());
      char text[64];
      std::snprintf(text, sizeof text, "%s %d %g %d %g", md.gps_img_direction_ref,
                    md.has_gps_img_direction, double{md.gps_img_direction},
                    md.has_gps_h_positioning_error, double{md.gps_h_positioning_error});
      EXPECT_STREQ(text, known ? "M 1 123.45 1 3.5" : " 0 0 0 0");
    }
  }
}

// RATIONAL is unsigned (a phone's seconds of 2564660003/100000000 are 25.6 s, not -17.3 s); only
// SRATIONAL is signed. An altitude that does not fit 32 bits, or is not a number, is none, and its
// reference with it.
TEST(ExifDecoder, RationalsAreUnsignedAndAltitudesMustFit) {
  struct Altitude {
    std::function<void(Directory&)> entry;
    AltitudeState state;
    const char* csv;  // with reference 1
  };
  const Altitude altitudes[] = {
      {[](Directory& g) {
         g.rationals(6, {{4294967284u, 1}});
       },
       AltitudeState::kUnfit, ""},
      {[](Directory& g) {
         g.rationals(6, {{2147483648u, 1}});
       },
       AltitudeState::kUnfit, ""},
      {[](Directory& g) { g.doubles(6, {NAN}); }, AltitudeState::kUnfit, ""},
      {[](Directory& g) {
         g.srationals(6, {{-12, 1}});
       },
       AltitudeState::kRecorded, ",+12"},
      {[](Directory& g) {
         g.rationals(6, {{1, 4}});
       },
       AltitudeState::kRecorded, ",-0"},
      {[](Directory&) {}, AltitudeState::kNone, ",-0"}};
  for (Order order : kOrders) {
    for (const Altitude& altitude : altitudes) {
      Tiff tiff(order);
      Directory& gps = tiff.add_directory().ascii(1, "N").ascii(3, "E").integer(5, kByte, 1);
      gps.rationals(2, {{37, 1}, {46, 1}, {2564660003u, 100000000}});
      gps.srationals(4, {{-122, 1}, {0, 1}, {-1, 2}});
      altitude.entry(gps);
      tiff.first().pointer(kGpsPointer, gps);
      const Read r = read(Jpeg().soi().app1_exif(tiff).sos().bytes());
      EXPECT_EQ(r.md.gps_latitude_exact[2], 25.64660003);
      EXPECT_EQ(r.md.gps_longitude_exact[2], -0.5);
      EXPECT_EQ(r.md.gps_altitude_state, altitude.state);
      EXPECT_EQ(r.csv, "x,37.773792,-122.000137" + std::string(altitude.csv) + "\n");
    }
  }
}

TEST(ExifDecoder, TagTablesBelongToTheirDirectories) {
  Tiff tiff;
  auto& exif = tiff.add_directory();
  auto& gps = tiff.add_directory();
  auto& after_gps = tiff.add_directory().ascii(271, "linked to gps").ascii(3, "W");
  tiff.first().pointer(kExifPointer, exif).pointer(kGpsPointer, gps);
  exif.ascii(1, "S").rationals(2, {{1, 1}});
  exif.pointer(kInteropPointer, tiff.add_directory().ascii(272, "from interop"));
  gps.ascii(271, "from gps").ascii(1, "N").link(after_gps);  // a linked directory has kind 0
  ImageMetadata md = decode(tiff.first());
  EXPECT_STREQ(md.camera_make, "linked to gps");
  EXPECT_STREQ(md.camera_model, "from interop");
  EXPECT_EQ(gps_of(md), "N -,  -, 0 0");

  // Bounded texts; one that runs to the block's end without a NUL stops there.
  Tiff texts(Order::kMotorola);
  texts.first().ascii(36867, "2024:01:02 03:04:05 and more");
  md = decode(texts.first().entry(272, kAscii, 9, bytes_of("no-nul-at-end")));
  EXPECT_STREQ(md.date_time_original, "2024:01:02 03:04:05");
  EXPECT_STREQ(md.camera_model, "no-nul-at-end");
}

// An entry that cannot be used is passed over and the rest of its directory is read: a format
// code above 12, a value or a sub-directory outside the block. Only a directory whose entry table
// does not fit fails, and a link outside the block ends the chain.
TEST(ExifDecoder, BrokenEntriesArePassedOver) {
  for (Order order : kOrders) {
    Tiff tiff(order);
    auto& gps = tiff.add_directory().ascii(1, "S").entry(9, 13, 1, {});
    gps.raw(2, kRational, 3, block_end(16)).ascii(3, "E");
    tiff.first().ascii(271, "in").entry(1, 13, 1, {}).raw(272, kAscii, 8, block_end(7));
    tiff.first().raw(kExifPointer, kLong, 1, Field{1, true}).pointer(kGpsPointer, gps);
    tiff.first().shorts(274, {6}).link_raw(Field{1, true});
    Decode d(tiff);
    EXPECT_TRUE(d.ok);
    EXPECT_STREQ(d.md.camera_make, "in");
    EXPECT_EQ(d.md.camera_model[0], 0);
    EXPECT_EQ(d.md.orientation, 6);
    EXPECT_EQ(gps_of(d.md), "S -, E -, 0 0");

    // A sub-directory whose table does not fit fails alone.
    Tiff sub(order);
    sub.first().raw(kGpsPointer, kLong, 1, block_end(1)).ascii(272, "after");
    EXPECT_STREQ(decode(sub.first()).camera_model, "after");
  }
  Tiff cut;
  cut.first().ascii(271, std::string(40, 'x'));
  const auto size = static_cast<uint32_t>(cut.block().size());
  EXPECT_FALSE(Decode(cut.first_offset(size - 1)).ok);
  EXPECT_FALSE(Decode(cut.first_offset(size)).ok);
}

TEST(ExifDecoder, CyclesAndFanOutEndQuickly) {
  for (Order order : kOrders) {
    Tiff self(order);
    self.first().ascii(271, "self").pointer(kExifPointer, self.first()).link(self.first());
    EXPECT_TRUE(Decode(self).ok);

    Tiff parent(order);
    auto& exif = parent.add_directory();
    parent.first().pointer(kExifPointer, exif).ascii(271, "parent");
    exif.link(exif).pointer(
        kGpsPointer, parent.add_directory().ascii(1, "N").pointer(kExifPointer, parent.first()));
    Decode p(parent);
    EXPECT_TRUE(p.ok);
    EXPECT_STREQ(p.md.camera_make, "parent");
    EXPECT_STREQ(p.md.gps_latitude_ref, "N");

    // A directory on the walk path is refused at once, so a branching self-cycle does not eat
    // the budget that later directories need.
    Tiff branching(order);
    auto& loop = branching.add_directory();
    loop.pointer(kExifPointer, loop).pointer(kExifPointer, loop).link(loop);
    Directory& south = branching.add_directory().ascii(1, "S");
    branching.first().pointer(kExifPointer, loop).pointer(kGpsPointer, south);
    EXPECT_STREQ(decode(branching.first()).gps_latitude_ref, "S");
  }
  // A long chain: nesting stops after 16 directories on one path.
  Tiff chain;
  Directory* last = &chain.first().shorts(274, {0});
  for (uint16_t i = 1; i < 40; ++i) {
    auto& next = chain.add_directory().shorts(274, {i});
    last->link(next);
    last = &next;
  }
  EXPECT_EQ(decode(chain.first()).orientation, ExifReader::kMaxDirectoryDepth - 1);

  // Fan-out: each directory points four times at the next; the walk budget ends it.
  Tiff fan;
  last = &fan.first();
  for (int i = 1; i < 16; ++i) {
    auto& next = fan.add_directory();
    for (int k = 0; k < 4; ++k) last->pointer(kExifPointer, next);
    last = &next;
  }
  Decode d(fan);
  EXPECT_TRUE(d.ok);
  // The budget belongs to one block: the next block walks again, up to the budget.
  Tiff flat;
  for (uint16_t i = 1; i < 200; ++i) {
    flat.first().pointer(kExifPointer, flat.add_directory().shorts(274, {i}));
  }
  d.payload = flat.payload();
  EXPECT_TRUE(d.again());
  EXPECT_EQ(d.md.orientation, ExifReader::kMaxDirectoryWalks - 1);
}

TEST(ExifDecoder, ThumbnailLocation) {
  for (Order order : kOrders) {
    for (uint32_t length : {10u, 11u}) {
      Tiff tiff(order);
      Directory& thumb = tiff.add_directory().raw(513, kLong, 1, block_end(10));
      tiff.tail(Bytes(10, 0xAB)).first().link(thumb.longs(514, {length}));
      Decode d(tiff);
      EXPECT_EQ(d.md.thumbnail, length == 10 ? d.payload.data() + d.payload.size() - 10 : nullptr);
      EXPECT_EQ(d.md.thumbnail_length, length == 10 ? 10 : 0);
    }
  }
  // Offset and length must come from one directory.
  Tiff split;
  split.first().longs(513, {8}).link(split.add_directory().longs(514, {4}));
  EXPECT_EQ(decode(split.first()).thumbnail, nullptr);
  EXPECT_EQ(decode(Tiff().first().longs(513, {0xFFFFFFF0u}).longs(514, {0x20})).thumbnail, nullptr);
}

// Every container in both byte orders, as encoders and cameras lay it out; what the content is
// named whatever the name. A bare JPEG XL codestream is one, without a position; an ftyp box of
// other brands (audio) is none.
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
                             box("ftyp", bytes_of("mp71\0\0\0\0M4A "s))}) {
    EXPECT_EQ(read(other).format, PhotoFormat::kNone);
  }
}

// Sub-directory pointers of type 13 (IFD), as scanners, GIS tools and Pillow write them, are read
// in every container; a code above 13 is still passed over.
TEST(Containers, PointersOfTypeIfd) {
  for (Order order : kOrders) {
    for (const uint16_t format : {kIfd, uint16_t{14}}) {
      Tiff tiff(order);
      Directory& gps = tiff.add_directory();
      london_entries(gps);
      Directory& exif = tiff.add_directory().ascii(36867, "2019:06:01 14:03:22");
      tiff.first().pointer(kExifPointer, exif, format).pointer(kGpsPointer, gps, format);
      for (const Bytes& bytes : {Jpeg().soi().app1_exif(tiff).sos().bytes(), tiff.block(),
                                 fixture::heif(exif_item(tiff))}) {
        const Read r = read(bytes);
        EXPECT_EQ(r.csv, format == kIfd ? kLondon : "") << format;
        EXPECT_EQ(r.time, format == kIfd ? "2019-06-01T14:03:22" : "");
      }
    }
  }
}

// The capture time of a CR3 file is in its EXIF directory box (CMT2).
TEST(Containers, Cr3CaptureTime) {
  for (Order order : kOrders) {
    Tiff gps(order), exif(order);
    london_entries(gps.first());
    exif.first().ascii(36867, "2019:06:01 14:03:22").ascii(36881, "+02:00");
    const Read r = read(fixture::cr3(gps.block(), 64, 1000, exif.block()));
    EXPECT_EQ(r.csv, kLondon);
    EXPECT_EQ(r.time, "2019-06-01T14:03:22+02:00");
  }
}

// A HEIF file with several images takes the Exif item that iref links to the primary image, and
// the first one only when no reference names the primary image.
TEST(Heif, ThePrimaryImagesExifItem) {
  for (Order order : kOrders) {
    Tiff thumbnail(order);
    Directory& gps = thumbnail.add_directory().ascii(1, "S").ascii(3, "E");
    gps.rationals(2, {{10, 1}, {0, 1}, {0, 1}}).rationals(4, {{20, 1}, {0, 1}, {0, 1}});
    thumbnail.first().pointer(kGpsPointer, gps);
    HeifOptions o;
    o.other_exif = exif_item(thumbnail);
    EXPECT_EQ(csv(fixture::heif(london(order, "item"), o)), kLondon);
    o.unreferenced = true;
    EXPECT_EQ(csv(fixture::heif(london(order, "item"), o)), "x,-10.000000,20.000000\n");
  }
}

// ImageMagick's PNG text chunks hold the EXIF block in hexadecimal, compressed or not, with or
// without "Exif\0\0" before it; an eXIf chunk wins wherever it lies. A text that is not of that
// form, or shorter than it says, gives nothing.
TEST(Png, ExifInTextChunks) {
  for (Order order : kOrders) {
    const Bytes block = london(order), prefixed = join({bytes_of("Exif\0\0"s), block});
    for (const char* type : {"tEXt", "zTXt", "iTXt"}) {
      EXPECT_EQ(csv(fixture::png({}, false, 64, png_profile(type, block))), kLondon) << type;
    }
    EXPECT_EQ(csv(fixture::png({}, true, 20000, png_profile("iTXt", prefixed, "APP1", true))),
              kLondon);
  }
  Tiff other;
  other.first().pointer(kGpsPointer, other.add_directory().ascii(1, "S").rationals(2, {{1, 1}}));
  EXPECT_EQ(csv(fixture::png(london(), true, 64, png_profile("zTXt", other.block()))), kLondon);
  const Bytes text = png_profile("tEXt", london());
  const size_t digits = find(text, "\nexif\n") + 6, hex = find(text, "\n49") + 1;
  for (const Bytes& bad :
       {patched(text, digits, bytes_of("9")), patched(text, hex, bytes_of("g")),
        patched(text, find(text, "exif"), bytes_of("iptc")), patched(text, 4, bytes_of("teXt"))}) {
    EXPECT_EQ(csv(fixture::png({}, false, 64, bad)), "");
  }
}

// The extension decides whether a file is read.
TEST(Containers, PhotoExtensions) {
  for (const char* name : {"a.jpg",  "a.JPEG", "a.heic", "a.HEIF", "a.hif", "a.avif", "a.Cr3",
                           "a.tif",  "a.TIFF", "a.dng",  "a.cr2",  "a.nef", "a.nrw",  "a.arw",
                           "a.sr2",  "a.srw",  "a.pef",  "a.orf",  "a.RW2", "a.raf",  "a.png",
                           "a.webp", "a.jxl",  "a.MOV",  "a.mp4",  "a.m4v", "a.3GP",  "a.3g2"}) {
    EXPECT_TRUE(has_photo_extension(name)) << name;
  }
  for (const char* name : {"a.gif", "a.heic.txt", "heic", "a.cr", "a.tiff2", "a.m4a", "a.", ""}) {
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
      kExifPointer,
      big.add_directory().undefined(37500, std::string(ExifReader::kMaxExifBlock, 'n')));
  EXPECT_EQ(csv(fixture::heif(exif_item(big))), kLondon);
}

// A TIFF-based file is its own block: TIFF, the raws built on it, Olympus's and Panasonic's magics.
TEST(TiffFile, PositionsInEveryMagicAndByteOrder) {
  for (Order order : kOrders) {
    Tiff tiff(order);
    london(tiff).tail(Bytes(5000, 0));
    EXPECT_EQ(csv(tiff.magic(0x4F52).block()), kLondon);  // "IIRO" / "MMOR"
    // Panasonic's "IIU\0" and Olympus's "IIRS"; their big-endian forms are none.
    for (const uint16_t magic : {uint16_t{0x55}, uint16_t{0x5352}}) {
      EXPECT_EQ(csv(tiff.magic(magic).block()), order == Order::kIntel ? kLondon : "");
    }
  }
  // The same magics in an EXIF segment are refused.
  Tiff orf;
  london(orf).magic(0x4F52);
  EXPECT_EQ(csv(Jpeg().soi().app1_exif(orf).sos().bytes()), "");
}

// Directories far from the start are read from windows loaded where they lie; the image data
// and whatever else the file holds are never fetched.
TEST(TiffFile, FarDirectoriesAndBytesRead) {
  constexpr size_t kImage = 8 << 20;
  // The GPS directory after a 100 KB maker note; the first directory after the image data.
  Tiff far, last(Order::kMotorola);
  far.first().pointer(kExifPointer, far.add_directory().undefined(37500, std::string(100000, 'm')));
  london(far).tail(Bytes(kImage, 0));
  last.first().undefined(700, std::string(kImage, 'i'));
  Directory &first = last.add_directory(), &gps = last.add_directory();
  london_entries(gps);
  first.ascii(271, "Camera").pointer(kGpsPointer, gps);
  Read r{};
  for (const Bytes& block : {far.block(), last.first_offset(last.offset_of(first)).block()}) {
    r = read(block);
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
    past.first().raw(kGpsPointer, kLong, 1, at(offset));
    r = read(past.tail(Bytes(kImage / 2, 0)).block());
    EXPECT_EQ(r.csv, "");
    EXPECT_LE(r.fetched, 2u * ExifReader::kWindowSize);
  }
}

// A TIFF-based file's values are read wherever they lie: the drone layout (the first directory
// far into the file, the GPS directory in its window, the coordinates past that window's end),
// and a scanner's EXIF directory near the end of the file with the capture time.
TEST(TiffFile, ValuesAndTheExifDirectoryWhereverTheyLie) {
  for (Order order : kOrders) {
    Tiff drone(order);
    drone.first().undefined(700, std::string(4 << 20, 'i'));
    Directory& first = drone.add_directory().ascii(271, "Drone");
    Directory& gps = drone.add_directory().ascii(1, "N").ascii(3, "W").integer(5, kByte, 0);
    gps.raw(2, kRational, 3, block_end(64)).raw(4, kRational, 3, block_end(40));
    gps.raw(17, kRational, 1, block_end(16)).raw(31, kRational, 1, block_end(8));
    first.pointer(kGpsPointer, gps.rationals(6, {{35, 1}}));
    drone.tail(Bytes(20000, 0))
        .tail(drone.numbers({51, 1, 30, 1, 2640, 100, 0, 1, 7, 1, 3960, 100, 90, 1, 5, 1}));
    const Read r = read(drone.first_offset(drone.offset_of(first)).block());
    EXPECT_EQ(r.csv, kLondon);
    EXPECT_TRUE(r.md.has_gps_img_direction && r.md.has_gps_h_positioning_error);
    EXPECT_EQ(r.md.gps_img_direction, 90);
    EXPECT_EQ(r.md.gps_h_positioning_error, 5);
    EXPECT_LE(r.fetched, 4u * ExifReader::kWindowSize);

    Tiff scan(order);
    Directory& exif = scan.add_directory().ascii(36867, "2019:06:01 14:03:22");
    scan.first().undefined(700, std::string(42000, 's')).pointer(kExifPointer, exif);
    EXPECT_EQ(read(scan.block()).time, "2019-06-01T14:03:22");
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

// ---------------------------------------------------------------------------------------------
// Positions outside the EXIF block: ISO 6709 texts, XMP packets, Google's Takeout JSON.

namespace {

std::string degrees(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

// "lat lon alt" at full precision ("-" for no altitude), or "none".
std::string position_of(bool ok, const DecimalPosition& p) {
  if (!ok) return "none";
  char text[96];
  std::snprintf(text, sizeof text, "%.15g %.15g ", p.latitude, p.longitude);
  return text + (p.has_altitude ? degrees(p.altitude) : "-");
}

std::string iso6709(const std::string& text) {
  DecimalPosition p{};
  return position_of(parse_iso6709(text.data(), text.size(), p), p);
}

// The fields of an XMP packet: "lat lon alt date offset | drone lat lon alt yaw", "-" for each
// one absent.
std::string xmp(const std::string& packet) {
  XmpFields f{};
  const bool stored = read_xmp(reinterpret_cast<const uint8_t*>(packet.data()), packet.size(), f);
  const auto number = [](bool has, double v) { return has ? degrees(v) : "-"; };
  const auto text = [](const char* t) { return *t ? std::string(t) : "-"; };
  const std::string all =
      number(f.has_latitude, f.latitude) + " " + number(f.has_longitude, f.longitude) + " " +
      number(f.has_altitude, f.altitude) + " " + text(f.date_time_original) + " " +
      text(f.offset_time_original) + " | " + number(f.has_drone_latitude, f.drone_latitude) + " " +
      number(f.has_drone_longitude, f.drone_longitude) + " " +
      number(f.has_drone_altitude, f.drone_altitude) + " " +
      number(f.has_gimbal_yaw, f.gimbal_yaw_degree);
  EXPECT_EQ(stored, all != "- - - - - | - - - -") << packet;
  return all;
}

const char kNoXmp[] = "- - - - - | - - - -";

// An XMP packet with one top-level description holding `inside` (its attributes first).
std::string packet(const std::string& attributes, const std::string& elements = "") {
  return "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
         "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
         " <rdf:Description rdf:about=''\n"
         "  xmlns:exif='http://ns.adobe.com/exif/1.0/'\n"
         "  xmlns:drone-dji='http://www.dji.com/drone-dji/1.0/'\n" +
         attributes + ">\n" + elements + " </rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n" +
         std::string(200, ' ') + "\n<?xpacket end='w'?>";
}

std::string takeout(const std::string& json) {
  TakeoutFields f{};
  const bool ok = read_takeout_json(reinterpret_cast<const uint8_t*>(json.data()), json.size(), f);
  return (ok ? "" : "bad: ") + position_of(f.has_position, f.position) +
         (f.has_taken_time ? " at " + std::to_string(f.taken_time) : "");
}

}  // namespace

TEST(Iso6709, EveryFormAndWhatIsNoPosition) {
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"+37.3349-122.0090+013.575/", "37.3349 -122.009 13.575"},
      {"-33.8568+151.2153-012.5CRSWGS_84/", "-33.8568 151.2153 -12.5"},
      {"+40-075/", "40 -75 -"},
      {"+4012.2166-07500.2502/",
       degrees(40 + 12.2166 / 60) + " " + degrees(-(75 + 0.2502 / 60)) + " -"},
      {"+401213.1-0750015.12CRSEPSG:4326/", degrees(40 + 12 / 60.0 + 13.1 / 3600) + " " +
                                                degrees(-(75 + 0 / 60.0 + 15.12 / 3600)) + " -"},
      {"+90.0000-180.0000/", "90 -180 -"},
      {"-00.0000+000.0000/", "0 0 -"},      // no negative zero
      {"+12.5+001.5/\0\0"s, "12.5 1.5 -"},  // padding from a fixed-size field
      // Not positions.
      {"+37.3349-122.0090", "none"},   // no closing '/'
      {"37.3349-122.0090/", "none"},   // no sign
      {"+037.33-122.00/", "none"},     // three latitude degree digits
      {"+37.33-22.00/", "none"},       // two longitude degree digits
      {"+40121-07500/", "none"},       // an odd count of digits
      {"+4060.00-07500.00/", "none"},  // 60 minutes
      {"+401260-0750000/", "none"},    // 60 seconds
      {"+90.0001+000.0000/", "none"},  // beyond the pole
      {"+00.0000+180.0001/", "none"},  // beyond the date line
      {"+37.-122.0/", "none"},         // a point without digits
      {"+37.3-122.0+/", "none"},       // an altitude without digits
      {"+37.3-122.0CR/", "none"},      // not "CRS"
      {"+37.3-122.0CRS/x/", "none"},   // bytes after the '/'
      {"+37.3-122.0/ ", "none"},
      {"+37.3 -122.0/", "none"},
      {"/", "none"},
      {"", "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(iso6709(c.text), c.expected) << c.text;
}

TEST(Xmp, FieldsInAttributeAndElementFormByNamespace) {
  const std::string london = degrees(51 + 30.4404 / 60) + " " + degrees(-(7.656 / 60));
  const struct {
    std::string packet;
    std::string expected;
  } cases[] = {
      // Lightroom: attributes on one description among many namespaces.
      {packet("  xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='3'\n"
              "  exif:GPSLatitude='51,30.4404N' exif:GPSLongitude=\"0,7.656W\"\n"
              "  exif:GPSAltitude='71/2' exif:GPSAltitudeRef='1'\n"
              "  exif:DateTimeOriginal='2019-06-01T14:03:22.25+02:00'"),
       london + " -35.5 2019:06:01 14:03:22 +02:00 | - - - -"},
      // ExifTool, darktable: elements, under any prefix; entities, CDATA, a zone of Z.
      {packet("xmlns:e='http://ns.adobe.com/exif/1.0/'",
              "  <e:GPSLatitude> 51,30,26.424N\n</e:GPSLatitude>\n"
              "  <e:GPSLongitude><![CDATA[0,7,39.36W]]></e:GPSLongitude>\n"
              "  <e:GPSAltitude>35&#47;1</e:GPSAltitude><e:GPSAltitudeRef>0</e:GPSAltitudeRef>\n"
              "  <!-- a comment --><e:DateTimeOriginal>2019-06-01T14:03Z</e:DateTimeOriginal>\n"),
       degrees(51 + 30 / 60.0 + 26.424 / 3600) + " " + degrees(-(7 / 60.0 + 39.36 / 3600)) +
           " 35 2019:06:01 14:03:00 +00:00 | - - - -"},
      // DJI drones, with the misspelt longitude; the default namespace on elements.
      {packet("drone-dji:GpsLatitude='+22.54431' drone-dji:GpsLongtitude='+113.95' "
              "drone-dji:AbsoluteAltitude='-12.50' drone-dji:GimbalYawDegree='-90.1'",
              "<GPSLatitude xmlns='http://ns.adobe.com/exif/1.0/'>1,0S</GPSLatitude>"),
       "-1 - - - - | 22.54431 113.95 -12.5 -90.1"},
      // The first valid value counts; a date without seconds or zone.
      {packet(
           "exif:GPSLatitude='91,0N' exif:DateTimeOriginal='2019-06-01T14:03:22'",
           "<exif:GPSLatitude>10,0N</exif:GPSLatitude><exif:GPSLatitude>20,0N</exif:GPSLatitude>"),
       "10 - - 2019:06:01 14:03:22 - | - - - -"},
      // Deeper down (IPTC's LocationShown) the same names describe something else.
      {packet("xmlns:Iptc4xmpExt='http://iptc.org/std/Iptc4xmpExt/2008-02-29/'",
              "<Iptc4xmpExt:LocationShown><rdf:Bag><rdf:li rdf:parseType='Resource'>"
              "<exif:GPSLatitude>10,0N</exif:GPSLatitude></rdf:li></rdf:Bag>"
              "</Iptc4xmpExt:LocationShown>"),
       kNoXmp},
      // A prefix bound to another namespace, an attribute without a prefix, names in the wrong
      // case, a structure where a value belongs.
      {packet("xmlns:exif2='http://ns.adobe.com/exif/1.0' exif2:GPSLatitude='1,0N' "
              "GPSLatitude='1,0N' exif:gpslatitude='1,0N'",
              "<exif:GPSLongitude><rdf:Seq><rdf:li>1,0E</rdf:li></rdf:Seq></exif:GPSLongitude>"),
       kNoXmp},
      // A prefix rebound inside an element and restored after it.
      {packet("",
              "<exif:x xmlns:exif='urn:other'><exif:GPSLatitude>1,0N</exif:GPSLatitude>"
              "</exif:x><exif:GPSLongitude>2,0E</exif:GPSLongitude>"),
       "- 2 - - - | - - - -"},
  };
  for (const auto& c : cases) EXPECT_EQ(xmp(c.packet), c.expected) << c.packet;
}

TEST(Xmp, BadValuesAndBrokenPacketsGiveWhatIsSound) {
  const char* bad_values[] = {
      "51,60N",  "91,0N",  "51,30.4E", "51.5",  "51,30",      "51,30,1.5,2N", "51,30.4,10N",
      "1234,0N", "51,,0N", "51,30.4n", " ,30N", "51,30.4N x", "51,3&bogus;N",
  };
  for (const char* value : bad_values) {
    EXPECT_EQ(xmp(packet("exif:GPSLatitude='"s + value + "'")), kNoXmp) << value;
  }
  // Character references stand for their characters.
  EXPECT_EQ(xmp(packet("exif:GPSLatitude='1,30&#x2E;5&#78;'")),
            "1.50833333333333 - - - - | - - - -");
  const char* bad_dates[] = {"2019-06-01",          "2019-13-01T10:00",
                             "2019-06-01 10:00:00", "2019-06-01T10:00:00+2:00",
                             "2019-06-01T24:00",    "2019-06-01T10:00:00."};
  for (const char* value : bad_dates) {
    EXPECT_EQ(xmp(packet("exif:DateTimeOriginal='"s + value + "'")), kNoXmp) << value;
  }
  // An altitude needs a reference of 0 or 1, if any, and a denominator.
  EXPECT_EQ(xmp(packet("exif:GPSAltitude='35/1' exif:GPSAltitudeRef='2'")), kNoXmp);
  EXPECT_EQ(xmp(packet("exif:GPSAltitude='35/0'")), kNoXmp);
  EXPECT_EQ(xmp(packet("drone-dji:GimbalYawDegree='180.5' drone-dji:GpsLatitude='--1'")), kNoXmp);

  // A packet cut anywhere reads nothing past the cut, and only whole values before it.
  const std::string whole =
      packet("exif:GPSLatitude='1,0N'", "<exif:GPSLongitude>2,0E</exif:GPSLongitude>");
  const std::string read[] = {kNoXmp, "1 - - - - | - - - -", "1 2 - - - | - - - -"};
  for (size_t cut = 0, seen = 0; cut <= whole.size(); ++cut) {
    const std::string got = xmp(whole.substr(0, cut));
    while (seen < 2 && got != read[seen]) ++seen;
    EXPECT_EQ(got, read[seen]) << cut;
  }
  EXPECT_EQ(xmp(whole), read[2]);
  // Nesting past the limit ends the scan; markup that cannot be followed too.
  std::string deep;
  for (int i = 0; i <= kMaxXmpDepth; ++i) deep += "<a>";
  EXPECT_EQ(xmp(deep + packet("exif:GPSLatitude='1,0N'")), kNoXmp);
  EXPECT_EQ(xmp("<a x='<'>" + packet("exif:GPSLatitude='1,0N'")), kNoXmp);
  EXPECT_EQ(xmp("</a>" + packet("exif:GPSLatitude='1,0N'")), kNoXmp);
}

// ExifTool writes sidecars (and reads them back); pinreel must read the same values.
TEST(Xmp, SidecarsAsExifToolWritesAndReadsThem) {
  if (platform::kWindows || std::system("command -v exiftool >/dev/null") != 0) {
    GTEST_SKIP() << "exiftool is not installed";
  }
  const std::string dir = platform::make_temp_dir();
  ASSERT_NE(dir, "");
  const char* writes[] = {
      "-XMP:GPSLatitude=51.50734 -XMP:GPSLongitude=-0.1276 -XMP:GPSAltitude=35.5 "
      "'-XMP:DateTimeOriginal=2019:06:01 14:03:22.25+02:00'",
      "-XMP:GPSLatitude=-33.85678 -XMP:GPSLongitude=151.215297 -XMP:GPSAltitude=12.3 "
      "-XMP:GPSAltitudeRef#=1 "
      "'-XMP:DateTimeOriginal=2020:02:29 23:59:59Z'",
      "-XMP:GPSLatitude=0.000001 -XMP:GPSLongitude=179.999999 -XMP-drone-dji:GpsLatitude=22.5 "
      "'-XMP:DateTimeOriginal=2021:01:01 00:00:00' "
      "-XMP-drone-dji:GpsLongitude=-113.9 -XMP-drone-dji:AbsoluteAltitude=120.25",
  };
  std::string ours;
  for (size_t i = 0; i < std::size(writes); ++i) {
    const std::string file = dir + "/" + std::to_string(i) + ".xmp";
    ASSERT_EQ(std::system(("exiftool -q -o " + file + " " + writes[i]).c_str()), 0) << writes[i];
    FILE* in = std::fopen(file.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::string bytes;
    for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<char>(c));
    std::fclose(in);
    ours += std::to_string(i) + ".xmp " + xmp(bytes) + "\n";
  }
  // The same line from ExifTool's reading: the altitude signed by its reference, the date's
  // fraction dropped and its zone apart.
  const std::string format =
      "$FileName $XMP-exif:GPSLatitude $XMP-exif:GPSLongitude "
      "${XMP-exif:GPSAltitude;$_ = -$_ if $self->GetValue(\"GPSAltitudeRef\",\"ValueConv\")} "
      "${XMP-exif:DateTimeOriginal;s/[.]\\d+//;s/Z$/+00:00/;s/([+-]\\d\\d:\\d\\d)$/ $1/ or $_ .= "
      "\" -\"} | "
      "$XMP-drone-dji:GpsLatitude $XMP-drone-dji:GpsLongitude $XMP-drone-dji:AbsoluteAltitude "
      "$XMP-drone-dji:GimbalYawDegree";
  ASSERT_EQ(std::system(("cd " + dir + " && exiftool -q -m -n -f -p '" + format +
                         "' 0.xmp 1.xmp 2.xmp >exiftool.txt")
                            .c_str()),
            0);
  std::ifstream in(dir + "/exiftool.txt");
  std::string theirs{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(ours, theirs);
  std::system(("rm -rf " + dir).c_str());
}

TEST(Takeout, GeoDataAndTakenTimeAsExportsWriteThem) {
  // A real export's layout, the fields read placed among the others.
  const std::string real =
      R"({"title": "IMG_4081.JPG", "description": "", "imageViews": "12",
          "creationTime": {"timestamp": "1560100000", "formatted": "9 Jun 2019, 17:06:40 UTC"},
          "photoTakenTime": {"timestamp": "1560074400", "formatted": "9 Jun 2019, 10:00:00 UTC"},
          "geoData": {"latitude": 48.8583701, "longitude": 2.2944813, "altitude": 35.2,
                      "latitudeSpan": 0.0, "longitudeSpan": 0.0},
          "geoDataExif": {"latitude": 1.0, "longitude": 1.0, "altitude": 0.0,
                          "latitudeSpan": 0.0, "longitudeSpan": 0.0},
          "people": [{"name": "A"}, {"name": "B"}],
          "url": "https://photos.google.com/photo/x",
          "googlePhotosOrigin": {"mobileUpload": {"deviceFolder": {"localFolderName": ""},
                                                  "deviceType": "IOS_PHONE"}}})";
  EXPECT_EQ(takeout(real), "48.8583701 2.2944813 35.2 at 1560074400");
  const struct {
    std::string json;
    std::string expected;
  } cases[] = {
      // All zero: no position. A zero altitude is none.
      {R"({"geoData": {"latitude": 0.0, "longitude": 0.0, "altitude": 0.0}})", "none"},
      {R"({"geoData": {"latitude": -33.5, "longitude": 0.0, "altitude": 0.0}})", "-33.5 0 -"},
      // A nested value inside geoData, a numeric timestamp, keys in any order.
      {R"({"photoTakenTime": {"timestamp": -86400}, "geoData": {"x": {"latitude": 9},
           "longitude": 1, "latitude": 2}})",
       "2 1 - at -86400"},
      // The same names elsewhere are not the photo's.
      {R"({"people": [{"geoData": {"latitude": 1.0, "longitude": 1.0}}],
           "x": {"photoTakenTime": {"timestamp": "5"}}})",
       "none"},
      // Values out of range or of the wrong kind.
      {R"({"geoData": {"latitude": 90.5, "longitude": 1}, "photoTakenTime": {"timestamp": "1e9"}})",
       "none"},
      {R"({"geoData": {"latitude": "1", "longitude": 1},
           "photoTakenTime": {"timestamp": "1234567890123456789"}})",
       "none"},
      // Not one JSON object.
      {R"({"geoData": {"latitude": 1.0, "longitude": 1.0})", "bad: none"},
      {R"({"geoData": {"latitude": 1.0, "longitude": 1.0}} x)", "bad: none"},
      {R"([{"geoData": {"latitude": 1.0, "longitude": 1.0}}])", "bad: none"},
      {"\"text\"", "bad: none"},
      {"", "bad: none"},
      {std::string(kMaxTakeoutDepth, '[') + std::string(kMaxTakeoutDepth, ']'), "bad: none"},
      {"{\"a\":" + std::string(kMaxTakeoutDepth, '[') + std::string(kMaxTakeoutDepth, ']') + "}",
       "bad: none"},
      {"{\"a\":" + std::string(kMaxTakeoutDepth - 2, '[') + std::string(kMaxTakeoutDepth - 2, ']') +
           ", \"geoData\": {\"latitude\": 1, \"longitude\": 2}}",
       "1 2 -"},
      {R"({"geoData": {"latitude": 1.0, "longitude": 1.0}, "x": ")" +
           std::string(kMaxTakeoutJson, ' ') + "\"}",
       "bad: none"},
  };
  for (const auto& c : cases) EXPECT_EQ(takeout(c.json), c.expected) << c.json.substr(0, 200);
}

// ---------------------------------------------------------------------------------------------
// Videos: the location and the creation time in the movie box.

namespace {

const std::string kLocationKey = "com.apple.quicktime.location.ISO6709";
const std::string kDateKey = "com.apple.quicktime.creationdate";
const std::string kXyz = "\xA9xyz";
// 2019-06-01T12:03:22Z in seconds since 1904.
constexpr uint64_t kCreation = 3642235402;

VideoOptions video_options(const std::string& brand, bool moov_first = false, bool wide = true,
                           uint64_t creation = 0) {
  VideoOptions o;
  o.brand = brand;
  o.moov_first = moov_first;
  o.wide = wide;
  o.creation = creation;
  return o;
}

Bytes user_data(const Bytes& boxes) {
  return box("udta", boxes);
}

}  // namespace

// Each layout that phones, cameras, ffmpeg and ExifTool write, the movie box before or after the
// media data; the first location by precedence (Apple's key, QuickTime's text, an item list's,
// 3GPP's box) wherever each stands; the creation date with its offset, else mvhd's time in UTC.
TEST(Video, LocationsAndTimesInEveryLayout) {
  const Bytes iphone = keyed_meta(
      {{kLocationKey, "+48.8577+002.2950+035.000/"}, {kDateKey, "2019-06-01T14:03:22+0200"}});
  const std::string paris = "x,48.857700,2.295000,+35\n", iphone_time = "2019-06-01T14:03:22+02:00";
  const Bytes sydney = user_data(user_text(kXyz, "-33.8568+151.2153/"));
  const std::string sydney_csv = "x,-33.856800,151.215300\n", utc = "2019-06-01T12:03:22Z";
  VideoOptions large = video_options("qt  ", true, true, kCreation);
  large.large_sizes = large.version1 = true;
  VideoOptions far = video_options("qt  ");
  far.creation = uint64_t{1} << 62;
  const Bytes loci = location_box(3201938, 150405, 0);
  const struct {
    Bytes bytes;
    std::string csv, time;
  } cases[] = {
      {video(iphone), paris, iphone_time},
      {video(iphone, large), paris, iphone_time},
      // Other keys first, a count beyond the entries, a date in UTC.
      {video(keyed_meta({{"com.apple.quicktime.make", "Apple"},
                         {kDateKey, "2019-06-01T14:03:22Z"},
                         {kLocationKey, "+48.8577+002.2950+035.000/"}})),
       paris, "2019-06-01T14:03:22+00:00"},
      {video(sydney, video_options("qt  ", false, true, kCreation)), sydney_csv, utc},
      {video(sydney, large), sydney_csv, utc},
      // Older QuickTime files, without ftyp.
      {video(sydney, video_options("", false)), sydney_csv, ""},
      {video(sydney, video_options("", false, false)), sydney_csv, ""},
      {video(sydney, video_options("", true, false)), sydney_csv, ""},
      {video(user_data(listed_meta(kXyz, "+35.6586+139.7454+045.5/")), video_options("mp42")),
       "x,35.658600,139.745400,+45\n", ""},
      {video(user_data(loci), video_options("isom", false, false)), "x,48.857697,2.294998\n", ""},
      {video(user_data(location_box(-2218839, 9910046, -786432, {0xFE, 0xFF, 0, 'P', 0, 0})),
             video_options("3gp4", true)),
       "x,-33.856796,151.215302,-12\n", ""},
      // Precedence, whatever the order.
      {video(join({user_data(join({loci, user_text(kXyz, "-33.8568+151.2153/")})), iphone})), paris,
       iphone_time},
      {video(user_data(join({loci, user_text(kXyz, "-33.8568+151.2153/")}))), sydney_csv, ""},
      // A creation date that fails its checks leaves mvhd's time; times out of range are none.
      {video(keyed_meta({{kDateKey, "2019-02-30T14:03:22+0200"}}), large), "", utc},
      {video({}, video_options("qt  ", false, true, 1)), "", "1904-01-01T00:00:01Z"},
      {video({}, far), "", ""},
      {video({}), "", ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Read r = read(cases[i].bytes);
    EXPECT_EQ(r.format, PhotoFormat::kVideo) << i;
    EXPECT_EQ(r.csv, cases[i].csv) << i;
    EXPECT_EQ(r.time, cases[i].time) << i;
    EXPECT_EQ(r.md.has_decimal_position, !cases[i].csv.empty()) << i;
    if (!cases[i].csv.empty()) {
      EXPECT_EQ(r.md.position_source, PositionSource::kQuickTime) << i;
    }
  }
}

// Sizes and counts that point outside their box or the file, texts too long, values out of range:
// no position, nothing read outside, and the container still named. The media data and the track
// tables are passed over unread.
TEST(Video, HostileBoxesAndBytesRead) {
  const Bytes xyz = video(user_data(user_text(kXyz, "-33.8568+151.2153/")));
  const Bytes keyed = video(keyed_meta({{kLocationKey, "+48.8577+002.2950/"}}));
  const Bytes loci = video(user_data(location_box(3201938, 150405, 0)));
  const size_t text = find(xyz, "-33.8568") - 4, entry = find(keyed, kLocationKey) - 8;
  const size_t moov = find(xyz, "moov") - 4, mdat = find(xyz, "mdat") - 4;
  const Bytes cases[] = {
      patched(xyz, text, be(19, 2)),                  // the text's length past its box
      patched(xyz, moov, be(xyz.size(), 4)),          // moov past the file
      patched(xyz, mdat, be(0, 4)),                   // the media data to the end of the file
      patched(xyz, find(xyz, "udta") - 4, be(4, 4)),  // a size smaller than its header
      video(user_data(user_text(kXyz, "+48.8577" + std::string(60, '0') + "+002.2950/"))),
      patched(keyed, entry, be(4, 4)),                        // an entry shorter than its header
      patched(keyed, entry, be(0x7FFFFFFF, 4)),               // an entry past its box
      patched(keyed, find(keyed, "mdta"), bytes_of("mdir")),  // the item named by index, not type
      patched(keyed, find(keyed, "keys"), bytes_of("kexs")),
      patched(keyed, find(keyed, "data") - 4, be(15, 4)),       // a value shorter than its header
      video(user_data(location_box(5963776, 0, 0))),            // 91 degrees north
      video(user_data(location_box(0, -11862016, 0))),          // 181 degrees west
      patched(loci, find(loci, "loci") - 4, be(20, 4)),         // cut after the name
      patched(loci, find(loci, "earth") - 14, Bytes(20, 'a')),  // a name to the box's end
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Read r = read(cases[i]);
    EXPECT_EQ(r.format, PhotoFormat::kVideo) << i;
    EXPECT_EQ(r.csv, "") << i;
  }
  // A phone's file: megabytes of media data, then a movie box with large track tables before the
  // location.
  VideoOptions phone = video_options("qt  ");
  phone.media_size = 8 << 20;
  phone.track_size = 1 << 20;
  const Read r = read(video(keyed_meta({{kLocationKey, "+48.8577+002.2950/"}}), phone));
  EXPECT_EQ(r.csv, "x,48.857700,2.295000\n");
  EXPECT_LE(r.fetched, 24u * 1024);
}

// The XMP packet of every container that holds one, read only when asked for: without, a TIFF
// file's packet beyond the windows is never fetched.
TEST(Xmp, PacketInEveryContainer) {
  const std::string position = packet("",
                                      "  <exif:GPSLatitude>48,51.5022N</exif:GPSLatitude>\n"
                                      "  <exif:GPSLongitude>2,17.6689E</exif:GPSLongitude>\n");
  Tiff with_gps;
  london(with_gps);
  Tiff tiff;
  tiff.first()
      .ascii(271, "Scanner")
      .raw(700, kUndefined, static_cast<uint32_t>(position.size()),
           block_end(static_cast<uint32_t>(position.size())));
  tiff.tail(Bytes(40000, 0)).tail(bytes_of(position));
  HeifOptions heif_xmp;
  heif_xmp.xmp = bytes_of(position);
  const Bytes app1 = join({bytes_of("http://ns.adobe.com/xap/1.0/"), Bytes{0}, bytes_of(position)});
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"jpeg", Jpeg().soi().app1_exif(with_gps).segment(0xE1, app1).dqt().sos().eoi().bytes()},
      {"heif", heif(exif_item(with_gps), heif_xmp)},
      {"jxl", join({jxl(exif_item(with_gps)), box("xml ", bytes_of(position))})},
      {"tiff", tiff.block()},
      {"png", png(with_gps.block(), false, 64, png_xmp(position, true))},
      {"png after the image", png({}, true, 20000, png_xmp(position, false))},
      {"webp", webp(with_gps.block(), 64, position)},
  };
  const auto six = [](double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value);
    return std::string(text);
  };
  for (const auto& c : cases) {
    uint64_t fetched_without = 0;
    for (const bool wanted : {false, true}) {
      ImageMetadata md;
      std::memset(&md, 0, sizeof md);
      XmpFields fields{};
      MemoryInput input(c.bytes.data(), c.bytes.size());
      ExifReader reader(&md, wanted ? &fields : nullptr);
      read_photo(input, reader);
      EXPECT_EQ(fields.has_latitude && fields.has_longitude, wanted) << c.name;
      EXPECT_EQ(six(fields.latitude), wanted ? "48.858370" : "0.000000") << c.name;
      EXPECT_EQ(six(fields.longitude), wanted ? "2.294482" : "0.000000") << c.name;
      if (!wanted) fetched_without = input.bytes_fetched();
      if (wanted && std::string(c.name) == "tiff") {
        EXPECT_GE(input.bytes_fetched(), fetched_without + position.size());
        EXPECT_LT(fetched_without, 40000u);
      }
      // The EXIF block is read as ever.
      if (std::string(c.name) != "tiff" && std::string(c.name) != "png after the image") {
        EXPECT_TRUE(md.has_exif && md.has_gps_latitude) << c.name;
      }
    }
  }
}
