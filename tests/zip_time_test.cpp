// The zip container as an unzip program reads it back, the capture time from its EXIF fields,
// and the links from a GPX document to its photos.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "output/output.h"
#include "support/platform.h"
#include "support/zip_reader.h"

namespace {

// What `write` puts on a binary stream.
template <class Write>
std::string written(Write write) {
  FILE* f = platform::scratch_file();
  if (f == nullptr) return "<no scratch file>";
  write(f);
  std::string bytes;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<char>(c));
  std::fclose(f);
  return bytes;
}

uint32_t u32_at(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

TEST(ZipWriter, StoredAndDeflatedEntriesReadBackWithTheirCrcs) {
  const std::string text = "123456789";
  std::string kml;
  for (int i = 0; i < 2000; ++i) kml += "    <Placemark>" + std::to_string(i) + "</Placemark>\n";
  const std::string archive = written([&](FILE* f) {
    ZipWriter zip(f);
    zip.add_stored("images/0001.jpg", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    zip.add_stored("empty", nullptr, 0);
    Deflater deflater;
    deflater.add(kml.substr(0, 1000));
    deflater.add(kml.substr(1000));
    deflater.finish();
    EXPECT_EQ(deflater.size(), kml.size());
    EXPECT_LT(deflater.data().size(), kml.size() / 4);
    zip.add_deflated("doc.kml", deflater.data(), deflater.crc(), deflater.size());
    zip.finish();
  });
  // The check value of the CRC-32 that zip uses, in the first local header.
  EXPECT_EQ(u32_at(archive, 14), 0xCBF43926u);

  std::vector<zipread::Entry> entries;
  std::string error;
  ASSERT_TRUE(zipread::read_zip(archive, entries, error)) << error;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "images/0001.jpg");
  EXPECT_EQ(entries[0].method, 0);
  EXPECT_EQ(entries[0].offset, 0u);
  EXPECT_EQ(entries[0].contents, text);
  EXPECT_EQ(entries[1].contents, "");
  EXPECT_EQ(entries[2].name, "doc.kml");
  EXPECT_EQ(entries[2].method, 8);
  EXPECT_EQ(entries[2].contents, kml);
  // No ZIP64 records in a small archive: the classic end record ends it, 22 bytes.
  EXPECT_EQ(archive.find("PK\x06\x06"), std::string::npos);

  EXPECT_TRUE(zipread::read_zip(written([](FILE* f) { ZipWriter(f).finish(); }), entries, error));
  EXPECT_TRUE(entries.empty());
}

// More entries than the classic end record can count.
TEST(ZipWriter, ManyEntriesGetZip64EndRecords) {
  const size_t count = 65536;
  const std::string archive = written([&](FILE* f) {
    ZipWriter zip(f);
    char name[32];
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(name, sizeof name, "images/%05zu.jpg", i);
      zip.add_stored(name, reinterpret_cast<const uint8_t*>(name), 1);
    }
    zip.finish();
  });
  const size_t end = archive.size() - 22;
  EXPECT_EQ(archive.compare(end, 12, std::string("PK\x05\x06\0\0\0\0\xFF\xFF\xFF\xFF", 12)), 0);
  EXPECT_EQ(archive.compare(end - 20, 4, "PK\x06\x07"), 0);
  EXPECT_EQ(archive.compare(end - 76, 4, "PK\x06\x06"), 0);
  std::vector<zipread::Entry> entries;
  std::string error;
  ASSERT_TRUE(zipread::read_zip(archive, entries, error)) << error;
  ASSERT_EQ(entries.size(), count);
  EXPECT_EQ(entries.back().name, "images/65535.jpg");
  EXPECT_EQ(entries.back().contents, "i");
}

struct TimeFields {
  const char* date_time;
  const char* offset;
  const char* gps_date;
  std::vector<uint32_t> gps_time;  // numerator, denominator x 3; empty for none
};

CaptureTime time_of(const TimeFields& fields) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  std::strcpy(m.date_time_original, fields.date_time);
  std::strcpy(m.offset_time_original, fields.offset);
  std::strcpy(m.gps_date_stamp, fields.gps_date);
  m.has_gps_time_stamp = !fields.gps_time.empty();
  for (size_t i = 0; i < fields.gps_time.size(); ++i) m.gps_time_stamp[i] = fields.gps_time[i];
  return capture_time(m);
}

std::string stated(const TimeFields& fields) {
  return time_of(fields).stated;
}

std::string utc(const TimeFields& fields) {
  return time_of(fields).utc;
}

