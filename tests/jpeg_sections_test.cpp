// The marker-segment walk: start of image, fill bytes, lengths, segments passed over, frame
// headers, comments, and which EXIF segment stays in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "exif/exif_reader.h"
#include "support/exif_builder.h"

using namespace std::string_literals;
using fixture::Bytes;
using fixture::Jpeg;
using fixture::Tiff;

namespace {

// Reads `bytes` with a fresh reader over a zeroed record.
struct Read {
  explicit Read(const Bytes& bytes) : stream(bytes), reader(&md) {
    std::memset(&md, 0, sizeof md);  // padding too, for the byte comparison
    ok = reader.read_sections(stream.get());
  }
  fixture::Stream stream;
  ImageMetadata md;
  ExifReader reader;
  bool ok;
};

bool is_zero(const ImageMetadata& md) {
  static const ImageMetadata kZero{};
  return std::memcmp(&md, &kZero, sizeof md) == 0;
}

// What process_comment makes of one COM payload.
std::string comment_of(const std::string& payload) {
  const Bytes segment = Jpeg().com(payload).bytes();
  ImageMetadata md{};
  ExifReader reader(&md);
  reader.process_comment(segment.data() + 2, static_cast<int32_t>(segment.size() - 2));
  EXPECT_EQ(md.comment[sizeof md.comment - 1], 0);
  return md.comment;
}

// The frame fields after reading `bytes`: marker, height, width, colour.
std::string frame(const Bytes& bytes) {
  Read r(bytes);
  EXPECT_TRUE(r.ok);
  char text[64];
  std::snprintf(text, sizeof text, "%X %d %d %d", r.md.sof_marker, r.md.height, r.md.width,
                r.md.is_colour);
  return text;
}

// An EXIF segment naming the camera's make.
Bytes exif(const char* make) {
  Tiff tiff;
  tiff.first().ascii(271, make);
  return Jpeg().app1_exif(tiff).bytes();
}

}  // namespace

TEST(JpegSections, StartOfImageAndFillBytes) {
  Read sos_only(Bytes{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02});
  EXPECT_TRUE(sos_only.ok);
  EXPECT_TRUE(is_zero(sos_only.md));
  for (const Bytes& bad :
       {Bytes{}, Bytes{0xFF}, Bytes{0xFF, 0xD8}, Bytes{0xFF, 0xD9, 0xFF, 0xDA, 0, 2},
        Bytes{0x00, 0xFF, 0xD8, 0xFF, 0xDA, 0, 2}}) {
    EXPECT_FALSE(Read(bad).ok);
  }
  ExifReader owning(nullptr);  // an owned record starts zeroed and is freed with the reader
  EXPECT_TRUE(is_zero(owning.metadata()));

  // Up to five fill bytes before a marker; a marker code straight after a segment.
  const Bytes app1 = exif("Fill");
  Read six(Jpeg().soi().raw(Bytes(5, 0xFF)).raw(app1).sos().bytes());
  EXPECT_TRUE(six.ok);
  EXPECT_STREQ(six.md.camera_make, "Fill");
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

// Any number of segments may precede the image data: quantisation tables, ICC chunks, XMP.
TEST(JpegSections, ManySegmentsAreReadToTheStartOfScan) {
  Jpeg many;
  many.soi();
  for (int i = 0; i < 40; ++i) {
    many.dqt()
        .segment(0xE2, fixture::bytes_of("ICC_PROFILE\0"s + std::string(300, 'i')))
        .segment(0xE1, fixture::bytes_of("http://ns.adobe.com/xap/1.0/\0"s))
        .segment(0xE1, {'E', 'x', 'i'})
        .segment(0xE0, fixture::bytes_of("JFIF\0"s))
        .com("again");
  }
  Read r(many.sof(0xC0, 480, 640, 3).raw(exif("Late")).sos().bytes());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.md.width, 640);
  EXPECT_STREQ(r.md.camera_make, "Late");
  EXPECT_TRUE(r.md.has_exif);
}

TEST(JpegSections, FrameHeaders) {
  EXPECT_EQ(frame(Jpeg().soi().sof(0xC2, 0x1234, 0xABCD, 3).sos().bytes()), "C2 4660 43981 1");
  EXPECT_EQ(frame(Jpeg().soi().sof(0xCF, 1, 2, 4).sos().bytes()), "CF 1 2 0");
  // The last frame header wins; DHT, JPG and DAC are none; a short one changes nothing.
  Jpeg last;
  last.soi().sof(0xC2, 1, 2, 3).sof(0xC0, 5, 6, 1);
  for (uint8_t marker : {uint8_t{0xC4}, uint8_t{0xC8}, uint8_t{0xCC}}) last.sof(marker, 7, 7, 3);
  last.segment(0xC1, {8, 0, 5, 0, 6}).sos();
  EXPECT_EQ(frame(last.bytes()), "C0 5 6 0");
}

// The comment's cleaning and its cut at 1022 bytes, whose CR LF look-ahead may pass the cut but
// never the segment.
TEST(JpegSections, CommentCleaning) {
  EXPECT_EQ(comment_of("ab\r\ncd\ra\0\t\x7f\xe9"s), "ab\ncd?a?\t\x7f\xe9");
  const std::string y(1020, 'y');
  EXPECT_EQ(comment_of(y + "y\r\nz"), y + "y");
  EXPECT_EQ(comment_of(y + "y\r"), y + "y?");
  EXPECT_EQ(comment_of(y + "\r\nz"), y + "\n");

  // Through the walk, which reads only the start of a long comment; the first comment counts.
  EXPECT_STREQ(Read(Jpeg().soi().com("first").com("second").sos().bytes()).md.comment, "first");
  Read cut(Jpeg().soi().com(y + "y\r\n" + std::string(5000, 'z')).sos().bytes());
  EXPECT_TRUE(cut.ok);
  EXPECT_EQ(std::string(cut.md.comment), y + "y");
}

// A later EXIF block that fails keeps what an earlier one gave; only the segment that the
// thumbnail lies in stays in memory.
TEST(JpegSections, ExifBlocksAndTheSegmentKept) {
  Tiff with_thumbnail;
  with_thumbnail.tail(Bytes{0xFF, 0xD8, 0xFF, 0xD9})
      .first()
      .ascii(271, "Thumb")
      .raw(513, fixture::kLong, 1, fixture::block_end(4))
      .longs(514, {4});
  Tiff broken;
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
