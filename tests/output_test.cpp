// The writers from a record to each format's bytes, decimal degrees, the duplicate filter and its
// string table, the capture time and the GPX links.
#include "output/output.h"
#include "photo/photo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/platform.h"

namespace {

using platform::capture;
using platform::count_of;

ImageMetadata position(const char* lat_ref, double lat, const char* lon_ref, double lon,
                       double lat_min = 0, double lat_sec = 0, double lon_min = 0,
                       double lon_sec = 0) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  m.has_exif = m.has_gps_latitude = m.has_gps_longitude = true;
  std::strcpy(m.gps_latitude_ref, lat_ref);
  std::strcpy(m.gps_longitude_ref, lon_ref);
  const double values[2][3] = {{lat, lat_min, lat_sec}, {lon, lon_min, lon_sec}};
  for (int i = 0; i < 3; ++i) {
    m.gps_latitude[i] = static_cast<float>(m.gps_latitude_exact[i] = values[0][i]);
    m.gps_longitude[i] = static_cast<float>(m.gps_longitude_exact[i] = values[1][i]);
  }
  return m;
}

// A GPSAltitude entry's value as the decoder records it.
void record_altitude(ImageMetadata& m, double metres, int32_t below = 0) {
  m.gps_altitude_ref = below;
  m.gps_altitude = static_cast<int32_t>(metres);
  m.gps_altitude_exact = metres;
  m.gps_altitude_state = AltitudeState::kRecorded;
}

ImageMetadata london() {
  return position("N", 51, "W", 0, 30, 26.4, 7, 39.6);
}

// The document that the writer for `output` ("x.csv", "x.kml", ...) makes of one photograph,
// through `duplicates` when given.
std::string document(const char* output, const ImageMetadata& m, bool times = false,
                     const char* name = "IMG_0001.jpg", StringTable* duplicates = nullptr) {
  return capture([&](FILE* f) {
    const std::unique_ptr<Writer> writer = make_writer(output, f, times);
    RunContext run{{}, writer.get(), duplicates, {}};
    writer->begin("trip");
    deliver_photo(run, m, name, name);
    writer->end();
  });
}

std::string csv(const ImageMetadata& m, const char* name = "IMG_0001.jpg") {
  return document("x.csv", m, false, name);
}

bool placed(const ImageMetadata& m) {
  return document("x.kml", m).find("<Placemark>") != std::string::npos;
}

const char kEmptyDocument[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2">
  <Document>
    <name>C:\maps\R&amp;D &lt;trip&gt;.kml</name>
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

std::string printf_degrees(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", static_cast<double>(value));
  return text;
}

TEST(DecimalDegrees, SinglePrecisionSignedOnCapitalSouthAndWestPrintedAsPrintfDoes) {
  EXPECT_EQ(printf_degrees(to_decimal_degrees(51, 30, 26.4f, "S")), "-51.507332");  // not ...333
  EXPECT_EQ(printf_degrees(to_decimal_degrees(51, 30, 26.4f, "s")), "51.507332");
  EXPECT_EQ(printf_degrees(to_decimal_degrees(0, 0, 0, "W")), "-0.000000");

  const auto ours = [](float value) {
    char text[kDegreesTextSize];
    const size_t length = format_degrees(text, value);
    EXPECT_EQ(length, std::strlen(text));
    return std::string(text);
  };
  // Every float whose millionths are not an exact half prints alike; sweep the bit patterns of
  // the magnitudes that positions and damaged values have, both signs.
  for (uint32_t bits = 0; bits < 0x4F800000u; bits += 0x2BD1u) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::fmod(static_cast<double>(value) * 128, 2) == 1) continue;  // odd multiples of 1/128
    ASSERT_EQ(ours(value), printf_degrees(value)) << bits;
    ASSERT_EQ(ours(-value), printf_degrees(-value)) << bits;
  }
  for (float value : {4.9999997e-7f, 5.0000004e-7f, 179.99999f, 3.4e38f, INFINITY, NAN, -0.0f}) {
    EXPECT_EQ(ours(value), printf_degrees(value)) << value;
  }
  // Exact halves go to the even neighbour.
  EXPECT_EQ(ours(0.0078125f), "0.007812");
  EXPECT_EQ(ours(0.0234375f), "0.023438");
  EXPECT_EQ(ours(-51.5078125f), "-51.507812");
}

