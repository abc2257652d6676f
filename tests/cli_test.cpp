// The built program run end to end on fixture photos in a temporary directory: standard
// output, standard error and the exit status, the documents written and the files left, checked
// exactly; and every output format read back by the programs people open it with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/cli.h"
#include "output/output.h"
#include "support/exif_builder.h"
#include "support/platform.h"

namespace {

using namespace fixture;

using Names = std::vector<std::string>;

struct Outcome {
  int status;
  std::string out, err;
  bool operator==(const Outcome& o) const {
    return status == o.status && out == o.out && err == o.err;
  }
};
inline std::ostream& operator<<(std::ostream& s, const Outcome& o) {
  return s << "status " << o.status << ", out [" << o.out << "], err [" << o.err << "]";
}
// What a run should give, written with "\n" for the platform's line ends.
inline Outcome outcome(int status, const std::string& out, const std::string& err = "") {
  return {status, platform::text_stream(out), platform::text_stream(err)};
}

inline std::filesystem::path fs_path(const std::string& path) {
  return std::filesystem::u8path(path);  // UTF-8 on Windows too
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(fs_path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Place {
  const char* lat_ref;
  uint32_t lat[3];  // degrees, minutes, seconds x 100
  const char* lon_ref;
  uint32_t lon[3];
  int altitude;      // whole metres, negative below sea level
  std::string line;  // the CSV line after the name
};
const Place kLondon = {"N", {51, 30, 2640}, "W", {0, 7, 3960}, 35, ",51.507332,-0.127667,+35\n"};
const Place kDeadSea = {
    "N", {31, 33, 3600}, "E", {35, 28, 4800}, -430, ",31.559999,35.480000,-430\n"};
const Place kSydney = {"S", {33, 51, 3528}, "E", {151, 12, 3312}, 0, ",-33.859798,151.209198\n"};
const Place kZero = {"N", {0, 0, 0}, "E", {0, 0, 0}, 0, ""};

// A small photo whose EXIF block holds `place`; without GPS when `place` is null. A JPEG, or a
// HEIC photo.
Bytes photo(const Place* place, Order order = Order::kIntel, bool heic = false) {
  Tiff tiff(order);
  Directory& first = tiff.first().ascii(271, "Camera");
  if (place != nullptr) {
    const uint32_t *lat = place->lat, *lon = place->lon;
    Directory& gps = tiff.add_directory().ascii(1, place->lat_ref).ascii(3, place->lon_ref);
    gps.rationals(2, {{lat[0], 1}, {lat[1], 1}, {lat[2], 100}});
    gps.rationals(4, {{lon[0], 1}, {lon[1], 1}, {lon[2], 100}});
    if (place->altitude < 0) gps.integer(5, kByte, 1);
    if (place->altitude != 0) gps.rationals(6, {{std::abs(place->altitude), 1}});
    first.pointer(kGpsPointer, gps);
  }
  if (heic) return fixture::heif(exif_item(tiff));
  return Jpeg().soi().app1_exif(tiff).dqt().sof(0xC0, 8, 8, 3).dht().sos().eoi().bytes();
}

// The KML document `name` with a placemark for each of the `csv` lines (no name holding a comma),
// as the writer makes it.
std::string kml(const std::string& name, const std::string& csv) {
  std::string text;
  append_kml_header(text, name.c_str());
  std::istringstream lines(csv);
  for (std::string photo, lat, lon; std::getline(lines, photo, ',');) {
    std::getline(lines, lat, ',');
    std::getline(lines, lon);
    lon = lon.substr(0, lon.find(','));
    append_placemark(text, photo.c_str(), (lon + "," + lat).c_str(), nullptr, nullptr);
  }
  append_kml_footer(text);
  return platform::text_stream(text);
}

// A map that pinreel wrote: one that a run may replace.
std::string old_map() {
  return kml("old map", "old.jpg" + kSydney.line);
}

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
    if (!skipped_.empty()) std::printf("clients skipped: %s\n", skipped_.c_str());
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string read(const std::string& name) const { return read_file(path(name)); }
  void write(const std::string& name, const Bytes& bytes) const { write_file(path(name), bytes); }
  void mkdir_in(const std::string& name) const {
    ASSERT_TRUE(std::filesystem::create_directory(fs_path(path(name))));
  }

  // Runs pinreel in the temporary directory (or `cwd` inside it), standard output to `stdout_to`
  // when given.
  Outcome run(const Names& args, const std::string& cwd = "",
              const std::string& stdout_to = "") const {
    const std::string out = stdout_to.empty() ? path(".stdout") : stdout_to;
    Outcome result{platform::run(program_, args, path(cwd), out, path(".stderr"), options_),
                   stdout_to.empty() ? read_file(out) : "", read(".stderr")};
    std::remove(path(".stdout").c_str());
    std::remove(path(".stderr").c_str());
    return result;
  }

  // Runs a client through the shell in the temporary directory; true when it exited with 0.
  // False, noting it in skipped_, when `program` is not installed (none is under Wine). `out`
  // gets what it printed.
  bool client(const std::string& program, const std::string& arguments, std::string& out) {
    out.clear();
    if (platform::kWindows || std::system(("command -v " + program + " >/dev/null").c_str()) != 0) {
      skipped_ += program + " ";
      return false;
    }
    const int status = std::system(
        ("cd '" + dir_ + "' && " + program + " " + arguments + " >.client 2>&1").c_str());
    out = read(".client");
    std::remove(path(".client").c_str());
    return status == 0;
  }
  // When the client ran, expects it to have printed `expected`.
  void expect_client(const std::string& program, const std::string& arguments,
                     const std::string& expected) {
    std::string out;
    if (client(program, arguments, out) || !out.empty()) {
      EXPECT_EQ(out, expected) << arguments;
    }
  }

  // Makes `name` a symbolic link to `target`; false where no link can be made.
  bool link(const std::string& target, const std::string& name) const {
    std::error_code error;
    std::filesystem::create_symlink(target, fs_path(path(name)), error);
    return !error;
  }
  // The names in the temporary directory (or `sub` inside it), sorted.
  Names files(const std::string& sub = "") const {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(fs_path(path(sub)))) {
      names.push_back(entry.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // Runs `command` through the shell in the temporary directory, $P standing for the program.
  int shell(const std::string& command) const {
    return std::system(("cd '" + dir_ + "' && export P='" + program_ + "' && " + command).c_str());
  }
  // What `command` writes to a pseudo-terminal of its own (script(1)) that is read only after
  // `hold` seconds: a program with more to write than the terminal holds waits that long.
  std::string on_terminal(const std::string& command, const char* hold) const {
    shell("script -qfec \"" + command + "\" /dev/null | { sleep " + hold + "; cat >.terminal; }");
    std::string text = read(".terminal");
    std::remove(path(".terminal").c_str());
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
      text.erase(at, 1);  // the terminal's own CR before LF
    }
    return text;
  }
  // Expects exit status 0 and nothing on standard error, and returns standard output.
  std::string run_ok(const Names& args) const {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return r.out;
  }
  void write_album() const {
    write("london.jpg", photo(&kLondon));
    write("DEADSEA.JPG", photo(&kDeadSea, Order::kMotorola));
    write("sydney.jpeg", photo(&kSydney));
    write("copy of london.jpg", photo(&kLondon, Order::kMotorola));
    write("no-gps.jpg", photo(nullptr));
    write("notes.txt", photo(&kLondon));
    write("broken.jpg", bytes_of("not a jpeg"));
    write("no-exif.jpg", Jpeg().soi().dqt().sos().eoi().bytes());
    write("zero.jpg", photo(&kZero));
  }

  std::string dir_;
  std::string skipped_;
  std::string program_ = PINREEL_BINARY_PATH;
  platform::RunOptions options_;
};

const std::string kUsage =
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
    "  -s  Also takes positions from XMP and sidecar files.\n"
    "  -v  Prints a summary, and why each photo without a position has none.\n"
    "  -q  Prints neither a progress line nor a summary.\n"
    "  -j N  Reads N photos at once (default: one per processor, at most 8).\n"
    "  --help     Prints every option and format.\n"
    "  --version  Prints the version of pinreel.\n\n";

std::string cannot(const char* what, const std::string& name, const std::string& why) {
  return "pinreel: cannot " + std::string(what) + " '" + name + "': " + why + "\n";
}

std::string ignoring(const std::string& option, const std::string& split = "") {
  return "pinreel: ignoring unknown option '" + option + "'" +
         (split.empty() ? "" : " (options are not combined: use " + split + ")") + "\n";
}

// Bundles, near misses and unknown options are ignored, each with a warning, and the run goes on;
// -d is case-sensitive.
TEST_F(Cli, UsageVersionAndOptionsMatchedWhole) {
  write("london.jpg", photo(&kLondon));
  for (const Names& args : {Names{}, Names{"-d"}}) {
    EXPECT_EQ(run(args), outcome(0, kUsage)) << args.size();
  }
  // --help tells the whole story (tests/help_agrees.py compares it with the man page), and
  // comes before anything else.
  const Outcome help = run({"london.jpg", "--help", "map.kml"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"\n  --version   Print the version", "\n  .html .htm  ", ".jxl\n",
                           "Exit status: 0", "man pinreel"}) {
    EXPECT_NE(help.out.find(platform::text_stream(part)), std::string::npos) << part;
  }
  EXPECT_EQ(run({"--version"}), outcome(0, "pinreel " PINREEL_VERSION "\n"));
  EXPECT_EQ(run({"-x", "-"}), outcome(0, kUsage, ignoring("-x") + ignoring("-")));
  EXPECT_EQ(run({"-dq", "--dedupe", "-rv", "-dd", "-dx", "--help=1", "-D", "london.jpg"}),
            outcome(0, "london.jpg" + kLondon.line,
                    ignoring("-dq", "-d -q") + ignoring("--dedupe") + ignoring("-rv", "-r -v") +
                        ignoring("-dd", "-d -d") + ignoring("-dx") + ignoring("--help=1") +
                        ignoring("-D")));
  EXPECT_EQ(files(), Names{"london.jpg"});
}

// One named photo: its line, or nothing when it has no position; a name that is not a photo's, or
// not a regular file, fails. Opening a FIFO for reading would wait for a writer for ever.
TEST_F(Cli, SingleFileMode) {
  write_album();
  mkdir_in("folder.jpg");
  const std::pair<Names, Outcome> cases[] = {
      {{"DEADSEA.JPG"}, outcome(0, "DEADSEA.JPG" + kDeadSea.line)},
      {{"-t", "sydney.jpeg"}, outcome(0, "sydney.jpeg,-33.859798,151.209198,,\n")},
      {{"no-gps.jpg"}, outcome(0, "")},
      {{"broken.jpg"}, outcome(0, "")},
      {{"missing.jpg"}, outcome(1, "", cannot("read", "missing.jpg", std::strerror(ENOENT)))},
      {{"folder.jpg"}, outcome(1, "", cannot("read", "folder.jpg", "not a regular file"))},
      {{"notes.txt"},
       outcome(1, "", cannot("read", "notes.txt", "not a photo file name that pinreel reads"))}};
  for (const auto& [args, expected] : cases) EXPECT_EQ(run(args), expected) << args.back();
#ifndef _WIN32
  ASSERT_EQ(mkfifo(path("pipe.jpg").c_str(), 0644), 0);
  EXPECT_EQ(run({"pipe.jpg"}), outcome(1, "", cannot("read", "pipe.jpg", "not a regular file")));
#endif
}

// The pattern reaches the program unexpanded, even on Windows, and the program lists the folder
// itself: names in byte order, letter case ignored, a leading dot matched too. Entries that are not
// files are passed over without a word; photos that cannot be read are reported and the run goes
// on. A dangling link cannot be opened; under Wine, which may not make links, a file held open
// without sharing stands in. -d keeps the first photo at each position. -v says why each photo
// has no position and ends every batch run with the counts; -q drops the counts but neither the
// reasons nor the errors; single-file mode has no counts.
TEST_F(Cli, BatchListsInNameOrderSaysWhyAndGoesOnPastUnreadablePhotos) {
  write_album();
  mkdir_in("folder.jpg");
  write(".hidden.jpg", photo(&kSydney));
  write("london-again.JPEG", photo(&kLondon));
  std::string reason = std::strerror(ENOENT);
  std::unique_ptr<platform::ExclusiveHold> hold;
  if (!link("nowhere.jpg", "gone.jpg")) {
    if (!platform::kWindows) GTEST_SKIP() << "no symbolic links here";
    write("gone.jpg", photo(&kSydney));
    hold = std::make_unique<platform::ExclusiveHold>(path("gone.jpg"));
    ASSERT_TRUE(hold->held());
    reason = std::strerror(EACCES);
  }
#ifndef _WIN32
  ASSERT_EQ(mkfifo(path("pipe.jpg").c_str(), 0644), 0);
#endif
  const std::string gone = cannot("read", "gone.jpg", reason);
  const std::string first_of_each = ".hidden.jpg" + kSydney.line + "DEADSEA.JPG" + kDeadSea.line +
                                    "copy of london.jpg" + kLondon.line;
  EXPECT_EQ(run({"*.jpg"}), outcome(1, first_of_each + "london.jpg" + kLondon.line, gone));
  EXPECT_EQ(run({"*.jp*g", "map.kml", "-d"}), outcome(1, "", gone));  // the map is still written
  EXPECT_EQ(read("map.kml"), kml("map.kml", first_of_each));
  const std::string reasons = "pinreel: broken.jpg: not a photo pinreel reads\n" + gone +
                              "pinreel: no-exif.jpg: no EXIF block\n"
                              "pinreel: no-gps.jpg: no GPS position\n"
                              "pinreel: zero.jpg: GPS position 0,0\n";
  EXPECT_EQ(run({"-v", "-d", "*.jpg"}),
            outcome(1, first_of_each,
                    reasons + "pinreel: 8 photos read: 3 with a position, 1 duplicate left out, 4 "
                              "without a position; 1 could not be read\n"));
  EXPECT_EQ(run({"-q", "*.jpg", "-v", "-d"}), outcome(1, first_of_each, reasons));
  EXPECT_EQ(run({"-v", "london.jpg", "one.kml"}),
            outcome(0, "",
                    "pinreel: 1 photo read: 1 with a position, 0 duplicates left out, 0 without a "
                    "position; 0 could not be read\n"));
  EXPECT_EQ(run({"-v", "no-exif.jpg"}), outcome(0, "", "pinreel: no-exif.jpg: no EXIF block\n"));
}

// Legal files that cameras and editors write keep their position: a first directory away from
// the header, a broken entry, a later EXIF segment that fails, many segments before the scan. A
// reference without its value is no coordinate, and 0,0 is no position, but 0 with another
// coordinate is one.
TEST_F(Cli, OddButLegalPhotosKeepTheirPositionsAndEmptyOnesGiveNone) {
  // GPS at `lat` N and `lon` E from `holder`; a negative value leaves that value out.
  const auto gps_in = [](Tiff& tiff, Directory& holder, int lat, int lon) {
    Directory& gps = tiff.add_directory().ascii(1, "N").ascii(3, "E");
    if (lat >= 0) gps.rationals(2, {{uint32_t(lat), 1}, {0, 1}, {0, 1}});
    if (lon >= 0) gps.rationals(4, {{uint32_t(lon), 1}, {0, 1}, {0, 1}});
    holder.pointer(kGpsPointer, gps);
  };
  const auto jpeg = [](const Tiff& tiff) { return Jpeg().soi().app1_exif(tiff).sos().bytes(); };
  Tiff moved, broken_entry, no_lat, no_lon, zero, zero_lat, plain, bad_mark;
  moved.first().ascii(271, "passed over");  // the header points past this directory
  Directory& real = moved.add_directory();
  gps_in(moved, real, 10, 10);
  moved.first_offset(moved.offset_of(real));
  gps_in(broken_entry, broken_entry.first().entry(700, 99, 1, {}), 20, 20);
  gps_in(no_lat, no_lat.first(), -1, 30);
  gps_in(no_lon, no_lon.first(), 30, -1);
  gps_in(zero, zero.first(), 0, 0);
  gps_in(zero_lat, zero_lat.first(), 0, 5);
  gps_in(plain, plain.first(), 40, 40);
  bad_mark.mark("XX");
  Jpeg many;
  many.soi();
  for (int i = 0; i < 40; ++i) many.dqt().segment(0xE2, Bytes(100, 'i'));
  write("a-moved.jpg", jpeg(moved));
  write("b-broken-entry.jpg", jpeg(broken_entry));
  write("c-no-lat.jpg", jpeg(no_lat));
  write("d-no-lon.jpg", jpeg(no_lon));
  write("e-zero.jpg", jpeg(zero));
  write("f-zero-lat.jpg", jpeg(zero_lat));
  write("g-later-broken.jpg", Jpeg().soi().app1_exif(plain).app1_exif(bad_mark).sos().bytes());
  write("h-many-segments.jpg", many.app1_exif(plain).sos().bytes());
  const std::string placed =
      "a-moved.jpg,10.000000,10.000000\n"
      "b-broken-entry.jpg,20.000000,20.000000\n";
  const std::string later =
      "f-zero-lat.jpg,0.000000,5.000000\n"
      "g-later-broken.jpg,40.000000,40.000000\n";
  EXPECT_EQ(run({"*.jpg"}), outcome(0, placed + "d-no-lon.jpg,30.000000\n" + later +
                                           "h-many-segments.jpg,40.000000,40.000000\n"));
  EXPECT_EQ(run({"-d", "*.jpg", "map.kml"}), outcome(0, ""));
  EXPECT_EQ(read("map.kml"), kml("map.kml", placed + later));
  EXPECT_EQ(run({"c-no-lat.jpg"}), outcome(0, ""));
}

// A pattern's directory part names the folder to list; a name without '*' is batch mode too when
// an output is named, and then means the entry spelled so (on Windows the case variants are one
// file); '[' is no wildcard. The content decides how a photo is read, its name whether.
TEST_F(Cli, PatternsAndTheDocumentsTheyGive) {
  mkdir_in("photos");
  write("photos/london.jpg", photo(&kLondon));
  write("photos/IMG[1].jpg", photo(&kDeadSea));
  write("photos/heic.jpg", photo(&kSydney, Order::kMotorola, true));  // the content decides
  write("london.jpg", photo(&kSydney));  // a decoy with the same bare name
  EXPECT_EQ(run({platform::kWindows ? "photos\\*.jpg" : "photos/*.jpg"}),
            outcome(0, "IMG[1].jpg" + kDeadSea.line + "heic.jpg" + kSydney.line + "london.jpg" +
                           kLondon.line));
  EXPECT_EQ(run({dir_ + "/photos/*[1].JPG", "map.kml"}, "photos"), outcome(0, ""));
  EXPECT_EQ(read("photos/map.kml"), kml("map.kml", "IMG[1].jpg" + kDeadSea.line));
  if (platform::kWindows) return;
  write("photos/PHOTO.JPG", photo(&kSydney));
  write("photos/photo.jpg", photo(&kDeadSea));
  EXPECT_EQ(run({"photo.jpg", "one.kml"}, "photos"), outcome(0, ""));
  EXPECT_EQ(read("photos/one.kml"), kml("one.kml", "photo.jpg" + kDeadSea.line));
  EXPECT_EQ(run({"Photo.jpg", "two.csv"}, "photos"), outcome(0, ""));
  EXPECT_EQ(read("photos/two.csv"), "PHOTO.JPG" + kSydney.line + "photo.jpg" + kDeadSea.line);
}

#ifndef _WIN32
// Photos whose pages are not in memory make pinreel ask for the next photos' first bytes ahead of
// their turn; the output stays the same, in the same order, and a FIFO and a folder among the
// entries are passed over unopened. Only clean pages can be dropped, so the photos are synced
// first; where their pages stay in memory all the same (tmpfs), nothing can be read cold.
TEST_F(Cli, ColdPhotosAreRequestedAheadAndListTheSameAsWarm) {
  mkdir_in("trip");
  mkdir_in("trip/IMG_1003 folder.jpg");
  ASSERT_EQ(mkfifo(path("trip/IMG_1005 pipe.jpg").c_str(), 0644), 0);
  std::string listed;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "IMG_" + std::to_string(1000 + i) + (i % 7 == 0 ? ".txt" : ".jpg");
    write("trip/" + name, photo(i % 5 == 0 ? nullptr : &kSydney));
    if (i % 7 != 0 && i % 5 != 0) listed += name + kSydney.line;
  }
  bool evicted = true;
  for (const auto& file : std::filesystem::directory_iterator(path("trip"))) {
    if (!file.is_regular_file()) continue;
    const int fd = open(file.path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    fsync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    void* pages = mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0);
    unsigned char resident = 0;
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mincore(pages, 1, &resident), 0);
    evicted = evicted && (resident & 1) == 0;
    munmap(pages, 1);
    close(fd);
  }
  if (!evicted) GTEST_SKIP() << "the file system keeps the photos' pages in memory";
  const uint64_t requested = FileInput::requests_made();
  EXPECT_EQ(run_batch(path("trip/*.jpg").c_str(), path("cold.csv").c_str(), RunOptions{}), 0);
  EXPECT_EQ(read("cold.csv"), listed);
  EXPECT_GT(FileInput::requests_made(), requested);
}
#endif

// Paths are compared whole, so a file can come between two folders; a folder without wildcards
// means every photo below it; the pattern is matched in every folder; -d works across them. Links
// to folders are passed over (so no link makes a loop), links to photos are read, and the
// pattern's own folder may be a link; a link to nothing is a photo that cannot be read.
TEST_F(Cli, RecursiveRunsVisitTheTreeInPathOrder) {
  for (const char* folder : {"album", "album/a", "album/a/deeper", "album/b", "album/b/c"}) {
    mkdir_in(folder);
  }
  const std::pair<const char*, const Place*> photos[] = {
      {"a-b.jpg", &kLondon},        {"a.jpg", &kSydney},       {"a/x.jpg", &kDeadSea},
      {"a/deeper/y.JPG", &kLondon}, {"a0.jpg", nullptr},       {"b/c.jpg", &kDeadSea},
      {"b/c/d.jpeg", &kSydney},     {"b/notes.txt", &kLondon}, {"B.jpg", &kLondon}};
  for (const auto& [name, place] : photos) write("album/" + std::string(name), photo(place));
  const std::string top =
      "B.jpg" + kLondon.line + "a-b.jpg" + kLondon.line + "a.jpg" + kSydney.line;
  const std::string all = top + "a/deeper/y.JPG" + kLondon.line + "a/x.jpg" + kDeadSea.line +
                          "b/c.jpg" + kDeadSea.line + "b/c/d.jpeg" + kSydney.line;
  for (const Names& args : {Names{"-r", "album"}, Names{"-r", "album/"}, Names{"album/*", "-r"},
                            Names{"-r", "album/*.JP*G"}}) {
    EXPECT_EQ(run(args), outcome(0, all)) << args[1];
  }
  EXPECT_EQ(run({"-r", "album/*.jpeg"}), outcome(0, "b/c/d.jpeg" + kSydney.line));
  EXPECT_EQ(run({"-r", "album/C.jpg"}), outcome(0, "b/c.jpg" + kDeadSea.line));
  EXPECT_EQ(run({"-r", "-d", "album"}), outcome(0, "B.jpg" + kLondon.line + "a.jpg" + kSydney.line +
                                                       "a/x.jpg" + kDeadSea.line));
  EXPECT_EQ(run({"album/*"}), outcome(0, top));  // without -r, the folder alone
  EXPECT_EQ(run({"-r", "album", "map.kml"}), outcome(0, ""));
  EXPECT_EQ(read("map.kml"), kml("map.kml", all));
  if (!link("..", "album/b/up")) return;  // no symbolic links here (Wine)
  for (const auto& [target, name] : {std::pair<const char*, const char*>{"b", "album/again"},
                                     {"..", "album/b/loop.jpg"},
                                     {"../a.jpg", "album/b/link.jpg"},
                                     {"nowhere.jpg", "album/b/gone.jpg"},
                                     {"album", "shortcut"}}) {
    ASSERT_TRUE(link(target, name));
  }
  const std::string jpg = all.substr(0, all.find("b/c/d.jpeg")) + "b/link.jpg" + kSydney.line;
  EXPECT_EQ(run({"-r", "shortcut/*.jpg"}),
            outcome(1, jpg, cannot("read", "shortcut/b/gone.jpg", std::strerror(ENOENT))));
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
  EXPECT_EQ(run({"-r", "deep"}),
            outcome(1,
                    too_deep.substr(2) + "bottom.jpg" + kLondon.line + "d/d/z.jpg" + kLondon.line +
                        "d/z.jpg" + kLondon.line,
                    cannot("list", "deep/" + too_deep, "more than 256 folders deep")));

  // Past PATH_MAX (4096) on POSIX; past MAX_PATH (260) on Windows, where Wine's own limit is the
  // host's.
  Names folders = {"long"};
  std::string far;
  for (char c = 'a'; c < (platform::kWindows ? 'g' : 'u'); ++c) {
    folders.push_back(std::string(platform::kWindows ? 99 : 249, c) + "Z");
    far += folders.back() + "/";
  }
  ASSERT_TRUE(platform::write_nested(dir_, {"long"}, "near.jpg", london));
  ASSERT_TRUE(platform::write_nested(dir_, folders, "far.jpg", photo(&kSydney)));
  EXPECT_EQ(run({"-r", "long", "map.kml"}), outcome(0, ""));
  EXPECT_EQ(read("map.kml"),
            kml("map.kml", far + "far.jpg" + kSydney.line + "near.jpg" + kLondon.line));
  platform::remove_nested(dir_, "deep");
  platform::remove_nested(dir_, "long");
}

// `terminal` without the progress line: each showing is drawn (and redrawn) after a CR, then
// erased with spaces between two CRs; `shown` counts the showings. A damaged line stays.
std::string without_progress(const std::string& terminal, int& shown) {
  static const std::regex showing(
      "(\rpinreel: [0-9,]+ photos? read, [0-9,]+ with a position, [0-9]+:[0-9]{2} *)+\r +\r");
  shown = static_cast<int>(std::distance(
      std::sregex_iterator(terminal.begin(), terminal.end(), showing), std::sregex_iterator()));
  return std::regex_replace(terminal, showing, "");
}

// The progress line appears once a run has taken half a second: here the run is held up by a
// reader that waits 0.7 s before it takes what the program writes. However short the run, the
// summary; with -q, nothing; in single-file mode, no summary.
TEST_F(Cli, ProgressAndSummaryOnATerminalOnly) {
  if (platform::kWindows || shell("command -v script >/dev/null") != 0) {
    GTEST_SKIP() << "no pseudo-terminal (script(1))";
  }
  std::string csv;  // 200 KB: more than a terminal or a pipe holds
  for (int i = 10000; i < 15000; ++i) {
    write("photo-" + std::to_string(i) + ".jpg", photo(&kLondon));
    csv += "photo-" + std::to_string(i) + ".jpg" + kLondon.line;
  }
  const auto summary = [](const std::string& count, const char* photos) {
    return "pinreel: " + count + photos + " read: " + count +
           " with a position, 0 duplicates left out, 0 without a position; 0 could not be read\n";
  };
  int shown = 0;
  // Standard output elsewhere gets the CSV lines and nothing else; on the same terminal, the line
  // is erased before each CSV line.
  EXPECT_EQ(without_progress(on_terminal("$P '*.jpg' | { sleep 0.7; cat >out.csv; }", "0"), shown),
            summary("5,000", " photos"));
  EXPECT_GE(shown, 1);
  EXPECT_EQ(read("out.csv"), csv);
  EXPECT_EQ(without_progress(on_terminal("$P '*.jpg'", "0.7"), shown),
            csv + summary("5,000", " photos"));
  EXPECT_GE(shown, 1);
  EXPECT_EQ(without_progress(on_terminal("$P photo-10000.jpg map.kml", "0"), shown),
            summary("1", " photo"));
  EXPECT_EQ(on_terminal("$P -q '*.jpg' map.kml", "0"), "");
  EXPECT_EQ(on_terminal("$P photo-10000.jpg", "0"), "photo-10000.jpg" + kLondon.line);
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

// The Windows search does its own matching; this is the POSIX one. Every short pattern against
// every short name, wildcards and would-be escapes mixed: the strings over an alphabet in turn.
TEST(DirSearch, WildcardsAreStarAndQuestionMarkOnly) {
  EXPECT_TRUE(matches_name_pattern("*.jpg", ".JPG"));
  EXPECT_FALSE(matches_name_pattern("\xC9*", "\xE9.jpg"));  // only ASCII letters fold
  const auto nth = [](const std::string& alphabet, size_t i) {
    std::string text;
    for (; i > 0; i = (i - 1) / alphabet.size()) text += alphabet[(i - 1) % alphabet.size()];
    return text;
  };
  int differences = 0;
  for (size_t p = 0; p < 3906; ++p) {   // up to 5 characters
    for (size_t n = 0; n < 341; ++n) {  // up to 4
      const std::string pattern = nth("a*?[\\", p), name = nth("aA[\\", n);
      differences += matches_name_pattern(pattern.c_str(), name.c_str()) !=
                     reference_match(pattern.c_str(), name.c_str());
    }
  }
  EXPECT_EQ(differences, 0);
}
#endif

// An XMP packet of a position (Paris by default), as ExifTool writes a sidecar; DJI's drone
// fields with `drone`.
std::string xmp_packet(const std::string& latitude = "48,51.5022N",
                       const std::string& longitude = "2,17.6689E", const char* drone = "") {
  return "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
         "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n<rdf:Description "
         "rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
         "xmlns:drone-dji='http://www.dji.com/drone-dji/1.0/' " +
         std::string(drone) + ">\n<exif:GPSLatitude>" + latitude +
         "</exif:GPSLatitude>\n<exif:GPSLongitude>" + longitude +
         "</exif:GPSLongitude>\n</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";
}

// A Takeout JSON file.
Bytes takeout_json(const char* geo, const char* taken = "1559397802") {
  return bytes_of(std::string("{\"title\": \"x\", \"photoTakenTime\": {\"timestamp\": \"") + taken +
                  "\"}, \"geoData\": {" + geo + "}}");
}

// -s: each source in its order of precedence, sidecars found in the folders' listings whatever
// the pattern (one index per folder of the tree), and in single-file mode by their names;
// without -s, only the summary's count of the sidecars not read.
TEST_F(Cli, SidecarsAndXmpByPrecedence) {
  const Bytes xmp_app1 = join({bytes_of("http://ns.adobe.com/xap/1.0/"), Bytes{0},
                               bytes_of(xmp_packet("10,30N", "20,15W"))});
  const Bytes segment = Jpeg().segment(0xE1, xmp_app1).bytes();
  const Bytes embedded = join({Bytes{0xFF, 0xD8}, segment, Jpeg().dqt().sos().eoi().bytes()});
  Bytes exif_and_xmp = photo(&kLondon);
  exif_and_xmp.insert(exif_and_xmp.begin() + 2, segment.begin(), segment.end());
  const std::string paris = ",48.858370,2.294482\n";
  write("a.jpg", photo(&kLondon));  // its sidecar wins over its EXIF position
  write("A.XMP", bytes_of(xmp_packet()));
  write("b.jpg", photo(&kLondon));  // so does Google's JSON, but not over an XMP sidecar
  write("b.jpg.json", takeout_json("\"latitude\": -33.8568, \"longitude\": 151.2153"));
  write("c(1).jpg", photo(nullptr));  // the duplicate counter moved, a stripped photo
  write("c.jpg(1).json", takeout_json("\"latitude\": 1.5, \"longitude\": 2.5, \"altitude\": 7.5"));
  write("d.jpg", exif_and_xmp);    // the EXIF position before the embedded one
  write("e.jpg", embedded);        // the embedded one without
  write("f.jpg", photo(nullptr));  // Google's zeros are no position
  write("f.jpg.supplemental-metadata.json", takeout_json("\"latitude\": 0.0, \"longitude\": 0.0"));
  write("g.jpg", photo(&kLondon));  // nor is an XMP sidecar's 0,0
  write("g.jpg.xmp", bytes_of(xmp_packet("0,0N", "0,0E")));
  write("h.jpg", photo(nullptr));  // a drone's packet, its gimbal pointing west
  write("h.xmp", bytes_of(xmp_packet("", "",
                                     "drone-dji:GpsLatitude='+22.5' "
                                     "drone-dji:GpsLongitude='-113.25' "
                                     "drone-dji:GimbalYawDegree='-90.5'")));
  write("notes.json", bytes_of("{}"));
  mkdir_in("Sub");                     // before the parent's photos, whose index outlives it
  write("Sub/a.jpg", photo(nullptr));  // a name of the parent folder: its own sidecar only
  write("Sub/b.jpg", photo(nullptr));
  write("Sub/b.xmp", bytes_of(xmp_packet()));

  EXPECT_EQ(run({"-v", "*.jpg"}),
            outcome(0,
                    "a.jpg" + kLondon.line + "b.jpg" + kLondon.line + "d.jpg" + kLondon.line +
                        "g.jpg" + kLondon.line,
                    "pinreel: c(1).jpg: no GPS position\npinreel: e.jpg: no EXIF block\n"
                    "pinreel: f.jpg: no GPS position\npinreel: h.jpg: no GPS position\n"
                    "pinreel: 8 photos read: 4 with a position, 0 duplicates left out, 4 without "
                    "a position; 0 could not be read\n"
                    "pinreel: 3 photos without a position have a sidecar file: add -s to read "
                    "them\n"));
  const std::string listed = "a.jpg" + paris +
                             "b.jpg,-33.856800,151.215300\nc(1).jpg,1.500000,2.500000,+7\n" +
                             "d.jpg" + kLondon.line + "e.jpg,10.500000,-20.250000\n" + "g.jpg" +
                             kLondon.line + "h.jpg,22.500000,-113.250000\n";
  EXPECT_EQ(run({"-s", "-v", "*.jpg"}),
            outcome(0, listed,
                    "pinreel: a.jpg: position from sidecar A.XMP\n"
                    "pinreel: b.jpg: position from sidecar b.jpg.json\n"
                    "pinreel: c(1).jpg: position from sidecar c.jpg(1).json\n"
                    "pinreel: d.jpg: position from the EXIF block\n"
                    "pinreel: e.jpg: position from the photo's XMP\n"
                    "pinreel: f.jpg: no GPS position\n"
                    "pinreel: g.jpg: position from the EXIF block\n"
                    "pinreel: h.jpg: position from sidecar h.xmp\n"
                    "pinreel: 8 photos read: 7 with a position, 0 duplicates left out, 1 without a "
                    "position; 0 could not be read\n"));
  EXPECT_EQ(run({"-s", "-r", "-q", "."}), outcome(0, "Sub/b.jpg" + paris + listed));
  // Single-file mode; the time from Google's JSON where the photo has none.
  write("b.xmp", bytes_of(xmp_packet()));
  EXPECT_EQ(run({"-s", "-t", "b.jpg"}),
            outcome(0, "b.jpg,48.858370,2.294482,,2019-06-01T14:03:22Z\n"));
  EXPECT_EQ(run({"-s", "-t", "c(1).jpg"}),
            outcome(0, "c(1).jpg,1.500000,2.500000,+7,2019-06-01T14:03:22Z\n"));
  EXPECT_EQ(run({"-s", "-t", "h.jpg", "h.geojson"}).status, 0);
  const std::string feature = read("h.geojson");
  EXPECT_NE(feature.find("\"coordinates\":[-113.2500000,22.5000000]},\"properties\":{\"name\":"
                         "\"h.jpg\",\"altitude\":null,\"time\":null,\"direction\":269.5,"
                         "\"direction_ref\":null,\"accuracy\":null,\"source\":\"xmp-sidecar\"}"),
            std::string::npos)
      << feature;
}

// Sidecars matched by name in a folder listing, as Adobe's tools, darktable and Google's
// exports name them, with the JSON names Google cuts to 51 characters.
TEST(Sidecars, NamesMatchedInAListing) {
  // A title of `length` characters: `letter`s and ".jpg".
  const auto title = [](size_t length, char letter) {
    return std::string(length - 4, letter) + ".jpg";
  };
  const std::string cafe = "Caf\xC3\xA9" + std::string(36, 'h') + ".jpg";  // 44 characters
  const Names listing = {"IMG_0001.CR2.xmp",
                         "IMG_0001.xmp",
                         "IMG_0002.XMP",
                         "IMG_0002.jpg",
                         "IMG_4081.JPG.json",
                         "IMG_4081.JPG(1).json",
                         "IMG_5000.jpg.supplemental-metadata.json",
                         "IMG_5000.jpg.supplemental-metadata(2).json",
                         "Scan(3).tif.json",
                         title(30, 'b') + ".supplemental-me.json",
                         title(40, 'c') + ".suppl.json",
                         title(44, 'd') + ".s.json",
                         title(45, 'e') + "..json",
                         title(50, 'f').substr(0, 46) + ".json",
                         title(40, 'g') + ".su(1).json",
                         "IMG_0003.jpg.supplemental-meta.json",
                         cafe + ".s.json"};
  SidecarIndex index;
  for (int round = 0; round < 2; ++round) {
    index.clear();  // the second round reuses the memory of the first
    for (const std::string& name : listing) index.add(name.data(), name.size());
  }
  const struct {
    std::string photo;
    std::string expected;  // "xmp json", "-" for none
  } cases[] = {
      {"IMG_0001.CR2", "IMG_0001.CR2.xmp -"},  // NAME.EXT.xmp before NAME.xmp
      {"IMG_0001.JPG", "IMG_0001.xmp -"},
      {"img_0002.jpg", "IMG_0002.XMP -"},
      {"IMG_4081.jpg", "- IMG_4081.JPG.json"},
      {"IMG_4081(1).jpg", "- IMG_4081.JPG(1).json"},
      {"IMG_5000.jpg", "- IMG_5000.jpg.supplemental-metadata.json"},
      {"IMG_5000(2).jpg", "- IMG_5000.jpg.supplemental-metadata(2).json"},
      {"Scan(3).tif", "- Scan(3).tif.json"},
      {title(30, 'b'), "- " + title(30, 'b') + ".supplemental-me.json"},
      {title(40, 'c'), "- " + title(40, 'c') + ".suppl.json"},
      {title(44, 'd'), "- " + title(44, 'd') + ".s.json"},
      {title(45, 'e'), "- " + title(45, 'e') + "..json"},
      {title(50, 'f'), "- " + title(50, 'f').substr(0, 46) + ".json"},
      {std::string(36, 'g') + "(1).jpg", "- " + title(40, 'g') + ".su(1).json"},
      {cafe, "- " + cafe + ".s.json"},
      {"IMG_0003.jpg", "- -"},  // a cut short of 46 characters is no export's
      {"IMG_0002.jpg.jpg", "- -"},
      {"IMG_9999.jpg", "- -"},
  };
  for (const auto& c : cases) {
    const SidecarIndex::Match match = index.find(c.photo.c_str());
    EXPECT_EQ(std::string(match.xmp ? match.xmp : "-") + " " + (match.json ? match.json : "-"),
              c.expected)
        << c.photo;
    EXPECT_EQ(index.has_sidecar(c.photo.c_str()), c.expected != "- -") << c.photo;
  }
  index.clear();
  EXPECT_TRUE(index.empty());
  EXPECT_FALSE(index.has_sidecar("IMG_0001.CR2"));

  for (const char* name : {"a.xmp", "A.XMP", ".xmp", "a.jpg.json", "b.JSON"}) {
    EXPECT_TRUE(is_sidecar_name(name)) << name;
  }
  for (const char* name : {"a.jpg", "xmp", "a.xmp.jpg", "a.jsonl", ""}) {
    EXPECT_FALSE(is_sidecar_name(name)) << name;
  }
  // Single-file mode tries the names themselves, in order.
  std::string candidates;
  for (const SidecarCandidate& c : sidecar_candidates("IMG_4081(1).jpg")) {
    candidates += (c.kind == SidecarKind::kXmp ? "x " : "j ") + c.name + "\n";
  }
  EXPECT_EQ(candidates,
            "x IMG_4081(1).jpg.xmp\nx IMG_4081(1).jpg.XMP\nx IMG_4081(1).xmp\nx IMG_4081(1).XMP\n"
            "j IMG_4081(1).jpg.supplemental-metadata.json\nj IMG_4081(1).jpg.json\n"
            "j IMG_4081.jpg.supplemental-metadata(1).json\nj IMG_4081.jpg(1).json\n");
}

// What a run says that will not write over `name`: an output named as a photo, an existing file of
// another name, or a document that pinreel did not write.
std::string not_written(const std::string& name) {
  return "pinreel: refusing to replace '" + name +
         "': pinreel did not write it; name a new file or delete it first\n";
}
std::string unreadable(const std::string& name, int error) {
  return "pinreel: refusing to replace '" + name +
         "': cannot read it to check that pinreel wrote it: " + std::strerror(error) + "\n";
}
std::string refusal(const std::string& name, bool photo_name = true) {
  if (photo_name && has_photo_extension(name.c_str())) {
    return "pinreel: refusing to write over the photo '" + name +
           "'; quote the pattern so that the shell does not expand it, as in: pinreel '*.jpg' "
           "output.kml\n";
  }
  return "pinreel: refusing to replace '" + name +
         "': only a .kml, .kmz, .gpx, .geojson, .json, .csv, .html or .htm file is overwritten; "
         "quote the pattern or name a new output file\n";
}

// An expanded pattern ('*.jpg', 'IMG_0001*') names a photo, the raw file or a sidecar as the
// output: a photo's name is refused even when no such file exists, any other existing file
// unless it has the name of a document pinreel writes, before the folder is even listed. A new
// file may have any name.
TEST_F(Cli, ReplacesOnlyTheDocumentsItWrites) {
  write("IMG_0001.JPG", photo(&kLondon));
  write("sydney.jpeg", photo(&kSydney));
  const Names others = {"IMG_0001.HEIC", "IMG_0001.NEF", "IMG_0001.jpe",
                        "IMG_0001.png",  "IMG_0001.xmp", "map.kml.bak"};
  const Names documents = {"OLD.KML",     "old.kmz", "OLD.GPX",  "old.Json",
                           "old.geojson", "old.CSV", "old.HTML", "old.htm"};
  for (const std::string& name : others) write(name, bytes_of("raw"));
  for (const std::string& name : documents) write(name, {});
  EXPECT_EQ(run({"IMG_0001.JPG", "sydney.jpeg", "x.jpg"}), outcome(2, "", refusal("sydney.jpeg")));
  EXPECT_EQ(bytes_of(read("sydney.jpeg")), photo(&kSydney));
  EXPECT_EQ(run({"*.jpg", "new.JPG"}), outcome(2, "", refusal("new.JPG")));
  for (const std::string& name : others) {
    EXPECT_EQ(run({"nodir/*.jpg", name}), outcome(2, "", refusal(name)));
    EXPECT_EQ(read(name), "raw") << name;
  }
  for (const std::string& name : documents) {
    EXPECT_EQ(run({"*.JPG", name}), outcome(0, "")) << name;
    EXPECT_NE(read(name), "") << name;
  }
  EXPECT_EQ(read("old.CSV"), platform::text_stream("IMG_0001.JPG" + kLondon.line));
  EXPECT_EQ(run({"*.JPG", "positions.txt"}), outcome(0, ""));
  EXPECT_EQ(read("positions.txt"), kml("positions.txt", "IMG_0001.JPG" + kLondon.line));
  EXPECT_EQ(files().size(), others.size() + documents.size() + 3);  // nothing else made
}

// The everyday mistakes, made as users make them, leave every file as it was. A mistyped folder or
// name matches no photo: an existing document stays, and -r makes no document at all; only a run
// without either writes its empty document, as ever. An unquoted '*' in a folder with one photo
// and a track hands the track over as the output, through a real shell.
TEST_F(Cli, MistakesLeaveFilesAsTheyWere) {
  mkdir_in("Photos");
  mkdir_in("Library");
  write("Photos/IMG_0001.jpg", photo(&kLondon));
  write("Library/IMG_0002.jpg", photo(&kSydney));
  ASSERT_EQ(run({"-r", "Photos", "mymap.kml"}), outcome(0, ""));
  const std::string map = read("mymap.kml");
  const std::string kept = "; 'mymap.kml' left as it was\n";
  std::vector<std::pair<Names, std::string>> cases = {
      {{"-r", "Photso", "mymap.kml"}, "no photo below '.' matches 'Photso'" + kept},
      {{"-r", "./Photso", "mymap.kml"}, "no photo below './' matches 'Photso'" + kept},
      {{"-r", dir_ + "/Photso", "mymap.kml"},
       "no photo below '" + dir_ + "/' matches 'Photso'" + kept},
      {{"Photso.jpg", "mymap.kml"}, "no photo matches 'Photso.jpg'" + kept},
      {{"Photos/*.jpeg", "mymap.kml"}, "no photo matches 'Photos/*.jpeg'" + kept},
      {{"-r", "Photso"}, "no photo below '.' matches 'Photso'\n"},
      {{"-r", "Photso", "new.kml"}, "no photo below '.' matches 'Photso'\n"}};
  // Windows' names ignore letter case: there, Library is the folder meant.
  if (!platform::kWindows) {
    cases.push_back(
        {{"-r", "library", "mymap.kml"}, "no photo below '.' matches 'library'" + kept});
  }
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(run(args), outcome(1, "", "pinreel: " + message)) << args[1];
  }
  EXPECT_EQ(read("mymap.kml"), map);
  EXPECT_EQ(files(), (Names{"Library", "Photos", "mymap.kml"}));
  EXPECT_EQ(run({"Photso.jpg", "new.kml"}), outcome(0, ""));
  EXPECT_EQ(read("new.kml"), kml("new.kml", ""));

  if (platform::kWindows) return;  // the command prompt expands no pattern
  mkdir_in("hike");
  write("hike/IMG_0001.jpg", photo(&kLondon));
  const std::string track =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"OsmAnd\">\n"
      "<trk><trkseg><trkpt lat=\"51.5\" lon=\"-0.12\"/></trkseg></trk>\n</gpx>\n";
  write("hike/walk.gpx", bytes_of(track));
  shell("cd hike && $P * 2>../.err; echo $? >../.status");
  EXPECT_EQ(read(".status") + read(".err"), "2\n" + not_written("walk.gpx"));
  EXPECT_EQ(read("hike/walk.gpx"), track);
  EXPECT_EQ(files("hike"), (Names{"IMG_0001.jpg", "walk.gpx"}));
}

// The document goes to a temporary file that replaces the old one when it is complete; the
// result has the mode that a new file gets, whatever the old one had. A run that fails part-way
// leaves the old document and no temporary file: a write past a file-size limit on POSIX, a rename
// over a file that another program holds open on Windows.
TEST_F(Cli, DocumentsAreReplacedWholeOrNotAtAll) {
  write("london.jpg", photo(&kLondon));
  write("map.kml", bytes_of(old_map()));
  EXPECT_EQ(run({"*.jpg", "map.kml"}), outcome(0, ""));
  EXPECT_EQ(read("map.kml"), kml("map.kml", "london.jpg" + kLondon.line));
#ifndef _WIN32
  for (const int mask : {022, 077}) {
    ASSERT_EQ(chmod(path("map.kml").c_str(), 0604), 0);
    options_.umask = mask;
    EXPECT_EQ(run({"*.jpg", "map.kml"}), outcome(0, ""));
    struct stat info;
    ASSERT_EQ(stat(path("map.kml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u & ~static_cast<unsigned>(mask));
  }
  options_.file_size_limit = 512;
#endif
  write("map.kml", bytes_of(old_map()));
  std::string failure = cannot("write", "map.kml", std::strerror(EFBIG));
  std::unique_ptr<platform::ExclusiveHold> hold;
  if (platform::kWindows) {
    // Readable, so that the run can tell that pinreel wrote it; unreadable, it is refused.
    hold = std::make_unique<platform::ExclusiveHold>(path("map.kml"), true);
    ASSERT_TRUE(hold->held());
    failure = cannot("replace", "map.kml", std::strerror(EACCES));
  }
  EXPECT_EQ(run({"*.jpg", "map.kml"}), outcome(1, "", failure));
  hold.reset();
  if (platform::kWindows) {
    hold = std::make_unique<platform::ExclusiveHold>(path("map.kml"));
    EXPECT_EQ(run({"*.jpg", "map.kml"}), outcome(2, "", unreadable("map.kml", EACCES)));
    hold.reset();
  }
  EXPECT_EQ(read("map.kml"), old_map());
  EXPECT_EQ(files(), (Names{"london.jpg", "map.kml"}));
}

// Photos that cannot be read fill a pipe with messages, which is not read: the run is still at
// work when the first one has come, and SIGTERM then finds the temporary file there.
TEST_F(Cli, TerminatedRunRemovesItsTemporaryFile) {
  if (platform::kWindows) GTEST_SKIP() << "no SIGTERM from another process on Windows";
  write("map.kml", bytes_of(old_map()));
  const int kGone = 3000;  // 190 KB of messages, more than a pipe holds
  for (int i = 0; i < kGone; ++i) ASSERT_TRUE(link("nowhere", "gone" + std::to_string(i) + ".jpg"));
  shell(
      "{ $P '*.jpg' map.kml 2>&1 >/dev/null & echo $! >.pid; wait $!; echo $? >.status; } "
      "2>/dev/null | { head -c 1 >/dev/null; ls -a | grep -c '^[.]map[.]kml[.]' >.during; "
      "kill -TERM $(cat .pid); cat >/dev/null; }");
  EXPECT_EQ(read(".during"), "1\n");
  EXPECT_EQ(read(".status"), "143\n");    // 128 + SIGTERM
  EXPECT_EQ(files().size(), kGone + 4u);  // map.kml, .pid, .status, .during: no temporary file
  EXPECT_EQ(read("map.kml"), old_map());
}

// An output that is a link is written through to its target, which must be a document that
// pinreel wrote.
TEST_F(Cli, OutputLinkIsWrittenThroughToItsTarget) {
  write("london.jpg", photo(&kLondon));
  mkdir_in("maps");
  write("maps/trip.kml", bytes_of(old_map()));
  write("maps/theirs.kml", bytes_of("<kml/>"));
  write("IMG_0001.NEF", bytes_of("raw"));
  if (!link("maps/trip.kml", "link.kml")) GTEST_SKIP() << "no symbolic links here";
  ASSERT_TRUE(link("IMG_0001.NEF", "raw.kml"));
  ASSERT_TRUE(link("maps/theirs.kml", "theirs.kml"));
  EXPECT_EQ(run({"*.jpg", "theirs.kml"}), outcome(2, "", not_written("theirs.kml")));
  EXPECT_EQ(run({"*.jpg", "link.kml"}), outcome(0, ""));
  EXPECT_EQ(std::filesystem::read_symlink(path("link.kml")), "maps/trip.kml");
  EXPECT_EQ(read("maps/trip.kml"), kml("link.kml", "london.jpg" + kLondon.line));
  const Outcome raw = run({"*.jpg", "raw.kml"});
  EXPECT_EQ(raw, outcome(2, "", platform::kWindows ? raw.err : refusal("IMG_0001.NEF", false)));
  EXPECT_EQ(read("IMG_0001.NEF"), "raw");
  EXPECT_EQ(read("maps/theirs.kml"), "<kml/>");
  EXPECT_EQ(files("maps"), (Names{"theirs.kml", "trip.kml"}));
}

// Outputs that are not regular files are written directly: the null device, a FIFO.
TEST_F(Cli, OutputsThatAreNotFilesAreWrittenDirectly) {
  write("london.jpg", photo(&kLondon));
  EXPECT_EQ(run({"*.jpg", platform::kNullDevice}), outcome(0, ""));
#ifndef _WIN32
  // A KMZ archive too is written front to back, so that a pipe can take it.
  for (const std::string fifo : {"pipe.kml", "pipe.kmz"}) {
    ASSERT_EQ(mkfifo(path(fifo).c_str(), 0644), 0);
    std::string received;
    std::thread reader([&] { received = read(fifo); });
    EXPECT_EQ(run({"*.jpg", fifo}), outcome(0, ""));
    // Should the program not have opened the FIFO, the reader is let go.
    const int writer = open(path(fifo).c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    reader.join();
    EXPECT_TRUE(std::filesystem::is_fifo(path(fifo)));
    write(fifo + ".read", bytes_of(received));
  }
  EXPECT_EQ(read("pipe.kml.read"), kml("pipe.kml", "london.jpg" + kLondon.line));
  expect_client("unzip", "-tq pipe.kmz.read",
                "No errors detected in compressed data of pipe.kmz.read.\n");
#endif
  EXPECT_EQ(files().size(), platform::kWindows ? 1u : 5u);
}

// No output is made when the pattern's folder cannot be listed.
TEST_F(Cli, UnlistableFolderFailsAndWritesNothing) {
  write("london.jpg", photo(&kLondon));
  write("old.kml", bytes_of(old_map()));
  const Outcome missing = outcome(1, "", cannot("list", "nodir/", std::strerror(ENOENT)));
  for (const Names& args : {Names{"nodir/*.jpg"}, Names{"nodir/*.jpg", "new.kml"},
                            Names{"nodir/london.jpg", "old.kml"}}) {
    EXPECT_EQ(run(args), missing) << args.back();
  }
  EXPECT_EQ(files(), (Names{"london.jpg", "old.kml"}));
  EXPECT_EQ(read("old.kml"), old_map());
}

// File modes do not hold back root, so where the tests run as root these cases run as the user
// nobody, with the program copied where that user can reach it: a photo that cannot be read is
// reported and the map completed; a map that cannot be read to tell who wrote it is refused; with
// -r a sub-folder that cannot be listed is reported where it comes; a folder that can be written
// but not listed; no temporary file can be made beside the map, which stays, and the CSV lines
// come instead.
TEST_F(Cli, UnreadableAndUnwritableFolders) {
#ifdef _WIN32
  GTEST_SKIP() << "file modes and the user nobody are POSIX matters";
#else
  std::filesystem::copy_file(PINREEL_BINARY_PATH, path("pinreel"));
  program_ = path("pinreel");
  options_.unprivileged = true;
  const std::string denied = std::strerror(EACCES);
  for (const char* folder : {"album", "album/locked", "sealed"}) mkdir_in(folder);
  write("album/london.jpg", photo(&kLondon));
  write("album/secret.jpg", photo(&kSydney));
  write("sealed/london.jpg", photo(&kLondon));
  write("sealed/map.kml", bytes_of(old_map()));
  write("album/old.kml", bytes_of(old_map()));
  const std::pair<const char*, mode_t> modes[] = {
      {"", 0755},          {"pinreel", 0755}, {"album", 0777},          {"album/secret.jpg", 0},
      {"album/locked", 0}, {"sealed", 0555},  {"sealed/map.kml", 0666}, {"album/old.kml", 0}};
  for (const auto& [name, mode] : modes) ASSERT_EQ(chmod(path(name).c_str(), mode), 0) << name;
  const auto restore_modes = [this] {
    for (const char* name : {"album/secret.jpg", "album/locked", "sealed"}) {
      chmod(path(name).c_str(), 0755);
    }
  };
  if (run({}, "album").status != 0) {
    restore_modes();
    GTEST_SKIP() << "cannot run the program as user 65534 (nobody) here";
  }
  const std::string secret = cannot("read", "secret.jpg", denied);
  EXPECT_EQ(run({"*.jpg"}, "album"), outcome(1, "london.jpg" + kLondon.line, secret));
  EXPECT_EQ(run({"*.jpg", "map.kml"}, "album"), outcome(1, "", secret));
  EXPECT_EQ(read("album/map.kml"), kml("map.kml", "london.jpg" + kLondon.line));
  EXPECT_EQ(run({"*.jpg", "old.kml"}, "album"), outcome(2, "", unreadable("old.kml", EACCES)));
  EXPECT_EQ(run({"-r", "*.jpg"}, "album"),
            outcome(1, "london.jpg" + kLondon.line, cannot("list", "locked/", denied) + secret));
  EXPECT_EQ(run({"*.jpg", "map.kml"}, "sealed"),
            outcome(1, "london.jpg" + kLondon.line,
                    cannot("open", "map.kml", denied) +
                        "pinreel: writing CSV to standard output instead\n"));
  restore_modes();
  EXPECT_EQ(read("sealed/map.kml"), old_map());
  EXPECT_EQ(read("album/old.kml"), old_map());
  EXPECT_EQ(files("album"), (Names{"locked", "london.jpg", "map.kml", "old.kml", "secret.jpg"}));
  EXPECT_EQ(files("sealed"), (Names{"london.jpg", "map.kml"}));
#endif
}

// A full disk is a failure.
TEST_F(Cli, UnwritableOutputsFail) {
  write("london.jpg", photo(&kLondon));
  if (const char* full = platform::kFullDevice) {
    const std::string no_space = std::strerror(ENOSPC);
    EXPECT_EQ(run({"*.jpg"}, "", full),
              outcome(1, "", "pinreel: cannot write to standard output: " + no_space + "\n"));
    EXPECT_EQ(run({"*.jpg", full}), outcome(1, "", cannot("write", full, no_space)));
    EXPECT_EQ(run({}, "", full).status, 1);
  }
}

// File names are bytes on POSIX: the CSV line keeps them, the map holds them in UTF-8, a byte that
// is not UTF-8 as U+FFFD. Windows names are UTF-16; Greek, Chinese and emoji names (a surrogate
// pair) are found, opened and written in UTF-8, on the command line and in the folders alike.
TEST_F(Cli, NamesInEveryScript) {
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
  EXPECT_EQ(run({emoji}), outcome(0, emoji + kLondon.line));
  EXPECT_EQ(run({"*.jpg"}), outcome(0, emoji + kLondon.line));
  EXPECT_EQ(run({"-v", folder + "/*.jpg"}),
            outcome(0, greek + kLondon.line + chinese + kSydney.line,
                    "pinreel: " + folder + "/" + sharp_s +
                        ": no GPS position\npinreel: 3 photos read: 2 with a position, 0 "
                        "duplicates left out, 1 without a position; 0 could not be read\n"));
  // "sub/" sorts before the names that begin with bytes above 0x7F.
  EXPECT_EQ(run({"-r", folder, map}), outcome(0, ""));
  EXPECT_EQ(read(map), kml(map, "sub/" + emoji + kDeadSea.line + greek + kLondon.line + chinese +
                                    kSydney.line));
}

// Every output format end to end: the built program writes it from fixture photos, and the
// programs people open such files with read it back: GDAL/OGR, GPSBabel, Python's json and
// zipfile, xmllint, unzip; ExifTool reads the same photos' times. A client that is not installed
// (none is under Wine) is skipped with a message. The KMZ archive is compared byte for byte with
// the one the zip writer makes of the KML document and the thumbnails, on Windows too.

using platform::text_stream;
using Files = std::vector<std::pair<std::string, Bytes>>;

using platform::count_of;

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
  Tiff tiff(shot.name.size() % 2 == 0 ? Order::kIntel : Order::kMotorola);
  Directory& first = tiff.first();
  Directory& exif = tiff.add_directory();
  if (!shot.date_time.empty()) exif.ascii(36867, shot.date_time);
  if (!shot.offset.empty()) exif.ascii(36881, shot.offset);
  first.pointer(kExifPointer, exif);
  if (shot.lat_seconds != 0) {
    Directory& gps = tiff.add_directory();
    gps.ascii(1, "N").rationals(2, {{0, 1}, {0, 1}, {shot.lat_seconds, 100}});
    if (shot.lon_seconds != 0)
      gps.ascii(3, "E").rationals(4, {{0, 1}, {0, 1}, {shot.lon_seconds, 100}});
    if (shot.altitude < 0) gps.integer(5, kByte, 1);
    if (shot.altitude != 0) gps.rationals(6, {{std::abs(shot.altitude), 1}});
    const std::vector<uint32_t>& t = shot.gps_time;
    if (!t.empty()) gps.rationals(7, {{t[0], 1}, {t[1], 1}, {t[2], 100}});
    if (!shot.gps_date.empty()) gps.ascii(29, shot.gps_date);
    first.pointer(kGpsPointer, gps);
  }
  if (!shot.thumbnail.empty()) {
    const uint32_t size = static_cast<uint32_t>(shot.thumbnail.size());
    Directory& thumb = tiff.add_directory().raw(513, kLong, 1, block_end(size));
    first.link(thumb.longs(514, {size}));
    tiff.tail(shot.thumbnail);
  }
  return Jpeg().soi().app1_exif(tiff).dqt().sof(0xC0, 8, 8, 3).dht().sos().eoi().bytes();
}

// A small JPEG-looking thumbnail (nothing decodes it), different for each `seed`.
Bytes thumbnail(uint8_t seed) {
  return join({{0xFF, 0xD8, 0xFF, 0xDB}, Bytes(600, seed)});
}

// The comment that marks pinreel's archives.
const std::string kArchiveComment = "pinreel " PINREEL_VERSION;

// The archive the zip writer makes of `stored` entries and the deflated `document`.
std::string archive(const Files& stored, const std::string& document = "",
                    const std::string& comment = "") {
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
    zip.finish(comment);
  });
}

// The KMZ archive of the KML document at `kml`, named `name`, with the `images` of the photos so
// named in its balloons; pinreel 1.1's had no comment.
std::string kmz_of(std::string kml, const std::string& name, const Files& images,
                   const std::string& comment = kArchiveComment) {
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
  return archive(stored, kml, comment);
}

using Formats = Cli;

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
  for (const Shot& shot : shots) write_file(path("album/" + shot.name), photo(shot));

  // In byte order of the names, which differ on Windows.
  const std::string quoted = ",33.860001,151.215500,,2023-03-18T21:42:10Z\n";
  const std::string csv = run_ok({"-t", "album/*.jpg"});
  EXPECT_EQ(csv, text_stream("a&b.jpg,51.406666,11.610000,+35,2019-06-01T14:03:22+02:00\n" +
                             (platform::kWindows ? "it's.jpg" + quoted
                                                 : "caf\xE9.jpg,5.000000,10.000000,,\n") +
                             "lat-only.jpg,0.100000,,,\n" +
                             (platform::kWindows ? "" : "\"say \"\"hi\"\".jpg\"" + quoted) +
                             "\"x,y.jpg\",31.200001,35.370125,-430,2021-11-02T15:03:27\n"));
  for (const char* format : {"kml", "kmz", "gpx", "geojson", "csv", "html"}) {
    EXPECT_EQ(run_ok({"album/*.jpg", "-t", std::string("maps/out.") + format}), "") << format;
  }
  // The page (which tests/map_page.py opens in a browser) has a point for each placemark.
  EXPECT_EQ(count_of(read_file(path("maps/out.html")), "\"../album/"), names.size());
  EXPECT_EQ(read_file(path("maps/out.csv")), csv);  // the same bytes as standard output
  // The archive: the JPEG thumbnails of the photos with a placemark, stored as they are, and the
  // KML document with those pictures in the balloons; its lines end in LF on Windows too.
  EXPECT_TRUE(read_file(path("maps/out.kmz")) ==
              kmz_of(read_file(path("maps/out.kml")), "maps/out.kmz", images));

  for (const char* xml : {"maps/out.kml", "maps/out.gpx"})
    expect_client("xmllint", "--noout " + std::string(xml), "");
  expect_client(
      "python3",
      "-c 'import json, sys, zipfile; d = json.load(open(sys.argv[1], encoding=\"utf-8\"))"
      "[\"features\"]; z = zipfile.ZipFile(sys.argv[2]); print(len(d), d[0][\"properties\"],"
      " z.testzip(), z.namelist())' maps/out.geojson maps/out.kmz",
      std::to_string(names.size()) +
          " {'name': 'a&b.jpg', 'altitude': 35, 'time': '2019-06-01T14:03:22+02:00', 'direction': "
          "None, 'direction_ref': None, 'accuracy': None} None "
          "['images/0001.jpg', " +
          (platform::kWindows ? "" : "'images/0002.jpg', ") + "'doc.kml']\n");

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
       "POINT (35.370125 31.2)|time (DateTime) = 2019/06/01 12:03:22+00|ele (Real) = -430|"
       "link1_href (String) = ../album/a%26b.jpg|name (String) = "},
      {"maps/out.geojson",
       "POINT Z (35.370125 31.2 -430)|POINT (151.2155 33.86)|time (DateTime) = "
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
                       "51.406667,11.610000,\"a&b.jpg\",35.0,2019/06/01,12:03:22,"
                       "\"../album/a%26b.jpg\""),
              1u)
        << out;
  }
}

