// Writes the fuzz targets' seed corpora and the photo set of the memory check, all made with the
// fixture builder: make_seeds <directory>. Subdirectories: reader, decoder, string_table, names,
// marks, isobmff, tiff_file, png, webp, raf, video, xmp, takeout (one per target) and photos (JPEG
// files under the names the command line meets, and one photo of each other container).
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "output/output.h"
#include "support/exif_builder.h"
#include "support/platform.h"

namespace {

using namespace fixture;
namespace fs = std::filesystem;
using namespace std::string_literals;

// The position of the first photo; duplicates repeat it.
void add_gps(Tiff& tiff, const char* latitude_ref, const char* longitude_ref, uint32_t altitude_ref,
             uint32_t altitude) {
  Directory& gps = tiff.add_directory();
  gps.entry(0, kByte, 4, {2, 3, 0, 0}).ascii(1, latitude_ref);
  gps.rationals(2, {{51, 1}, {30, 1}, {2640, 100}});
  if (longitude_ref != nullptr)
    gps.ascii(3, longitude_ref).rationals(4, {{0, 1}, {7, 1}, {396, 10}});
  gps.integer(5, kByte, altitude_ref).rationals(6, {{altitude * 10, 10}});
  gps.rationals(7, {{10, 1}, {0, 1}, {599, 10}}).ascii(29, "2024:05:01");
  tiff.first().pointer(kGpsPointer, gps);
}

// A camera's first directory, EXIF and interoperability sub-directories and a thumbnail.
void add_camera(Tiff& tiff) {
  Directory& exif = tiff.add_directory();
  Directory& thumbnail = tiff.add_directory();
  tiff.first().ascii(271, "Camera").ascii(272, "Model 1").shorts(274, {6});
  tiff.first().rationals(282, {{72, 1}}).shorts(296, {2}).pointer(kExifPointer, exif);
  exif.undefined(36864, "0230").ascii(36867, "2024:05:01 12:00:00").rationals(33434, {{1, 250}});
  exif.ascii(36881, "+02:00");
  exif.srationals(37377, {{8, 1}}).rationals(37378, {{5, 1}}).shorts(34855, {100});
  exif.undefined(37510, "ASCII\0\0\0Hello   "s).longs(40962, {4000}).shorts(40963, {3000});
  exif.rationals(41486, {{1000, 1}}).shorts(41488, {3}).shorts(37385, {0x19});
  exif.pointer(kInteropPointer, tiff.add_directory().ascii(1, "R98"));
  thumbnail.longs(513, {0}).longs(514, {0}).shorts(296, {3});
  tiff.first().link(thumbnail);
}

// An XMP packet as ExifTool writes it into a photo, with a position of its own.
const std::string kXmpPacket =
    "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
    "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n<rdf:Description rdf:about='' "
    "xmlns:exif='http://ns.adobe.com/exif/1.0/'>\n<exif:GPSLatitude>48,51.5022N"
    "</exif:GPSLatitude>\n<exif:GPSLongitude>2,17.6689E</exif:GPSLongitude>\n"
    "<exif:GPSAltitude>355/10</exif:GPSAltitude>\n</rdf:Description></rdf:RDF></x:xmpmeta>\n"
    "<?xpacket end='w'?>";

Bytes photo(const Tiff& tiff) {
  return Jpeg().soi().app1_exif(tiff).dqt().sof(0xC0, 8, 8, 3).dht().sos().eoi().bytes();
}

struct Sample {
  std::string name;
  std::function<void(Tiff&)> build;  // null: the bytes are given
  Order order = Order::kIntel;
  Bytes bytes = {};
};

std::vector<Sample> samples() {
  const Bytes frame = Jpeg().dqt().sof(0xC2, 16, 16, 1).dht().sos().eoi().bytes();
  Jpeg many = Jpeg().soi();
  for (int i = 0; i < 40; ++i) many.dqt();
  Tiff good;
  add_camera(good);
  add_gps(good, "N", "W", 0, 35);
  return {
      {"good_intel.jpg",
       [](Tiff& t) {
         add_camera(t);
         add_gps(t, "N", "W", 0, 35);
       }},
      {"good_motorola.jpg",
       [](Tiff& t) {
         add_camera(t);
         add_gps(t, "S", "E", 1, 12);
       },
       Order::kMotorola},
      {"same_place.jpg", [](Tiff& t) { add_gps(t, "N", "W", 0, 99); }},
      {"a,b&c.jpg", [](Tiff& t) { add_gps(t, "N", "E", 0, 0); }},
      {"latitude_only.jpg", [](Tiff& t) { add_gps(t, "N", nullptr, 1, 0); }},
      {"no_gps.jpg", [](Tiff& t) { add_camera(t); }},
      {"cyclic.jpg",
       [](Tiff& t) {
         Directory& loop = t.add_directory();
         loop.pointer(kExifPointer, loop).link(loop).pointer(kGpsPointer, t.first());
         t.first().pointer(kExifPointer, loop).link(t.first());
         add_gps(t, "N", "E", 0, 1);
       },
       Order::kMotorola},
      {"bad_format.jpg",
       [](Tiff& t) {
         add_gps(t, "N", "E", 0, 1);
         t.first().entry(9, 13, 1, {});
       }},
      {"gps_past_end.jpg",
       [](Tiff& t) { t.first().ascii(271, "x").raw(kGpsPointer, kLong, 1, block_end()); }},
      {"value_past_end.jpg",
       [](Tiff& t) {
         Directory& gps = t.add_directory().ascii(1, "N");
         gps.raw(2, kRational, 3, block_end(16)).ascii(3, "E").raw(4, kDouble, 0x20000000, at(8));
         t.first().pointer(kGpsPointer, gps);
       }},
      {"ifd_pointers.jpg",
       [](Tiff& t) {
         add_gps(t, "N", "E", 0, 1);
         Directory& gps = t.add_directory().ascii(1, "S").rationals(2, {{1, 1}, {2, 1}, {3, 1}});
         t.first().pointer(kExifPointer, t.add_directory().ascii(36867, "2024:05:01 12:00:00"),
                           kIfd);
         t.first().pointer(kGpsPointer, gps, kIfd);
       },
       Order::kMotorola},
      {"large_rationals.jpg",
       [](Tiff& t) {
         Directory& gps = t.add_directory().ascii(1, "N").ascii(3, "W").integer(5, kByte, 1);
         gps.rationals(2, {{37, 1}, {46, 1}, {2564660003u, 100000000}});
         gps.rationals(4, {{0x80000000u, 0x80000000u}, {0xFFFFFFFFu, 1}, {0, 0}});
         t.first().pointer(kGpsPointer, gps.rationals(6, {{4294967284u, 1}}));
       }},
      {"huge_values.jpg",
       [](Tiff& t) {
         Directory& gps = t.add_directory().ascii(1, "S").ascii(3, "W");
         gps.doubles(2, {1e8, 0, 0}).floats(4, {-1e30f, 1, 2}).doubles(6, {-5e12});
         t.first().pointer(kGpsPointer, gps);
       }},
      {"bad_header.jpg",
       [](Tiff& t) {
         add_gps(t, "N", "E", 0, 1);
         t.mark("IM").first_offset(17);
       }},
      {"no_exif.jpg", nullptr, Order::kIntel, Jpeg().soi().raw(frame).bytes()},
      {"xmp.jpg", nullptr, Order::kIntel,
       Jpeg().soi().segment(0xE1, bytes_of("http://ns.adobe.com/xap/1.0/\0"s)).raw(frame).bytes()},
      {"cut_in_exif.jpg", nullptr, Order::kIntel,
       Jpeg().soi().app1_exif(good).truncate(20).bytes()},
      {"cut_in_comment.jpg", nullptr, Order::kIntel,
       Jpeg().soi().com("a\r\nb\x01").segment_with_length(0xFE, 400, bytes_of("cut")).bytes()},
      {"comments.jpg", nullptr, Order::kIntel,
       Jpeg().soi().com("first\r\n").com("second").app1_exif(good).raw(frame).bytes()},
      {"two_exif.jpg", nullptr, Order::kIntel,
       Jpeg().soi().app1_exif(good).app1_exif(Tiff().mark("XX")).raw(frame).bytes()},
      {"fill_bytes.jpg", nullptr, Order::kIntel,
       Jpeg().soi().raw({0xFF, 0xFF, 0xFF}).app1_exif(good).raw(frame).bytes()},
      {"many_segments.jpg", nullptr, Order::kIntel, many.app1_exif(good).raw(frame).bytes()},
      {"eoi_first.jpg", nullptr, Order::kIntel, Jpeg().soi().eoi().app1_exif(good).bytes()},
      {"not_a_jpeg.jpg", nullptr, Order::kIntel, bytes_of("GIF89a")},
      {"empty.jpg", nullptr, Order::kIntel, {}},
  };
}

// The container targets' seeds, keyed by target; those with a name go into the photo set too,
// under that name.
struct ContainerSeed {
  std::string target;
  std::string name;
  Bytes bytes;
};

std::vector<ContainerSeed> container_seeds() {
  Tiff intel, motorola(Order::kMotorola);
  add_camera(intel);
  add_gps(intel, "N", "W", 0, 35);
  add_gps(motorola, "S", "E", 1, 12);
  Tiff gps_only(Order::kMotorola);
  gps_only.first().ascii(1, "N").rationals(2, {{51, 1}, {30, 1}, {2640, 100}});
  gps_only.first().ascii(3, "E").rationals(4, {{0, 1}, {7, 1}, {3960, 100}});
  // The GPS directory beyond the first window, after a large maker note.
  Tiff far;
  far.first().pointer(kExifPointer, far.add_directory().undefined(37500, std::string(20000, 'm')));
  add_gps(far, "N", "E", 0, 7);
  Tiff orf, rw2;
  add_gps(orf, "N", "E", 0, 1);
  orf.magic(0x4F52);
  add_gps(rw2, "S", "W", 1, 2);
  rw2.magic(0x55);
  // A drone's TIFF: the first directory after the image data, the coordinates past its window.
  Tiff drone;
  drone.first().undefined(700, std::string(20000, 'i'));
  Directory& drone_first = drone.add_directory();
  Directory& drone_gps = drone.add_directory().ascii(1, "N").ascii(3, "W");
  drone_gps.raw(2, kRational, 3, block_end(48)).raw(4, kRational, 3, block_end(24));
  drone_first.pointer(kGpsPointer, drone_gps);
  drone.tail(Bytes(17000, 0)).tail(drone.numbers({51, 1, 30, 1, 2640, 100, 0, 1, 7, 1, 396, 10}));
  drone.first_offset(drone.offset_of(drone_first));
  // A scanner's TIFF: the EXIF directory near the end.
  Tiff scan(Order::kMotorola);
  scan.first().undefined(700, std::string(20000, 's'));
  scan.first().pointer(kExifPointer, scan.add_directory().ascii(36867, "2024:05:01 12:00:00"));
  Tiff exif_directory;
  exif_directory.first().ascii(36867, "2024:05:01 12:00:00").ascii(36881, "+02:00");
  HeifOptions two_images;
  two_images.other_exif = exif_item(motorola);
  const Bytes jpeg = photo(intel);
  HeifOptions avif, wide, idat;
  avif.brand = "avif";
  avif.meta_last = true;
  avif.infe_version = 3;
  wide.iloc_version = 2;
  wide.offset_size = wide.length_size = wide.base_offset_size = wide.index_size = 8;
  wide.pieces = 3;
  idat.iloc_version = 0;
  idat.in_idat = true;
  // An iPhone's video (64-bit sizes, the movie box last), ffmpeg's MP4 file, an older QuickTime
  // file (no ftyp, the movie box first, a version 1 movie header).
  const char kLocationKey[] = "com.apple.quicktime.location.ISO6709";
  const char kCreationKey[] = "com.apple.quicktime.creationdate";
  VideoOptions large, mp4, old;
  large.large_sizes = true;
  mp4.brand = "isom";
  mp4.creation = 3642235402;
  old.brand = "";
  old.moov_first = old.version1 = true;
  old.creation = 3642235402;
  HeifOptions with_xmp;
  with_xmp.xmp = bytes_of(kXmpPacket);
  Tiff tiff_xmp;
  tiff_xmp.first().undefined(700, kXmpPacket);
  add_gps(tiff_xmp, "N", "E", 0, 3);
  const Bytes xmp_app1 =
      join({bytes_of("http://ns.adobe.com/xap/1.0/"), Bytes{0}, bytes_of(kXmpPacket)});
  return {
      {"isobmff", "photo.heic", heif(exif_item(intel))},
      {"isobmff", "photo.avif", heif(exif_item(motorola), avif)},
      {"isobmff", "photo.cr3", cr3(gps_only.block())},
      {"isobmff", "photo.jxl", jxl(exif_item(motorola))},
      {"isobmff", "", heif(exif_item(motorola), wide)},
      {"isobmff", "", heif(exif_item(intel), idat)},
      {"isobmff", "", jxl(exif_item(intel), true)},
      {"isobmff", "", heif(exif_item(intel), two_images)},
      {"isobmff", "", cr3(gps_only.block(), 64, 100, exif_directory.block())},
      {"isobmff", "xmp.heic", heif(exif_item(Tiff()), with_xmp)},
      {"isobmff", "xmp.jxl", join({jxl(exif_item(intel)), box("xml ", bytes_of(kXmpPacket))})},
      {"reader", "xmp_position.jpg",
       Jpeg().soi().segment(0xE1, xmp_app1).dqt().sof(0xC0, 8, 8, 3).sos().eoi().bytes()},
      {"tiff_file", "xmp.tif", tiff_xmp.block()},
      {"png", "xmp.png", png({}, false, 64, png_xmp(kXmpPacket, true))},
      {"png", "", png(intel.block(), true, 20000, png_xmp(kXmpPacket, false))},
      {"webp", "xmp.webp", webp(intel.block(), 64, kXmpPacket)},
      {"tiff_file", "", drone.block()},
      {"tiff_file", "", scan.block()},
      {"tiff_file", "photo.tif", intel.block()},
      {"tiff_file", "photo.nef", motorola.block()},
      {"tiff_file", "photo.cr2", far.block()},
      {"tiff_file", "photo.orf", orf.block()},
      {"tiff_file", "photo.rw2", rw2.block()},
      {"png", "photo.png", png(motorola.block())},
      {"png", "", png(intel.block(), true, 20000)},
      {"png", "", png(intel.payload())},
      {"png", "", png({}, false, 64, png_profile("tEXt", motorola.block()))},
      {"png", "", png({}, false, 64, png_profile("zTXt", intel.payload(), "APP1"))},
      {"png", "", png({}, true, 20000, png_profile("iTXt", intel.block()))},
      {"png", "", png({}, false, 64, png_profile("iTXt", motorola.block(), "exif", true))},
      {"webp", "photo.webp", webp(intel.block(), 101)},
      {"webp", "", webp(motorola.payload())},
      {"raf", "photo.raf", raf(jpeg)},
      {"raf", "", raf(photo(motorola), 3)},
      {"video", "photo.mov",
       video(keyed_meta({{kLocationKey, "+48.8577+002.2950+035.000/"},
                         {kCreationKey, "2019-06-01T14:03:22+0200"}}),
             large)},
      {"video", "photo.mp4",
       video(box("udta", location_box(-2218839, 9910046, -786432, {0xFE, 0xFF, 0, 'P', 0, 0})),
             mp4)},
      {"video", "",
       video(box("udta", user_text("\xA9xyz", "+401213.1-0750015.12+10CRSWGS_84/")), old)},
      {"video", "", video(box("udta", listed_meta("\xA9xyz", "-33.8568+151.2153/")), mp4)},
  };
}

void write_all(const fs::path& directory, const std::vector<std::pair<std::string, Bytes>>& files) {
  fs::create_directories(directory);
  for (const auto& file : files) write_file((directory / file.first).string(), file.second);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <directory>\n");
    return 2;
  }
  const fs::path root(argv[1]);
  std::vector<std::pair<std::string, Bytes>> photos;
  std::vector<std::pair<std::string, Bytes>> blocks;
  for (const Sample& sample : samples()) {
    if (!sample.build) {
      photos.emplace_back(sample.name, sample.bytes);
      continue;
    }
    Tiff tiff(sample.order);
    sample.build(tiff);
    photos.emplace_back(sample.name, photo(tiff));
    blocks.emplace_back(sample.name.substr(0, sample.name.find('.')) + ".tiff", tiff.block());
  }
  std::map<std::string, std::vector<std::pair<std::string, Bytes>>> containers;
  for (const ContainerSeed& seed : container_seeds()) {
    auto& seeds = containers[seed.target];
    seeds.emplace_back(seed.target + "_" + std::to_string(seeds.size()), seed.bytes);
    if (!seed.name.empty()) photos.emplace_back(seed.name, seed.bytes);
  }
  for (const auto& target : containers) write_all(root / target.first, target.second);
  write_all(root / "photos", photos);
  // Names that the file system may refuse are fuzz seeds only.
  for (size_t i = 0; i < photos.size(); ++i) photos[i].first = "photo_" + std::to_string(i);
  write_all(root / "reader", photos);
  write_all(root / "decoder", blocks);