TEST(CsvLine, ColumnsQuotingAndWhatCountsAsAPosition) {
  // Below sea level at 0 m, and a negative altitude, which only a damaged file stores.
  ImageMetadata m = london();
  const std::string key = "IMG_0001.jpg,51.507332,-0.127667";
  m.gps_altitude_ref = 1;
  EXPECT_EQ(csv(m), key + ",-0\n");
  m.gps_altitude_ref = 0;
  m.gps_altitude = -12;
  EXPECT_EQ(csv(m), key + ",-12\n");
  m.gps_longitude_ref[0] = '\0';
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332,-12\n");
  // An altitude that does not fit 32 bits is none, whatever its reference says.
  m.gps_altitude_ref = 1;
  m.gps_altitude = 0;
  m.gps_altitude_state = AltitudeState::kUnfit;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332\n");
  // A coordinate needs its reference and its value.
  m = london();
  m.has_gps_longitude = false;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,51.507332\n");
  m.has_gps_latitude = false;
  EXPECT_EQ(csv(m), "");
  m = london();
  m.gps_latitude_ref[0] = '\0';
  EXPECT_EQ(csv(m), "");
  // Damaged values: the line has no limit, the placemark needs a key that fits.
  const ImageMetadata far = position("N", 1e8f, "E", 1e8f);
  EXPECT_EQ(csv(far), "IMG_0001.jpg,100000000.000000,100000000.000000\n");
  EXPECT_FALSE(placed(far));

  const ImageMetadata p = position("N", 1, "E", 2);
  for (const char* name : {"a,b.jpg", "say \"hi\".jpg", "two\nlines.jpg", "a\rb.jpg"}) {
    std::string quoted = name;
    for (size_t at = quoted.find('"'); at != std::string::npos; at = quoted.find('"', at + 2)) {
      quoted.insert(at, 1, '"');
    }
    EXPECT_EQ(csv(p, name), "\"" + quoted + "\",1.000000,2.000000\n") << name;
  }
  EXPECT_EQ(csv(p, "caf\xE9 & 'x'.jpg"), "caf\xE9 & 'x'.jpg,1.000000,2.000000\n");
}

// A position that prints as 0,0 is what location stripping leaves: neither written nor
// remembered as a duplicate; one zero coordinate is a position.
TEST(CsvLine, ZeroZeroIsNoPosition) {
  StringTable* duplicates = string_table_create(16);
  for (const char* refs : {"NE", "SW"}) {
    const ImageMetadata zero = position(std::string(1, refs[0]).c_str(), 0,
                                        std::string(1, refs[1]).c_str(), 0, 0, 0.0001f);
    EXPECT_EQ(document("x.csv", zero, false, "z.jpg", duplicates), "") << refs;
    EXPECT_FALSE(placed(zero));
  }
  EXPECT_EQ(duplicates->count, 0);
  string_table_destroy(duplicates, release_value);
  EXPECT_EQ(csv(position("N", 0, "E", 0, 0, 0, 0, 0.0036f)), "IMG_0001.jpg,0.000000,0.000001\n");
  ImageMetadata m = position("N", 0, "E", 0);
  m.has_gps_longitude = false;
  EXPECT_EQ(csv(m), "IMG_0001.jpg,0.000000\n");
}