// The same photos as ExifTool reads them: the stated time from DateTimeOriginal and its offset,
// or the GPS stamps.
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
    Shot shot{t[0], 36000, 36000, {}, 0, t[1], t[2], t[3], std::vector<uint32_t>(*t[4] ? 3 : 0)};
    std::istringstream in(t[4]);
    for (uint32_t& part : shot.gps_time) in >> part;
    write(t[0], photo(shot));
  }
  const std::string csv = run_ok({"-t", "*.jpg"});
  // Per photo: the CSV line that ExifTool's fields give.
  std::string out;
  if (!client("exiftool",
              "-q -n -csv -DateTimeOriginal -OffsetTimeOriginal -GPSDateStamp -GPSTimeStamp "
              "-ext jpg . >fields.csv && python3 -c '\n"
              "import csv\n"
              "for r in csv.DictReader(open(\"fields.csv\")):\n"
              "  f = lambda k: r.get(k) or \"\"\n"
              "  d, g = f(\"DateTimeOriginal\"), f(\"GPSDateStamp\").replace(\":\", \"-\")\n"
              "  g = g + \"T\" + f(\"GPSTimeStamp\").split(\".\")[0] + \"Z\" if g else \"\"\n"
              "  s = d[:4] + \"-\" + d[5:7] + \"-\" + d[8:10] + \"T\" + d[11:] + "
              "f(\"OffsetTimeOriginal\") if d.strip(\" :0\") else g\n"
              "  print(r[\"SourceFile\"][2:] + \",0.100000,0.100000,,\" + s)'",
              out)) {
    EXPECT_EQ(out, "");
    return;
  }
  std::istringstream rows(out);
  size_t photos = 0;
  for (std::string row; std::getline(rows, row); ++photos) {
    EXPECT_EQ(count_of(csv, row + "\n"), 1u) << row << "\n" << csv;
  }
  EXPECT_EQ(photos, std::size(times));
}

