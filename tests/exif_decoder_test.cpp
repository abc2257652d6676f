// The EXIF decoder: header checks, value formats in both byte orders, the tag tables, directory
// walks (failures, cycles, bounds) and the record rules across segments.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "exif/exif_reader.h"
#include "support/exif_builder.h"

using namespace std::string_literals;
using namespace fixture;

namespace {

constexpr Order kOrders[] = {Order::kIntel, Order::kMotorola};
constexpr Order kMM = Order::kMotorola;
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

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

}  // namespace

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

  Bytes header_only = Tiff().payload();
  ImageMetadata md{};
  ExifReader reader(&md);
  EXPECT_FALSE(reader.process_exif(header_only.data(), 16));  // no room for a directory
  EXPECT_FALSE(reader.process_exif(header_only.data(), 15));  // shorter than the header
}

TEST(ExifDecoder, EveryFormatCodeInBothByteOrders) {
  const std::pair<uint16_t, int64_t> integers[] = {{1, 0xFE}, {3, 0xFFFE}, {4, 0x7FFFFFFF},
                                                   {6, 0xFE}, {8, 0xFFFE}, {9, -70000},
                                                   {0, 9},    {2, '7'},    {7, 5}};
  const int32_t expected[] = {254, 65534, kMax, -2, -2, -70000, 0, 0, 0};  // no number: 0
  for (Order order : kOrders) {
    for (size_t i = 0; i < std::size(integers); ++i) {
      const auto [format, raw] = integers[i];
      EXPECT_EQ(decode(Tiff(order).first().integer(274, format, raw)).orientation, expected[i])
          << format;
    }
    const ImageMetadata md = decode(Tiff(order)
                                        .first()
                                        .rationals(37386, {{7, 2}})
                                        .rationals(282, {{1, 0}})
                                        .rationals(283, {{0xFFFFFFF6u, 4}})  // signed: -10 / 4
                                        .srationals(37380, {{-1, 3}})
                                        .floats(37382, {-2.75f})
                                        .doubles(37379, {0.1})
                                        .rationals(274, {{0x80000000u, 1}}));
    const float reals[] = {md.focal_length,  md.x_resolution,     md.y_resolution,
                           md.exposure_bias, md.subject_distance, md.brightness};
    EXPECT_EQ(std::vector<float>(reals, reals + 6),
              (std::vector<float>{3.5f, 0, -2.5f, static_cast<float>(-1.0 / 3.0), -2.75f, 0.1f}));
    EXPECT_EQ(md.orientation, kMin);
  }
}

TEST(ExifDecoder, GpsFieldsInBothByteOrders) {
  for (Order order : kOrders) {
    Tiff tiff(order);
    tiff.first().pointer(kGpsPointer, tiff.add_directory()
                                          .ascii(1, "North")
                                          .rationals(2, {{43, 1}, {28, 1}, {284, 100}})
                                          .ascii(3, "W")
                                          .srationals(4, {{-11, 1}, {53, 1}, {1, 0}})
                                          .integer(5, kByte, 1)
                                          .srationals(6, {{-63959, 100}}));
    EXPECT_EQ(gps_of(decode(tiff.first())), "No 43 28 2.84, W -11 53 0, 1 -639");

    // Elements at value offsets 0, 8 and 16 whatever the format and count: they read the next
    // value's bytes, and zeros past the block's end.
    Tiff other(order);
    other.first().pointer(kGpsPointer,
                          other.add_directory().longs(4, {7, 8, 9}).rationals(2, {{40, 1}}));
    EXPECT_EQ(gps_of(decode(other.first())), " 40 0 0,  7 9 1, 0 0");  // 1: the next value's
  }
}

TEST(ExifDecoder, TagTablesBelongToTheirDirectories) {
  Tiff tiff;
  auto& exif = tiff.add_directory();
  auto& gps = tiff.add_directory();
  auto& after_gps = tiff.add_directory().ascii(271, "linked to gps").ascii(3, "W");
  tiff.first().pointer(kExifPointer, exif).pointer(kGpsPointer, gps);
  exif.ascii(1, "S")
      .rationals(2, {{1, 1}})
      .pointer(kInteropPointer, tiff.add_directory().ascii(272, "from interop"));
  gps.ascii(271, "from gps").ascii(1, "N").link(after_gps);  // a linked directory has kind 0
  ImageMetadata md = decode(tiff.first());
  EXPECT_STREQ(md.camera_make, "linked to gps");
  EXPECT_STREQ(md.camera_model, "from interop");
  EXPECT_EQ(gps_of(md), "N -,  -, 0 0");

  // Bounded texts; one that runs to the block's end without a NUL stops there.
  md = decode(Tiff(kMM)
                  .first()
                  .ascii(271, std::string(40, 'm'))
                  .ascii(36867, "2024:01:02 03:04:05 and more")
                  .undefined(36864, "0232")
                  .entry(272, kAscii, 9, bytes_of("no-nul-at-end")));
  EXPECT_EQ(std::string(md.camera_make), std::string(31, 'm'));
  EXPECT_STREQ(md.camera_model, "no-nul-at-end");
  EXPECT_STREQ(md.date_time_original, "2024:01:02 03:04:05");
  EXPECT_STREQ(md.exif_version, "0232");
}

// An entry that cannot be used is passed over and the rest of its directory is read: a format
// code above 12, a value or a sub-directory outside the block. Only a directory whose entry table
// does not fit fails, and a link outside the block ends the chain.
TEST(ExifDecoder, BrokenEntriesArePassedOver) {
  for (Order order : kOrders) {
    Tiff tiff(order);
    auto& gps = tiff.add_directory()
                    .ascii(1, "S")
                    .entry(9, 13, 1, {})
                    .raw(2, kRational, 3, block_end(16))
                    .ascii(3, "E");
    tiff.first()
        .ascii(271, "in")
        .entry(1, 13, 1, {})
        .raw(272, kAscii, 8, block_end(7))
        .raw(kExifPointer, kLong, 1, Field{1, true})
        .pointer(kGpsPointer, gps)
        .shorts(274, {6})
        .link_raw(Field{1, true});
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
    branching.first()
        .pointer(kExifPointer, loop)
        .pointer(kGpsPointer, branching.add_directory().ascii(1, "S"));
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
      tiff.tail(Bytes(10, 0xAB))
          .first()
          .rationals(282, {{300, 1}})
          .link(tiff.add_directory()
                    .raw(513, kLong, 1, block_end(10))
                    .longs(514, {length})
                    .rationals(282, {{72, 1}}));
      Decode d(tiff);
      EXPECT_EQ(d.md.x_resolution, 72.0f);  // the linked directory's value comes last
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
