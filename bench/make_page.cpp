// Writes the HTML map of COUNT made-up photos, through the writer that pinreel uses, without
// reading any: the page's size and how fast a browser shows it do not depend on the photos.
//   make_page COUNT OUTPUT.html
// The photos lie around 300 places across Europe, as a library of trips does; their names are
// the paths below a library's folder, with a time, and one in three has a direction.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "output/output.h"
#include "photo/photo.h"

namespace {

void set_axis(float (&dms)[3], char (&reference)[3], double value, const char* signs) {
  const double magnitude = std::fabs(value);
  dms[0] = static_cast<float>(std::floor(magnitude));
  dms[1] = static_cast<float>(std::floor((magnitude - dms[0]) * 60));
  dms[2] = static_cast<float>((magnitude - dms[0] - dms[1] / 60.0) * 3600);
  reference[0] = signs[value < 0];
  reference[1] = '\0';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_page COUNT OUTPUT.html\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  std::mt19937 random(19);
  std::uniform_real_distribution<double> latitude(36, 64), longitude(-10, 30), unit(0, 1);
  std::normal_distribution<double> spread(0, 0.02);
  double places[300][2];
  for (auto& place : places) place[0] = latitude(random), place[1] = longitude(random);

  HtmlWriter writer(out, argv[2], "", true);
  writer.begin(argv[2]);
  RunContext run{{}, &writer, nullptr, {}};
  for (unsigned long i = 0; i < count; ++i) {
    const double* place = places[i * 300 / (count > 0 ? count : 1)];
    ImageMetadata m;
    std::memset(&m, 0, sizeof m);
    m.has_exif = m.has_gps_latitude = m.has_gps_longitude = true;
    set_axis(m.gps_latitude, m.gps_latitude_ref, place[0] + spread(random), "NS");
    set_axis(m.gps_longitude, m.gps_longitude_ref, place[1] + spread(random), "EW");
    m.gps_altitude = static_cast<int32_t>(unit(random) * 900);
    std::snprintf(m.date_time_original, sizeof m.date_time_original,
                  "20%02lu:%02lu:%02lu 12:%02lu:%02lu", 10 + i * 14 / count, 1 + i % 12, 1 + i % 28,
                  i / 60 % 60, i % 60);
    if (i % 3 == 0) {
      m.has_gps_img_direction = true;
      m.gps_img_direction = static_cast<float>(unit(random) * 360);
      m.gps_img_direction_ref[0] = 'T';
    }
    char name[64], path[80];
    std::snprintf(name, sizeof name, "20%02lu/%02lu/IMG_%05lu.JPG", 10 + i * 14 / count, 1 + i % 12,
                  i % 100000);
    std::snprintf(path, sizeof path, "Photos/%s", name);
    deliver_photo(run, m, name, path);
  }
  writer.end();
  return std::fclose(out) == 0 ? 0 : 1;
}
