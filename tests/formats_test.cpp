// Every output format end to end: the built program writes it from fixture photos, and the
// programs people open such files with read it back: GDAL/OGR, GPSBabel, Python's json and
// zipfile, xmllint, unzip; ExifTool reads the same photos' times. A client that is not installed
// (none is under Wine) is skipped with a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/exif_builder.h"
#include "support/platform.h"
#include "support/zip_reader.h"

namespace {

using fixture::Bytes;
using fixture::Directory;
using fixture::Jpeg;
using fixture::Tiff;
using platform::text_stream;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// What one fixture photo holds; empty texts and zero values are left out.
struct Shot {
  std::string name;
  uint32_t lat_seconds = 0;  // north, in 1/100 s; 0: no GPS directory
  uint32_t lon_seconds = 0;  // east, in 1/100 s; 0: no longitude
  uint32_t altitude = 0;
  bool below_sea_level = false;
  std::string date_time, offset, gps_date;
  std::vector<std::pair<uint32_t, uint32_t>> gps_time;
  Bytes thumbnail;
};

Bytes photo(const Shot& shot) {
  Tiff tiff(shot.name.size() % 2 == 0 ? fixture::Order::kIntel : fixture::Order::kMotorola);
  Directory& first = tiff.first();
  first.ascii(271, "Camera");
  Directory& exif = tiff.add_directory();
  if (!shot.date_time.empty()) exif.ascii(36867, shot.date_time);
  if (!shot.offset.empty()) exif.ascii(36881, shot.offset);
  first.pointer(fixture::kExifPointer, exif);
  if (shot.lat_seconds != 0) {
    Directory& gps = tiff.add_directory();
    gps.ascii(1, "N").rationals(2, {{0, 1}, {0, 1}, {shot.lat_seconds, 100}});
    if (shot.lon_seconds != 0)
      gps.ascii(3, "E").rationals(4, {{0, 1}, {0, 1}, {shot.lon_seconds, 100}});
    if (shot.below_sea_level) gps.integer(5, fixture::kByte, 1);
    if (shot.altitude != 0) gps.rationals(6, {{shot.altitude, 1}});
    if (!shot.gps_time.empty())
      gps.rationals(7, {shot.gps_time[0], shot.gps_time[1], shot.gps_time[2]});
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
  return Jpeg().soi().app1_exif(tiff).dqt().sof(0xC0, 8, 8, 3).dht().sos().eoi().bytes();
}

// A small JPEG-looking thumbnail (nothing decodes it), different for each `seed`.
Bytes thumbnail(uint8_t seed) {
  Bytes bytes = {0xFF, 0xD8, 0xFF, 0xDB};
  for (int i = 0; i < 600; ++i) bytes.push_back(static_cast<uint8_t>(seed * 31 + i * i));
  bytes.insert(bytes.end(), {0xFF, 0xD9});
  return bytes;
}

class Formats : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::make_temp_dir();
    ASSERT_NE(dir_, "");
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs pinreel in the temporary directory; returns its exit status, standard output in `out`.
  int run(const std::vector<std::string>& args, std::string& out) const {
    const int status =
        platform::run(PINREEL_BINARY_PATH, args, dir_, path(".stdout"), path(".stderr"));
    out = read_file(path(".stdout"));
    EXPECT_EQ(read_file(path(".stderr")), "");
    return status;
  }
  std::string run_ok(const std::vector<std::string>& args) const {
    std::string out;
    EXPECT_EQ(run(args, out), 0);
    return out;
  }

  // Runs a client through the shell in the temporary directory; true when it exited with 0.
  // False, with `skipped` set, when `program` is not installed.
  bool client(const std::string& program, const std::string& arguments, std::string& out) {
    out.clear();
    if (platform::kWindows) {
      skipped_ += program + " (not under Wine) ";
      return false;
    }
    const std::string probe = "command -v " + program + " >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
      skipped_ += program + " (not installed) ";
      return false;
    }
    const std::string command =
        "cd '" + dir_ + "' && " + program + " " + arguments + " >.client 2>&1";
    const int status = std::system(command.c_str());
    out = read_file(path(".client"));
    std::remove(path(".client").c_str());
    return status == 0;
  }
  void report_skipped() const {
    if (!skipped_.empty()) std::printf("clients skipped: %s\n", skipped_.c_str());
  }

