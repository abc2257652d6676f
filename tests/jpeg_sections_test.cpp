// The marker-segment walk: start of image, fill bytes, lengths, the segment table, frame
// headers and comments.
#include <gtest/gtest.h>

#include <cstdio>
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
  explicit Read(const Bytes& bytes) : reader(&md) {
    std::memset(&md, 0, sizeof md);  // padding too, for the byte comparison
    fixture::Stream stream(bytes);
    ok = reader.read_sections(stream.get());
  }
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

}  // namespace

TEST(JpegSections, StartOfImageComesFirst) {
  Read sos_only(Bytes{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02});
  EXPECT_TRUE(sos_only.ok);
  ASSERT_EQ(sos_only.reader.section_count(), 1);
  EXPECT_EQ(sos_only.reader.section(0).marker, 0xDA);
  EXPECT_EQ(sos_only.reader.section(0).size, 2);
  EXPECT_TRUE(is_zero(sos_only.md));
  for (const Bytes& bad :
       {Bytes{}, Bytes{0xFF}, Bytes{0xFF, 0xD8}, Bytes{0xFF, 0xD9, 0xFF, 0xDA, 0, 2},
        Bytes{0x00, 0xFF, 0xD8, 0xFF, 0xDA, 0, 2}}) {
    Read r(bad);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reader.section_count(), 0);
  }
  ExifReader owning(nullptr);  // an owned record starts zeroed and is freed with the reader
  EXPECT_TRUE(is_zero(owning.metadata()));
}

TEST(JpegSections, FillBytesAndBareMarkerCodes) {
  const Bytes app1 = Jpeg().app1_exif(fixture::Tiff().first().ascii(271, "Fill").tiff()).bytes();
  Read six(Jpeg().soi().raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).raw(app1).sos().bytes());
  EXPECT_TRUE(six.ok);
  EXPECT_TRUE(six.md.has_exif);
  EXPECT_STREQ(six.md.camera_make, "Fill");
  Read seven(Jpeg().soi().raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).raw(app1).sos().bytes());
  EXPECT_FALSE(seven.ok);
  EXPECT_EQ(seven.reader.section_count(), 0);

  // A marker code straight after SOI, with no 0xFF before it.
  Read bare(Jpeg().soi().raw(Bytes(app1.begin() + 1, app1.end())).sos().bytes());
  EXPECT_TRUE(bare.ok);
  EXPECT_STREQ(bare.md.camera_make, "Fill");
}

TEST(JpegSections, LengthFieldsAndEndOfImage) {
  EXPECT_FALSE(Read(Jpeg().soi().segment_with_length(0xDB, 0, {}).sos().bytes()).ok);
  EXPECT_FALSE(Read(Jpeg().soi().segment_with_length(0xDB, 1, {}).sos().bytes()).ok);
  Read empty(Jpeg().soi().segment(0xDB, {}).sos().bytes());
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ(empty.reader.section_count(), 2);

  // EOI is read like any segment: its next two bytes are a length.
  EXPECT_FALSE(Read(Jpeg().soi().eoi().bytes()).ok);
  EXPECT_FALSE(Read(Jpeg().soi().eoi().raw({0x00, 0x05, 0x01}).bytes()).ok);
  EXPECT_FALSE(Read(Jpeg().soi().dqt().bytes()).ok);  // no marker after the segment
  Read eoi(Jpeg().soi().dqt().eoi().raw({0x00, 0x02}).sos().bytes());
  EXPECT_FALSE(eoi.ok);
  ASSERT_EQ(eoi.reader.section_count(), 2);
  EXPECT_EQ(eoi.reader.section(1).marker, 0xD9);

  // A payload cut short stays in its slot uncounted; the destructor frees it.
  Read cut(Jpeg().soi().sof(0xC0, 10, 20, 3).com(std::string(100, 'x')).truncate(90).bytes());
  EXPECT_FALSE(cut.ok);
  EXPECT_EQ(cut.reader.section_count(), 1);
  EXPECT_EQ(cut.md.comment[0], 0);
  EXPECT_EQ(cut.md.width, 20);
}