TEST(Kml, DocumentHeaderPlacemarkAndFooter) {
  EXPECT_EQ(capture([](FILE* f) {
              write_kml_header(f, "C:\\maps\\R&D <trip>.kml");
              write_kml_footer(f);
            }),
            kEmptyDocument);
  ImageMetadata m = london();
  m.gps_altitude = 35;  // not used
  std::string expected = kEmptyDocument;
  const std::string name = "C:\\maps\\R&amp;D &lt;trip&gt;.kml";
  expected.replace(expected.find(name), name.size(), "trip");
  expected.insert(expected.find("  </Document>"), kLondonPlacemark);
  EXPECT_EQ(document("x.kml", m), expected);
  // With -t a time stamp after the description; without a time, as before.
  std::strcpy(m.date_time_original, "2019:06:01 14:03:22");
  std::strcpy(m.offset_time_original, "+02:00");
  expected.insert(expected.find("      <styleUrl>#icon-1899-0288D1<"),
                  "      <TimeStamp><when>2019-06-01T14:03:22+02:00</when></TimeStamp>\n");
  EXPECT_EQ(document("x.kml", m, true), expected);
  EXPECT_EQ(document("x.kml", london(), true), document("x.kml", london()));
  m.gps_longitude_ref[0] = '\0';  // no key, no placemark
  EXPECT_FALSE(placed(m));
}

TEST(Kml, NamesBecomeWellFormedUtf8Text) {
  const auto xml = [](const char* text) {
    return capture([&](FILE* f) { write_xml_text(f, text); });
  };
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(xml("a&b<c>\"d'.jpg"), "a&amp;b&lt;c&gt;&quot;d&apos;.jpg");
  EXPECT_EQ(xml("caf\xC3\xA9 \xF0\x9D\x84\x9E\tok"), "caf\xC3\xA9 \xF0\x9D\x84\x9E\tok");
  EXPECT_EQ(xml("a\r\nb"), "a&#13;\nb");
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
  ImageMetadata same_print = london();
  same_print.gps_latitude[1] = 30.44f;  // other minutes and seconds that print alike
  same_print.gps_latitude[2] = 0;
  same_print.gps_altitude = 900;  // altitude is not part of the key
  ImageMetadata south = london();
  south.gps_latitude_ref[0] = 'S';
  ImageMetadata latitude_only = london();
  latitude_only.gps_longitude_ref[0] = '\0';
  // Keys whose djb2 hashes are equal are still different positions.
  ASSERT_EQ(string_table_hash("-69.451050,7.270925"), string_table_hash("71.173790,8.962186"));
  const std::pair<ImageMetadata, const char*> photos[] = {
      {london(), "a.jpg"},
      {same_print, "b.jpg"},
      {south, "c.jpg"},
      {latitude_only, "d.jpg"},
      {latitude_only, "e.jpg"},
      {london(), "f.jpg"},
      {position("N", 7.270925f, "W", 69.45105f), "g.jpg"},
      {position("N", 8.962186f, "E", 71.17379f), "h.jpg"}};
  const std::string out = capture([&](FILE* f) {
    CsvWriter csv_writer(f);
    KmlWriter kml_writer(f);  // the map formats share the table
    RunContext run{{}, nullptr, string_table_create(16), {}};
    for (const auto& [m, name] : photos) {
      run.writer = name[0] == 'f' ? static_cast<Writer*>(&kml_writer) : &csv_writer;
      deliver_photo(run, m, name, name);
    }
    EXPECT_EQ(run.counts.listed, 6u);
    EXPECT_EQ(run.counts.duplicates, 2u);
    string_table_destroy(run.duplicates, release_value);
  });
  EXPECT_EQ(out,
            "a.jpg,51.507332,-0.127667\nc.jpg,-51.507332,-0.127667\nd.jpg,51.507332\n"
            "e.jpg,51.507332\ng.jpg,7.270925,-69.451050\nh.jpg,8.962186,71.173790\n");
}

