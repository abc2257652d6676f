// The built program run end to end on fixture photos in a temporary directory: standard
// output, standard error, the KML file and the exit status, checked exactly.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "cli/cli.h"
#include "support/exif_builder.h"
#include "support/platform.h"

namespace {

using fixture::Bytes;
using fixture::Directory;
using fixture::Jpeg;
using fixture::Order;
using fixture::Tiff;
using platform::text_stream;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  return std::filesystem::exists(path);
}

struct Place {
  const char* lat_ref;
  uint32_t lat[3];  // degrees, minutes, seconds x 100
  const char* lon_ref;
  uint32_t lon[3];
  int altitude_ref;
  uint32_t altitude;
};

// A small photo whose EXIF block holds `place`; without GPS when `place` is null.
Bytes photo(const Place* place, Order order = Order::kIntel) {
  Tiff tiff(order);
  Directory& first = tiff.first();
  first.ascii(271, "Camera");
  if (place != nullptr) {
    Directory& gps = tiff.add_directory();
    gps.ascii(1, place->lat_ref)
        .rationals(2, {{place->lat[0], 1}, {place->lat[1], 1}, {place->lat[2], 100}})
        .ascii(3, place->lon_ref)
        .rationals(4, {{place->lon[0], 1}, {place->lon[1], 1}, {place->lon[2], 100}});
    if (place->altitude_ref != 0) gps.integer(5, fixture::kByte, place->altitude_ref);
    if (place->altitude != 0) gps.rationals(6, {{place->altitude, 1}});
    first.pointer(fixture::kGpsPointer, gps);
  }
  return Jpeg().soi().app1_exif(tiff).dqt().sof(0xC0, 8, 8, 3).dht().sos().eoi().bytes();
}

const Place kLondon = {"N", {51, 30, 2640}, "W", {0, 7, 3960}, 0, 35};
const Place kDeadSea = {"N", {31, 33, 3600}, "E", {35, 28, 4800}, 1, 430};
const Place kSydney = {"S", {33, 51, 3528}, "E", {151, 12, 3312}, 0, 0};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::make_temp_dir();
    ASSERT_NE(dir_, "");
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
    EXPECT_FALSE(error) << error.message();
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const Bytes& bytes) const {
    fixture::write_file(path(name), bytes);
  }
  void mkdir_in(const std::string& name) const {
    ASSERT_TRUE(std::filesystem::create_directory(path(name)));
  }

  // Runs pinreel in the temporary directory (or `cwd` inside it), standard output to `stdout_to`
  // when given.
  Outcome run(const std::vector<std::string>& args, const std::string& cwd = "",
              const std::string& stdout_to = "") const {
    const std::string out_path = stdout_to.empty() ? path(".stdout") : stdout_to;
    const std::string err_path = path(".stderr");
    Outcome result{platform::run(PINREEL_BINARY_PATH, args, cwd.empty() ? dir_ : path(cwd),
                                 out_path, err_path),
                   "", read_file(err_path)};
    if (stdout_to.empty()) {
      result.out = read_file(out_path);
      std::remove(out_path.c_str());
    }
    std::remove(err_path.c_str());
    return result;
  }

  void write_album() const {
    write("london.jpg", photo(&kLondon));
    write("DEADSEA.JPG", photo(&kDeadSea, Order::kMotorola));
    write("sydney.jpeg", photo(&kSydney));
    write("copy of london.jpg", photo(&kLondon, Order::kMotorola));
    write("no-gps.jpg", photo(nullptr));
    write("notes.txt", photo(&kLondon));
    write("broken.jpg", fixture::bytes_of("not a jpeg"));
  }

  std::string dir_;
};

// Expected output is written with "\n"; text_stream() gives the platform's line ends.
const std::string kUsage = text_stream(
    "Description:\n"
    "  Bulk extracts GPS co-ordinates from EXIF jpeg images as either CSV, or KML data.\n\n"
    "Usage:\n"
    "  pinreel input.jpg\n"
    "  pinreel [options] *.jpg > output.csv\n"
    "  pinreel [options] *.jpg output.kml\n\n"
    "Options:\n"
    "  -d  Removes duplicate GPS co-ordinates from the output.\n\n");

