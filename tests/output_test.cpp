#include "output/output.h"
#include "photo/photo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "support/platform.h"

namespace {

// Runs `write` on a temporary binary stream and returns what it wrote.
std::string capture(const std::function<void(FILE*)>& write) {
  FILE* f = platform::scratch_file();
  if (f == nullptr) return "<no scratch file>";
  write(f);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(f);
  return text;
}

ImageMetadata position(const char* lat_ref, float deg, float min, float sec, const char* lon_ref,
                       float lon_deg, float lon_min, float lon_sec) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  m.has_exif = true;
  std::strcpy(m.gps_latitude_ref, lat_ref);
  m.gps_latitude[0] = deg, m.gps_latitude[1] = min, m.gps_latitude[2] = sec;
  std::strcpy(m.gps_longitude_ref, lon_ref);
  m.gps_longitude[0] = lon_deg, m.gps_longitude[1] = lon_min, m.gps_longitude[2] = lon_sec;
  m.has_gps_latitude = m.has_gps_longitude = true;
  return m;
}

ImageMetadata london() {
  return position("N", 51, 30, 26.4f, "W", 0, 7, 39.6f);
}

// What one photograph writes, through `duplicates` when given.
std::string written(const ImageMetadata& m, bool kml, const char* name = "IMG_0001.jpg",
                    StringTable* duplicates = nullptr) {
  return capture([&](FILE* f) {
    CsvWriter csv_writer(f);
    KmlWriter kml_writer(f);
    RunContext run;
    run.writer = kml ? static_cast<Writer*>(&kml_writer) : &csv_writer;
    run.duplicates = duplicates;
    deliver_photo(run, m, name, name);
  });
}

std::string csv(const ImageMetadata& m, const char* name = "IMG_0001.jpg") {
  return written(m, false, name);
}

std::string kml(const ImageMetadata& m) {
  return written(m, true);
}

const char kEmptyDocument[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2">
  <Document>
    <name>C:\maps\trip.kml</name>
    <Style id="icon-1899-0288D1-normal">
      <IconStyle>
        <color>ffd18802</color>
        <scale>1</scale>
        <Icon>
          <href>http://www.gstatic.com/mapspro/images/stock/503-wht-blank_maps.png</href>
        </Icon>
        <hotSpot x="32" xunits="pixels" y="64" yunits="insetPixels"/>
      </IconStyle>
      <LabelStyle>
        <scale>0</scale>
      </LabelStyle>
    </Style>
    <Style id="icon-1899-0288D1-highlight">
      <IconStyle>
        <color>ffd18802</color>
        <scale>1</scale>
        <Icon>
          <href>http://www.gstatic.com/mapspro/images/stock/503-wht-blank_maps.png</href>
        </Icon>
        <hotSpot x="32" xunits="pixels" y="64" yunits="insetPixels"/>
      </IconStyle>
      <LabelStyle>
        <scale>1</scale>
      </LabelStyle>
    </Style>
    <StyleMap id="icon-1899-0288D1">
      <Pair>
        <key>normal</key>
        <styleUrl>#icon-1899-0288D1-normal</styleUrl>
      </Pair>
      <Pair>
        <key>highlight</key>
        <styleUrl>#icon-1899-0288D1-highlight</styleUrl>
      </Pair>
    </StyleMap>
  </Document>
</kml>
)";

const char kLondonPlacemark[] = R"(    <Placemark>
      <name>IMG_0001.jpg</name>
      <description></description>
      <styleUrl>#icon-1899-0288D1</styleUrl>
      <Point>
        <coordinates>
          -0.127667,51.507332,0
        </coordinates>
      </Point>
    </Placemark>
)";

TEST(DecimalDegrees, RoundsToSinglePrecisionAndSignsOnCapitalSouthAndWest) {
  const auto text = [](float value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6f", static_cast<double>(value));
    return std::string(buffer);
  };
  EXPECT_EQ(text(to_decimal_degrees(51, 30, 26.4f, "N")), "51.507332");  // a double gives ...333
  EXPECT_EQ(text(to_decimal_degrees(151, 12, 33.12f, "E")), "151.209198");
  EXPECT_EQ(text(to_decimal_degrees(51, 30, 26.4f, "S")), "-51.507332");
  EXPECT_EQ(text(to_decimal_degrees(51, 30, 26.4f, "s")), "51.507332");
  EXPECT_EQ(text(to_decimal_degrees(0, 0, 0, "W")), "-0.000000");
}