// The layouts that real cameras, drones, scanners and editors write, each as its fixture in both
// byte orders, read as ExifTool reads them (tools/compare_exiftool.py): pointers of type IFD,
// values and an EXIF directory far from the first directory's window, RATIONAL numerators of
// 2^31 and more, an altitude that does not fit, altitudes of 0 and under a metre, the primary
// image's Exif item, CR3's EXIF box, PNG text chunks; videos as phones and encoders lay them out.
TEST_F(Formats, CameraLayoutsAgreeWithExifTool) {
  std::string out;
  if (!client("exiftool", "-ver", out)) return;
  for (const Order order : {Order::kIntel, Order::kMotorola}) {
    const std::string suffix = order == Order::kIntel ? "-ii" : "-mm";
    const auto gps_entries = [](Directory& gps, uint32_t seconds, const Bytes& altitude) {
      gps.ascii(1, "N").rationals(2, {{43, 1}, {28, 1}, {seconds, 100000000}});
      gps.ascii(3, "W").rationals(4, {{11, 1}, {53, 1}, {2564660003u, 100000000}});
      gps.integer(5, kByte, 0).entry(6, kRational, 1, altitude);
    };
    Tiff ifd(order);
    Directory& gps = ifd.add_directory();
    gps_entries(gps, 1000000000, ifd.numbers({25, 100}));
    Directory& exif = ifd.add_directory().ascii(36867, "2019:06:01 14:03:22");
    ifd.first()
        .pointer(kExifPointer, exif.ascii(36881, "+02:00"), kIfd)
        .pointer(kGpsPointer, gps, kIfd);
    write("ifd" + suffix + ".tif", ifd.block());
    write("ifd" + suffix + ".jpg", Jpeg().soi().app1_exif(ifd).sos().eoi().bytes());
    HeifOptions two;
    Tiff decoy(order);
    decoy.first().pointer(kGpsPointer, decoy.add_directory().ascii(1, "S").rationals(2, {{1, 1}}));
    two.other_exif = exif_item(decoy);
    write("primary" + suffix + ".heic", heif(exif_item(ifd), two));

    Tiff drone(order);
    drone.first().undefined(700, std::string(1 << 20, 'i'));
    Directory& first = drone.add_directory().ascii(271, "Drone");
    Directory& far_gps = drone.add_directory().ascii(1, "S").ascii(3, "E");
    far_gps.raw(2, kRational, 3, block_end(48)).raw(4, kRational, 3, block_end(24));
    Directory& far_exif = drone.add_directory().ascii(36867, "2021:11:02 15:03:27");
    first.pointer(kGpsPointer, far_gps.rationals(6, {{0, 1}})).pointer(kExifPointer, far_exif);
    drone.tail(Bytes(20000, 0))
        .tail(drone.numbers({33, 1, 51, 1, 3528, 100, 151, 1, 12, 1, 3312, 100}));
    write("drone" + suffix + ".tif", drone.first_offset(drone.offset_of(first)).block());

    Tiff unfit(order);
    Directory& unfit_gps = unfit.add_directory();
    gps_entries(unfit_gps, 2564660003u, unfit.numbers({4294967284u, 1}));
    unfit.first().pointer(kGpsPointer, unfit_gps);
    write("unfit" + suffix + ".jpg", Jpeg().soi().app1_exif(unfit).sos().eoi().bytes());

    Tiff gps_block(order), exif_block(order);
    gps_entries(gps_block.first(), 2000000000, gps_block.numbers({1234567, 100}));
    exif_block.first().ascii(36867, "2023:03:18 21:42:10").ascii(36881, "-05:00");
    write("canon" + suffix + ".cr3", cr3(gps_block.block(), 64, 100, exif_block.block()));
    int i = 0;
    for (const char* type : {"tEXt", "zTXt", "iTXt"}) {
      const std::string name = "text" + std::to_string(i++) + suffix + ".png";
      write(name, png({}, false, 64, png_profile(type, i % 2 ? ifd.payload() : ifd.block())));
    }
  }
  // Videos: an iPhone's (64-bit sizes, the movie box last), an older QuickTime file's (no ftyp),
  // an item list's location text, 3GPP's location box; creation dates and movie header times.
  VideoOptions iphone, old, mp4, three_gp;
  iphone.large_sizes = true;
  old.brand = "";
  old.creation = mp4.creation = 3642235402;
  mp4.brand = "mp42";
  mp4.version1 = mp4.moov_first = true;
  three_gp.brand = "3gp4";
  write("iphone.mov",
        video(keyed_meta({{"com.apple.quicktime.location.ISO6709", "+48.8577+002.2950+035.000/"},
                          {"com.apple.quicktime.creationdate", "2019-06-01T14:03:22+0200"}}),
              iphone));
  write("old.mov", video(box("udta", user_text("\xA9xyz", "-33.8568+151.2153-012.500/")), old));
  write("list.mp4", video(box("udta", listed_meta("\xA9xyz", "+35.6586+139.7454/")), mp4));
  write("loci.3gp", video(box("udta", location_box(-2218839, 9910046, -786432)), three_gp));
  const std::string tool = PINREEL_SOURCE_DIR "/tools/compare_exiftool.py";
  EXPECT_TRUE(client("python3", "'" + tool + "' . '" + program_ + "'", out)) << out;
  // Files, positions, agreeing, missing, different and extra ones.
  EXPECT_TRUE(std::regex_search(out, std::regex("\nall +22 +22 +22 +0 +0 +0 "))) << out;
}