const std::string kLondonLine = text_stream("london.jpg,51.507332,-0.127667,+35\n");

std::string placemark(const std::string& name, const std::string& coordinates) {
  return text_stream("    <Placemark>\n      <name>" + name +
                     "</name>\n      <description></description>\n"
                     "      <styleUrl>#icon-1899-0288D1</styleUrl>\n      <Point>\n"
                     "        <coordinates>\n          " +
                     coordinates +
                     ",0\n        </coordinates>\n      </Point>\n    </Placemark>\n");
}

size_t line_count(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST_F(Cli, UsageWithoutAnInput) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-d"}, {"-x", "-"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(Cli, SingleFileModeAndItsOptions) {
  write_album();
  EXPECT_EQ(run({"london.jpg"}).out, kLondonLine);
  EXPECT_EQ(run({"-x", "london.jpg"}).out, kLondonLine);  // unknown options are ignored
  EXPECT_EQ(run({"-D", "london.jpg"}).out, kLondonLine);  // -d is case-sensitive
  EXPECT_EQ(run({"-d", "london.jpg"}).out, kLondonLine);
  EXPECT_EQ(run({"DEADSEA.JPG"}).out, text_stream("DEADSEA.JPG,31.559999,35.480000,-430\n"));
  EXPECT_EQ(run({"sydney.jpeg"}).out, text_stream("sydney.jpeg,-33.859798,151.209198\n"));
  EXPECT_EQ(run({"london?jpg"}).status, 1);  // '?' alone means a literal name

  for (const char* quiet : {"no-gps.jpg", "broken.jpg"}) {
    const Outcome r = run({quiet});
    EXPECT_EQ(r.status, 0) << quiet;
    EXPECT_EQ(r.out + r.err, "") << quiet;
  }
}

TEST_F(Cli, SingleFileThatCannotBeReadFails) {
  write_album();
  mkdir_in("folder.jpg");
  const auto fails = [&](const std::string& name, const std::string& reason) {
    const Outcome r = run({name});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(r.err, text_stream("pinreel: cannot read '" + name + "': " + reason + "\n"));
  };
  fails("missing.jpg", std::strerror(ENOENT));
  fails("folder.jpg", "not a regular file");
  fails("notes.txt", "not a photo file name that pinreel reads");
  fails("missing.gif", "not a photo file name that pinreel reads");
  fails("missing.tif", std::strerror(ENOENT));
#ifndef _WIN32
  // Opening a FIFO for reading would wait for a writer for ever.
  ASSERT_EQ(mkfifo(path("pipe.jpg").c_str(), 0644), 0);
  fails("pipe.jpg", "not a regular file");
#endif
}

