// The marker-segment walk: start of image, fill bytes, lengths, cut segments, comments, and which
// EXIF segment stays in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exif/exif_reader.h"
#include "support/exif_builder.h"

using namespace std::string_literals;
using fixture::Bytes;
using fixture::Jpeg;

namespace {

// Reads `bytes` with a fresh reader over a zeroed record.
struct Read {
  explicit Read(Bytes b) : bytes(std::move(b)), input(bytes.data(), bytes.size()), reader(&md) {
    ok = reader.read_sections(input);
  }
  Bytes bytes;
  MemoryInput input;
  ImageMetadata md{};
  ExifReader reader;
  bool ok;
};

// An EXIF segment naming the camera's make.
Bytes exif(const char* make) {
  fixture::Tiff tiff;
  tiff.first().ascii(271, make);
  return Jpeg().app1_exif(tiff).bytes();
}

}  // namespace

TEST(JpegSections, StartOfImageAndFillBytes) {
  Read sos_only(Bytes{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02});
  EXPECT_TRUE(sos_only.ok);
  EXPECT_FALSE(sos_only.md.has_exif);
  for (const Bytes& bad :
       {Bytes{}, Bytes{0xFF}, Bytes{0xFF, 0xD8}, Bytes{0xFF, 0xD9, 0xFF, 0xDA, 0, 2},
        Bytes{0x00, 0xFF, 0xD8, 0xFF, 0xDA, 0, 2}}) {
    EXPECT_FALSE(Read(bad).ok);
  }
  // Up to five fill bytes before a marker; a marker code straight after a segment.
  const Bytes app1 = exif("Fill");
  Read five(Jpeg().soi().raw(Bytes(5, 0xFF)).raw(app1).sos().bytes());
  EXPECT_TRUE(five.ok);
  EXPECT_STREQ(five.md.camera_make, "Fill");
  EXPECT_FALSE(Read(Jpeg().soi().raw(Bytes(6, 0xFF)).raw(app1).sos().bytes()).ok);
  Read bare(Jpeg().soi().raw(Bytes(app1.begin() + 1, app1.end())).sos().bytes());
  EXPECT_TRUE(bare.ok);
  EXPECT_STREQ(bare.md.camera_make, "Fill");
}

TEST(JpegSections, LengthFieldsCutsAndEndOfImage) {
  EXPECT_FALSE(Read(Jpeg().soi().segment_with_length(0xDB, 0, {}).sos().bytes()).ok);
  EXPECT_FALSE(Read(Jpeg().soi().segment_with_length(0xDB, 1, {}).sos().bytes()).ok);
  EXPECT_TRUE(Read(Jpeg().soi().segment(0xDB, {}).sos().bytes()).ok);
  EXPECT_FALSE(Read(Jpeg().soi().eoi().bytes()).ok);
  EXPECT_FALSE(Read(Jpeg().soi().dqt().eoi().raw({0x00, 0x02}).sos().bytes()).ok);
  EXPECT_FALSE(Read(Jpeg().soi().dqt().bytes()).ok);  // no marker after the segment

  // A segment cut short fails wherever it lies, read or passed over; what came before stays.
  for (const Bytes& cut :
       {Jpeg().soi().sof(0xC0, 10, 20, 3).com(std::string(100, 'x')).truncate(90).bytes(),
        Jpeg().soi().sof(0xC0, 10, 20, 3).dqt().truncate(10).bytes(),
        Jpeg().soi().sof(0xC0, 10, 20, 3).raw(exif("x")).truncate(3).bytes(),
        Jpeg().soi().sof(0xC0, 10, 20, 3).sos().truncate(8).bytes()}) {
    Read r(cut);
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
        .segment(0xE2, fixture::bytes_of("ICC_PROFILE\0"s + std::string(300, 'i')))
        .segment(0xE1, fixture::bytes_of("http://ns.adobe.com/xap/1.0/\0"s))
        .segment(0xE1, {'E', 'x', 'i'})
        .com("again");
  }
  Read r(many.sof(0xC0, 480, 640, 3).raw(exif("Late")).sos().bytes());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.md.width, 640);
  EXPECT_STREQ(r.md.camera_make, "Late");
}

// The comment's cleaning and its cut at 1022 bytes, whose CR LF look-ahead may pass the cut but
// never the segment; the walk reads only the start of a long comment, and the first one counts.
TEST(JpegSections, CommentCleaning) {
  const auto comment_of = [](const std::string& payload) {
    return std::string(Read(Jpeg().soi().com(payload).com("second").sos().bytes()).md.comment);
  };
  EXPECT_EQ(comment_of("ab\r\ncd\ra\0\t\x7f\xe9"s), "ab\ncd?a?\t\x7f\xe9");
  const std::string y(1020, 'y');
  EXPECT_EQ(comment_of(y + "y\r\nz"), y + "y");
  EXPECT_EQ(comment_of(y + "y\r"), y + "y?");
  EXPECT_EQ(comment_of(y + "\r\nz"), y + "\n");
  EXPECT_EQ(comment_of(y + "y\r\n" + std::string(5000, 'z')), y + "y");
}

// A later EXIF block that fails keeps what an earlier one gave; only the segment that the
// thumbnail lies in stays in memory.
TEST(JpegSections, ExifBlocksAndTheSegmentKept) {
  fixture::Tiff with_thumbnail;
  with_thumbnail.tail(Bytes{0xFF, 0xD8, 0xFF, 0xD9})
      .first()
      .ascii(271, "Thumb")
      .raw(513, fixture::kLong, 1, fixture::block_end(4))
      .longs(514, {4});
  fixture::Tiff broken;
  broken.mark("XX");

  Read r(Jpeg().soi().app1_exif(with_thumbnail).app1_exif(broken).raw(exif("Last")).sos().bytes());
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.md.has_exif);
  EXPECT_STREQ(r.md.camera_make, "Last");
  ASSERT_NE(r.md.thumbnail, nullptr);
  EXPECT_EQ(std::memcmp(r.md.thumbnail, "\xFF\xD8\xFF\xD9", 4), 0);
  const uint8_t* kept = r.reader.thumbnail_segment();
  ASSERT_NE(kept, nullptr);
  EXPECT_TRUE(r.md.thumbnail >= kept &&
              r.md.thumbnail + 4 <= kept + r.reader.thumbnail_segment_size());

  Read none(Jpeg().soi().raw(exif("One")).app1_exif(broken).sos().bytes());
  EXPECT_TRUE(none.md.has_exif);
  EXPECT_EQ(none.reader.thumbnail_segment(), nullptr);
  EXPECT_FALSE(Read(Jpeg().soi().app1_exif(broken).sos().bytes()).md.has_exif);
}