// GPX and GeoJSON print the exact values: seven decimals, and the altitude as recorded, to the
// centimetre, 0 included; CSV keeps single precision and whole metres.
TEST(MapFormats, GpxWaypointAndGeoJsonFeature) {
  ImageMetadata m = london();
  record_altitude(m, 35);
  std::strcpy(m.date_time_original, "2019:06:01 14:03:22");
  std::strcpy(m.offset_time_original, "+02:00");
  const auto gpx = [](const ImageMetadata& r, const char* name = "IMG_0001.jpg") {
    return document("trip.gpx", r, true, name);
  };
  const auto geojson = [](const ImageMetadata& r, const char* name = "IMG_0001.jpg") {
    return document("x.json", r, true, name);
  };
  EXPECT_EQ(geojson(m),
            "{\"type\":\"FeatureCollection\",\"generator\":\"pinreel " PINREEL_VERSION
            "\",\"features\":[\n"
            "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[-0.1276667,"
            "51.5073333,35]},\"properties\":{\"name\":\"IMG_0001.jpg\",\"altitude\":35,"
            "\"time\":\"2019-06-01T14:03:22+02:00\",\"direction\":null,\"direction_ref\":null,"
            "\"accuracy\":null}}\n]}\n");

  // Below sea level, a local time, and names that need escaping: E9 is no UTF-8.
  record_altitude(m, 35.5, 1);
  m.offset_time_original[0] = '\0';
  const std::string gpx_text = gpx(m, "a&b \"\x01\xE9\".jpg");
  EXPECT_NE(gpx_text.find("<wpt lat=\"51.5073333\" lon=\"-0.1276667\">\n    <ele>-35.5</ele>\n"),
            std::string::npos)
      << gpx_text;
  EXPECT_NE(gpx_text.find("<name>a&amp;b &quot;\xEF\xBF\xBD\xEF\xBF\xBD&quot;.jpg</name>\n"
                          "    <link href=\"a%26b%20%22%01%E9%22.jpg\"/>"),
            std::string::npos)
      << gpx_text;
  EXPECT_NE(
      geojson(m, "a\\b \"\x01\t\xE9\".jpg")
          .find("51.5073333,-35.5]},\"properties\":{\"name\":\"a\\\\b \\\"\\u0001\\t\xEF\xBF\xBD"
                "\\\".jpg\",\"altitude\":-35.5,\"time\":\"2019-06-01T14:03:22\","),
      std::string::npos);
  // Altitudes at sea level and under a metre are altitudes; a reference alone is none.
  for (const auto& [metres, text] : {std::pair<double, const char*>{0, "0"},
                                     {0.254, "0.25"},
                                     {12.7, "12.7"},
                                     {8848.86, "8848.86"}}) {
    record_altitude(m, metres);
    EXPECT_NE(geojson(m).find(std::string("51.5073333,") + text + "]},"), std::string::npos);
    EXPECT_NE(gpx(m).find(std::string("<ele>") + text + "</ele>"), std::string::npos);
  }
  EXPECT_EQ(document("x.csv", m), "IMG_0001.jpg,51.507332,-0.127667,+8848\n");
  m.gps_altitude_state = AltitudeState::kNone;
  m.gps_altitude_ref = 1;
  m.date_time_original[0] = '\0';
  m.has_gps_img_direction = m.has_gps_h_positioning_error = true;
  m.gps_img_direction = 359.5f;
  m.gps_img_direction_ref[0] = 'T';
  EXPECT_NE(geojson(m).find("[-0.1276667,51.5073333]},\"properties\":{\"name\":\"IMG_0001.jpg\","
                            "\"altitude\":null,\"time\":null,\"direction\":359.5,"
                            "\"direction_ref\":\"T\",\"accuracy\":0}}"),
            std::string::npos);
  EXPECT_EQ(gpx(m).find("<ele>"), std::string::npos);

  // Direction and accuracy to the hundredth, and none out of range.
  const struct {
    float direction;
    char reference;
    float accuracy;
    const char* texts;
  } views[] = {{0.0f, 'M', 3.456f, "0 M 3.46"}, {360.0f, 'x', 1e6f, "360  1000000"},
               {360.01f, 'T', -0.5f, "  "},     {-1.0f, 'T', INFINITY, "  "},
               {NAN, 'T', NAN, "  "},           {123.456f, 'T', 0.1f, "123.46 T 0.1"}};
  for (const auto& view : views) {
    m.gps_img_direction = view.direction;
    m.gps_img_direction_ref[0] = view.reference;
    m.gps_h_positioning_error = view.accuracy;
    const ViewTexts texts = view_texts(m);
    EXPECT_EQ(std::string(texts.direction) + " " + texts.direction_ref + " " + texts.accuracy,
              view.texts);
  }

  // Only a position with two numbers; KML writes whatever the key holds.
  ImageMetadata infinite = london();
  infinite.gps_latitude[0] = INFINITY;
  EXPECT_EQ(gpx(infinite).find("<wpt"), std::string::npos);
  EXPECT_EQ(geojson(infinite),
            "{\"type\":\"FeatureCollection\",\"generator\":\"pinreel " PINREEL_VERSION
            "\",\"features\":[\n]}\n");
  EXPECT_NE(document("x.kml", infinite).find("-0.127667,inf,0"), std::string::npos);
}