  const std::vector<std::string> names = {"IMG_0001.jpg",
                                          "a,b\"c\r\nd.jpg",
                                          "<&>'\".jpg",
                                          "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7",
                                          "bad \xFF\xC0\xE0\x80\x80 \xED\xA0\x80 \xF4\x90\x80\x80",
                                          "ctl\x01\x1F\t\x7F",
                                          "\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD"};
  std::vector<std::pair<std::string, Bytes>> name_seeds;
  for (const std::string& name : names) {
    name_seeds.emplace_back("name_" + std::to_string(name_seeds.size()), bytes_of(name));
  }
  write_all(root / "names", name_seeds);

  // XMP as Lightroom (attributes), ExifTool (elements) and DJI drones write it, and ISO 6709.
  const std::string rdf =
      "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>"
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
      "xmlns:exif='http://ns.adobe.com/exif/1.0/' "
      "xmlns:drone-dji='http://www.dji.com/drone-dji/1.0/'";
  const std::string end = "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end='w'?>";
  write_all(root / "xmp",
            {{"attributes", bytes_of(rdf +
                                     " exif:GPSLatitude='51,30.4404N' "
                                     "exif:GPSLongitude=\"0,7.656W\" exif:GPSAltitude='71/2' "
                                     "exif:GPSAltitudeRef='1' "
                                     "exif:DateTimeOriginal='2019-06-01T14:03:22.25+02:00'>" +
                                     end)},
             {"elements", bytes_of(rdf +
                                   "><exif:GPSLatitude>51,30,26.4N</exif:GPSLatitude>"
                                   "<exif:GPSLongitude><![CDATA[0,7,39W]]></exif:GPSLongitude>"
                                   "<!-- c --><exif:GPSAltitude>35&#47;1</exif:GPSAltitude>"
                                   "<exif:DateTimeOriginal>2019-06-01T14:03Z"
                                   "</exif:DateTimeOriginal>" +
                                   end)},
             {"drone", bytes_of(rdf +
                                " drone-dji:GpsLatitude='+22.54' drone-dji:GpsLongtitude='+113.9' "
                                "drone-dji:AbsoluteAltitude='-1.5' "
                                "drone-dji:GimbalYawDegree='-90.1'/>" +
                                end.substr(18))},
             {"iso6709", bytes_of("+37.3349-122.0090+013.575/")},
             {"iso6709_dms", bytes_of("+401213.1-0750015.12CRSWGS_84/")}});
  write_all(root / "takeout",
            {{"export", bytes_of(R"({"title": "IMG_4081.JPG", "description": "", "imageViews": "1",
  "creationTime": {"timestamp": "1560100000", "formatted": "9 Jun 2019, 17:06:40 UTC"},
  "photoTakenTime": {"timestamp": "1560074400", "formatted": "9 Jun 2019, 10:00:00 UTC"},
  "geoData": {"latitude": 48.85837, "longitude": 2.29448, "altitude": 35.2,
              "latitudeSpan": 0.0, "longitudeSpan": 0.0},
  "geoDataExif": {"latitude": 0.0, "longitude": 0.0, "altitude": 0.0},
  "people": [{"name": "A"}], "url": "https://photos.google.com/photo/x",
  "googlePhotosOrigin": {"mobileUpload": {"deviceType": "IOS_PHONE"}}})")},
             {"zero", bytes_of(R"({"geoData": {"latitude": 0.0, "longitude": 0.0, "altitude": 0.0},
  "photoTakenTime": {"timestamp": -86400}})")}});
  // The names, and the documents each writer makes under them, this version's and pinreel 1.1's.
  std::vector<std::pair<std::string, Bytes>> marks = name_seeds;
  ImageMetadata metadata{};
  metadata.has_exif = metadata.has_gps_latitude = metadata.has_gps_longitude = true;
  metadata.gps_latitude_ref[0] = 'N';
  metadata.gps_longitude_ref[0] = 'W';
  metadata.gps_latitude[0] = 51;
  metadata.gps_altitude = 35;
  for (const std::string& name : {names[0], names[1]}) {
    for (const char* output : {"x.csv", "x.kml", "x.kmz", "x.gpx", "x.geojson", "x.html"}) {
      Photo photo{name.c_str(), name.c_str(), &metadata, {}};
      position_of(metadata, photo.position);
      std::string document = platform::capture([&](FILE* out) {
        const std::unique_ptr<Writer> writer = make_writer(output, out, true);
        writer->begin(name.c_str());
        writer->photo(photo);
        writer->end();
      });
      marks.emplace_back("mark_" + std::to_string(marks.size()), bytes_of(document));
      const size_t generator = document.find("\"generator\"");
      if (generator != std::string::npos) {
        document.erase(generator, document.find(',', generator) + 1 - generator);
        marks.emplace_back("mark_" + std::to_string(marks.size()), bytes_of(document));
      }
    }
  }
  const std::string archive_11 = platform::capture([](FILE* out) {
    std::string kml;
    append_kml_header(kml, "x.kmz");
    append_placemark(kml, "a.jpg", "2.000000,1.000000", nullptr, "images/0001.jpg");
    append_kml_footer(kml);
    Deflater deflater;
    deflater.add(kml);
    deflater.finish();
    ZipWriter zip(out);
    zip.add_stored("images/0001.jpg", reinterpret_cast<const uint8_t*>("\xFF\xD8\xFF\xD9"), 4);
    zip.add_deflated("doc.kml", deflater.data(), deflater.crc(), deflater.size());
    zip.finish();
  });
  marks.emplace_back("mark_archive_11", bytes_of(archive_11));
  write_all(root / "marks", marks);

  // Operations: 5n insert, 5n+1 insert a null value, 5n+2 look up, 5n+3 insert n keys, 5n+4
  // check the layout; the first byte is the capacity.
  write_all(root / "string_table",
            {{"duplicates", {16,  0,   3,   'k', 'e', 'y', 0, 3, 'k', 'e', 'y', 2,   3,
                             'k', 'e', 'y', 1,   1,   'x', 2, 1, 'x', 2,   1,   'X', 4}},
             {"growth", {0, 5 * 40 + 3, 4, 2, 2, '1', '7', 5 * 20 + 3, 4}},
             {"wrap", {7, 0, 1, 'a', 0, 1, 'h', 0, 1, 'o', 0, 1, 'v', 4, 2, 1, 'v', 2, 1, 'w'}}});
  return 0;
}
