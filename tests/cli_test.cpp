// The built program run end to end on fixture photos in a temporary directory: standard
// output, standard error, the KML file, the exit status and the files left, checked exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/cli.h"
#include "output/output.h"
#include "support/exif_builder.h"
#include "support/platform.h"
#include "util/wide.h"

namespace {

using fixture::Bytes;
using fixture::Directory;
using fixture::Jpeg;
using fixture::Order;
using fixture::Tiff;
using platform::text_stream;
using Names = std::vector<std::string>;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Paths are UTF-8 on Windows too.
std::filesystem::path fs_path(const std::string& path) {
  return std::filesystem::u8path(path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(fs_path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  return std::filesystem::exists(fs_path(path));
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
    std::filesystem::remove_all(fs_path(dir_), error);
    EXPECT_FALSE(error) << error.message();
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const Bytes& bytes) const {
    fixture::write_file(path(name), bytes);
  }
  void mkdir_in(const std::string& name) const {
    ASSERT_TRUE(std::filesystem::create_directory(fs_path(path(name))));
  }
  // The names in the temporary directory (or `sub` inside it), sorted.
  Names files(const std::string& sub = "") const {
    Names names;
    for (const auto& entry :
         std::filesystem::directory_iterator(fs_path(sub.empty() ? dir_ : path(sub)))) {
      names.push_back(entry.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs pinreel in the temporary directory (or `cwd` inside it), standard output to `stdout_to`
  // when given.
  Outcome run(const std::vector<std::string>& args, const std::string& cwd = "",
              const std::string& stdout_to = "") const {
    const std::string out_path = stdout_to.empty() ? path(".stdout") : stdout_to;
    const std::string err_path = path(".stderr");
    Outcome result{
        platform::run(program_, args, cwd.empty() ? dir_ : path(cwd), out_path, err_path, options_),
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
  std::string program_ = PINREEL_BINARY_PATH;
  platform::RunOptions options_;
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
    "  -d  Removes duplicate GPS co-ordinates from the output.\n"
    "  -r  Also searches every folder below the pattern's folder.\n"
    "  -t  Adds the time each photo was taken.\n"
    "  -v  Prints a summary, and why each photo without a position has none.\n"
    "  -q  Prints neither a progress line nor a summary.\n"
    "  --help     Prints this text.\n"
    "  --version  Prints the version of pinreel.\n\n");

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

TEST_F(Cli, UsageHelpAndVersion) {
  write("london.jpg", photo(&kLondon));
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"-d"}, {"-x", "-"}, {"--help"}, {"london.jpg", "--help", "map.kml"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(exists(path("map.kml")));
  const Outcome r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, text_stream("pinreel " PINREEL_VERSION "\n"));
  // Options are matched whole: bundles and near misses are ignored.
  EXPECT_EQ(run({"-dd", "--help=1", "london.jpg"}).out, kLondonLine);
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
// passed over without a word. A dangling link cannot be opened; under Wine, which may not make
// links, a file held open without sharing stands in.
TEST_F(Cli, BatchReportsUnreadablePhotosAndGoesOn) {
  write("london.jpg", photo(&kLondon));
  mkdir_in("folder.jpg");
  std::string expected_error;
  std::error_code error;
  std::filesystem::create_symlink("nowhere.jpg", path("gone.jpg"), error);
  std::unique_ptr<platform::ExclusiveHold> hold;
  if (!error) {
    expected_error = std::strerror(ENOENT);
  } else if (platform::kWindows) {
    write("gone.jpg", photo(&kSydney));
    hold = std::make_unique<platform::ExclusiveHold>(path("gone.jpg"));
    ASSERT_TRUE(hold->held());
    expected_error = std::strerror(EACCES);
  } else {
    GTEST_SKIP() << "no symbolic links here: " << error.message();
  }
#ifndef _WIN32
  ASSERT_EQ(mkfifo(path("pipe.jpg").c_str(), 0644), 0);
#endif
  Outcome r = run({"*.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(r.err, text_stream("pinreel: cannot read 'gone.jpg': " + expected_error + "\n"));
  r = run({"*.jpg", "map.kml"});  // the map is still written
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(line_count(read_file(path("map.kml"))), 52u);
  hold.reset();
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

#ifndef _WIN32
// Photos whose pages are not in memory make pinreel read ahead: the output stays the same, in
// the same order, with and without -r.
TEST_F(Cli, ColdPhotosListTheSameAsWarm) {
  mkdir_in("trip");
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "IMG_" + std::to_string(1000 + i) + (i % 7 == 0 ? ".txt" : ".jpg");
    write("trip/" + name, photo(i % 5 == 0 ? nullptr : &kSydney));
    if (i % 7 != 0 && i % 5 != 0) expected += name + ",-33.859798,151.209198\n";
  }
  const auto evict = [&] {
    for (const auto& file : std::filesystem::directory_iterator(path("trip"))) {
      const int fd = open(file.path().c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      close(fd);
    }
  };
  evict();
  EXPECT_EQ(run({"trip/*.jpg"}).out, expected);
  evict();
  std::string with_folder;
  for (size_t at = 0; at < expected.size();) {
    with_folder += "trip/" + expected.substr(at, expected.find('\n', at) + 1 - at);
    at = expected.find('\n', at) + 1;
  }
  EXPECT_EQ(run({"-r", "."}).out, with_folder);
}
#endif

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

const std::string kLondonTail = ",51.507332,-0.127667,+35\n";
const std::string kSydneyTail = ",-33.859798,151.209198\n";
const std::string kDeadSeaTail = ",31.559999,35.480000,-430\n";

// Paths are compared whole, so a file can come between two folders; a folder without wildcards
// means every photo below it.
TEST_F(Cli, RecursiveRunsVisitTheTreeInPathOrder) {
  for (const char* folder :
       {"album", "album/a", "album/a/deeper", "album/b", "album/b/c", "album/empty"}) {
    mkdir_in(folder);
  }
  const std::pair<const char*, const Place*> photos[] = {
      {"a-b.jpg", &kLondon},        {"a.jpg", &kSydney},       {"a/x.jpg", &kDeadSea},
      {"a/deeper/y.JPG", &kLondon}, {"a0.jpg", nullptr},       {"b/c.jpg", &kDeadSea},
      {"b/c/d.jpeg", &kSydney},     {"b/notes.txt", &kLondon}, {"B.jpg", &kLondon}};
  for (const auto& [name, place] : photos) write("album/" + std::string(name), photo(place));

  const std::string all = "B.jpg" + kLondonTail + "a-b.jpg" + kLondonTail + "a.jpg" + kSydneyTail +
                          "a/deeper/y.JPG" + kLondonTail + "a/x.jpg" + kDeadSeaTail + "b/c.jpg" +
                          kDeadSeaTail + "b/c/d.jpeg" + kSydneyTail;
  for (const Names& args : {Names{"-r", "album"}, Names{"-r", "album/"}, Names{"album/*", "-r"},
                            Names{"-r", "album/*.JP*G"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0) << args[1];
    EXPECT_EQ(r.out, text_stream(all)) << args[1];
    EXPECT_EQ(r.err, "") << args[1];
  }
  // The pattern is matched in every folder, a name without wildcards too; -d works across them.
  EXPECT_EQ(run({"-r", "album/*.jpeg"}).out, text_stream("b/c/d.jpeg" + kSydneyTail));
  EXPECT_EQ(run({"-r", "album/C.jpg"}).out, text_stream("b/c.jpg" + kDeadSeaTail));
  EXPECT_EQ(run({"-r", "-d", "album"}).out,
            text_stream("B.jpg" + kLondonTail + "a.jpg" + kSydneyTail + "a/x.jpg" + kDeadSeaTail));
  // Without -r, only the folder itself.
  EXPECT_EQ(run({"album/*"}).out,
            text_stream("B.jpg" + kLondonTail + "a-b.jpg" + kLondonTail + "a.jpg" + kSydneyTail));

  // The map names each photo by the same path.
  const Outcome r = run({"-r", "album", "map.kml"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::string kml = read_file(path("map.kml"));
  EXPECT_EQ(line_count(kml), 42u + 7 * 10);
  const size_t deeper = kml.find(placemark("a/deeper/y.JPG", "-0.127667,51.507332"));
  const size_t x = kml.find(placemark("a/x.jpg", "35.480000,31.559999"));
  const size_t d = kml.find(placemark("b/c/d.jpeg", "151.209198,-33.859798"));
  EXPECT_TRUE(deeper < x && x < d && d != std::string::npos) << deeper << " " << x << " " << d;
}

// Links to folders are passed over (so no link makes a loop), links to photos are read, and the
// pattern's own folder may be a link.
TEST_F(Cli, RecursiveRunsPassOverLinksToFolders) {
  mkdir_in("album");
  mkdir_in("album/sub");
  write("album/a.jpg", photo(&kLondon));
  write("album/sub/b.jpg", photo(&kSydney));
  std::error_code error;
  std::filesystem::create_directory_symlink("..", path("album/sub/up"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  std::filesystem::create_directory_symlink("sub", path("album/again"));
  std::filesystem::create_directory_symlink("..", path("album/sub/loop.jpg"));
  std::filesystem::create_symlink("../a.jpg", path("album/sub/link.jpg"));
  std::filesystem::create_directory_symlink("album", path("shortcut"));

  const std::string expected =
      "a.jpg" + kLondonTail + "sub/b.jpg" + kSydneyTail + "sub/link.jpg" + kLondonTail;
  Outcome r = run({"-r", "shortcut"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, text_stream(expected));
  EXPECT_EQ(r.err, "");
  // A link to nothing is a photo that cannot be read.
  std::filesystem::create_symlink("nowhere.jpg", path("album/sub/gone.jpg"));
  r = run({"-r", "shortcut/*.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, text_stream(expected));
  EXPECT_EQ(r.err, text_stream("pinreel: cannot read 'shortcut/sub/gone.jpg': " +
                               std::string(std::strerror(ENOENT)) + "\n"));
}

// Paths longer than the system's limit for one path are reached folder by folder; folders more
// than TreeSearch::kMaxDepth deep are reported, and the rest of the tree is still read.
TEST_F(Cli, RecursiveRunsReachLongPathsAndStopAtADepth) {
  const Bytes london = photo(&kLondon);
  Names chain(TreeSearch::kMaxDepth + 1, "d");
  chain[0] = "deep";
  ASSERT_TRUE(platform::write_nested(dir_, chain, "bottom.jpg", london));
  chain.push_back("d");
  ASSERT_TRUE(platform::write_nested(dir_, chain, "lost.jpg", london));
  ASSERT_TRUE(platform::write_nested(dir_, {"deep", "d"}, "z.jpg", london));
  ASSERT_TRUE(platform::write_nested(dir_, {"deep", "d", "d"}, "z.jpg", london));
  std::string too_deep;
  for (size_t i = 0; i <= TreeSearch::kMaxDepth; ++i) too_deep += "d/";

  Outcome r = run({"-r", "deep"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, text_stream(too_deep.substr(2) + "bottom.jpg" + kLondonTail + "d/d/z.jpg" +
                               kLondonTail + "d/z.jpg" + kLondonTail));
  EXPECT_EQ(r.err, text_stream("pinreel: cannot list 'deep/" + too_deep +
                               "': more than 256 folders deep\n"));
  platform::remove_nested(dir_, "deep");

  // Past PATH_MAX (4096) on POSIX; past MAX_PATH (260) on Windows, where Wine's own limit is the
  // host's.
  const size_t levels = platform::kWindows ? 6 : 20;
  const size_t length = platform::kWindows ? 100 : 250;
  Names folders;
  std::string far;
  for (size_t i = 0; i < levels; ++i) {
    folders.push_back(std::string(length - 1, 'a' + static_cast<char>(i)) + "Z");
    far += folders.back() + "/";
  }
  ASSERT_TRUE(platform::write_nested(dir_, {"long"}, "near.jpg", london));
  folders.insert(folders.begin(), "long");
  ASSERT_TRUE(platform::write_nested(dir_, folders, "far.jpg", photo(&kSydney)));
  r = run({"-r", "long", "map.kml"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_NE(read_file(path("map.kml")).find(placemark(far + "far.jpg", "151.209198,-33.859798")),
            std::string::npos);
  r = run({"-r", "long"});
  EXPECT_EQ(r.out, text_stream(far + "far.jpg" + kSydneyTail + "near.jpg" + kLondonTail));
  platform::remove_nested(dir_, "long");
}

// -v says why each photo has no position, and every batch run with -v ends with the counts; -q
// drops the summary but neither the reasons nor the errors. Entries that are not photos count
// for nothing.
TEST_F(Cli, VerboseSaysWhyPhotosHaveNoPositionAndCountsThem) {
  const Place zero = {"N", {0, 0, 0}, "E", {0, 0, 0}, 0, 0};
  write("a-london.jpg", photo(&kLondon));
  write("b-london.jpg", photo(&kLondon, Order::kMotorola));
  write("c-no-gps.jpg", photo(nullptr));
  write("d-not-jpeg.jpg", fixture::bytes_of("not a jpeg"));
  write("e-no-exif.jpg", Jpeg().soi().dqt().sos().eoi().bytes());
  write("f-zero.jpg", photo(&zero));
  write("notes.txt", photo(&kLondon));
  mkdir_in("g-folder.jpg");
  std::string gone;
  std::error_code error;
  std::filesystem::create_symlink("nowhere", path("h-gone.jpg"), error);
  if (!error) {
    gone = "pinreel: cannot read 'h-gone.jpg': " + std::string(std::strerror(ENOENT)) + "\n";
  }
  const std::string reasons =
      "pinreel: c-no-gps.jpg: no GPS position\npinreel: d-not-jpeg.jpg: not a photo pinreel reads\n"
      "pinreel: e-no-exif.jpg: no EXIF block\npinreel: f-zero.jpg: GPS position 0,0\n";
  const int status = gone.empty() ? 0 : 1;

  Outcome r = run({"-v", "-d", "*.jpg"});
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, text_stream("a-london.jpg" + kLondonTail));
  EXPECT_EQ(r.err, text_stream(reasons + gone + "pinreel: 6 photos read: 1 with a position, " +
                               "1 duplicate left out, 4 without a position; " +
                               (gone.empty() ? "0" : "1") + " could not be read\n"));
  r = run({"-q", "*.jpg", "-v"});
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.err, text_stream(reasons + gone));
  for (const Names& args : {Names{"*.jpg"}, Names{"-q", "*.jpg"}}) {
    r = run(args);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.err, text_stream(gone));
  }
  // One photo, and single-file mode, which has no summary.
  r = run({"-v", "a-london.jpg", "one.kml"});
  EXPECT_EQ(r.err, text_stream("pinreel: 1 photo read: 1 with a position, 0 duplicates left out, "
                               "0 without a position; 0 could not be read\n"));
  r = run({"-v", "e-no-exif.jpg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, text_stream("pinreel: e-no-exif.jpg: no EXIF block\n"));
}

// `terminal` without the progress line: each showing is drawn (and redrawn) after a CR, then
// erased with spaces between two CRs. `shown` counts the showings.
std::string without_progress(const std::string& terminal, int& shown) {
  static const std::regex line(
      "pinreel: [0-9,]+ photos? read, [0-9,]+ with a position, [0-9]+:[0-9]{2} *");
  const std::string draw = "\rpinreel: ";
  std::string rest;
  shown = 0;
  for (size_t i = 0; i < terminal.size();) {
    if (terminal.compare(i, draw.size(), draw) != 0) {
      rest += terminal[i++];
      continue;
    }
    while (terminal.compare(i, draw.size(), draw) == 0) {
      const size_t end = terminal.find('\r', i + 1);
      if (end == std::string::npos ||
          !std::regex_match(terminal.substr(i + 1, end - i - 1), line)) {
        return "a damaged progress line: " + terminal.substr(i);
      }
      i = end;
    }
    const size_t end = terminal.find_first_not_of(' ', i + 1);
    if (end == std::string::npos || end == i + 1 || terminal[end] != '\r') {
      return "a progress line not erased: " + terminal.substr(i);
    }
    i = end + 1;
    ++shown;
  }
  return rest;
}

// The progress line appears once a run has taken half a second: here the run is held up by a
// reader that waits 0.7 s before it takes what the program writes.
TEST_F(Cli, ProgressAndSummaryOnATerminalOnly) {
  if (platform::kWindows) GTEST_SKIP() << "no pseudo-terminal";
  const int kPhotos = 1500;  // about 70 KB of CSV lines: more than a terminal or a pipe holds
  const Bytes london = photo(&kLondon);
  std::string csv;
  for (int i = 0; i < kPhotos; ++i) {
    const std::string name = "photo-" + std::to_string(10000 + i) + ".jpg";
    write(name, london);
    csv += name + kLondonTail;
  }
  const std::string summary =
      "pinreel: 1,500 photos read: 1,500 with a position, 0 duplicates left out, 0 without a "
      "position; 0 could not be read\n";
  int shown = 0;
  // Standard output elsewhere gets the CSV lines and nothing else.
  platform::TerminalOutcome r = platform::run_on_terminal(program_, {"*.jpg"}, dir_, false, 700);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, csv);
  EXPECT_EQ(without_progress(r.terminal, shown), summary);
  EXPECT_GE(shown, 1);
  // On the same terminal, the line is erased before each CSV line.
  r = platform::run_on_terminal(program_, {"*.jpg"}, dir_, true, 700);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_progress(r.terminal, shown), csv + summary);
  EXPECT_GE(shown, 1);

  // However short the run, the summary; with -q, nothing; in single-file mode, no summary.
  r = platform::run_on_terminal(program_, {"photo-10000.jpg", "map.kml"}, dir_, false, 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_progress(r.terminal, shown),
            "pinreel: 1 photo read: 1 with a position, 0 duplicates left out, 0 without a "
            "position; 0 could not be read\n");
  r = platform::run_on_terminal(program_, {"-q", "*.jpg", "map.kml"}, dir_, false, 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.terminal, "");
  r = platform::run_on_terminal(program_, {"photo-10000.jpg"}, dir_, false, 0);
  EXPECT_EQ(r.terminal + r.out, "photo-10000.jpg" + kLondonTail);
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

std::string photo_refusal(const std::string& name) {
  return text_stream("pinreel: refusing to write over the photo '" + name +
                     "'; quote the pattern so that the shell does not expand it, as in: "
                     "pinreel '*.jpg' output.kml\n");
}

TEST_F(Cli, RefusesToOverwriteAPhotoWithKml) {
  write_album();
  const Bytes before = photo(&kSydney);
  const Outcome r = run({"london.jpg", "sydney.jpeg", "no-gps.jpg"});  // an expanded *.jp*g
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, photo_refusal("sydney.jpeg"));
  const std::string after = read_file(path("sydney.jpeg"));
  EXPECT_EQ(Bytes(after.begin(), after.end()), before);
  EXPECT_EQ(run({"*.jpg", "new.JPG"}).status, 2);
  EXPECT_FALSE(exists(path("new.JPG")));
}

std::string refusal(const std::string& name) {
  return text_stream(
      "pinreel: refusing to replace '" + name +
      "': only a .kml, .kmz, .gpx, .geojson, .json or .csv file is overwritten; quote "
      "the pattern or name a new output file\n");
}

// 'IMG_0001*' expanded by the shell names the raw file or a sidecar as the output.
TEST_F(Cli, ReplacesOnlyKmlFiles) {
  write("IMG_0001.JPG", photo(&kLondon));
  const Names others = {"IMG_0001.HEIC", "IMG_0001.NEF", "IMG_0001.jpe",
                        "IMG_0001.png",  "IMG_0001.xmp", "map.kml.bak"};
  for (const std::string& name : others) write(name, fixture::bytes_of("raw"));
  for (const std::string& name : others) {
    const Outcome r = run({"IMG_0001.JPG", name});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.out, "") << name;
    // A photo's name is refused even when no such file exists.
    EXPECT_EQ(r.err, has_photo_extension(name.c_str()) ? photo_refusal(name) : refusal(name));
    EXPECT_EQ(read_file(path(name)), "raw") << name;
  }
  // Before the folder is even listed.
  EXPECT_EQ(run({"nodir/*.jpg", "IMG_0001.xmp"}).err, refusal("IMG_0001.xmp"));

  // A document is replaced, whatever the case of its extension; a new file may have any name.
  write("OLD.KML", fixture::bytes_of("old"));
  for (const char* output : {"OLD.KML", "positions.txt"}) {
    const Outcome r = run({"*.jpg", output});
    EXPECT_EQ(r.status, 0) << output;
    EXPECT_EQ(r.out + r.err, "") << output;
    EXPECT_EQ(line_count(read_file(path(output))), 52u) << output;
  }
  Names expected = others;
  expected.insert(expected.end(), {"IMG_0001.JPG", "OLD.KML", "positions.txt"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files(), expected);
}

// The document goes to a temporary file that replaces the old one when it is complete.
TEST_F(Cli, KmlIsReplacedWhole) {
  write("london.jpg", photo(&kLondon));
  write("map.kml", fixture::bytes_of("old map"));
  const Outcome r = run({"*.jpg", "map.kml"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(line_count(read_file(path("map.kml"))), 52u);
  EXPECT_EQ(files(), (Names{"london.jpg", "map.kml"}));
#ifndef _WIN32
  // The result has the mode that a new file gets, whatever the old one had.
  for (const int mask : {022, 077}) {
    ASSERT_EQ(chmod(path("map.kml").c_str(), 0604), 0);
    options_.umask = mask;
    EXPECT_EQ(run({"*.jpg", "map.kml"}).status, 0);
    struct stat info;
    ASSERT_EQ(stat(path("map.kml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u & ~static_cast<unsigned>(mask));
  }
#endif
}

// A run that fails part-way leaves the old document and no temporary file: a write past a
// file-size limit on POSIX, a rename over a file that another program holds open on Windows.
TEST_F(Cli, FailedKmlLeavesTheOldOne) {
  write("london.jpg", photo(&kLondon));
  write("map.kml", fixture::bytes_of("old map"));
  Outcome r;
  std::string reason;
  if (platform::kWindows) {
    platform::ExclusiveHold hold(path("map.kml"));
    ASSERT_TRUE(hold.held());
    r = run({"*.jpg", "map.kml"});
    reason = "cannot replace 'map.kml': " + std::string(std::strerror(EACCES));
  } else {
    options_.file_size_limit = 512;
    r = run({"*.jpg", "map.kml"});
    reason = "cannot write 'map.kml': " + std::string(std::strerror(EFBIG));
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, text_stream("pinreel: " + reason + "\n"));
  EXPECT_EQ(read_file(path("map.kml")), "old map");
  EXPECT_EQ(files(), (Names{"london.jpg", "map.kml"}));
}

// Photos that cannot be read fill the pipe of standard error with messages, so the run is still
// at work when SIGTERM comes.
TEST_F(Cli, TerminatedRunRemovesItsTemporaryFile) {
  if (platform::kWindows) GTEST_SKIP() << "no SIGTERM from another process on Windows";
  write("map.kml", fixture::bytes_of("old map"));
  const int kGone = 2000;  // 128 KB of messages, more than a pipe holds
  for (int i = 0; i < kGone; ++i) {
    std::filesystem::create_symlink("nowhere", path("gone" + std::to_string(10000 + i) + ".jpg"));
  }
  const auto temporary_files = [this] {
    const Names names = files();
    return std::count_if(names.begin(), names.end(),
                         [](const std::string& name) { return name.rfind(".map.kml.", 0) == 0; });
  };
  long during = -1;
  const int signal =
      platform::run_until_first_message(PINREEL_BINARY_PATH, {"*.jpg", "map.kml"}, dir_,
                                        path(".stdout"), [&] { during = temporary_files(); });
  std::remove(path(".stdout").c_str());
  EXPECT_EQ(signal, SIGTERM);
  EXPECT_EQ(during, 1);
  EXPECT_EQ(temporary_files(), 0);
  EXPECT_EQ(files().size(), kGone + 1u);
  EXPECT_EQ(read_file(path("map.kml")), "old map");
}

TEST_F(Cli, OutputLinkIsWrittenThroughToItsTarget) {
  write("london.jpg", photo(&kLondon));
  mkdir_in("maps");
  write("maps/trip.kml", fixture::bytes_of("old map"));
  write("IMG_0001.NEF", fixture::bytes_of("raw"));
  std::error_code error;
  std::filesystem::create_symlink("maps/trip.kml", path("link.kml"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  std::filesystem::create_symlink("IMG_0001.NEF", path("raw.kml"));

  Outcome r = run({"*.jpg", "link.kml"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(std::filesystem::read_symlink(path("link.kml")), "maps/trip.kml");
  const std::string kml = read_file(path("maps/trip.kml"));
  EXPECT_EQ(line_count(kml), 52u);
  EXPECT_NE(kml.find("<name>link.kml</name>"), std::string::npos);

  // The file a link points to must be a document too.
  r = run({"*.jpg", "raw.kml"});
  EXPECT_EQ(r.status, 2);
  if (!platform::kWindows) {
    EXPECT_EQ(r.err, refusal("IMG_0001.NEF"));
  }
  EXPECT_EQ(read_file(path("IMG_0001.NEF")), "raw");

  // A link to nothing makes its target (Windows replaces the link).
  Names expected = {"IMG_0001.NEF", "link.kml", "london.jpg", "maps", "raw.kml"};
  if (!platform::kWindows) {
    std::filesystem::create_symlink("maps/made.kml", path("new.kml"));
    EXPECT_EQ(run({"*.jpg", "new.kml"}).status, 0);
    EXPECT_EQ(line_count(read_file(path("maps/made.kml"))), 52u);
    EXPECT_TRUE(std::filesystem::is_symlink(path("new.kml")));
    expected.insert(expected.begin() + 4, "new.kml");
  }
  EXPECT_EQ(files(), expected);
  EXPECT_EQ(files("maps"),
            platform::kWindows ? Names{"trip.kml"} : (Names{"made.kml", "trip.kml"}));
}

TEST_F(Cli, OutputsThatAreNotFilesAreWrittenDirectly) {
  write("london.jpg", photo(&kLondon));
  Outcome r = run({"*.jpg", platform::null_device()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
#ifndef _WIN32
  // Standard output goes to a file here, which /dev/stdout names: it is written, not replaced.
  r = run({"*.jpg", "/dev/stdout"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(line_count(r.out), 52u);
  EXPECT_NE(r.out.find("<name>/dev/stdout</name>"), std::string::npos);

  ASSERT_EQ(mkfifo(path("pipe.kml").c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] { received = read_file(path("pipe.kml")); });
  r = run({"*.jpg", "pipe.kml"});
  // Should the program not have opened the FIFO, the reader is let go.
  const int writer = open(path("pipe.kml").c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
  reader.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(line_count(received), 52u);
  EXPECT_TRUE(std::filesystem::is_fifo(path("pipe.kml")));
  EXPECT_EQ(files(), (Names{"london.jpg", "pipe.kml"}));
#else
  EXPECT_EQ(files(), Names{"london.jpg"});
#endif
}

// No output is made when the pattern's folder cannot be listed.
TEST_F(Cli, UnlistableFolderFailsAndWritesNothing) {
  write("london.jpg", photo(&kLondon));
  write("old.kml", fixture::bytes_of("old map"));
  const std::string missing =
      text_stream("pinreel: cannot list 'nodir/': " + std::string(std::strerror(ENOENT)) + "\n");
  for (const Names& args : {Names{"nodir/*.jpg"}, Names{"nodir/*.jpg", "new.kml"},
                            Names{"nodir/london.jpg", "old.kml"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err, missing) << args[0];
  }
  // Windows says ERROR_DIRECTORY; Wine says ERROR_INVALID_NAME, which reads as "no such file".
  const Outcome r = run({"london.jpg/*.jpg", "new.kml"});
  EXPECT_EQ(r.status, 1);
  const auto not_listed = [](int error) {
    return text_stream("pinreel: cannot list 'london.jpg/': " + std::string(std::strerror(error)) +
                       "\n");
  };
  EXPECT_TRUE(r.err == not_listed(ENOTDIR) || (platform::kWindows && r.err == not_listed(ENOENT)))
      << r.err;
  EXPECT_EQ(files(), (Names{"london.jpg", "old.kml"}));
  EXPECT_EQ(read_file(path("old.kml")), "old map");
}

// File modes do not hold back root, so where the tests run as root these cases run as the user
// nobody, with the program copied where that user can reach it.
TEST_F(Cli, UnreadableAndUnwritableFolders) {
#ifdef _WIN32
  GTEST_SKIP() << "file modes and the user nobody are POSIX matters";
#else
  std::filesystem::copy_file(PINREEL_BINARY_PATH, path("pinreel"));
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(chmod(path("pinreel").c_str(), 0755), 0);
  program_ = path("pinreel");
  options_.unprivileged = true;
  const std::string denied = std::strerror(EACCES);
  for (const char* folder : {"album", "blind", "sealed"}) mkdir_in(folder);
  write("album/london.jpg", photo(&kLondon));
  write("album/secret.jpg", photo(&kSydney));
  mkdir_in("album/locked");
  write("sealed/london.jpg", photo(&kLondon));
  write("sealed/map.kml", fixture::bytes_of("old map"));
  for (const auto& [name, mode] : {std::pair<const char*, mode_t>{"album", 0777},
                                   {"album/secret.jpg", 0},
                                   {"album/locked", 0},
                                   {"blind", 0333},
                                   {"sealed", 0555},
                                   {"sealed/map.kml", 0666}}) {
    ASSERT_EQ(chmod(path(name).c_str(), mode), 0) << name;
  }
  const auto restore_modes = [this] {
    for (const char* name : {"album/secret.jpg", "album/locked", "blind", "sealed"}) {
      chmod(path(name).c_str(), 0755);
    }
  };
  if (run({}, "album").status != 0) {
    restore_modes();
    GTEST_SKIP() << "cannot run the program as user 65534 (nobody) here";
  }

  // A photo that cannot be read is reported; the others are listed, and the map is completed.
  const std::string secret = "pinreel: cannot read 'secret.jpg': " + denied + "\n";
  Outcome r = run({"*.jpg"}, "album");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(r.err, secret);
  r = run({"*.jpg", "map.kml"}, "album");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, secret);
  EXPECT_EQ(line_count(read_file(path("album/map.kml"))), 52u);
  // With -r, a sub-folder that cannot be listed is reported where it comes, and the run goes on.
  r = run({"-r", "*.jpg"}, "album");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(r.err, "pinreel: cannot list 'locked/': " + denied + "\n" + secret);

  r = run({"locked/*.jpg", "new.kml"}, "album");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "pinreel: cannot list 'locked/': " + denied + "\n");
  r = run({"*.jpg", "map.kml"}, "blind");  // it could be written, but not listed
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pinreel: cannot list '.': " + denied + "\n");

  // No temporary file can be made beside the map: it stays, and the CSV lines come instead.
  r = run({"*.jpg", "map.kml"}, "sealed");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(r.err, "pinreel: cannot open 'map.kml': " + denied +
                       "\npinreel: writing CSV to standard output instead\n");
  EXPECT_EQ(read_file(path("sealed/map.kml")), "old map");

  restore_modes();
  EXPECT_EQ(files("album"), (Names{"locked", "london.jpg", "map.kml", "secret.jpg"}));
  EXPECT_EQ(files("blind"), Names{});
  EXPECT_EQ(files("sealed"), (Names{"london.jpg", "map.kml"}));
#endif
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

// File names are bytes on POSIX: the CSV line keeps them, the KML document holds them in UTF-8.
// (Windows names are UTF-16, which reaches both in UTF-8: see UnicodeNamesEverywhere.)
TEST_F(Cli, KmlNamesAreUtf8) {
  if (platform::kWindows) GTEST_SKIP() << "names are UTF-16 on Windows";
  for (const char* name : {"caf\xC3\xA9.jpg", "caf\xE9.jpg"}) write(name, photo(&kLondon));
  EXPECT_EQ(run({"*.jpg"}).out,
            "caf\xC3\xA9.jpg,51.507332,-0.127667,+35\n"
            "caf\xE9.jpg,51.507332,-0.127667,+35\n");

  const std::string document = "caf\xE9.kml";
  run({"*.jpg", document});
  const std::string kml = read_file(path(document));
  // A byte that is not UTF-8 becomes U+FFFD.
  EXPECT_NE(kml.find("<name>caf\xEF\xBF\xBD.kml</name>"), std::string::npos);
  EXPECT_NE(kml.find("<name>caf\xC3\xA9.jpg</name>"), std::string::npos);
  EXPECT_NE(kml.find("<name>caf\xEF\xBF\xBD.jpg</name>"), std::string::npos);
}

// Greek, Chinese and emoji names (a surrogate pair in UTF-16) are found, opened and written in
// UTF-8, on the command line and in the folders alike.
TEST_F(Cli, UnicodeNamesEverywhere) {
  const std::string folder = "\xCE\xA6\xCF\x89\xCF\x84\xCE\xBF";                   // Φωτο
  const std::string greek = "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1.jpg";        // Αθήνα
  const std::string chinese = "\xE5\x8C\x97\xE4\xBA\xAC.jpg";                      // 北京
  const std::string emoji = "\xF0\x9F\x8C\x8D.jpg";                                // 🌍
  const std::string sharp_s = "\xC3\x9F.jpg";                                      // ß
  const std::string map = "\xCF\x87\xCE\xAC\xCF\x81\xCF\x84\xCE\xB7\xCF\x82.kml";  // χάρτης
  mkdir_in(folder);
  mkdir_in(folder + "/sub");
  write(folder + "/" + greek, photo(&kLondon));
  write(folder + "/" + chinese, photo(&kSydney));
  write(folder + "/" + sharp_s, photo(nullptr));
  write(folder + "/sub/" + emoji, photo(&kDeadSea));
  write(emoji, photo(&kLondon));

  const std::string london = ",51.507332,-0.127667,+35\n";
  EXPECT_EQ(run({emoji}).out, text_stream(emoji + london));
  EXPECT_EQ(run({"*.jpg"}).out, text_stream(emoji + london));
  Outcome r = run({"-v", folder + "/*.jpg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, text_stream(greek + london + chinese + ",-33.859798,151.209198\n"));
  EXPECT_EQ(r.err,
            text_stream("pinreel: " + folder + "/" + sharp_s +
                        ": no GPS position\npinreel: 3 photos read: 2 with a position, "
                        "0 duplicates left out, 1 without a position; 0 could not be read\n"));

  r = run({"-r", folder, map});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::string kml = read_file(path(map));
  EXPECT_EQ(line_count(kml), 42u + 3 * 10);
  EXPECT_NE(kml.find("<name>" + map + "</name>"), std::string::npos);
  // "sub/" sorts before the names that begin with bytes above 0x7F.
  const size_t in_sub = kml.find(placemark("sub/" + emoji, "35.480000,31.559999"));
  const size_t athens = kml.find(placemark(greek, "-0.127667,51.507332"));
  const size_t beijing = kml.find(placemark(chinese, "151.209198,-33.859798"));
  EXPECT_TRUE(in_sub < athens && athens < beijing && beijing != std::string::npos)
      << in_sub << " " << athens << " " << beijing;
}

TEST(WideNames, EveryNameSurvivesTheWayThroughUtf16) {
  EXPECT_EQ(wide_to_utf8(std::wstring{0xD83C, 0xDF0D}.c_str()), "\xF0\x9F\x8C\x8D");
  EXPECT_EQ(utf8_to_wide("\xF0\x9F\x8C\x8D"), (std::wstring{0xD83C, 0xDF0D}));
  EXPECT_EQ(utf8_to_wide("\xCE\xA6x"), (std::wstring{0x03A6, L'x'}));
  // NTFS names may hold unpaired surrogates: they must come back as they were.
  for (const std::wstring& name :
       {std::wstring{L'a', 0xD800}, std::wstring{0xDC00, L'b'},
        std::wstring{0xDBFF, 0xDBFF, 0xDFFF}, std::wstring{0x7F, 0x80, 0x7FF, 0x800, 0xFFFF}}) {
    EXPECT_EQ(utf8_to_wide(wide_to_utf8(name.data(), name.size()).c_str()), name);
  }
  // Bytes that are not UTF-8 (a stray byte, an overlong form, a code point past U+10FFFF).
  EXPECT_EQ(utf8_to_wide("a\xFF"
                         "b"),
            (std::wstring{L'a', 0xFFFD, L'b'}));
  EXPECT_EQ(utf8_to_wide("\xC0\xAF"), (std::wstring{0xFFFD, 0xFFFD}));
  EXPECT_EQ(utf8_to_wide("\xF4\x90\x80\x80").front(), wchar_t{0xFFFD});
  EXPECT_EQ(utf8_to_wide("\xE2\x82"), (std::wstring{0xFFFD, 0xFFFD}));  // cut short
}

}  // namespace
