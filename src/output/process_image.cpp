// The per-photograph step: read the header, then write its CSV line or placemark.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "exif/exif_reader.h"
#include "output/output.h"

StringTable* duplicate_table = nullptr;

namespace {

// fread takes a payload larger than the buffer straight into the segment's own buffer, so the
// stream buffer serves the markers and the small segments. Of 4, 16, 32 and 64 KiB, 16 KiB
// cost least over folders of camera photos: larger buffers copy more bytes that lie past the
// start of scan, smaller ones make more read calls.
constexpr size_t kStreamBufferSize = 16 * 1024;

// The fields after the name are put together here and written in one call: the C library's
// formatted printing of reals was the largest cost of a CSV line.
void write_csv_line(FILE* out, const char* name, const ImageMetadata& m,
                    const DegreesText& latitude, const DegreesText& longitude) {
  write_csv_name(out, name);
  char line[2 * kDegreesTextSize + 32];
  char* end = line;
  const auto append_degrees = [&end](const DegreesText& degrees) {
    *end++ = ',';
    std::memcpy(end, degrees.text, degrees.length);
    end += degrees.length;
  };
  append_degrees(latitude);
  if (m.gps_longitude_ref[0] != '\0') append_degrees(longitude);
  if (m.gps_altitude_ref != 0 || m.gps_altitude != 0) {
    // Only damaged files store a negative altitude: its sign turns the reference around.
    const int64_t altitude = m.gps_altitude;
    const bool below = (m.gps_altitude_ref != 0) != (altitude < 0);
    *end++ = ',';
    *end++ = below ? '-' : '+';
    end = append_decimal(end, static_cast<uint64_t>(altitude < 0 ? -altitude : altitude));
  }
  *end++ = '\n';
  std::fwrite(line, 1, static_cast<size_t>(end - line), out);
}

// Opens a regular file for reading; anything else is never opened, since opening a FIFO blocks
// and opening a device may act on it. Returns 0, kNotRegularFile or an errno value.
int open_photo(const char* path, EntryType type, FILE*& stream) {
#ifdef _WIN32
  struct _stat64 info;
  if (type != EntryType::kRegular) {
    if (_stat64(path, &info) != 0) return errno;
    if ((info.st_mode & _S_IFMT) != _S_IFREG) return kNotRegularFile;
  }
  errno = 0;
  stream = std::fopen(path, "rb");
  if (stream == nullptr) return errno != 0 ? errno : ENOENT;
  return 0;
#else
  struct stat info;
  if (type != EntryType::kRegular) {
    if (stat(path, &info) != 0) return errno;
    if (!S_ISREG(info.st_mode)) return kNotRegularFile;
  }
  // O_NONBLOCK: should the entry have become a FIFO since it was listed, opening it cannot hang;
  // fstat then turns it away.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    error = kNotRegularFile;
  } else if ((stream = fdopen(fd, "rb")) == nullptr) {
    error = errno;
  }
  if (error != 0) close(fd);
  return error;
#endif
}

}  // namespace

void write_photo(const ImageMetadata& m, const char* name, FILE* kml, FILE* csv) {
  // A photograph without a latitude reference writes nothing at all.
  if (!m.has_exif || m.gps_latitude_ref[0] == '\0') return;
  const bool has_longitude = m.gps_longitude_ref[0] != '\0';
  // Each coordinate is printed once: the CSV line and the key share the text.
  const DegreesText latitude = degrees_text(to_decimal_degrees(
      m.gps_latitude[0], m.gps_latitude[1], m.gps_latitude[2], m.gps_latitude_ref));
  DegreesText longitude = {};
  if (has_longitude) {
    longitude = degrees_text(to_decimal_degrees(m.gps_longitude[0], m.gps_longitude[1],
                                                m.gps_longitude[2], m.gps_longitude_ref));
  }

  // CSV output without a duplicate table never uses the key, so it is not formed there.
  char key[kCoordinateKeyMax + 1] = "";
  const bool has_key = has_longitude && (kml != nullptr || duplicate_table != nullptr) &&
                       join_coordinate_key(key, longitude, latitude);

  if (has_key && duplicate_table != nullptr) {
    if (string_table_lookup(duplicate_table, key) != nullptr) return;
    const size_t size = std::strlen(key) + 1;
    void* value = std::malloc(size);
    if (value == nullptr) std::abort();
    std::memcpy(value, key, size);
    string_table_insert(duplicate_table, key, value);
  }

  if (kml == nullptr) {
    write_csv_line(csv, name, m, latitude, longitude);
  } else if (has_key) {
    write_placemark(kml, name, key);
  }
}

int process_image(const char* path, const char* name, FILE* kml, FILE* csv, EntryType type) {
  if (!has_jpeg_extension(name)) return kNotPhotoName;
  if (type == EntryType::kOther) return kNotRegularFile;
  FILE* stream = nullptr;
  if (const int error = open_photo(path, type, stream)) return error;
  // One buffer serves every photograph: each stream is closed before the next is opened.
  static char buffer[kStreamBufferSize];
  std::setvbuf(stream, buffer, _IOFBF, sizeof buffer);

  ImageMetadata metadata;
  std::memset(&metadata, 0, sizeof metadata);
  ExifReader reader(&metadata);
  errno = 0;
  reader.read_sections(stream);
  const int error = std::ferror(stream) ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(stream);

  write_photo(metadata, name, kml, csv);
  return error;
}
