// The built program run end to end on fixture photos in a temporary directory: standard
// output, standard error, the KML file and the exit status, checked exactly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/exif_builder.h"

namespace {

using fixture::Bytes;
using fixture::Directory;
using fixture::Jpeg;
using fixture::Order;
using fixture::Tiff;

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
  struct stat info;
  return stat(path.c_str(), &info) == 0;
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
    char pattern[] = "/tmp/pinreel-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const Bytes& bytes) const {
    fixture::write_file(path(name), bytes);
  }
  void mkdir_in(const std::string& name) const { ASSERT_EQ(::mkdir(path(name).c_str(), 0755), 0); }

  // Runs pinreel in the temporary directory (or `cwd` inside it), standard output to `stdout_to`
  // when given.
  Outcome run(std::vector<std::string> args, const std::string& cwd = "",
              const std::string& stdout_to = "") const {
    const std::string out_path = stdout_to.empty() ? path(".stdout") : stdout_to;
    const std::string err_path = path(".stderr");
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(cwd.empty() ? dir_.c_str() : path(cwd).c_str()) != 0) _exit(126);
      const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0) _exit(126);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv = {const_cast<char*>(PINREEL_BINARY_PATH)};
      for (auto& arg : args) argv.push_back(&arg[0]);
      argv.push_back(nullptr);
      execv(PINREEL_BINARY_PATH, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", read_file(err_path)};
    if (stdout_to.empty()) {
      result.out = read_file(out_path);
      unlink(out_path.c_str());
    }
    unlink(err_path.c_str());
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

const char kUsage[] =
    "Description:\n"
    "  Bulk extracts GPS co-ordinates from EXIF jpeg images as either CSV, or KML data.\n\n"
    "Usage:\n"
    "  pinreel input.jpg\n"
    "  pinreel [options] *.jpg > output.csv\n"
    "  pinreel [options] *.jpg output.kml\n\n"
    "Options:\n"
    "  -d  Removes duplicate GPS co-ordinates from the output.\n\n";

const char kLondonLine[] = "london.jpg,51.507332,-0.127667,+35\n";

std::string placemark(const std::string& name, const std::string& coordinates) {
  return "    <Placemark>\n      <name>" + name +
         "</name>\n      <description></description>\n"
         "      <styleUrl>#icon-1899-0288D1</styleUrl>\n      <Point>\n        <coordinates>\n"
         "          " +
         coordinates + ",0\n        </coordinates>\n      </Point>\n    </Placemark>\n";
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
  EXPECT_EQ(run({"DEADSEA.JPG"}).out, "DEADSEA.JPG,31.559999,35.480000,-430\n");
  EXPECT_EQ(run({"sydney.jpeg"}).out, "sydney.jpeg,-33.859798,151.209198\n");
  EXPECT_EQ(run({"london?jpg"}).status, 0);  // '?' alone means a literal name

  for (const char* quiet : {"no-gps.jpg", "broken.jpg", "notes.txt", "missing.txt"}) {
    const Outcome r = run({quiet});
    EXPECT_EQ(r.status, 0) << quiet;
    EXPECT_EQ(r.out + r.err, "") << quiet;
  }
}

TEST_F(Cli, SingleFileThatCannotBeReadFails) {
  mkdir_in("folder.jpg");
  Outcome r = run({"missing.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "pinreel: cannot read 'missing.jpg': No such file or directory\n");
  r = run({"folder.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pinreel: cannot read 'folder.jpg': Is a directory\n");
}

TEST_F(Cli, BatchCsvInSortedOrderIgnoringCase) {
  write_album();
  mkdir_in("folder.jpg");
  write(".hidden.jpg", photo(&kSydney));
  const Outcome r = run({"*.jpg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            ".hidden.jpg,-33.859798,151.209198\n"
            "DEADSEA.JPG,31.559999,35.480000,-430\n"
            "copy of london.jpg,51.507332,-0.127667,+35\n" +
                std::string(kLondonLine));
}

TEST_F(Cli, DedupKeepsTheFirstOfEachPosition) {
  write_album();
  write("london-again.JPEG", photo(&kLondon));
  Outcome r = run({"-d", "*.jp*g"});
  EXPECT_EQ(r.out,
            "DEADSEA.JPG,31.559999,35.480000,-430\n"
            "copy of london.jpg,51.507332,-0.127667,+35\n"
            "sydney.jpeg,-33.859798,151.209198\n");
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
  EXPECT_NE(kml.find("    <name>trip.kml</name>\n"), std::string::npos);
  const std::string tail =
      placemark("sydney.jpeg", "151.209198,-33.859798") + "  </Document>\n</kml>\n";
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
  const Outcome r = run({"photos/*.jpg"});
  EXPECT_EQ(r.out, kLondonLine);
  run({dir_ + "/photos/*.JPG", "map.kml"}, "photos");
  EXPECT_NE(read_file(path("photos/map.kml")).find(placemark("london.jpg", "-0.127667,51.507332")),
            std::string::npos);
}

TEST_F(Cli, RefusesToOverwriteAPhotoWithKml) {
  write_album();
  const Bytes before = photo(&kSydney);
  const Outcome r = run({"london.jpg", "sydney.jpeg", "no-gps.jpg"});  // an expanded *.jp*g
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "pinreel: refusing to write KML over the photo 'sydney.jpeg'; quote the pattern so "
            "that the shell does not expand it, as in: pinreel '*.jpg' output.kml\n");
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
  EXPECT_EQ(r.err,
            "pinreel: cannot open 'missing/out.kml': No such file or directory\n"
            "pinreel: writing CSV to standard output instead\n");
  r = run({"*.jpg", "out.kml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kLondonLine);
  EXPECT_EQ(r.err,
            "pinreel: cannot open 'out.kml': Is a directory\n"
            "pinreel: writing CSV to standard output instead\n");
}

TEST_F(Cli, FullDiskIsAFailure) {
  struct stat full;
  if (stat("/dev/full", &full) != 0 || !S_ISCHR(full.st_mode)) GTEST_SKIP() << "no /dev/full";
  write("london.jpg", photo(&kLondon));
  Outcome r = run({"*.jpg"}, "", "/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pinreel: cannot write to standard output: No space left on device\n");
  r = run({"*.jpg", "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "pinreel: cannot write '/dev/full': No space left on device\n");
  EXPECT_EQ(run({"london.jpg"}, "", "/dev/full").status, 1);
  EXPECT_EQ(run({}, "", "/dev/full").status, 1);
}

TEST_F(Cli, AwkwardNamesStayWellFormed) {
  for (const char* name : {"a&b.jpg", "caf\xC3\xA9.jpg", "caf\xE9.jpg", "<x>\x01\"q\",'.jpg"}) {
    write(name, photo(&kLondon));
  }
  const Outcome csv = run({"*.jpg"});
  EXPECT_EQ(csv.out,
            "\"<x>\x01\"\"q\"\",'.jpg\",51.507332,-0.127667,+35\n"
            "a&b.jpg,51.507332,-0.127667,+35\n"
            "caf\xC3\xA9.jpg,51.507332,-0.127667,+35\n"
            "caf\xE9.jpg,51.507332,-0.127667,+35\n");

  run({"*.jpg", "R&D <maps>.kml"});
  const std::string kml = read_file(path("R&D <maps>.kml"));
  EXPECT_NE(kml.find("<name>R&amp;D &lt;maps&gt;.kml</name>"), std::string::npos);
  EXPECT_NE(kml.find("<name>&lt;x&gt;\xEF\xBF\xBD&quot;q&quot;,&apos;.jpg</name>"),
            std::string::npos);
  EXPECT_NE(kml.find("<name>a&amp;b.jpg</name>"), std::string::npos);
  EXPECT_NE(kml.find("<name>caf\xC3\xA9.jpg</name>"), std::string::npos);
  EXPECT_NE(kml.find("<name>caf\xEF\xBF\xBD.jpg</name>"), std::string::npos);

  // A real XML parser must accept the document.
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint missing";
  const std::string check = "xmllint --noout '" + path("R&D <maps>.kml") + "'";
  EXPECT_EQ(std::system(check.c_str()), 0);
}

}  // namespace