TEST(MapFormats, HtmlPageMarkDataAndThumbnailBudget) {
  ImageMetadata m = london();
  record_altitude(m, 35);
  std::strcpy(m.date_time_original, "2019:06:01 14:03:22");
  m.has_gps_img_direction = m.has_gps_h_positioning_error = true;
  m.gps_img_direction = 90.5f;
  m.gps_img_direction_ref[0] = 'M';
  m.gps_h_positioning_error = 5;
  const uint8_t thumbnail[] = {0xFF, 0xD8, 0xFF, 0xD9, 0x00};
  m.thumbnail = thumbnail;
  m.thumbnail_length = sizeof thumbnail;
  uint64_t left_out = 0;
  const std::string page = capture([&](FILE* f) {
    HtmlWriter writer(f, "maps/trip.html", "/w", true,
                      16);  // room for one thumbnail's 8 characters
    RunContext run{{}, &writer, nullptr, {}};
    writer.begin("maps/<trip>.html");
    deliver_photo(run, m, "<!--<script>\xE2\x80\xA8\"\\.jpg", "a/</script>.jpg");
    m.has_gps_img_direction = m.has_gps_h_positioning_error = false;
    m.gps_altitude_state = AltitudeState::kNone;
    deliver_photo(run, m, "b.jpg", "b.jpg");
    writer.end();
    left_out = writer.thumbnails_left_out();
  });
  const std::string head =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta "
      "name=\"generator\" content=\"pinreel " PINREEL_VERSION
      "\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>maps/&lt;trip&gt;.html</title>\n<style>\n/* ";
  EXPECT_EQ(page.substr(0, head.size()), head);
  // Nothing a name holds can end an element or begin a comment: the page's own script elements
  // are all there is.
  EXPECT_EQ(count_of(page, "<script"), 4u);
  EXPECT_EQ(count_of(page, "</script"), 4u);
  EXPECT_EQ(count_of(page, "<!--"), 0u);
  EXPECT_NE(
      page.find("\"thumbnailBudget\":16,\"thumbnailsLeftOut\":1,\"points\":[\n"
                "[51.5073333,-0.1276667,35,\"\\u003C!--\\u003Cscript\\u003E\\u2028\\\"\\\\.jpg\","
                "\"../a/%3C/script%3E.jpg\",\"2019-06-01T14:03:22\",90.5,\"M\",5,8],\n"
                "[51.5073333,-0.1276667,null,\"b.jpg\",\"../b.jpg\",\"2019-06-01T14:03:22\"]]}\n"),
      std::string::npos)
      << page.substr(page.find("pinreel-data"), 600);
  EXPECT_NE(page.find("id=\"pinreel-thumbnails\">\n/9j/2QA=\n</script>"), std::string::npos);
  EXPECT_EQ(left_out, 1u);
}