  std::string dir_;
  std::string skipped_;
};

const std::string kFffd = "\xEF\xBF\xBD";

// Names with a markup character, a comma, quotes and (on POSIX) a byte that is not UTF-8.
struct Album {
  std::vector<Shot> shots;
  std::vector<std::string> map_names;  // as UTF-8 readers give them, in listing order
};

Shot shot(const std::string& name, uint32_t lat_seconds, uint32_t lon_seconds, Bytes thumb = {}) {
  Shot s;
  s.name = name;
  s.lat_seconds = lat_seconds;
  s.lon_seconds = lon_seconds;
  s.thumbnail = std::move(thumb);
  return s;
}

Album album() {
  Album a;
  Shot amp = shot("a&b.jpg", 18506400, 4179600, thumbnail(1));
  amp.altitude = 35;
  amp.date_time = "2019:06:01 14:03:22";
  amp.offset = "+02:00";
  Shot comma = shot("x,y.jpg", 11232000, 12733245);
  comma.altitude = 430;
  comma.below_sea_level = true;
  comma.date_time = "2021:11:02 15:03:27";
  comma.gps_date = "2021:11:02";
  comma.gps_time = {{13, 1}, {3, 1}, {2750, 100}};
  // A thumbnail that is not a JPEG image gets none.
  Shot quote = shot(platform::kWindows ? "it's.jpg" : "say \"hi\".jpg", 12189600, 54437580,
                    {0x89, 'P', 'N', 'G', 0, 0, 0, 0});
  quote.gps_date = "2023:03:18";
  quote.gps_time = {{21, 1}, {42, 1}, {10, 1}};
  a.shots = {amp, comma, quote, shot("lat-only.jpg", 36000, 0, thumbnail(2)),
             shot("no-gps.jpg", 0, 0, thumbnail(3))};
  a.map_names = {"a&b.jpg", quote.name, "x,y.jpg"};
  if (!platform::kWindows) {
    a.shots.push_back(shot("caf\xE9.jpg", 1800000, 3600000, thumbnail(4)));
    a.map_names.push_back("caf" + kFffd + ".jpg");
  }
  return a;
}

// In byte order of the names, which differ on Windows.
std::string expected_csv() {
  const std::string quote = ",33.860001,151.215500,,2023-03-18T21:42:10Z\n";
  const std::string lines =
      "a&b.jpg,51.406666,11.610000,+35,2019-06-01T14:03:22+02:00\n" +
      (platform::kWindows ? "it's.jpg" + quote : "caf\xE9.jpg,5.000000,10.000000,,\n") +
      "lat-only.jpg,0.100000,,,\n" + (platform::kWindows ? "" : "\"say \"\"hi\"\".jpg\"" + quote) +
      "\"x,y.jpg\",31.200001,35.370125,-430,2021-11-02T15:03:27\n";
  return text_stream(lines);
}