// Videos are read among the photos, by default: their positions and times in CSV, a reason for
// one without a position, and no image in the KMZ archive (a video has no EXIF thumbnail).
TEST_F(Formats, VideosAmongThePhotos) {
  VideoOptions mp4, three_gp;
  mp4.brand = "isom";
  mp4.creation = 3642235402;
  three_gp.brand = "3gp4";
  write_file(path("IMG_0001.MOV"),
             video(keyed_meta({{"com.apple.quicktime.location.ISO6709", "-33.8568+151.2153+012.7/"},
                               {"com.apple.quicktime.creationdate", "2019-06-01T14:03:22+1000"}})));
  write_file(path("a.jpg"), photo(Shot{"a.jpg", 18506400, 4179600, thumbnail(1)}));
  write_file(path("clip.mp4"), video(box("udta", location_box(3201938, 150405, 0)), mp4));
  write_file(path("empty.3gp"), video({}, three_gp));
  write_file(path("zero.m4v"), video(box("udta", user_text("\xA9xyz", "+00.0000+000.0000/"))));
  EXPECT_EQ(run({"-v", "-t", "*"}),
            outcome(0,
                    "IMG_0001.MOV,-33.856800,151.215300,+12,2019-06-01T14:03:22+10:00\n"
                    "a.jpg,51.406666,11.610000,,\n"
                    "clip.mp4,48.857697,2.294998,,2019-06-01T12:03:22Z\n",
                    "pinreel: empty.3gp: no position\npinreel: zero.m4v: GPS position 0,0\n"
                    "pinreel: 5 photos read: 3 with a position, 0 duplicates left out, 2 without a "
                    "position; 0 could not be read\n"));
  run_ok({"*", "map.kml"});
  run_ok({"*", "map.kmz"});
  EXPECT_TRUE(read_file(path("map.kmz")) ==
              kmz_of(read_file(path("map.kml")), "map.kmz", {{"a.jpg", thumbnail(1)}}));
}