// The exact numbers' texts; a position given in decimal degrees is printed from its doubles.
TEST(MapFormats, ExactNumbersAndDecimalPositions) {
  const auto metres = [](double value) {
    char text[kMetresTextSize];
    return std::string(text, format_metres(text, value));
  };
  const auto degrees = [](double value) {
    char text[kDegreesTextSize];
    return std::string(text, format_coordinate(text, value));
  };
  EXPECT_EQ(metres(0.1 + 0.2), "0.3");
  EXPECT_EQ(metres(-0.004), "0");
  EXPECT_EQ(metres(-430.05), "-430.05");
  EXPECT_EQ(metres(2147483647), "2147483647");
  EXPECT_EQ(degrees(-0.0), "0.0000000");
  EXPECT_EQ(degrees(-4e-8), "0.0000000");
  EXPECT_EQ(degrees(-179.99999996), "-180.0000000");

  Photo photo{"d.jpg", "d.jpg", nullptr, {}};
  EXPECT_EQ(decimal_position(51.5073333, -0.1276667, photo.position), PositionKind::kPosition);
  EXPECT_EQ(capture([&](FILE* f) { CsvWriter(f).photo(photo); }), "d.jpg,51.507333,-0.127667\n");
  EXPECT_EQ(decimal_position(4e-7, -4e-7, photo.position), PositionKind::kZeroPosition);
  // From the record, with an altitude in whole metres for CSV and to the centimetre for GeoJSON.
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  m.has_decimal_position = m.has_decimal_altitude = true;
  m.decimal_latitude = -33.8568;
  m.decimal_longitude = 151.2153;
  for (const auto& [height, csv, json] :
       {std::tuple<double, const char*, const char*>{-0.5, ",-0\n", ",-0.5]"},
        {0, "\n", ",0]"},
        {35.27, ",+35\n", ",35.27]"},
        {5e9, "\n", "]"}}) {
    m.decimal_altitude = height;
    EXPECT_EQ(document("x.csv", m, false, "d.jpg"),
              std::string("d.jpg,-33.856800,151.215300") + csv);
    EXPECT_NE(document("x.json", m).find(std::string("[151.2153000,-33.8568000") + json),
              std::string::npos)
        << height;
  }
}

struct TimeCase {
  const char* date_time;
  const char* offset;
  const char* gps_date;
  std::vector<uint32_t> gps_time;  // numerator, denominator x 3; empty for none
  const char* stated;
  const char* utc;
};

CaptureTime time_of(const TimeCase& c) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  std::strcpy(m.date_time_original, c.date_time);
  std::strcpy(m.offset_time_original, c.offset);
  std::strcpy(m.gps_date_stamp, c.gps_date);
  m.has_gps_time_stamp = !c.gps_time.empty();
  for (size_t i = 0; i < c.gps_time.size(); ++i) m.gps_time_stamp[i] = c.gps_time[i];
  return capture_time(m);
}