TEST_F(Formats, EveryFormatReadsBackInItsClients) {
  const Album a = album();
  std::filesystem::create_directory(path("album"));
  std::filesystem::create_directory(path("maps"));
  for (const Shot& shot : a.shots) fixture::write_file(path("album/" + shot.name), photo(shot));

  const std::string csv = run_ok({"-t", "album/*.jpg"});
  EXPECT_EQ(csv, expected_csv());
  for (const char* format : {"kml", "kmz", "gpx", "geojson", "csv"}) {
    EXPECT_EQ(run_ok({"album/*.jpg", "-t", std::string("maps/out.") + format}), "") << format;
  }
  EXPECT_EQ(read_file(path("maps/out.csv")), csv);  // the same bytes as standard output

  // The archive: doc.kml, and the two JPEG thumbnails of photos that have a placemark, byte
  // for byte; doc.kml is the KML document with the pictures in the balloons.
  std::vector<zipread::Entry> entries;
  std::string error;
  ASSERT_TRUE(zipread::read_zip(read_file(path("maps/out.kmz")), entries, error)) << error;
  const size_t images = platform::kWindows ? 1 : 2;
  ASSERT_EQ(entries.size(), images + 1);
  EXPECT_EQ(entries[0].name, "images/0001.jpg");
  EXPECT_EQ(entries[0].contents,
            std::string(a.shots[0].thumbnail.begin(), a.shots[0].thumbnail.end()));
  if (!platform::kWindows) {
    EXPECT_EQ(entries[1].name, "images/0002.jpg");
    EXPECT_EQ(entries[1].contents,
              std::string(a.shots[5].thumbnail.begin(), a.shots[5].thumbnail.end()));
  }
  EXPECT_EQ(entries.back().name, "doc.kml");
  std::string doc = entries.back().contents;
  for (size_t i = 1; i <= images; ++i) {
    const std::string image =
        "&lt;img src=\"images/000" + std::to_string(i) + ".jpg\" width=\"160\"/&gt;";
    ASSERT_EQ(count_of(doc, image), 1u) << image;
    doc.erase(doc.find(image), image.size());
  }
  doc.replace(doc.find("out.kmz"), 7, "out.kml");
  EXPECT_EQ(text_stream(doc), read_file(path("maps/out.kml")));
  fixture::write_file(path("maps/doc.kml"), fixture::bytes_of(entries.back().contents));

  const size_t features = a.map_names.size();
  std::string out;
  for (const char* xml : {"maps/out.kml", "maps/doc.kml", "maps/out.gpx"}) {
    if (client("xmllint", std::string("--noout ") + xml, out) || !out.empty()) {
      EXPECT_EQ(out, "") << xml;
    }
  }
  if (client("python3",
             "-c 'import json, sys; d = json.load(open(sys.argv[1], encoding=\"utf-8\"));"
             " print(len(d[\"features\"]), d[\"features\"][0][\"properties\"])' maps/out.geojson",
             out) ||
      !out.empty()) {
    EXPECT_EQ(out,
              std::to_string(features) +
                  " {'name': 'a&b.jpg', 'altitude': 35, 'time': '2019-06-01T14:03:22+02:00'}\n");
  }
  if (client("python3",
             "-c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]);"
             " print(z.testzip(), z.namelist())' maps/out.kmz",
             out) ||
      !out.empty()) {
    EXPECT_EQ(out, std::string("None ['images/0001.jpg', ") +
                       (platform::kWindows ? "" : "'images/0002.jpg', ") + "'doc.kml']\n");
  }
  if (client("unzip", "-tq maps/out.kmz", out) || !out.empty()) {
    EXPECT_EQ(out, "No errors detected in compressed data of maps/out.kmz.\n");
  }

  // GDAL/OGR: every feature with its name, position and time.
  const std::map<std::string, std::string> sources = {{"kml", "maps/out.kml"},
                                                      {"kmz", "/vsizip/maps/out.kmz/doc.kml"},
                                                      {"gpx", "maps/out.gpx waypoints"},
                                                      {"geojson", "maps/out.geojson"},
                                                      {"csv", "-oo HEADERS=NO maps/out.csv"}};
  for (const auto& [format, source] : sources) {
    if (!client("ogrinfo", "-ro -al -q " + source, out)) {
      EXPECT_EQ(out, "") << format;
      continue;
    }
    const bool kml = format.compare(0, 2, "km") == 0;
    const std::string name = kml               ? "Name (String) = "
                             : format == "csv" ? "field_1 (String) = "
                                               : "name (String) = ";
    EXPECT_EQ(count_of(out, "OGRFeature("), format == "csv" ? a.shots.size() - 1 : features)
        << format;
    for (const std::string& map_name : a.map_names) {
      // CSV keeps the bytes of a name.
      const std::string read = format == "csv" && map_name.find(kFffd) != std::string::npos
                                   ? a.shots.back().name
                                   : map_name;
      EXPECT_EQ(count_of(out, name + read + "\n"), 1u) << format << " " << read << out;
    }
    if (format == "csv") {
      EXPECT_EQ(count_of(out, "field_5 (String) = 2019-06-01T14:03:22+02:00\n"), 1u) << out;
      EXPECT_EQ(count_of(out, "field_4 (String) = -430\n"), 1u) << out;
      continue;
    }
    // KML places every point at altitude 0, GeoJSON gives the altitude where there is one.
    std::vector<std::string> points = {"POINT Z (11.61 51.406666 0)",
                                       "POINT Z (35.370125 31.200001 0)"};
    if (format == "gpx") points = {"POINT (11.61 51.406666)", "POINT (35.370125 31.200001)"};
    if (format == "geojson") {
      points = {"POINT Z (11.61 51.406666 35)", "POINT Z (35.370125 31.200001 -430)",
                "POINT (151.2155 33.860001)"};
    }
    for (const std::string& point : points) {
      EXPECT_EQ(count_of(out, point + "\n"), 1u) << format << " " << point << out;
    }
    if (format == "gpx") {
      EXPECT_EQ(count_of(out, "time (DateTime) = 2019/06/01 12:03:22+00\n"), 1u) << out;
      EXPECT_EQ(count_of(out, "time (DateTime) = 2021/11/02 13:03:27+00\n"), 1u) << out;
      EXPECT_EQ(count_of(out, "ele (Real) = -430\n"), 1u) << out;
      EXPECT_EQ(count_of(out, "link1_href (String) = ../album/a%26b.jpg\n"), 1u) << out;
    } else {
      const std::string time = kml ? "timestamp (DateTime) = " : "time (DateTime) = ";
      EXPECT_EQ(count_of(out, time + "2019/06/01 14:03:22+02\n"), 1u) << out;
      EXPECT_EQ(count_of(out, time + "2021/11/02 15:03:27\n"), 1u) << out;
      EXPECT_EQ(count_of(out, time + "2023/03/18 21:42:10+00\n"), 1u) << out;
    }
    if (format == "geojson") {
      EXPECT_EQ(count_of(out, "altitude (Integer) = -430\n"), 1u) << out;
    }
    if (format == "kmz") {
      EXPECT_EQ(
          count_of(out, "description (String) = <img src=\"images/0001.jpg\" width=\"160\"/>"), 1u);
    }
  }

  // GPSBabel: every waypoint, its name and its link.
  if (client("gpsbabel", "-i gpx -f maps/out.gpx -o unicsv -F -", out) || !out.empty()) {
    EXPECT_EQ(count_of(out, "\n"), features + 1) << out;
    EXPECT_EQ(count_of(out,
                       "51.406666,11.610000,\"a&b.jpg\",35.0,2019/06/01,12:03:22,"
                       "\"../album/a%26b.jpg\""),
              1u)
        << out;
  }
  report_skipped();
}