TEST(DecimalDegrees, PrintsSixDecimalsAsTheCLibraryDoes) {
  const auto ours = [](float value) {
    char text[kDegreesTextSize];
    const size_t length = format_degrees(text, value);
    EXPECT_EQ(length, std::strlen(text));
    return std::string(text);
  };
  const auto library = [](float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(value));
    return std::string(text);
  };
  // Every float whose millionths are not an exact half prints alike; sweep the bit patterns of
  // the magnitudes that positions and damaged values have, both signs.
  for (uint32_t bits = 0; bits < 0x4F800000u; bits += 0x2BD1u) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::fmod(static_cast<double>(value) * 128, 2) == 1) continue;  // odd multiples of 1/128
    ASSERT_EQ(ours(value), library(value)) << bits;
    ASSERT_EQ(ours(-value), library(-value)) << bits;
  }
  for (float value : {0.0f, 1e-7f, 4.9999997e-7f, 5.0000004e-7f, 179.99999f, 2147483520.0f, 3.4e38f,
                      INFINITY, NAN}) {
    EXPECT_EQ(ours(value), library(value)) << value;
  }
  EXPECT_EQ(ours(-0.0f), "-0.000000");
  // Exact halves (odd multiples of 1/128) go to the even neighbour.
  EXPECT_EQ(ours(0.0078125f), "0.007812");
  EXPECT_EQ(ours(0.0234375f), "0.023438");
  EXPECT_EQ(ours(-51.5078125f), "-51.507812");
}

TEST(JpegExtension, AcceptsJpgAndJpegInAnyCaseOnly) {
  for (const char* name : {"photo.JPG", "photo.Jpeg", "photo.jpeg", ".jpg", "dir.x/a.jpg"}) {
    EXPECT_TRUE(has_jpeg_extension(name)) << name;
  }
  for (const char* name : {"photo.jpe", "photo.jpg.bak", "photo", "photo.jpgx", "trip.2019\\img",
                           "photo.jp\xC7", ""}) {
    EXPECT_FALSE(has_jpeg_extension(name)) << name;
  }
  EXPECT_FALSE(has_jpeg_extension(nullptr));
}

TEST(CsvLine, WritesNameLatitudeLongitudeAndSignedAltitude) {
  ImageMetadata m = london();
  m.gps_altitude = 35;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332,-0.127667,+35\n");
  m.gps_altitude_ref = 1;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332,-0.127667,-35\n");
  m.gps_altitude = 0;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332,-0.127667,-0\n");
  m.gps_altitude_ref = 0;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332,-0.127667\n");
  m.gps_altitude = -12;  // only a damaged file stores a negative altitude
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332,-0.127667,-12\n");

  EXPECT_EQ(csv(position("s", 1, 0, 0, "w", 2, 0, 0)), "IMG_0001.jpg,1.000000,2.000000\n");
  EXPECT_EQ(csv(position("S", 0, 0, 0, "E", 1, 0, 0)), "IMG_0001.jpg,-0.000000,1.000000\n");
}

TEST(CsvLine, NeedsExifAndALatitudeReference) {
  ImageMetadata m = london();
  m.gps_longitude_ref[0] = '\0';
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332\n");

  m = london();
  m.gps_latitude_ref[0] = '\0';
  m.gps_altitude = 100;
  EXPECT_EQ(csv(m), "");  // not even the longitude or altitude fields

  m = london();
  m.has_exif = false;
  EXPECT_EQ(csv(m), "");
}

// A reference without its value is no coordinate, and a position that prints as 0,0 is what
// location stripping leaves: neither is written nor remembered as a duplicate.
TEST(CsvLine, ACoordinateNeedsItsValueAndZeroZeroIsNone) {
  ImageMetadata m = london();
  m.has_gps_latitude = false;
  EXPECT_EQ(csv(m) + kml(m), "");
  m = london();
  m.has_gps_longitude = false;
  m.gps_altitude = 7;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332,+7\n");
  EXPECT_EQ(kml(m), "");

  StringTable* duplicates = string_table_create(16);
  for (const char* refs : {"NE", "SW"}) {
    const ImageMetadata zero = position(std::string(1, refs[0]).c_str(), 0, 0, 0.0001f,
                                        std::string(1, refs[1]).c_str(), 0, 0, 0);
    EXPECT_EQ(written(zero, false, "z.jpg", duplicates) + kml(zero), "") << refs;
  }
  EXPECT_EQ(duplicates->count, 0);
  string_table_destroy(duplicates, release_value);

  EXPECT_EQ(csv(position("N", 0, 0, 0, "E", 0, 0, 0.0036f)), "IMG_0001.jpg,0.000000,0.000001\n");
  EXPECT_EQ(csv(position("N", 0, 0, 0, "E", 1, 0, 0)), "IMG_0001.jpg,0.000000,1.000000\n");
  m = position("N", 0, 0, 0, "E", 0, 0, 0);
  m.has_gps_longitude = false;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,0.000000\n");
}