// An empty run gives an archive with the empty document.
TEST_F(Formats, EmptyArchives) {
  run_ok({"*.none", "empty.kmz"});
  run_ok({"*.none", "empty.kml"});
  EXPECT_TRUE(read_file(path("empty.kmz")) ==
              kmz_of(read_file(path("empty.kml")), "empty.kmz", {}));
}

// Each format replaces the documents that pinreel wrote: its own, pinreel 1.1's (built here from
// 1.1's layout, which had no mark in GeoJSON and KMZ), with LF or CR LF line ends, and an empty
// file. Other programs' documents are refused and left as they were: Google My Maps' KML, with
// pinreel's style ids, others written here, and what GPSBabel and GDAL make of a small track.
TEST_F(Formats, EachFormatReplacesOnlyWhatPinreelWrote) {
  write("IMG_0001.jpg", photo(&kLondon));
  const auto lf = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  };
  const auto crlf = [](const std::string& text) {
    return std::regex_replace(text, std::regex("\n"), "\r\n");
  };
  const std::string kml_11 = lf(kml("old.kml", "a.jpg" + kLondon.line + "b.jpg" + kSydney.line));
  const std::string gpx_11 =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\" creator=\"pinreel\">\n"
      "  <metadata>\n    <name>old.gpx</name>\n  </metadata>\n"
      "  <wpt lat=\"51.507332\" lon=\"-0.127667\">\n    <ele>35</ele>\n    <name>a.jpg</name>\n"
      "    <link href=\"a.jpg\"/>\n  </wpt>\n</gpx>\n";
  const std::string collection = "{\"type\":\"FeatureCollection\",\"features\":[\n";
  const std::string point =
      "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
  const std::string geojson_11 =
      collection + point +
      "-0.127667,51.507332,35]},\"properties\":{\"name\":\"a \\\"1\\\"\\\\\\u0001.jpg\","
      "\"altitude\":35,\"time\":\"2019-06-01T14:03:22+02:00\"}},\n" +
      point +
      "151.215302,-33.856800]},\"properties\":{\"name\":\"b.jpg\",\"altitude\":null,"
      "\"time\":null}}\n]}\n";
  const std::string geojson_11_without_times =
      collection + point +
      "1.000000,2.000000,-430]},\"properties\":{\"name\":\"c.jpg\","
      "\"altitude\":-430}}\n]}\n";
  const std::string csv_11 =
      "a.jpg,51.507332,-0.127667,+35\n\"x,y \"\"z\"\"\nw.jpg\",31.200001,35.370125,-430\n"
      "lat.jpg,0.100000\nalt.jpg,1.000000,-12\ndamaged.jpg,-inf,nan\n";
  const std::string csv_11_times =
      "a.jpg,51.507332,-0.127667,+35,2019-06-01T14:03:22+02:00\nb.jpg,31.200300,,,\n"
      "c.jpg,43.467449,11.885127,,2008-10-22T16:28:39\nd.jpg,1.000000,2.000000,-0,"
      "2019-06-01T12:03:22Z\n";
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"kml", kml_11},
      {"gpx", gpx_11},
      {"geojson", geojson_11},
      {"json", geojson_11_without_times},
      {"geojson", collection + "]}\n"},
      {"csv", csv_11},
      {"csv", csv_11_times}};
  std::vector<std::pair<std::string, std::string>> ours = {
      {"kmz", kmz_of(kml_11, "old.kmz", {{"a.jpg", thumbnail(1)}}, "")},
      {"kmz", kmz_of(kml_11, "old.kmz", {}, "")},
      {"kmz", ""}};
  for (const auto& [extension, text] : texts) {
    ours.emplace_back(extension, text);
    ours.emplace_back(extension, crlf(text));
  }
  for (size_t i = 0; i < ours.size(); ++i) {
    const std::string name = "old" + std::to_string(i) + "." + ours[i].first;
    write(name, bytes_of(ours[i].second));
    EXPECT_EQ(run({"*.jpg", name}), outcome(0, "")) << name;
    EXPECT_NE(read(name), ours[i].second) << name;
  }
  for (const char* extension : {"kml", "kmz", "gpx", "geojson", "csv"}) {
    for (const char* times : {"-t", "-d"}) {
      EXPECT_EQ(run({times, "*.jpg", std::string("own.") + extension}), outcome(0, ""));
    }
  }

  // Google My Maps: pinreel's styles, in folders; its older exports had the same icon's http URL.
  std::string google_http = kml("Hike", "");
  google_http.insert(google_http.find("  </Document>"),
                     text_stream("    <Folder>\n      <name>Route</name>\n    </Folder>\n"));
  std::string google = google_http;
  const std::string icon = "http://www.gstatic.com/";
  for (size_t at = google.find(icon); at != std::string::npos; at = google.find(icon))
    google.insert(at + 4, "s");
  const std::string track =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"OsmAnd\">\n"
      "<wpt lat=\"51.5\" lon=\"-0.12\"><name>Start</name></wpt>\n"
      "<trk><trkseg><trkpt lat=\"51.5\" lon=\"-0.12\"/></trkseg></trk>\n</gpx>\n";
  const std::vector<std::pair<std::string, std::string>> theirs = {
      {"google.kml", google},
      {"google-http.kml", google_http},
      {"google.kmz", archive({}, lf(google))},
      {"other.kmz", archive({{"images/0001.jpg", thumbnail(1)}}, kml_11, "made elsewhere")},
      {"track.gpx", track},
      {"other.geojson", std::regex_replace(geojson_11, std::regex("altitude"), "ele")},
      {"generated.geojson",
       "{\"type\":\"FeatureCollection\",\"generator\":\"overpass\","
       "\"features\":[\n]}\n"},
      {"headed.csv", "name,latitude,longitude\n" + csv_11}};
  for (const auto& [name, text] : theirs) write(name, bytes_of(text));
  Names made;
  for (const auto& [program, arguments, name] :
       {std::tuple<const char*, const char*, const char*>{
            "gpsbabel", "-i gpx -f track.gpx -o gpx -F babel.gpx", "babel.gpx"},
        {"gpsbabel", "-i gpx -f track.gpx -o kml -F babel.kml", "babel.kml"},
        {"ogr2ogr", "-f GeoJSON gdal.geojson track.gpx waypoints", "gdal.geojson"},
        {"ogr2ogr", "-f CSV -lco GEOMETRY=AS_XY gdal.csv track.gpx waypoints", "gdal.csv"}}) {
    std::string out;
    if (client(program, arguments, out)) made.push_back(name);
    EXPECT_EQ(out, "") << arguments;
  }
  for (const auto& [name, text] : theirs) {
    EXPECT_EQ(run({"*.jpg", name}), outcome(2, "", not_written(name)));
    EXPECT_EQ(read(name), text) << name;
  }
  for (const std::string& name : made) {
    const std::string text = read(name);
    EXPECT_EQ(run({"*.jpg", name}), outcome(2, "", not_written(name)));
    EXPECT_EQ(read(name), text) << name;
  }
}