TEST(CaptureTime, OffsetLocalOrGpsAndUtcAcrossDayMonthAndYearEnds) {
  const std::vector<uint32_t> gps = {14, 1, 27, 1, 724, 100};
  const char* dto = "2019:06:01 14:03:22";
  EXPECT_EQ(stated({dto, "+02:00", "2008:10:23", gps}), "2019-06-01T14:03:22+02:00");
  EXPECT_EQ(utc({dto, "+02:00", "2008:10:23", gps}), "2019-06-01T12:03:22Z");
  EXPECT_EQ(stated({dto, "", "2008:10:23", gps}), "2019-06-01T14:03:22");
  EXPECT_EQ(utc({dto, "", "2008:10:23", gps}), "2008-10-23T14:27:07Z");  // the GPS stamps
  EXPECT_EQ(utc({dto, "", "", {}}), "");
  EXPECT_EQ(stated({"", "+02:00", "2008:10:23", gps}), "2008-10-23T14:27:07Z");

  EXPECT_EQ(utc({"2019:12:31 23:30:00", "-02:00", "", {}}), "2020-01-01T01:30:00Z");
  EXPECT_EQ(utc({"2020:01:01 00:15:59", "+05:45", "", {}}), "2019-12-31T18:30:59Z");
  EXPECT_EQ(utc({"2020:03:01 00:30:00", "+01:00", "", {}}), "2020-02-29T23:30:00Z");
  EXPECT_EQ(utc({"2100:03:01 00:30:00", "+01:00", "", {}}), "2100-02-28T23:30:00Z");
  EXPECT_EQ(utc({"2000:02:29 23:00:00", "-14:00", "", {}}), "2000-03-01T13:00:00Z");
  EXPECT_EQ(utc({"2019:04:30 23:59:59", "-00:01", "", {}}), "2019-05-01T00:00:59Z");
  EXPECT_EQ(stated({"0001:01:01 00:30:00", "+01:00", "", {}}), "0001-01-01T00:30:00+01:00");
  EXPECT_EQ(utc({"0001:01:01 00:30:00", "+01:00", "", {}}), "");  // before year 1
  EXPECT_EQ(utc({"9999:12:31 23:30:00", "-01:00", "", {}}), "");
}

TEST(CaptureTime, BlankZeroOrOutOfRangeFieldsGiveNoTime) {
  const std::vector<uint32_t> gps = {23, 1, 59, 1, 5999, 100};
  EXPECT_EQ(stated({"", "", "2019:01:31", gps}), "2019-01-31T23:59:59Z");
  for (const char* bad :
       {"    :  :     :  :  ", "0000:00:00 00:00:00", "2019:13:01 00:00:00", "2019:02:29 10:00:00",
        "2019:04:31 10:00:00", "2019:06:01 24:00:00", "2019:06:01 12:60:00", "2019:06:01 12:00:60",
        "2019-06-01 12:00:00", "2019:06:01 12:00", "2019:06:01T12:00:00", "2O19:06:01 12:00:00"}) {
    EXPECT_EQ(stated({bad, "+01:00", "", {}}), "") << bad;
    EXPECT_EQ(stated({bad, "", "2019:01:31", gps}), "2019-01-31T23:59:59Z") << bad;
  }
  // An offset that is none leaves the local time without a zone.
  for (const char* bad : {"      ", "+15:00", "+02:60", "02:00", "+2:00", "Z"}) {
    EXPECT_EQ(stated({"2019:06:01 14:03:22", bad, "", {}}), "2019-06-01T14:03:22") << bad;
  }
  EXPECT_EQ(utc({"2019:06:01 14:03:22", "+14:00", "", {}}), "2019-06-01T00:03:22Z");
  for (const std::vector<uint32_t>& bad :
       std::vector<std::vector<uint32_t>>{{24, 1, 0, 1, 0, 1},
                                          {12, 1, 60, 1, 0, 1},
                                          {12, 1, 0, 1, 60, 1},
                                          {12, 0, 0, 1, 0, 1},
                                          {12, 1, 0, 1, 1, 0},
                                          {12, 1, 61, 2, 0, 1}}) {
    EXPECT_EQ(stated({"", "", "2019:01:31", bad}), "") << bad[0] << " " << bad[2];
  }
  EXPECT_EQ(stated({"", "", "2019:01:31", {}}), "");
  EXPECT_EQ(stated({"", "", "0000:00:00", {0, 1, 0, 1, 0, 1}}), "");
  EXPECT_EQ(stated({"", "", "2019:01:31", {0, 1, 0, 1, 0, 1}}), "2019-01-31T00:00:00Z");
}

TEST(GpxLink, RelativeToTheDocumentsFolderAndPercentEncoded) {
  const std::string home = platform::kWindows ? "C:/home" : "/home";
  EXPECT_EQ(relative_link("./", home, "a.jpg"), "a.jpg");
  EXPECT_EQ(relative_link("maps/", home, "photos/a b&c.jpg"), "../photos/a%20b%26c.jpg");
  EXPECT_EQ(relative_link("maps/2019/", home, "./maps/x/../2019/a.jpg"), "a.jpg");
  EXPECT_EQ(relative_link("../", home, "a.jpg"), "home/a.jpg");
  EXPECT_EQ(relative_link(home + "/maps/", "", "photos/caf\xC3\xA9%.jpg"),
            "photos/caf%C3%A9%25.jpg");  // no working folder: the path as it was opened
  if (platform::kWindows) {
    EXPECT_EQ(relative_link("c:\\HOME\\maps\\", home, "Photos\\a.jpg"), "../Photos/a.jpg");
    EXPECT_EQ(relative_link("maps\\", home, "D:\\photos\\a.jpg"), "file:///D:/photos/a.jpg");
    EXPECT_EQ(relative_link("maps\\", home, "\\\\server\\share\\a.jpg"),
              "file://server/share/a.jpg");
  } else {
    EXPECT_EQ(relative_link("/srv/maps/", home, "a:b.jpg"), "../../home/a%3Ab.jpg");
    EXPECT_EQ(relative_link("maps/", home, "back\\slash.jpg"), "../back%5Cslash.jpg");
  }
}

}  // namespace