TEST(CaptureTime, OffsetLocalOrGpsAcrossDayMonthAndYearEndsAndInvalidFields) {
  const std::vector<uint32_t> gps = {14, 1, 27, 1, 724, 100};
  const char* dto = "2019:06:01 14:03:22";
  const TimeCase cases[] = {
      {dto, "+02:00", "2008:10:23", gps, "2019-06-01T14:03:22+02:00", "2019-06-01T12:03:22Z"},
      {dto, "", "2008:10:23", gps, "2019-06-01T14:03:22", "2008-10-23T14:27:07Z"},
      {dto, "", "", {}, "2019-06-01T14:03:22", ""},
      {"", "+02:00", "2008:10:23", gps, "2008-10-23T14:27:07Z", "2008-10-23T14:27:07Z"},
      {"2019:12:31 23:30:00", "-02:00", "", {}, nullptr, "2020-01-01T01:30:00Z"},
      {"2020:01:01 00:15:59", "+05:45", "", {}, nullptr, "2019-12-31T18:30:59Z"},
      {"2020:03:01 00:30:00", "+01:00", "", {}, nullptr, "2020-02-29T23:30:00Z"},
      {"2100:03:01 00:30:00", "+01:00", "", {}, nullptr, "2100-02-28T23:30:00Z"},
      {"2000:02:29 23:00:00", "-14:00", "", {}, nullptr, "2000-03-01T13:00:00Z"},
      {"2019:04:30 23:59:59", "-00:01", "", {}, nullptr, "2019-05-01T00:00:59Z"},
      {"0001:01:01 00:30:00", "+01:00", "", {}, "0001-01-01T00:30:00+01:00", ""},
      {"9999:12:31 23:30:00", "-01:00", "", {}, nullptr, ""},
      {dto, "+14:00", "", {}, nullptr, "2019-06-01T00:03:22Z"},
      {"", "", "2019:01:31", {0, 1, 0, 1, 0, 1}, "2019-01-31T00:00:00Z", "2019-01-31T00:00:00Z"},
      {"", "", "2019:01:31", {}, "", ""},
      {"", "", "0000:00:00", {0, 1, 0, 1, 0, 1}, "", ""},
      // GPS hours or minutes that are not whole, or out of range
      {"", "", "2019:01:31", {24, 1, 0, 1, 0, 1}, "", ""},
      {"", "", "2019:01:31", {12, 1, 60, 1, 0, 1}, "", ""},
      {"", "", "2019:01:31", {12, 1, 0, 1, 60, 1}, "", ""},
      {"", "", "2019:01:31", {12, 0, 0, 1, 0, 1}, "", ""},
      {"", "", "2019:01:31", {12, 1, 0, 1, 1, 0}, "", ""},
      {"", "", "2019:01:31", {12, 1, 61, 2, 0, 1}, "", ""},
  };
  for (const TimeCase& c : cases) {
    const CaptureTime t = time_of(c);
    EXPECT_STREQ(c.stated != nullptr ? t.stated : nullptr, c.stated) << c.date_time << c.gps_date;
    EXPECT_STREQ(t.utc, c.utc) << c.date_time << c.offset;
  }
  // A field that is none gives no time, never a wrong one: the GPS stamps are used instead.
  const std::vector<uint32_t> late = {23, 1, 59, 1, 5999, 100};
  for (const char* bad :
       {"    :  :     :  :  ", "0000:00:00 00:00:00", "2019:13:01 00:00:00", "2019:02:29 10:00:00",
        "2019:04:31 10:00:00", "2019:06:01 24:00:00", "2019:06:01 12:60:00", "2019:06:01 12:00:60",
        "2019-06-01 12:00:00", "2019:06:01 12:00", "2019:06:01T12:00:00", "2O19:06:01 12:00:00"}) {
    EXPECT_STREQ(time_of({bad, "+01:00", "2019:01:31", late, "", ""}).stated,
                 "2019-01-31T23:59:59Z")
        << bad;
  }
  // An offset that is none leaves the local time without a zone.
  for (const char* bad : {"      ", "+15:00", "+02:60", "02:00", "+2:00", "Z"}) {
    EXPECT_STREQ(time_of({dto, bad, "", {}, "", ""}).stated, "2019-06-01T14:03:22") << bad;
  }
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
    EXPECT_EQ(relative_link("/srv/maps/", home, "a:b\\c.jpg"), "../../home/a%3Ab%5Cc.jpg");
  }
}

std::vector<std::string> released;

TEST(StringTable, FindsEveryKeyThroughGrowthAndCollisions) {
  for (int32_t capacity : {0, 3, 16}) {  // capacities below 3 are raised, so probing ends
    StringTable* table = string_table_create(capacity);
    EXPECT_EQ(string_table_lookup(table, "anything"), nullptr);
    std::vector<std::string> keys = {"Aa", "B@"};  // equal djb2 hashes
    for (int i = 0; i < 200; ++i) keys.push_back("key" + std::to_string(i));
    for (auto& key : keys) string_table_insert(table, key.c_str(), &key);
    for (auto& key : keys) EXPECT_EQ(string_table_lookup(table, key.c_str()), &key) << key;
    EXPECT_EQ(string_table_lookup(table, "KEY1"), nullptr);   // case matters
    EXPECT_EQ(string_table_lookup(table, "C\x1f"), nullptr);  // the same hash again
    string_table_destroy(table, nullptr);
  }
}

TEST(StringTable, DuplicateKeysAreStoredTwiceAndEachValueReleasedOnce) {
  StringTable* table = string_table_create(16);
  char first[] = "first", second[] = "second";
  string_table_insert(table, "same", first);
  string_table_insert(table, "same", second);
  string_table_insert(table, "null-valued", nullptr);
  EXPECT_STREQ(static_cast<char*>(string_table_lookup(table, "same")), "first");
  const auto record = [](void* value) {
    released.push_back(value != nullptr ? static_cast<const char*>(value) : "(null)");
  };
  string_table_destroy(table, record);
  string_table_destroy(nullptr, record);
  std::sort(released.begin(), released.end());
  EXPECT_EQ(released, (std::vector<std::string>{"(null)", "first", "second"}));
}

}  // namespace