// Entries that cannot be read are reported and the run goes on; entries that are not files are
// passed over without a word.
TEST_F(Cli, BatchReportsUnreadablePhotosAndGoesOn) {
  write("london.jpg", photo(&kLondon));
  mkdir_in("folder.jpg");
  std::error_code error;
  std::filesystem::create_symlink("nowhere.jpg", path("gone.jpg"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
#ifndef _WIN32
  ASSERT_EQ(mkfifo(path("pipe.jpg").c_str(), 0644), 0);
#endif
  Outcome r = run({"*.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(
      r.err,
      text_stream("pinreel: cannot read 'gone.jpg': " + std::string(std::strerror(ENOENT)) + "\n"));
  r = run({"*.jpg", "map.kml"});  // the map is still written
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(line_count(read_file(path("map.kml"))), 52u);
  std::filesystem::remove(path("gone.jpg"));
  r = run({"*.jpg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, kLondonLine);
}

// The pattern reaches the program unexpanded: the start-up code globs nothing, even on Windows.
TEST_F(Cli, BatchCsvInSortedOrderIgnoringCase) {
  write_album();
  mkdir_in("folder.jpg");
  write(".hidden.jpg", photo(&kSydney));
  const Outcome r = run({"*.jpg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, text_stream(".hidden.jpg,-33.859798,151.209198\n"
                               "DEADSEA.JPG,31.559999,35.480000,-430\n"
                               "copy of london.jpg,51.507332,-0.127667,+35\n") +
                       kLondonLine);
}

TEST_F(Cli, DedupKeepsTheFirstOfEachPosition) {
  write_album();
  write("london-again.JPEG", photo(&kLondon));
  Outcome r = run({"-d", "*.jp*g"});
  EXPECT_EQ(r.out, text_stream("DEADSEA.JPG,31.559999,35.480000,-430\n"
                               "copy of london.jpg,51.507332,-0.127667,+35\n"
                               "sydney.jpeg,-33.859798,151.209198\n"));
  r = run({"*.jp*g", "map.kml", "-d"});
  EXPECT_EQ(r.out, "");
  const std::string kml = read_file(path("map.kml"));
  EXPECT_EQ(line_count(kml), 42u + 3 * 10);
  EXPECT_NE(kml.find(placemark("copy of london.jpg", "-0.127667,51.507332")), std::string::npos);
  EXPECT_EQ(kml.find("london-again"), std::string::npos);
}

TEST_F(Cli, KmlDocumentHoldsOnePlacemarkPerPhoto) {
  write_album();
  const Outcome r = run({"*.jpeg", "trip.kml"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::string kml = read_file(path("trip.kml"));
  ASSERT_EQ(line_count(kml), 52u);
  EXPECT_EQ(kml.find(text_stream("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n")), 0u);
  EXPECT_NE(kml.find(text_stream("    <name>trip.kml</name>\n")), std::string::npos);
  const std::string tail =
      placemark("sydney.jpeg", "151.209198,-33.859798") + text_stream("  </Document>\n</kml>\n");
  ASSERT_GE(kml.size(), tail.size());
  EXPECT_EQ(kml.substr(kml.size() - tail.size()), tail);

  // A pattern that matches nothing still gives a whole document; a name without '*' is batch
  // mode too when an output is named.
  EXPECT_EQ(run({"*.none", "empty.kml"}).status, 0);
  EXPECT_EQ(line_count(read_file(path("empty.kml"))), 42u);
  run({"london.jpg", "one.kml"});
  EXPECT_EQ(line_count(read_file(path("one.kml"))), 52u);
}

TEST_F(Cli, PatternWithADirectoryOpensEntriesThere) {
  mkdir_in("photos");
  write("photos/london.jpg", photo(&kLondon));
  write("london.jpg", photo(&kSydney));  // a decoy with the same bare name
  const Outcome r = run({platform::kWindows ? "photos\\*.jpg" : "photos/*.jpg"});
  EXPECT_EQ(r.out, kLondonLine);
  run({dir_ + "/photos/*.JPG", "map.kml"}, "photos");
  EXPECT_NE(read_file(path("photos/map.kml")).find(placemark("london.jpg", "-0.127667,51.507332")),
            std::string::npos);
}

// On Windows a backslash and a drive's colon end the directory part as well.
TEST(DirSearch, DirectoryPartEndsAtTheLastSeparator) {
  DirSearch search;
  search.start("photos/2019\\*.none");
  EXPECT_EQ(search.directory(), platform::kWindows ? "photos/2019\\" : "photos/");
  search.start("C:*.none");
  EXPECT_EQ(search.directory(), platform::kWindows ? "C:" : "");
  search.start("*.none");
  EXPECT_EQ(search.directory(), "");
}

#ifndef _WIN32
// A slow but plain statement of the wildcards, to hold the matcher to.
bool reference_match(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    return reference_match(pattern + 1, name) ||
           (*name != '\0' && reference_match(pattern, name + 1));
  }
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return *name != '\0' && (*pattern == '?' || fold(*pattern) == fold(*name)) &&
         reference_match(pattern + 1, name + 1);
}

// Every string over `alphabet` up to `max_length` bytes.
std::vector<std::string> all_strings(const std::string& alphabet, size_t max_length) {
  std::vector<std::string> out = {""};
  for (size_t begin = 0; out.back().size() < max_length;) {
    const size_t end = out.size();
    for (size_t i = begin; i < end; ++i) {
      for (char c : alphabet) out.push_back(out[i] + c);
    }
    begin = end;
  }
  return out;
}

// The Windows search does its own matching; this is the POSIX one.
TEST(DirSearch, WildcardsAreStarAndQuestionMarkOnly) {
  EXPECT_TRUE(matches_name_pattern("*.jpg", "IMG_0001.JPG"));
  EXPECT_TRUE(matches_name_pattern("*.jpg", ".jpg"));
  EXPECT_TRUE(matches_name_pattern("IMG[1].jpg", "img[1].JPG"));
  EXPECT_FALSE(matches_name_pattern("IMG[1].jpg", "IMG1.jpg"));
  EXPECT_TRUE(matches_name_pattern("[!a]*", "[!a]b"));
  EXPECT_FALSE(matches_name_pattern("a\\*", "a*"));
  EXPECT_FALSE(matches_name_pattern("\xC9*", "\xE9.jpg"));  // only ASCII letters fold
  EXPECT_FALSE(matches_name_pattern("", "a"));

  // Every short pattern against every short name, wildcards and would-be escapes mixed.
  const std::vector<std::string> patterns = all_strings("a*?[\\", 5);
  const std::vector<std::string> names = all_strings("aA[\\", 4);
  int differences = 0;
  for (const std::string& p : patterns) {
    for (const std::string& n : names) {
      differences +=
          matches_name_pattern(p.c_str(), n.c_str()) != reference_match(p.c_str(), n.c_str());
    }
  }
  EXPECT_EQ(differences, 0);
}
#endif

TEST_F(Cli, NamesWithBracketsAndLiteralNames) {
  write("IMG[1].jpg", photo(&kLondon));
  EXPECT_EQ(run({"*[1].JPG"}).out, text_stream("IMG[1].jpg,51.507332,-0.127667,+35\n"));
  run({"IMG[1].jpg", "one.kml"});
  EXPECT_EQ(line_count(read_file(path("one.kml"))), 52u);

  // A name without wildcards means the entry spelled so, not its case variants as well; on
  // Windows the two names are one file.
  if (!platform::kWindows) {
    write("PHOTO.JPG", photo(&kSydney));
    write("photo.jpg", photo(&kDeadSea));
    run({"photo.jpg", "one.kml"});
    const std::string kml = read_file(path("one.kml"));
    EXPECT_EQ(line_count(kml), 52u);
    EXPECT_NE(kml.find("<name>photo.jpg</name>"), std::string::npos);
    run({"Photo.jpg", "two.kml"});
    EXPECT_EQ(line_count(read_file(path("two.kml"))), 62u);
  }
}

// Legal files that real cameras and editors write, which must not lose their position; and
// positions that are none.
TEST_F(Cli, EveryValidPositionIsListedAndNoFalseOne) {
  // A GPS directory at `degrees` N or S and `degrees` E, pointed at from `holder`.
  const auto gps_in = [](Tiff& tiff, Directory& holder, const char* lat_ref, bool lat_value,
                         uint32_t degrees) {
    Directory& gps = tiff.add_directory().ascii(1, lat_ref).ascii(3, "E");
    if (lat_value) gps.rationals(2, {{degrees, 1}, {0, 1}, {0, 1}});
    gps.rationals(4, {{degrees, 1}, {0, 1}, {0, 1}});
    holder.pointer(fixture::kGpsPointer, gps);
  };
  Tiff moved, broken_entry, no_latitude, zero, plain, bad_mark;
  moved.first().ascii(271, "passed over");  // the header points past this directory
  Directory& real = moved.add_directory();
  gps_in(moved, real, "N", true, 10);
  moved.first_offset(moved.offset_of(real));
  gps_in(broken_entry, broken_entry.first().entry(700, 99, 1, {}), "N", true, 20);
  gps_in(no_latitude, no_latitude.first(), "N", false, 30);
  gps_in(zero, zero.first(), "S", true, 0);
  gps_in(plain, plain.first(), "N", true, 40);
  bad_mark.mark("XX");

  Jpeg many_segments;
  many_segments.soi();
  for (int i = 0; i < 40; ++i) many_segments.dqt().segment(0xE2, Bytes(100, 'i'));
  write("a-moved.jpg", Jpeg().soi().app1_exif(moved).sos().bytes());
  write("b-broken-entry.jpg", Jpeg().soi().app1_exif(broken_entry).sos().bytes());
  write("c-no-latitude.jpg", Jpeg().soi().app1_exif(no_latitude).sos().bytes());
  write("d-zero.jpg", Jpeg().soi().app1_exif(zero).sos().bytes());
  write("e-later-broken.jpg", Jpeg().soi().app1_exif(plain).app1_exif(bad_mark).sos().bytes());
  write("f-many-segments.jpg", many_segments.app1_exif(plain).sos().bytes());

  const std::string expected =
      "a-moved.jpg,10.000000,10.000000\n"
      "b-broken-entry.jpg,20.000000,20.000000\n"
      "e-later-broken.jpg,40.000000,40.000000\n"
      "f-many-segments.jpg,40.000000,40.000000\n";
  Outcome r = run({"*.jpg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, text_stream(expected));
  for (const char* quiet : {"c-no-latitude.jpg", "d-zero.jpg"}) {
    r = run({quiet});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "") << quiet;
  }
  r = run({"-d", "*.jpg", "map.kml"});
  const std::string kml = read_file(path("map.kml"));
  EXPECT_EQ(line_count(kml), 42u + 3 * 10);
  EXPECT_NE(kml.find(placemark("e-later-broken.jpg", "40.000000,40.000000")), std::string::npos);
  EXPECT_EQ(kml.find("f-many-segments.jpg"), std::string::npos);  // a duplicate
}

TEST_F(Cli, RefusesToOverwriteAPhotoWithKml) {
  write_album();
  const Bytes before = photo(&kSydney);
  const Outcome r = run({"london.jpg", "sydney.jpeg", "no-gps.jpg"});  // an expanded *.jp*g
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, text_stream("pinreel: refusing to write KML over the photo 'sydney.jpeg'; "
                               "quote the pattern so that the shell does not expand it, as in: "
                               "pinreel '*.jpg' output.kml\n"));
  const std::string after = read_file(path("sydney.jpeg"));
  EXPECT_EQ(Bytes(after.begin(), after.end()), before);
  EXPECT_EQ(run({"*.jpg", "new.JPG"}).status, 2);
  EXPECT_FALSE(exists(path("new.JPG")));
}

TEST_F(Cli, UnwritableKmlFallsBackToCsvAndFails) {
  write("london.jpg", photo(&kLondon));
  mkdir_in("out.kml");
  Outcome r = run({"*.jpg", "missing/out.kml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(r.err, text_stream("pinreel: cannot open 'missing/out.kml': " +
                               std::string(std::strerror(ENOENT)) +
                               "\npinreel: writing CSV to standard output instead\n"));
  r = run({"*.jpg", "out.kml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(r.err, text_stream("pinreel: cannot open 'out.kml': " +
                               std::string(std::strerror(platform::directory_open_error())) +
                               "\npinreel: writing CSV to standard output instead\n"));
}

TEST_F(Cli, FullDiskIsAFailure) {
  const char* full = platform::full_device();
  if (full == nullptr) GTEST_SKIP() << "no device that is always full";
  write("london.jpg", photo(&kLondon));
  Outcome r = run({"*.jpg"}, "", full);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pinreel: cannot write to standard output: No space left on device\n");
  r = run({"*.jpg", full});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pinreel: cannot write '" + std::string(full) + "': No space left on device\n");
  EXPECT_EQ(run({"london.jpg"}, "", full).status, 1);
  EXPECT_EQ(run({}, "", full).status, 1);
}

TEST_F(Cli, AwkwardNamesStayWellFormed) {
  // Windows refuses '<', '>', '"' and control characters in file names.
  const std::string marked = platform::kWindows ? "[x] it's, R&D.jpg" : "<x>\x01\"q\",'.jpg";
  for (const std::string& name : {marked, std::string("a&b.jpg")}) write(name, photo(&kLondon));
  const Outcome csv = run({"*.jpg"});
  EXPECT_EQ(csv.out, text_stream(platform::kWindows
                                     ? "\"[x] it's, R&D.jpg\",51.507332,-0.127667,+35\n"
                                     : "\"<x>\x01\"\"q\"\",'.jpg\",51.507332,-0.127667,+35\n") +
                         text_stream("a&b.jpg,51.507332,-0.127667,+35\n"));

  const std::string document = platform::kWindows ? "R&D 'maps'.kml" : "R&D <maps>.kml";
  run({"*.jpg", document});
  const std::string kml = read_file(path(document));
  EXPECT_NE(kml.find(platform::kWindows ? "<name>R&amp;D &apos;maps&apos;.kml</name>"
                                        : "<name>R&amp;D &lt;maps&gt;.kml</name>"),
            std::string::npos);
  EXPECT_NE(
      kml.find(platform::kWindows ? "<name>[x] it&apos;s, R&amp;D.jpg</name>"
                                  : "<name>&lt;x&gt;\xEF\xBF\xBD&quot;q&quot;,&apos;.jpg</name>"),
      std::string::npos);
  EXPECT_NE(kml.find("<name>a&amp;b.jpg</name>"), std::string::npos);

  // A real XML parser must accept the document.
  bool have_xmllint = false;
  const bool accepted = platform::xmllint_accepts(path(document), have_xmllint);
  if (!have_xmllint) GTEST_SKIP() << "xmllint missing";
  EXPECT_TRUE(accepted);
}

// The CSV line keeps a name's bytes; the KML document holds it in UTF-8. File names are bytes on
// POSIX, which pass when they are UTF-8 already; on Windows they are in the ANSI code page.
TEST_F(Cli, KmlNamesAreUtf8) {
  const unsigned code_page = platform::ansi_code_page();
  if (platform::kWindows && code_page != 1252) GTEST_SKIP() << "ANSI code page " << code_page;
  try {
    for (const char* name : {"caf\xC3\xA9.jpg", "caf\xE9.jpg"}) write(name, photo(&kLondon));
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << error.what() << " (Wine under a host locale that is not UTF-8)";
  }
  EXPECT_EQ(run({"*.jpg"}).out, text_stream("caf\xC3\xA9.jpg,51.507332,-0.127667,+35\n"
                                            "caf\xE9.jpg,51.507332,-0.127667,+35\n"));

  const std::string document = "caf\xE9.kml";
  run({"*.jpg", document});
  const std::string kml = read_file(path(document));
  if (platform::kWindows) {  // windows-1252: C3 is "Ã", A9 is "©", E9 is "é"
    EXPECT_NE(kml.find("<name>caf\xC3\xA9.kml</name>"), std::string::npos);
    EXPECT_NE(kml.find("<name>caf\xC3\x83\xC2\xA9.jpg</name>"), std::string::npos);
    EXPECT_NE(kml.find("<name>caf\xC3\xA9.jpg</name>"), std::string::npos);
  } else {  // a byte that is not UTF-8 becomes U+FFFD
    EXPECT_NE(kml.find("<name>caf\xEF\xBF\xBD.kml</name>"), std::string::npos);
    EXPECT_NE(kml.find("<name>caf\xC3\xA9.jpg</name>"), std::string::npos);
    EXPECT_NE(kml.find("<name>caf\xEF\xBF\xBD.jpg</name>"), std::string::npos);
  }
}

}  // namespace