TEST(CsvLine, QuotesNamesThatWouldBreakTheColumns) {
  const ImageMetadata m = position("N", 1, 0, 0, "E", 2, 0, 0);
  EXPECT_EQ(csv(m, "a,b.jpg"), "\"a,b.jpg\",1.000000,2.000000\n");
  EXPECT_EQ(csv(m, "say \"hi\".jpg"), "\"say \"\"hi\"\".jpg\",1.000000,2.000000\n");
  EXPECT_EQ(csv(m, "two\nlines.jpg"), "\"two\nlines.jpg\",1.000000,2.000000\n");
  EXPECT_EQ(csv(m, "a\rb.jpg"), "\"a\rb.jpg\",1.000000,2.000000\n");
  EXPECT_EQ(csv(m, "caf\xE9 & 'x'.jpg"), "caf\xE9 & 'x'.jpg,1.000000,2.000000\n");
}

TEST(Kml, EmptyDocumentIsTheHeaderAndFooter) {
  const std::string text = capture([](FILE* f) {
    write_kml_header(f, "C:\\maps\\trip.kml");
    write_kml_footer(f);
  });
  EXPECT_EQ(text, kEmptyDocument);
}

TEST(Kml, PlacemarkCarriesTheKeyAndNoAltitude) {
  ImageMetadata m = london();
  m.gps_altitude = 35;
  EXPECT_EQ(kml(m), kLondonPlacemark);
  m.gps_longitude_ref[0] = '\0';  // no key, no placemark
  EXPECT_EQ(kml(m), "");
}

TEST(Kml, NamesBecomeWellFormedUtf8Text) {
  const auto xml = [](const char* text) {
    return capture([&](FILE* f) { write_xml_text(f, text); });
  };
  EXPECT_EQ(xml("a&b<c>\"d'.jpg"), "a&amp;b&lt;c&gt;&quot;d&apos;.jpg");
  EXPECT_EQ(xml("caf\xC3\xA9 \xF0\x9D\x84\x9E\tok"), "caf\xC3\xA9 \xF0\x9D\x84\x9E\tok");
  EXPECT_EQ(xml("a\r\nb"), "a&#13;\nb");
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(xml("caf\xE9.jpg"), "caf" + fffd + ".jpg");  // Latin-1 byte
  EXPECT_EQ(xml("\xE2\x82&"), fffd + fffd + "&amp;");    // cut sequence
  EXPECT_EQ(xml("\xC0\xAF"), fffd + fffd);               // overlong
  EXPECT_EQ(xml("\xED\xA0\x80"), fffd + fffd + fffd);    // surrogate
  for (const char* above : {"\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF7\xBF\xBF\xBF"}) {
    EXPECT_EQ(xml(above), fffd + fffd + fffd + fffd);  // above U+10FFFF
  }
  EXPECT_EQ(xml("\x01x\x1F\xEF\xBF\xBE\xEF\xBF\xBF"), fffd + "x" + fffd + fffd + fffd);
  EXPECT_EQ(xml("\xE0\xA0\xA6"), "\xE0\xA0\xA6");  // U+0826, whose low bits look like '&'
}

