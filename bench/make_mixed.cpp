// Writes a folder of synthetic photos in every format pinreel reads, as a modern photo library
// holds them: phone HEIC and JPEG, camera raws (CR2, NEF, ARW, DNG, ORF, RW2, CR3, RAF), TIFF
// scans, PNG and WebP exports, AVIF and JPEG XL; or, with the kind "videos", a folder of phone
// videos (an iPhone's .mov, an Android phone's .mp4) with the movie box after the media data.
//
// Each photo is built with the tests' fixture builder around an EXIF block of its camera's size
// (maker notes of a few to a hundred KB, placed before the GPS directory as cameras do), then
// written with its image data as a hole: the file has its real size (tens of MB for raws) but
// takes only its headers on disk. One photo in ten has no position.
//
// usage: make_mixed FOLDER [COUNT] [SEED] [videos]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/exif_builder.h"

namespace {

using namespace fixture;

struct Position {
  double latitude, longitude, altitude;
  bool present;
};

std::mt19937_64 rng;

size_t pick(size_t lo, size_t hi) {
  return lo + static_cast<size_t>(rng() % (hi - lo + 1));
}

std::string noise(size_t size) {
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

uint32_t rational_part(double value, uint32_t scale) {
  return static_cast<uint32_t>(std::lround(value * scale));
}

// The GPS directory of `position`, in the seconds-with-hundredths form most cameras write.
void add_gps(Directory& gps, const Position& p) {
  const auto dms = [&gps](uint16_t tag, double value) {
    const double a = std::fabs(value);
    const auto degrees = static_cast<uint32_t>(a);
    const auto minutes = static_cast<uint32_t>((a - degrees) * 60);
    const double seconds = (a - degrees - minutes / 60.0) * 3600;
    gps.rationals(tag, {{degrees, 1}, {minutes, 1}, {rational_part(seconds, 100), 100}});
  };
  gps.entry(0, kByte, 4, {2, 3, 0, 0}).ascii(1, p.latitude < 0 ? "S" : "N");
  dms(2, p.latitude);
  gps.ascii(3, p.longitude < 0 ? "W" : "E");
  dms(4, p.longitude);
  gps.integer(5, kByte, p.altitude < 0 ? 1 : 0);
  gps.rationals(6, {{rational_part(std::fabs(p.altitude), 10), 10}});
  gps.ascii(29, "2024:05:01");
}

// A camera's block: make, model and date in the first directory, an EXIF directory with a maker
// note of `note` bytes, then the GPS directory (laid out after the note, as cameras do).
void fill_camera(Tiff& tiff, const char* make, const char* model, size_t note, const Position& p) {
  Directory& exif = tiff.add_directory();
  tiff.first().ascii(271, make).ascii(272, model).shorts(274, {1});
  tiff.first().rationals(282, {{300, 1}}).rationals(283, {{300, 1}}).shorts(296, {2});
  tiff.first().ascii(306, "2024:05:01 12:00:00").pointer(kExifPointer, exif);
  exif.rationals(33434, {{1, 250}}).rationals(33437, {{28, 10}}).shorts(34855, {200});
  exif.undefined(36864, "0231").ascii(36867, "2024:05:01 12:00:00");
  exif.rationals(37386, {{50, 1}}).undefined(37500, noise(note));
  if (p.present) {
    Directory& gps = tiff.add_directory();
    add_gps(gps, p);
    tiff.first().pointer(kGpsPointer, gps);
  }
}

Bytes jpeg_header(const Tiff& tiff) {
  Jpeg j;
  j.soi().app1_exif(tiff).dqt().dqt().sof(0xC0, 3024, 4032, 3).dht().dht().dht().dht();
  j.segment(0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
  return std::move(j).bytes();
}

// One file: its header bytes, a hole, and its last bytes.
struct File {
  Bytes head;
  size_t hole;
  Bytes tail;
};

// `value` (from be() or le()) written over the bytes at `at`.
void patch(Bytes& bytes, size_t at, const Bytes& value) {
  std::copy(value.begin(), value.end(), bytes.begin() + static_cast<long>(at));
}

size_t find(const Bytes& bytes, const char* text) {
  const std::string t(text);
  return static_cast<size_t>(std::search(bytes.begin(), bytes.end(), t.begin(), t.end()) -
                             bytes.begin());
}

size_t megabytes(double lo, double hi) {
  std::uniform_real_distribution<double> u(std::log(lo), std::log(hi));
  return static_cast<size_t>(std::exp(u(rng)) * 1024 * 1024);
}

// A raw built on TIFF: the block, then the image data.
File tiff_raw(const char* make, const char* model, size_t note, Order order, double mb_lo,
              double mb_hi, const Position& p, uint16_t magic = 42) {
  Tiff tiff(order);
  fill_camera(tiff, make, model, note, p);
  tiff.magic(magic);
  return {tiff.block(), megabytes(mb_lo, mb_hi), {}};
}

File jpeg(const Position& p) {
  Tiff tiff(rng() % 2 ? Order::kIntel : Order::kMotorola);
  fill_camera(tiff, "Apple", "iPhone 12", pick(900, 30000), p);
  const Bytes head = jpeg_header(tiff);
  return {head, megabytes(0.3, 6), {0xFF, 0xD9}};
}

File heic(const Position& p, bool avif) {
  Tiff tiff(Order::kMotorola);
  fill_camera(tiff, "Apple", "iPhone 15 Pro", pick(1200, 2500), p);
  HeifOptions o;
  o.brand = avif ? "avif" : "heic";
  o.tiles = avif ? 0 : 48;
  o.image_size = 0;
  Bytes file = heif(exif_item(tiff), o);
  // The image data follows the Exif item at the end of mdat.
  const size_t hole = avif ? megabytes(0.2, 1) : megabytes(1, 4);
  const size_t mdat = find(file, "mdat") - 4;
  patch(file, mdat, be(file.size() - mdat + hole, 4));
  return {file, hole, {}};
}

File cr3_file(const Position& p) {
  Tiff gps(Order::kIntel);
  if (p.present) add_gps(gps.first(), p);
  Bytes file = cr3(gps.block(), 0, pick(25000, 40000));
  const size_t hole = megabytes(20, 35);
  const size_t mdat = find(file, "mdat") - 4;
  patch(file, mdat, be(file.size() - mdat + hole, 4));
  return {file, hole, {}};
}

File raf_file(const Position& p) {
  Tiff tiff(Order::kIntel);
  fill_camera(tiff, "FUJIFILM", "X-T5", pick(20000, 40000), p);
  const Bytes header = jpeg_header(tiff);
  const size_t preview = header.size() + megabytes(1, 2);
  Bytes file = raf(header, 0);
  patch(file, 88, be(preview, 4));  // the preview's scan data lies in the hole
  return {file, megabytes(25, 35), {}};
}

File png_file(const Position& p) {
  Tiff tiff(Order::kMotorola);
  fill_camera(tiff, "Adobe", "Lightroom", 0, p);
  Bytes file = png(tiff.block(), false, 0);
  // One IDAT chunk in place of the image data, before IEND.
  const Bytes iend(file.end() - 12, file.end());
  file.resize(file.size() - 12);
  const size_t hole = megabytes(1, 12);
  file = join({file, be(hole, 4), bytes_of("IDAT")});
  return {file, hole, join({Bytes(4, 0), iend})};
}

File webp_file(const Position& p) {
  Tiff tiff(Order::kIntel);
  fill_camera(tiff, "Google", "Pixel 8", pick(500, 3000), p);
  const Bytes file = webp(tiff.block(), 0);
  // The image chunk's data as the hole; the EXIF chunk after it.
  const size_t vp8 = find(file, "VP8 ");
  const size_t hole = megabytes(0.1, 1) & ~size_t{1};
  Bytes head(file.begin(), file.begin() + static_cast<long>(vp8 + 8));
  const Bytes tail(file.begin() + static_cast<long>(vp8 + 8), file.end());
  patch(head, vp8 + 4, le(hole, 4));
  patch(head, 4, le(file.size() - 8 + hole, 4));
  return {head, hole, tail};
}

File jxl_file(const Position& p) {
  Tiff tiff(Order::kIntel);
  fill_camera(tiff, "Camera", "JXL export", 0, p);
  Bytes file = jxl(exif_item(tiff), true, 0);
  const size_t hole = megabytes(0.5, 3);
  const size_t code = find(file, "jxlc") - 4;
  patch(file, code, be(file.size() - code + hole, 4));
  return {file, hole, {}};
}

// A phone's video: ftyp, (wide,) mdat with the media data as the hole, then the movie box with
// its track tables (4 bytes a video frame in the sample sizes, offsets and times; an audio track
// of 43 packets a second) and the location: Apple's keys in an iPhone's .mov, QuickTime's
// user-data text in an Android phone's .mp4.
File video_file(const Position& p, bool iphone) {
  const size_t media = megabytes(10, 2000);
  const double seconds = static_cast<double>(media) / (2 << 20);  // about 16 Mbit/s
  char location[64];
  std::snprintf(location, sizeof location, "%+08.4f%+09.4f%+08.3f/", p.latitude, p.longitude,
                p.altitude);
  VideoOptions o;
  o.brand = iphone ? "qt  " : "isom";
  o.wide = iphone;
  o.media_size = 0;
  o.creation = 3800000000u + rng() % 100000000;
  o.track_size = static_cast<size_t>(seconds * 30 * 12);
  const Bytes audio = box("trak", Bytes(static_cast<size_t>(seconds * 43 * 8), 0));
  Bytes place;
  if (iphone) {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"com.apple.quicktime.make", "Apple"},
        {"com.apple.quicktime.model", "iPhone 15 Pro"},
        {"com.apple.quicktime.software", "17.4.1"},
        {"com.apple.quicktime.creationdate", "2024-05-01T12:00:00+0200"}};
    if (p.present) keys.emplace_back("com.apple.quicktime.location.ISO6709", location);
    place = keyed_meta(keys);
  } else if (p.present) {
    place = box("udta", user_text("\xA9xyz", location));
  }
  const Bytes file = video(join({audio, place}), o);
  const size_t moov = find(file, "moov") - 4;
  // The media data's header, now with the hole's size: 64 bits in an iPhone's file.
  const Bytes head(file.begin(), file.begin() + static_cast<long>(moov - 8));
  const Bytes mdat = iphone ? join({be(1, 4), bytes_of("mdat"), be(16 + media, 8)})
                            : join({be(8 + media, 4), bytes_of("mdat")});
  return {join({head, mdat}), media, Bytes(file.begin() + static_cast<long>(moov), file.end())};
}

struct Kind {
  const char* extension;
  int weight;
};

// The share of each format in the folder.
const Kind kKinds[] = {{".jpg", 25}, {".heic", 30}, {".avif", 3}, {".cr3", 5},  {".cr2", 6},
                       {".nef", 6},  {".arw", 3},   {".dng", 3},  {".orf", 1},  {".rw2", 1},
                       {".tif", 2},  {".raf", 3},   {".png", 5},  {".webp", 5}, {".jxl", 2}};
const Kind kVideoKinds[] = {{".mov", 6}, {".mp4", 4}};

File make(const std::string& extension, const Position& p) {
  if (extension == ".jpg") return jpeg(p);
  if (extension == ".heic") return heic(p, false);
  if (extension == ".avif") return heic(p, true);
  if (extension == ".cr3") return cr3_file(p);
  if (extension == ".cr2")
    return tiff_raw("Canon", "Canon EOS 5D Mark IV", pick(30000, 50000), Order::kIntel, 20, 30, p);
  if (extension == ".nef")
    return tiff_raw("NIKON CORPORATION", "NIKON D850", pick(60000, 110000), Order::kMotorola, 25,
                    45, p);
  if (extension == ".arw")
    return tiff_raw("SONY", "ILCE-7M4", pick(30000, 40000), Order::kIntel, 20, 30, p);
  if (extension == ".dng")
    return tiff_raw("Google", "Pixel 8 Pro", pick(5000, 20000), Order::kIntel, 20, 30, p);
  if (extension == ".orf")
    return tiff_raw("OM Digital Solutions", "OM-1", pick(20000, 30000), Order::kIntel, 15, 25, p,
                    0x4F52);
  if (extension == ".rw2")
    return tiff_raw("Panasonic", "DC-G9", pick(5000, 10000), Order::kIntel, 15, 25, p, 0x55);
  if (extension == ".tif") return tiff_raw("Epson", "Perfection V600", 0, Order::kIntel, 30, 80, p);
  if (extension == ".raf") return raf_file(p);
  if (extension == ".png") return png_file(p);
  if (extension == ".mov") return video_file(p, true);
  if (extension == ".mp4") return video_file(p, false);
  if (extension == ".webp") return webp_file(p);
  return jxl_file(p);
}

bool write_sparse(const std::string& path, const File& f) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const size_t size = f.head.size() + f.hole + f.tail.size();
  bool ok = ::write(fd, f.head.data(), f.head.size()) == static_cast<ssize_t>(f.head.size());
  ok = ok && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  if (!f.tail.empty()) {
    ok = ok &&
         ::pwrite(fd, f.tail.data(), f.tail.size(), static_cast<off_t>(size - f.tail.size())) ==
             static_cast<ssize_t>(f.tail.size());
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool videos = argc == 5 && std::string(argv[4]) == "videos";
  if (argc < 2 || (argc > 4 && !videos) || argv[1][0] == '-') {
    std::fputs("usage: make_mixed FOLDER [COUNT] [SEED] [videos]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000;
  rng.seed(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  if (count <= 0 || count > 1000000) return 2;
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    std::perror(folder.c_str());
    return 1;
  }
  std::vector<Kind> kinds(std::begin(kKinds), std::end(kKinds));
  if (videos) kinds.assign(std::begin(kVideoKinds), std::end(kVideoKinds));
  std::vector<int> weights;
  for (const Kind& k : kinds) weights.push_back(k.weight);
  std::discrete_distribution<size_t> pick_kind(weights.begin(), weights.end());
  std::uniform_real_distribution<double> u(0.0, 1.0);
  double apparent = 0, on_disk = 0;
  for (long i = 0; i < count; ++i) {
    const std::string extension = kinds[pick_kind(rng)].extension;
    const Position p{(u(rng) - 0.5) * 160, (u(rng) - 0.5) * 355, (u(rng) - 0.1) * 2000,
                     u(rng) >= 0.1};
    const File f = make(extension, p);
    char name[32];
    std::snprintf(name, sizeof name, "P%06ld", i + 1);
    const std::string path = folder + "/" + name + extension;
    if (!write_sparse(path, f)) {
      std::perror(path.c_str());
      return 1;
    }
    apparent += static_cast<double>(f.head.size() + f.hole + f.tail.size());
    on_disk += static_cast<double>(f.head.size() + f.tail.size());
  }
  std::printf("%ld photos in %s: mean file %.2f MB, of which %.1f KB written\n", count,
              folder.c_str(), apparent / static_cast<double>(count) / (1024 * 1024),
              on_disk / static_cast<double>(count) / 1024);
  return 0;
}