// Archives of 65,535 entries or more, which the classic end record cannot count (65,535 is its
// mark for "see ZIP64"), end with ZIP64 records; one entry fewer does not.
TEST_F(Formats, ManyEntriesGetZip64EndRecords) {
  Files many;
  for (size_t i = 0; i < 65534; ++i) many.emplace_back("images/" + std::to_string(i), Bytes{'i'});
  for (const size_t entries : {size_t{65534}, size_t{65535}}) {
    many.resize(entries, {"images/65534", Bytes{'i'}});
    const std::string large = archive(many);
    const size_t end = large.size() - 22;
    const bool zip64 = entries == 65535;
    EXPECT_EQ(large.compare(end, 4, "PK\x05\x06"), 0);
    EXPECT_EQ(large.compare(end - 20, 4, "PK\x06\x07") == 0, zip64);
    EXPECT_EQ(large.compare(end - 76, 4, "PK\x06\x06") == 0, zip64);
    write("large.zip", bytes_of(large));
    expect_client(
        "python3",
        "-c 'import zipfile; z = zipfile.ZipFile(\"large.zip\"); i = z.infolist();"
        " print(z.testzip(), len(i), i[-1].filename, z.read(i[-1]))'",
        "None " + std::to_string(entries) + " images/" + std::to_string(entries - 1) + " b'i'\n");
  }
}

