// What one photograph's JPEG header says about it, filled by ExifReader.
//
// Plain data, zeroed by its owner before reading: zero stands for absent, and a value of zero
// found in the file looks the same as no value. No writer ever writes the last byte of a text
// array, so every text stays NUL-terminated whatever the file holds.
#pragma once

#include <cstdint>
#include <type_traits>

// What became of a GPSAltitude entry. An altitude whose value does not fit a signed 32-bit
// integer, or is not a finite number, is no altitude at all: not even its reference counts.
enum class AltitudeState : uint8_t { kNone, kRecorded, kUnfit };

// Where a photo's position came from: its EXIF block, or a decimal position taken from elsewhere.
enum class PositionSource : uint8_t { kExif, kXmp, kXmpSidecar, kGoogleJson, kQuickTime };

struct ImageMetadata {
  char exif_version[5];
  char camera_make[32];
  char camera_model[40];
  char date_time_original[20];
  int32_t height;
  int32_t width;
  int32_t orientation;
  int32_t orientation_format;  // TIFF field-type code of the Orientation entry
  int32_t is_colour;           // 1 when the frame has exactly 3 components
  int32_t sof_marker;          // marker code of the frame header (the JPEG coding process)
  int32_t flash_fired;
  float focal_length;
  float exposure_time;  // seconds
  float f_number;
  float subject_distance;
  float sensor_width;  // inches
  float exposure_bias;
  int32_t light_source;
  int32_t metering_mode;
  int32_t exposure_program;
  int32_t iso_speed;
  int32_t compressed_bpp;
  int32_t scene_capture_type;
  int32_t colour_space;
  int32_t sensing_method;
  float focal_plane_x_res;
  float focal_plane_y_res;
  float focal_plane_unit_scale;  // inches per focal-plane resolution unit
  float x_resolution;
  float y_resolution;
  float resolution_unit_scale;  // inches per resolution unit
  float brightness;
  char comment[1024];
  // Points into the reader's buffered EXIF segment: valid only while that reader lives.
  const uint8_t* thumbnail;
  int32_t thumbnail_length;
  char gps_version[5];
  char gps_latitude_ref[3];
  float gps_latitude[3];  // degrees, minutes, seconds
  char gps_longitude_ref[3];
  float gps_longitude[3];    // degrees, minutes, seconds
  int32_t gps_altitude_ref;  // non-zero: below sea level
  int32_t gps_altitude;      // whole metres, truncated toward zero
  bool has_exif;             // an EXIF block of the photo decoded
  // A GPSLatitude or GPSLongitude value was read: a zero coordinate is a value too.
  bool has_gps_latitude;
  bool has_gps_longitude;
  // The rest of the capture time, checked where it is used.
  char offset_time_original[7];  // "+HH:MM", the offset of date_time_original from UTC
  char gps_date_stamp[11];       // "YYYY:MM:DD", UTC
  uint32_t gps_time_stamp[6];    // UTC hours, minutes, seconds: numerator, denominator each
  bool has_gps_time_stamp;       // three RATIONAL values were read
  // The GPS values in double precision, as their rationals give them, for the formats that print
  // them exactly (GPX, GeoJSON); the single-precision fields above serve CSV, KML and the key.
  double gps_latitude_exact[3];
  double gps_longitude_exact[3];
  double gps_altitude_exact;  // metres, sign as stored; valid when kRecorded
  AltitudeState gps_altitude_state;
  // Where the camera looked and how far the position may be off, each with its flag: zero
  // degrees (north) and zero metres are values too. Ranges are checked where they are used.
  char gps_img_direction_ref[2];  // "T" true north, "M" magnetic north
  float gps_img_direction;        // degrees clockwise from that north
  float gps_h_positioning_error;  // metres
  bool has_gps_img_direction;
  bool has_gps_h_positioning_error;
  // A position given as decimal degrees rather than EXIF rationals (a video's location text, XMP,
  // a sidecar file). When set, it is the photo's position, and the EXIF GPS fields are not used.
  bool has_decimal_position;
  bool has_decimal_altitude;
  PositionSource position_source;  // kExif unless a decimal position was taken
  double decimal_latitude;         // degrees, south negative
  double decimal_longitude;        // degrees, west negative
  double decimal_altitude;         // metres, below sea level negative
  // A capture time given as seconds since 1970-01-01 UTC (a video's movie header), for when
  // neither DateTimeOriginal nor the GPS stamps give one.
  bool has_capture_seconds;
  int64_t capture_seconds;
};

static_assert(std::is_trivially_copyable<ImageMetadata>::value, "the record is zeroed with memset");
static_assert(sizeof(bool) == 1, "has_exif is one byte");