TEST(JpegSections, SegmentTableHoldsThirtyTwo) {
  Jpeg full;
  full.soi();
  for (int i = 0; i < 31; ++i) full.dqt();
  Read fits(Jpeg(full).sos().bytes());
  EXPECT_TRUE(fits.ok);
  EXPECT_EQ(fits.reader.section_count(), 32);
  Read over(full.dqt().sof(0xC0, 480, 640, 3).sos().bytes());
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.reader.section_count(), 32);
  EXPECT_EQ(over.md.width, 0);

  // Dropped: APP0, APP1 without the signature (or too short for it), COM after the first.
  Jpeg many;
  many.soi();
  for (int i = 0; i < 20; ++i) {
    many.segment(0xE0, fixture::bytes_of("JFIF\0"s))
        .segment(0xE1, fixture::bytes_of("http://ns.adobe.com/xap/1.0/\0"s))
        .segment(0xE1, {'E', 'x', 'i'})
        .com("again");
  }
  Read dropped(many.segment(0xE1, fixture::bytes_of("Exif-not-TIFF")).sos().bytes());
  EXPECT_TRUE(dropped.ok);
  ASSERT_EQ(dropped.reader.section_count(), 3);
  EXPECT_EQ(dropped.reader.section(0).marker, 0xFE);
  EXPECT_EQ(dropped.reader.section(1).marker, 0xE1);  // "Exif" is held though rejected
  EXPECT_EQ(dropped.reader.section(3).data, nullptr);
  EXPECT_EQ(dropped.md.comment[0], 0);  // cleared by the rejected block
  EXPECT_FALSE(dropped.md.has_exif);
}

TEST(JpegSections, FrameHeaders) {
  EXPECT_EQ(frame(Jpeg().soi().sof(0xC2, 0x1234, 0xABCD, 3).sos().bytes()), "C2 4660 43981 1");
  EXPECT_EQ(frame(Jpeg().soi().sof(0xCF, 1, 2, 4).sos().bytes()), "CF 1 2 0");
  // The last frame header wins; DHT, JPG and DAC are none; a short one changes nothing.
  Jpeg last;
  last.soi().sof(0xC2, 1, 2, 3).sof(0xC0, 5, 6, 1);
  for (uint8_t marker : {0xC4, 0xC8, 0xCC}) last.sof(marker, 7, 7, 3);
  last.segment(0xC1, {8, 0, 5, 0, 6}).sos();
  EXPECT_EQ(frame(last.bytes()), "C0 5 6 0");
  EXPECT_EQ(Read(last.bytes()).reader.section_count(), 7);
}

TEST(JpegSections, CommentCleaning) {
  EXPECT_EQ(comment_of("ab\r\ncd"), "ab\ncd");
  EXPECT_EQ(comment_of("a\rb"), "a?b");
  EXPECT_EQ(comment_of("a\0b\x1f"s), "a?b?");
  EXPECT_EQ(comment_of("\t\x7f\xe9 "), "\t\x7f\xe9 ");
  EXPECT_EQ(comment_of("a\r"), "a?");
  EXPECT_EQ(comment_of(""), "");
  EXPECT_EQ(comment_of(std::string(2000, 'x')), std::string(1022, 'x'));
  // A CR as the 1022nd byte looks ahead past the limit, inside the segment.
  const std::string y(1020, 'y');
  EXPECT_EQ(comment_of(y + "y\r\nz"), y + "y");
  EXPECT_EQ(comment_of(y + "y\r"), y + "y?");
  EXPECT_EQ(comment_of(y + "\r\nz"), y + "\n");

  Read two(Jpeg().soi().com("first").com("second").sos().bytes());
  EXPECT_STREQ(two.md.comment, "first");
  ASSERT_EQ(two.reader.section_count(), 2);
  EXPECT_EQ(two.reader.section(0).size, 7);
}