// Photos read at once by reader threads come out exactly as when read one after the other: every
// format, with -d, -t and -v (reasons, summary), the messages in their order and the exit status,
// over folders of many photos with duplicates, photos that cannot be read, FIFOs and folders
// among the names.
TEST_F(Cli, ReaderThreadsChangeNothingButTheSpeed) {
  write_album();
  mkdir_in("trip");
  mkdir_in("trip/b");
  mkdir_in("trip/folder.jpg");
  const Place* places[] = {&kLondon, &kSydney, nullptr, &kDeadSea, &kZero};
  for (int i = 0; i < 90; ++i) {
    const std::string name = (i % 3 == 0 ? "trip/b/IMG_" : "trip/IMG_") + std::to_string(1000 + i);
    write(name + (i % 11 == 0 ? ".txt" : ".jpg"), photo(places[i % 5], Order(i % 2)));
  }
#ifndef _WIN32
  ASSERT_EQ(mkfifo(path("trip/pipe.jpg").c_str(), 0644), 0);
#endif
  for (const char* dangling : {"gone.jpg", "trip/b/gone.jpg"}) link("nowhere", dangling);
  // Sidecars in folders the walk leaves and comes back to, while their photos are still read.
  for (int i = 0; i < 90; i += 4) {
    const std::string name = (i % 3 == 0 ? "trip/b/IMG_" : "trip/IMG_") + std::to_string(1000 + i);
    if (i % 8 == 0) {
      write(name + ".xmp", bytes_of(xmp_packet()));
    } else {
      write(name + ".jpg.json", takeout_json("\"latitude\": 1.5, \"longitude\": 2.5"));
    }
  }
  const Names runs[] = {{"*.jp*g"},
                        {"-r", "-s", "-v", "-t", ".", "out.geojson"},
                        {"-r", "-v", "-d", "."},
                        {"-v", "-d", "-t", "*"},
                        {"-r", "-v", "-d", "-t", "."},
                        {"-r", "-v", "trip", "out.csv"},
                        {"-r", "-d", "-t", "trip", "out.kml"},
                        {"-r", "-t", ".", "out.kmz"},
                        {"-r", "-d", "-t", ".", "out.gpx"},
                        {"-r", "-v", "-t", ".", "out.geojson"},
                        {"-r", "-t", ".", "out.html"},
                        {"-r", "-v", "Photso", "out.kml"}};
  for (const Names& args : runs) {
    Outcome outcomes[2];
    std::string documents[2];
    for (int i = 0; i < 2; ++i) {
      Names with_threads = {i == 0 ? "-j" : "-j4"};
      if (i == 0) with_threads.push_back("1");
      with_threads.insert(with_threads.end(), args.begin(), args.end());
      outcomes[i] = run(with_threads);
      if (args.back().rfind("out.", 0) == 0) documents[i] = read(args.back());
    }
    EXPECT_EQ(outcomes[0], outcomes[1]) << args.back();
    EXPECT_TRUE(documents[0] == documents[1]) << args.back();
    EXPECT_NE(outcomes[0].status, 2) << outcomes[0];
    if (args.size() > 1 && args[1] == "-s") {
      EXPECT_NE(outcomes[0].err.find("from sidecar"), std::string::npos);
    }
  }
  // A number of threads is a whole number from 1 to 64, given or the run is refused.
  for (const Names& args : {Names{"-j0", "*"}, Names{"-j", "65", "*"}, Names{"*", "-j"},
                            Names{"-j", "x", "*"}, Names{"-j", "-d", "*"}}) {
    const Outcome refused = run(args);
    EXPECT_EQ(refused.status, 2) << args.front();
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("-j needs a number of reader threads from 1 to 64"),
              std::string::npos);
  }
  EXPECT_EQ(run({"-j64", "london.jpg"}), outcome(0, "london.jpg" + kLondon.line));
}

// Reads that end in any order come back in the order they were handed out, each exactly once,
// however the window and the number of workers compare.
TEST(OrderedPool, HandsBackEverySlotInSubmissionOrder) {
  for (const auto& shape : {std::pair<unsigned, size_t>{1, 1}, {4, 3}, {3, 64}}) {
    std::vector<size_t> value(shape.second), order;
    std::vector<int> seen(2000);
    {
      OrderedPool pool(shape.first, shape.second, [&](size_t slot) {
        if (value[slot] % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
        ++seen[value[slot]];
      });
      size_t next = 0;
      while (next < seen.size() || pool.in_flight() > 0) {
        size_t batch = 0;
        for (; pool.free_slots() > batch && next < seen.size(); ++batch) {
          value[(pool.next_slot() + batch) % value.size()] = next++;
        }
        pool.submit(batch);
        pool.rest_workers(next % 500 < 250);  // the writer alone, then all again
        order.push_back(value[pool.wait_head()]);
        pool.pop();
      }
    }
    for (size_t i = 0; i < seen.size(); ++i) {
      ASSERT_EQ(order[i], i) << shape.first << " workers, window " << shape.second;
      ASSERT_EQ(seen[i], 1);
    }
  }
}

}  // namespace