// The same photos as ExifTool reads them: the stated time from DateTimeOriginal and its offset,
// or the GPS stamps; GPX's UTC from Python's own conversion of the offset.
TEST_F(Formats, TimesAgreeWithExifTool) {
  const std::vector<std::vector<std::string>> times = {
      // name, DateTimeOriginal, OffsetTimeOriginal, GPSDateStamp, GPSTimeStamp (h m s/100)
      {"t1.jpg", "2019:06:01 14:03:22", "+05:30", "", ""},
      {"t2.jpg", "2008:10:22 16:28:39", "", "2008:10:23", "14 27 724"},
      {"t3.jpg", "", "", "2015:04:10", "18 12 2206"},
      {"t4.jpg", "    :  :     :  :  ", "+01:00", "2016:02:29", "0 0 0"},
      {"t5.jpg", "0000:00:00 00:00:00", "+01:00", "", ""},
      {"t6.jpg", "2019:12:31 20:00:00", "-08:00", "2020:01:01", "4 0 0"},
      {"t7.jpg", "2020:03:01 01:59:59", "+02:00", "", ""}};
  for (const auto& t : times) {
    Shot s = shot(t[0], 36000, 36000);
    s.date_time = t[1];
    s.offset = t[2];
    s.gps_date = t[3];
    if (!t[4].empty()) {
      uint32_t h = 0, m = 0, cs = 0;
      std::istringstream(t[4]) >> h >> m >> cs;
      s.gps_time = {{h, 1}, {m, 1}, {cs, 100}};
    }
    fixture::write_file(path(t[0]), photo(s));
  }
  const std::string csv = run_ok({"-t", "*.jpg"});
  run_ok({"-t", "*.jpg", "t.gpx"});
  const std::string gpx = read_file(path("t.gpx"));
  std::string exiftool;
  if (!client(
          "exiftool",
          "-q -n -csv -DateTimeOriginal -OffsetTimeOriginal -GPSDateStamp -GPSTimeStamp -ext jpg .",
          exiftool)) {
    EXPECT_EQ(exiftool, "");
    report_skipped();
    return;
  }
  std::istringstream rows(exiftool);
  std::string row;
  std::getline(rows, row);
  ASSERT_EQ(row, "SourceFile,DateTimeOriginal,OffsetTimeOriginal,GPSDateStamp,GPSTimeStamp");
  std::string stated_times;
  std::vector<std::string> names, gps_times;
  while (std::getline(rows, row)) {
    std::vector<std::string> field(1);
    for (char c : row) {
      if (c == ',') {
        field.emplace_back();
      } else {
        field.back().push_back(c);
      }
    }
    field.resize(5);
    const std::string name = field[0].substr(field[0].rfind('/') + 1);
    std::string dto = field[1], gps = "";
    if (!field[3].empty() && !field[4].empty()) {
      gps = field[3] + "T" + field[4].substr(0, field[4].find('.')) + "Z";
      gps[4] = gps[7] = '-';
    }
    std::string stated = gps;
    if (dto.size() == 19 && dto[0] != ' ' && dto.compare(0, 4, "0000") != 0) {
      dto[4] = dto[7] = '-';
      dto[10] = 'T';
      stated = dto + field[2];
    }
    const std::string line = name + ",0.100000,0.100000,," + stated + "\n";
    EXPECT_EQ(count_of(csv, line), 1u) << line << csv;
    names.push_back(name);
    stated_times += (stated.empty() || stated.size() == 19 ? gps : stated) + "\n";
  }
  EXPECT_EQ(names.size(), times.size());
  std::string utc;
  std::ofstream(path("stated.txt")) << stated_times;
  if (!client("python3",
              "-c 'import datetime, sys\n"
              "for t in sys.stdin.read().splitlines():\n"
              "  d = datetime.datetime.fromisoformat(t.replace(\"Z\", \"+00:00\")) if t else None\n"
              "  print(d.astimezone(datetime.timezone.utc).strftime(\"%Y-%m-%dT%H:%M:%SZ\") if d "
              "else \"\")' <stated.txt",
              utc)) {
    EXPECT_EQ(utc, "");
    report_skipped();
    return;
  }
  std::istringstream utc_lines(utc);
  for (const std::string& name : names) {
    std::string expected;
    std::getline(utc_lines, expected);
    const size_t at = gpx.find("<name>" + name + "</name>");
    ASSERT_NE(at, std::string::npos) << name;
    const size_t start = gpx.rfind("<wpt", at);
    const size_t time = gpx.find("<time>", start);
    EXPECT_EQ(time < at ? gpx.substr(time + 6, 20) : "", expected) << name;
  }
}

