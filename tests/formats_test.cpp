// Every output format end to end: the built program writes it from fixture photos, and the
// programs people open such files with read it back: GDAL/OGR, GPSBabel, Python's json and
// zipfile, xmllint, unzip; ExifTool reads the same photos' times. A client that is not installed
// (none is under Wine) is skipped with a message. The KMZ archive is compared byte for byte with
// the one the zip writer makes of the KML document and the thumbnails, on Windows too.
#include <algorithm>
#include <iterator>
#include <utility>

#include "output/output.h"
#include "support/run_test.h"

namespace {

using e2e::read_file;
using fixture::Bytes;
using fixture::Directory;
using fixture::Tiff;
using platform::text_stream;
using Files = std::vector<std::pair<std::string, Bytes>>;

size_t count_of(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// What one fixture photo holds; empty texts and zero values are left out.
struct Shot {
  std::string name;
  uint32_t lat_seconds;  // north, in 1/100 s; 0: no GPS directory
  uint32_t lon_seconds;  // east, in 1/100 s; 0: no longitude
  Bytes thumbnail = {};
  int altitude = 0;  // whole metres, negative below sea level
  std::string date_time = "", offset = "", gps_date = "";
  std::vector<uint32_t> gps_time = {};  // hours, minutes, seconds x 100
};

Bytes photo(const Shot& shot) {
  Tiff tiff(shot.name.size() % 2 == 0 ? fixture::Order::kIntel : fixture::Order::kMotorola);
  Directory& first = tiff.first();
  Directory& exif = tiff.add_directory();
  if (!shot.date_time.empty()) exif.ascii(36867, shot.date_time);
  if (!shot.offset.empty()) exif.ascii(36881, shot.offset);
  first.pointer(fixture::kExifPointer, exif);
  if (shot.lat_seconds != 0) {
    Directory& gps = tiff.add_directory();
    gps.ascii(1, "N").rationals(2, {{0, 1}, {0, 1}, {shot.lat_seconds, 100}});
    if (shot.lon_seconds != 0)
      gps.ascii(3, "E").rationals(4, {{0, 1}, {0, 1}, {shot.lon_seconds, 100}});
    if (shot.altitude < 0) gps.integer(5, fixture::kByte, 1);
    if (shot.altitude != 0) gps.rationals(6, {{std::abs(shot.altitude), 1}});
    const std::vector<uint32_t>& t = shot.gps_time;
    if (!t.empty()) gps.rationals(7, {{t[0], 1}, {t[1], 1}, {t[2], 100}});
    if (!shot.gps_date.empty()) gps.ascii(29, shot.gps_date);
    first.pointer(fixture::kGpsPointer, gps);
  }
  if (!shot.thumbnail.empty()) {
    const uint32_t size = static_cast<uint32_t>(shot.thumbnail.size());
    first.link(tiff.add_directory()
                   .raw(513, fixture::kLong, 1, fixture::block_end(size))
                   .longs(514, {size}));
    tiff.tail(shot.thumbnail);
  }
  return fixture::Jpeg().soi().app1_exif(tiff).dqt().sof(0xC0, 8, 8, 3).dht().sos().eoi().bytes();
}

// A small JPEG-looking thumbnail (nothing decodes it), different for each `seed`.
Bytes thumbnail(uint8_t seed) {
  Bytes bytes = {0xFF, 0xD8, 0xFF, 0xDB};
  for (int i = 0; i < 600; ++i) bytes.push_back(static_cast<uint8_t>(seed * 31 + i * i));
  return bytes;
}

// The archive the zip writer makes of `stored` entries and the deflated `document`.
std::string archive(const Files& stored, const std::string& document = "") {
  return platform::capture([&](FILE* f) {
    ZipWriter zip(f);
    for (const auto& [name, bytes] : stored)
      zip.add_stored(name.c_str(), bytes.data(), bytes.size());
    if (!document.empty()) {
      Deflater deflater;
      deflater.add(document);
      deflater.finish();
      zip.add_deflated("doc.kml", deflater.data(), deflater.crc(), deflater.size());
    }
    zip.finish();
  });
}

// The KMZ archive of the KML document at `kml`, named `name`, with the `images` of the photos so
// named in its balloons.
std::string kmz_of(std::string kml, const std::string& name, const Files& images) {
  kml.erase(std::remove(kml.begin(), kml.end(), '\r'), kml.end());
  const size_t at = kml.find("<name>") + 6;
  kml.replace(at, kml.find("</name>") - at, name);
  Files stored;
  for (const auto& [photo, bytes] : images) {
    stored.emplace_back("images/000" + std::to_string(stored.size() + 1) + ".jpg", bytes);
    const std::string description = "<name>" + photo + "</name>\n      <description>";
    kml.insert(kml.find(description) + description.size(),
               "&lt;img src=\"" + stored.back().first + "\" width=\"160\"/&gt;");
  }
  return archive(stored, kml);
}

class Formats : public e2e::RunTest {
 protected:
  // Expects exit status 0 and nothing on standard error, and returns standard output.
  std::string run_ok(const e2e::Names& args) const {
    const e2e::Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return r.out;
  }
};

const std::string kFffd = "\xEF\xBF\xBD";

// Names with a markup character, a comma, quotes and (on POSIX) a byte that is not UTF-8.
TEST_F(Formats, EveryFormatReadsBackInItsClients) {
  // A thumbnail that is not a JPEG image gets none.
  const std::string quote = platform::kWindows ? "it's.jpg" : "say \"hi\".jpg";
  const Bytes png = {0x89, 'P', 'N', 'G', 0, 0, 0, 0};
  const char* taken = "2021:11:02 15:03:27";
  std::vector<Shot> shots = {
      {"a&b.jpg", 18506400, 4179600, thumbnail(1), 35, "2019:06:01 14:03:22", "+02:00"},
      {"x,y.jpg", 11232000, 12733245, {}, -430, taken, "", "2021:11:02", {13, 3, 2750}},
      {quote, 12189600, 54437580, png, 0, "", "", "2023:03:18", {21, 42, 1000}},
      {"lat-only.jpg", 36000, 0, thumbnail(2)},
      {"no-gps.jpg", 0, 0, thumbnail(3)}};
  std::vector<std::string> names = {"a&b.jpg", quote, "x,y.jpg"};  // as UTF-8 readers see them
  Files images = {{"a&amp;b.jpg", shots[0].thumbnail}};  // by the names in the KML document
  if (!platform::kWindows) {
    shots.push_back({"caf\xE9.jpg", 1800000, 3600000, thumbnail(4)});
    names.push_back("caf" + kFffd + ".jpg");
    images.emplace_back(names.back(), shots.back().thumbnail);
  }
  std::filesystem::create_directory(path("album"));
  std::filesystem::create_directory(path("maps"));
  for (const Shot& shot : shots) fixture::write_file(path("album/" + shot.name), photo(shot));

  // In byte order of the names, which differ on Windows.
  const std::string quoted = ",33.860001,151.215500,,2023-03-18T21:42:10Z\n";
  const std::string csv = run_ok({"-t", "album/*.jpg"});
  EXPECT_EQ(csv, text_stream("a&b.jpg,51.406666,11.610000,+35,2019-06-01T14:03:22+02:00\n" +
                             (platform::kWindows ? "it's.jpg" + quoted
                                                 : "caf\xE9.jpg,5.000000,10.000000,,\n") +
                             "lat-only.jpg,0.100000,,,\n" +
                             (platform::kWindows ? "" : "\"say \"\"hi\"\".jpg\"" + quoted) +
                             "\"x,y.jpg\",31.200001,35.370125,-430,2021-11-02T15:03:27\n"));
  for (const char* format : {"kml", "kmz", "gpx", "geojson", "csv"}) {
    EXPECT_EQ(run_ok({"album/*.jpg", "-t", std::string("maps/out.") + format}), "") << format;
  }
  EXPECT_EQ(read_file(path("maps/out.csv")), csv);  // the same bytes as standard output
  // The archive: the JPEG thumbnails of the photos with a placemark, stored as they are, and the
  // KML document with those pictures in the balloons; its lines end in LF on Windows too.
  EXPECT_TRUE(read_file(path("maps/out.kmz")) ==
              kmz_of(read_file(path("maps/out.kml")), "maps/out.kmz", images));

  const std::string features = std::to_string(names.size());
  for (const char* xml : {"maps/out.kml", "maps/out.gpx"})
    expect_client("xmllint", "--noout " + std::string(xml), "");
  expect_client(
      "python3",
      "-c 'import json, sys; d = json.load(open(sys.argv[1], encoding=\"utf-8\"));"
      " print(len(d[\"features\"]), d[\"features\"][0][\"properties\"])' "
      "maps/out.geojson",
      features + " {'name': 'a&b.jpg', 'altitude': 35, 'time': '2019-06-01T14:03:22+02:00'}\n");
  expect_client("python3",
                "-c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]);"
                " print(z.testzip(), z.namelist())' maps/out.kmz",
                std::string("None ['images/0001.jpg', ") +
                    (platform::kWindows ? "" : "'images/0002.jpg', ") + "'doc.kml']\n");
  expect_client("unzip", "-tq maps/out.kmz",
                "No errors detected in compressed data of maps/out.kmz.\n");

  // GDAL/OGR: every feature with its name, a position and a time; KML places every point at
  // altitude 0, GeoJSON gives the altitude where there is one, CSV keeps the bytes of a name. The
  // last line of each list is the start of a name's.
  const std::string kml =
      "POINT Z (35.370125 31.200001 0)|timestamp (DateTime) = 2019/06/01 "
      "14:03:22+02|timestamp (DateTime) = 2021/11/02 15:03:27|Name (String) = ";
  const std::pair<std::string, std::string> sources[] = {
      {"maps/out.kml", kml},
      {"/vsizip/maps/out.kmz/doc.kml",
       "description (String) = <img src=\"images/0001.jpg\" width=\"160\"/>|" + kml},
      {"maps/out.gpx waypoints",
       "POINT (35.370125 31.200001)|time (DateTime) = 2019/06/01 12:03:22+00|ele (Real) = -430|"
       "link1_href (String) = ../album/a%26b.jpg|name (String) = "},
      {"maps/out.geojson",
       "POINT Z (35.370125 31.200001 -430)|POINT (151.2155 33.860001)|time (DateTime) = "
       "2023/03/18 21:42:10+00|name (String) = "},
      {"-oo HEADERS=NO maps/out.csv",
       "field_4 (String) = -430|field_5 (String) = 2019-06-01T14:03:22+02:00|field_1 (String) = "}};
  for (const auto& [source, expected] : sources) {
    std::string out;
    if (!client("ogrinfo", "-ro -al -q " + source, out)) {
      EXPECT_EQ(out, "") << source;
      continue;
    }
    const bool csv_file = source.find(".csv") != std::string::npos;
    EXPECT_EQ(count_of(out, "OGRFeature("), names.size() + csv_file) << source;
    std::vector<std::string> lines(1);
    for (char c : expected) c == '|' ? lines.push_back("") : lines.back().push_back(c);
    const std::string name = lines.back();
    lines.pop_back();
    for (const std::string& n : names) {
      lines.push_back(name +
                      (csv_file && n.find(kFffd) != std::string::npos ? shots.back().name : n));
    }
    for (const std::string& line : lines) {
      EXPECT_EQ(count_of(out, line + "\n"), 1u) << source << ": " << line << "\n" << out;
    }
  }

  // GPSBabel: every waypoint, its name and its link.
  std::string out;
  if (client("gpsbabel", "-i gpx -f maps/out.gpx -o unicsv -F -", out) || !out.empty()) {
    EXPECT_EQ(count_of(out, "\n"), names.size() + 1) << out;
    EXPECT_EQ(count_of(out,
                       "51.406666,11.610000,\"a&b.jpg\",35.0,2019/06/01,12:03:22,"
                       "\"../album/a%26b.jpg\""),
              1u)
        << out;
  }
}

// The same photos as ExifTool reads them: the stated time from DateTimeOriginal and its offset,
// or the GPS stamps; GPX's UTC from Python's own conversion of the offset.
TEST_F(Formats, TimesAgreeWithExifTool) {
  const char* times[][5] = {
      // name, DateTimeOriginal, OffsetTimeOriginal, GPSDateStamp, GPSTimeStamp (h m s/100)
      {"t1.jpg", "2019:06:01 14:03:22", "+05:30", "", ""},
      {"t2.jpg", "2008:10:22 16:28:39", "", "2008:10:23", "14 27 724"},
      {"t3.jpg", "", "", "2015:04:10", "18 12 2206"},
      {"t4.jpg", "    :  :     :  :  ", "+01:00", "2016:02:29", "0 0 0"},
      {"t5.jpg", "0000:00:00 00:00:00", "+01:00", "", ""},
      {"t6.jpg", "2019:12:31 20:00:00", "-08:00", "2020:01:01", "4 0 0"},
      {"t7.jpg", "2020:03:01 01:59:59", "+02:00", "", ""}};
  for (const auto& t : times) {
    std::vector<uint32_t> gps_time(3);
    std::istringstream(t[4]) >> gps_time[0] >> gps_time[1] >> gps_time[2];
    write(t[0], photo({t[0],
                       36000,
                       36000,
                       {},
                       0,
                       t[1],
                       t[2],
                       t[3],
                       *t[4] != '\0' ? gps_time : std::vector<uint32_t>()}));
  }
  const std::string csv = run_ok({"-t", "*.jpg"});
  run_ok({"-t", "*.jpg", "t.gpx"});
  const std::string gpx = read_file(path("t.gpx"));
  // Per photo: the CSV line and the UTC time that ExifTool's fields give.
  std::string out;
  if (!client("exiftool",
              "-q -n -csv -DateTimeOriginal -OffsetTimeOriginal -GPSDateStamp -GPSTimeStamp "
              "-ext jpg . >fields.csv && python3 -c '\n"
              "import csv, datetime\n"
              "for r in csv.DictReader(open(\"fields.csv\")):\n"
              "  f = lambda k: r.get(k) or \"\"\n"
              "  d, g = f(\"DateTimeOriginal\"), f(\"GPSDateStamp\").replace(\":\", \"-\")\n"
              "  g = g + \"T\" + f(\"GPSTimeStamp\").split(\".\")[0] + \"Z\" if g else \"\"\n"
              "  s = d[:4] + \"-\" + d[5:7] + \"-\" + d[8:10] + \"T\" + d[11:] + "
              "f(\"OffsetTimeOriginal\") if d.strip(\" :0\") else g\n"
              "  u = datetime.datetime.fromisoformat(s.replace(\"Z\", \"+00:00\"))"
              ".astimezone(datetime.timezone.utc) if len(s) > 19 else None\n"
              "  print(r[\"SourceFile\"][2:] + \",0.100000,0.100000,,\" + s, "
              "u.strftime(\"%Y-%m-%dT%H:%M:%SZ\") if u else g)'",
              out)) {
    EXPECT_EQ(out, "");
    return;
  }
  std::istringstream rows(out);
  size_t photos = 0;
  for (std::string row; std::getline(rows, row); ++photos) {
    const std::string line = row.substr(0, row.rfind(' ')) + "\n", utc = row.substr(line.size());
    EXPECT_EQ(count_of(csv, line), 1u) << line << csv;
    const std::string name = line.substr(0, line.find(','));
    const size_t at = gpx.find("<name>" + name + "</name>");
    ASSERT_NE(at, std::string::npos) << name;
    const size_t time = gpx.find("<time>", gpx.rfind("<wpt", at));
    EXPECT_EQ(time < at ? gpx.substr(time + 6, 20) : "", utc) << name;
  }
  EXPECT_EQ(photos, std::size(times));
}

// An empty run gives an archive with the empty document.
TEST_F(Formats, EmptyArchives) {
  run_ok({"*.none", "empty.kmz"});
  run_ok({"*.none", "empty.kml"});
  EXPECT_TRUE(read_file(path("empty.kmz")) ==
              kmz_of(read_file(path("empty.kml")), "empty.kmz", {}));
}

// Archives of more entries than the classic end record can count end with ZIP64 records.
TEST_F(Formats, ManyEntriesGetZip64EndRecords) {
  Files many;
  for (size_t i = 0; i < 65536; ++i) many.emplace_back("images/" + std::to_string(i), Bytes{'i'});
  const std::string large = archive(many);
  const size_t end = large.size() - 22;
  EXPECT_EQ(large.compare(end, 12, std::string("PK\x05\x06\0\0\0\0\xFF\xFF\xFF\xFF", 12)), 0);
  EXPECT_EQ(large.compare(end - 20, 4, "PK\x06\x07"), 0);
  EXPECT_EQ(large.compare(end - 76, 4, "PK\x06\x06"), 0);
  write("large.zip", fixture::bytes_of(large));
  expect_client("python3",
                "-c 'import zipfile; z = zipfile.ZipFile(\"large.zip\"); i = z.infolist();"
                " print(z.testzip(), len(i), i[-1].filename, z.read(i[-1]))'",
                "None 65536 images/65535 b'i'\n");
}

}  // namespace