TEST(DuplicateFilter, KeepsTheFirstPhotoAtEachPrintedPosition) {
  const ImageMetadata a = london();
  ImageMetadata same_print = london();
  same_print.gps_latitude[1] = 30.44f;  // other minutes and seconds that print alike
  same_print.gps_latitude[2] = 0;
  same_print.gps_altitude = 900;  // altitude is not part of the key
  ImageMetadata south = london();
  south.gps_latitude_ref[0] = 'S';
  ImageMetadata latitude_only = london();
  latitude_only.gps_longitude_ref[0] = '\0';

  const std::string out = capture([&](FILE* f) {
    CsvWriter csv_writer(f);
    KmlWriter kml_writer(f);
    RunContext run;
    run.writer = &csv_writer;
    run.duplicates = string_table_create(16);
    for (const auto& [m, name] :
         {std::make_pair(a, "a.jpg"), std::make_pair(same_print, "b.jpg"),
          std::make_pair(south, "c.jpg"), std::make_pair(latitude_only, "d.jpg"),
          std::make_pair(latitude_only, "e.jpg")}) {
      deliver_photo(run, m, name, name);
    }
    run.writer = &kml_writer;  // the map formats share the table
    EXPECT_EQ(deliver_photo(run, a, "f.jpg", "f.jpg"), PhotoStatus::kDuplicate);
    // Keys whose djb2 hashes are equal are still different positions.
    run.writer = &csv_writer;
    deliver_photo(run, position("N", 7.270925f, 0, 0, "W", 69.45105f, 0, 0), "g.jpg", "g.jpg");
    deliver_photo(run, position("N", 8.962186f, 0, 0, "E", 71.17379f, 0, 0), "h.jpg", "h.jpg");
    EXPECT_EQ(run.counts.listed, 6u);
    EXPECT_EQ(run.counts.duplicates, 2u);
    string_table_destroy(run.duplicates, release_value);
  });
  EXPECT_EQ(out,
            "a.jpg,51.507332,-0.127667\n"
            "c.jpg,-51.507332,-0.127667\n"
            "d.jpg,51.507332\n"
            "e.jpg,51.507332\n"
            "g.jpg,7.270925,-69.451050\n"
            "h.jpg,8.962186,71.173790\n");
  EXPECT_EQ(string_table_hash("-69.451050,7.270925"), string_table_hash("71.173790,8.962186"));
}

TEST(CoordinateKey, ALongKeyIsNeverFormed) {
  char key[kCoordinateKeyMax + 1];
  EXPECT_TRUE(format_coordinate_key(key, -180.0f, -90.0f));
  EXPECT_STREQ(key, "-180.000000,-90.000000");
  EXPECT_FALSE(format_coordinate_key(key, 1e8f, 1e8f));
  EXPECT_STREQ(key, "");

  // Damaged GPS values: the CSV line has no limit, the placemark needs a key.
  const ImageMetadata far = position("N", 1e8f, 0, 0, "E", 1e8f, 0, 0);
  EXPECT_EQ(csv(far), "IMG_0001.jpg,100000000.000000,100000000.000000\n");
  EXPECT_EQ(kml(far), "");
}

}  // namespace