// An archive is written front to back, so that a pipe can take it; an empty run gives an archive
// with the empty document; the documents pinreel writes are replaced, whatever their case.
TEST_F(Formats, KmzToAPipeEmptyArchivesAndReplacedDocuments) {
  Shot s = shot("london.jpg", 18506400, 4179600, thumbnail(5));
  fixture::write_file(path("london.jpg"), photo(s));
  std::vector<zipread::Entry> entries;
  std::string error;
  run_ok({"*.none", "empty.kmz"});
  ASSERT_TRUE(zipread::read_zip(read_file(path("empty.kmz")), entries, error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].contents.substr(entries[0].contents.size() - 21), "  </Document>\n</kml>\n");

  for (const char* name : {"OLD.GPX", "old.Json", "old.geojson", "old.CSV", "old.kmz"}) {
    fixture::write_file(path(name), fixture::bytes_of("old"));
    EXPECT_EQ(run_ok({"*.jpg", name}), "") << name;
    EXPECT_NE(read_file(path(name)).substr(0, 3), "old") << name;
  }
  EXPECT_EQ(read_file(path("old.CSV")), text_stream("london.jpg,51.406666,11.610000\n"));
  // A single photo's line has the five fields too.
  EXPECT_EQ(run_ok({"-t", "london.jpg"}), text_stream("london.jpg,51.406666,11.610000,,\n"));
#ifndef _WIN32
  ASSERT_EQ(mkfifo(path("pipe.kmz").c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] { received = read_file(path("pipe.kmz")); });
  run_ok({"*.jpg", "pipe.kmz"});
  const int writer = open(path("pipe.kmz").c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
  reader.join();
  ASSERT_TRUE(zipread::read_zip(received, entries, error)) << error;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].contents, std::string(s.thumbnail.begin(), s.thumbnail.end()));
#endif
}

}  // namespace