namespace {

// A whole document from `writer` for one photograph.
std::string document(const std::function<std::unique_ptr<Writer>(FILE*)>& make,
                     const ImageMetadata& m, const char* name = "IMG_0001.jpg") {
  return capture([&](FILE* f) {
    const std::unique_ptr<Writer> writer = make(f);
    RunContext run;
    run.writer = writer.get();
    writer->begin("trip");
    deliver_photo(run, m, name, name);
    writer->end();
  });
}

ImageMetadata london_at_noon() {
  ImageMetadata m = london();
  m.gps_altitude = 35;
  std::strcpy(m.date_time_original, "2019:06:01 14:03:22");
  std::strcpy(m.offset_time_original, "+02:00");
  return m;
}

TEST(Times, CsvHasFiveFieldsAndKmlATimeStamp) {
  ImageMetadata m = london_at_noon();
  const auto csv_t = [](const ImageMetadata& record) {
    return document([](FILE* f) { return std::make_unique<CsvWriter>(f, true); }, record);
  };
  EXPECT_EQ(csv_t(m), "IMG_0001.jpg,51.507332,-0.127667,+35,2019-06-01T14:03:22+02:00\n");
  m.gps_altitude = 0;
  m.gps_longitude_ref[0] = '\0';
  m.date_time_original[0] = '\0';
  EXPECT_EQ(csv_t(m), "IMG_0001.jpg,51.507332,,,\n");

  const std::string placemark =
      document([](FILE* f) { return std::make_unique<KmlWriter>(f, true); }, london_at_noon());
  std::string stamped = kLondonPlacemark;
  stamped.insert(stamped.find("      <styleUrl>"),
                 "      <TimeStamp><when>2019-06-01T14:03:22+02:00</when></TimeStamp>\n");
  EXPECT_NE(placemark.find(stamped), std::string::npos) << placemark;
  // Without a time the placemark is as it always was.
  EXPECT_NE(document([](FILE* f) { return std::make_unique<KmlWriter>(f, true); }, london())
                .find(kLondonPlacemark),
            std::string::npos);
}

TEST(MapFormats, GpxWaypointAndGeoJsonFeature) {
  const auto gpx = [](const ImageMetadata& m, const char* name = "IMG_0001.jpg") {
    return document([](FILE* f) { return std::make_unique<GpxWriter>(f, "trip.gpx", true); }, m,
                    name);
  };
  const auto geojson = [](const ImageMetadata& m, const char* name = "IMG_0001.jpg") {
    return document([](FILE* f) { return std::make_unique<GeoJsonWriter>(f, true); }, m, name);
  };
  ImageMetadata m = london_at_noon();
  EXPECT_EQ(gpx(m),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\" "
            "creator=\"pinreel\">\n"
            "  <metadata>\n    <name>trip</name>\n  </metadata>\n"
            "  <wpt lat=\"51.507332\" lon=\"-0.127667\">\n"
            "    <ele>35</ele>\n"
            "    <time>2019-06-01T12:03:22Z</time>\n"
            "    <name>IMG_0001.jpg</name>\n"
            "    <link href=\"IMG_0001.jpg\"/>\n"
            "  </wpt>\n"
            "</gpx>\n");
  EXPECT_EQ(geojson(m),
            "{\"type\":\"FeatureCollection\",\"features\":[\n"
            "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[-0.127667,"
            "51.507332,35]},\"properties\":{\"name\":\"IMG_0001.jpg\",\"altitude\":35,"
            "\"time\":\"2019-06-01T14:03:22+02:00\"}}\n]}\n");

  // Below sea level, no time, and a name that needs escaping: E9 is no UTF-8.
  m.gps_altitude_ref = 1;
  m.offset_time_original[0] = '\0';
  const std::string gpx_text = gpx(m, "a&b \"\x01\xE9\".jpg");
  EXPECT_NE(gpx_text.find("<ele>-35</ele>\n    <name>a&amp;b &quot;\xEF\xBF\xBD\xEF\xBF\xBD"
                          "&quot;.jpg</name>\n    <link href=\"a%26b%20%22%01%E9%22.jpg\"/>"),
            std::string::npos)
      << gpx_text;
  EXPECT_NE(geojson(m, "a\\b \"\x01\t\xE9\".jpg")
                .find("51.507332,-35]},\"properties\":{\"name\":\"a\\\\b \\\"\\u0001\\t\xEF\xBF\xBD"
                      "\\\".jpg\",\"altitude\":-35,\"time\":\"2019-06-01T14:03:22\"}}"),
            std::string::npos);
  m.gps_altitude_ref = 0;
  m.gps_altitude = 0;
  m.date_time_original[0] = '\0';
  EXPECT_NE(geojson(m).find("[-0.127667,51.507332]},\"properties\":{\"name\":\"IMG_0001.jpg\","
                            "\"altitude\":null,\"time\":null}}"),
            std::string::npos);

  // Only a position with two numbers; KML writes whatever the key holds.
  ImageMetadata infinite = london();
  infinite.gps_latitude[0] = INFINITY;
  EXPECT_EQ(gpx(infinite).find("<wpt"), std::string::npos);
  EXPECT_EQ(geojson(infinite), "{\"type\":\"FeatureCollection\",\"features\":[\n]}\n");
  EXPECT_NE(kml(infinite).find("-0.127667,inf,0"), std::string::npos);
}

TEST(MapFormats, OutputPathChoosesTheFormat) {
  EXPECT_EQ(output_format("a.CSV"), OutputFormat::kCsv);
  EXPECT_EQ(output_format("dir.gpx/a.Kmz"), OutputFormat::kKmz);
  EXPECT_EQ(output_format("a.gpx"), OutputFormat::kGpx);
  EXPECT_EQ(output_format("a.GeoJSON"), OutputFormat::kGeoJson);
  EXPECT_EQ(output_format("a.json"), OutputFormat::kGeoJson);
  for (const char* kml : {"a.kml", "a.txt", "a", "a.gpx.bak", "gpx", "a.jsonl"}) {
    EXPECT_EQ(output_format(kml), OutputFormat::kKml) << kml;
  }
}

}  // namespace
