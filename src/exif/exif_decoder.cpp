// The EXIF decoder: TIFF header, directories and the tags that fill the record.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "exif/exif_reader.h"

namespace {

// EXIF APP1 payload: "Exif\0\0" (6), then the TIFF block:
//   0 byte order "II"/"MM" (2)  2 the number 42 (2)  4 first-directory offset (4)  8 first
//   directory
constexpr uint32_t kIdentifierSize = 6;
constexpr uint32_t kTiffHeaderSize = 8;
// Directory: count (2), entries of 12 bytes, next-directory offset (4).
// Entry: tag (2), format (2), element count (4), value or value offset (4).
constexpr uint32_t kEntrySize = 12;

constexpr uint32_t kMagicOlympus = 0x4F52;   // "RO" little-endian, "OR" big-endian
constexpr uint32_t kMagicOlympusS = 0x5352;  // "RS"
constexpr uint32_t kMagicPanasonic = 0x55;
// A directory with its values: a GPS directory and the values it points at take a few hundred
// bytes; cameras write them right after it.
constexpr uint64_t kDirectorySpan = 4096;

constexpr int kKindFirst = 0;
constexpr uint32_t kTagExifPointer = 34665;
constexpr uint32_t kTagGpsPointer = 34853;
constexpr uint32_t kTagInteropPointer = 40965;
// XMLPacket: a TIFF-based file's XMP packet, in its first directory.
constexpr uint32_t kTagXmp = 700;

// Codes 0 to 12 of TIFF 6.0, and 13 (IFD), an offset of a sub-directory read as LONG.
constexpr uint32_t kMaxFormat = 13;
constexpr uint32_t kElementSize[kMaxFormat + 1] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

// ln 2 as the formulas for shutter speed and aperture take it: rounded to single precision.
const double kLn2 = static_cast<double>(static_cast<float>(std::log(2.0)));

float to_single(double value) {
  return static_cast<float>(value);
}

// Resolution-unit code to inches per unit; false for codes outside 1-5.
bool unit_scale(int32_t code, float& scale) {
  switch (code) {
    case 1:
    case 2:
      scale = 1.0f;
      return true;
    case 3:
      scale = to_single(1.0 / 2.54);
      return true;
    case 4:
      scale = to_single(1.0 / 25.4);
      return true;
    case 5:
      scale = to_single(1.0 / 25400.0);
      return true;
    default:
      return false;
  }
}

// The tags whose values apply_gps_tag and apply_main_tag read (keep them in step): an entry of
// another tag is never worth a read of its value from elsewhere in the file.
bool uses_value(int kind, uint32_t tag) {
  static const uint16_t kGpsTags[] = {0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 29, 31};
  if (kind == static_cast<int>(kTagGpsPointer)) {
    return std::binary_search(std::begin(kGpsTags), std::end(kGpsTags), tag);
  }
  static const uint16_t kMainTags[] = {
      271,   272,   274,   282,   283,   296,   513,   514,   33434, 33437, 34665, 34850, 34853,
      34855, 36864, 36867, 36881, 37122, 37377, 37378, 37379, 37380, 37381, 37382, 37383, 37384,
      37385, 37386, 37510, 40961, 40962, 40963, 40965, 41486, 41487, 41488, 41495, 41990};
  return std::binary_search(std::begin(kMainTags), std::end(kMainTags), tag);
}

}  // namespace

int32_t saturate_to_int32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

int32_t ExifReader::read_s32(const BoundedBytes& block, uint64_t offset) const {
  const uint32_t bits = read_u32(block, offset);
  int32_t value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double ExifReader::convert_value(const BoundedBytes& block, uint64_t offset,
                                 uint32_t format) const {
  switch (format) {
    case 1:
      return block.byte_at(offset);
    case 3:
      return read_u16(block, offset);
    case 4:
    case 13:
      return read_u32(block, offset);
    case 5: {
      const uint32_t denominator = read_u32(block, offset + 4);
      if (denominator == 0) return 0.0;
      return static_cast<double>(read_u32(block, offset)) / denominator;
    }
    case 10: {
      const int32_t denominator = read_s32(block, offset + 4);
      if (denominator == 0) return 0.0;
      return static_cast<double>(read_s32(block, offset)) / denominator;
    }
    case 6:
      return static_cast<int8_t>(block.byte_at(offset));
    case 8:
      return static_cast<int16_t>(read_u16(block, offset));
    case 9:
      return read_s32(block, offset);
    case 11: {
      const uint32_t bits = read_u32(block, offset);
      float value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    case 12: {
      const uint64_t low = read_u32(block, offset + (big_endian_ ? 4 : 0));
      const uint64_t high = read_u32(block, offset + (big_endian_ ? 0 : 4));
      const uint64_t bits = (high << 32) | low;
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    default:  // 0 (none), 2 (ASCII), 7 (UNDEFINED)
      return 0.0;
  }
}

bool ExifReader::process_exif(uint8_t* payload, int32_t length) {
  if (length < 2 || static_cast<uint32_t>(length - 2) < kIdentifierSize ||
      std::memcmp(payload, "Exif\0\0", kIdentifierSize) != 0) {
    clear_block_fields();
    return false;
  }
  BoundedBytes block(payload + kIdentifierSize,
                     static_cast<uint32_t>(length - 2) - kIdentifierSize);
  return decode_tiff(block, TiffKind::kExif);
}

void ExifReader::clear_block_fields() {
  metadata_->flash_fired = 0;
  metadata_->comment[0] = '\0';
  largest_dimension_ = 0;
}

bool ExifReader::decode_tiff(BoundedBytes& block, TiffKind kind) {
  ImageMetadata& m = *metadata_;
  clear_block_fields();

  if (!block.contains(0, kTiffHeaderSize)) return false;
  if (block.byte_at(0) == 'I' && block.byte_at(1) == 'I') {
    big_endian_ = 0;
  } else if (block.byte_at(0) == 'M' && block.byte_at(1) == 'M') {
    big_endian_ = 1;
  } else {
    return false;
  }
  const uint32_t magic = read_u16(block, 2);
  // Olympus raw files ("IIRO", "IIRS", "MMOR") and Panasonic's (magic 0x55) change only the magic.
  const bool file_magic =
      magic == kMagicOlympus || magic == kMagicOlympusS || magic == kMagicPanasonic;
  if (magic != 42 && !(kind == TiffKind::kFile && file_magic)) return false;
  // The first directory may lie anywhere after the header.
  const uint32_t first_offset = read_u32(block, 4);
  if (first_offset < kTiffHeaderSize) return false;

  walk_depth_ = 0;
  walks_left_ = kMaxDirectoryWalks;
  const int first_kind = kind == TiffKind::kGps ? static_cast<int>(kTagGpsPointer) : kKindFirst;
  if (!enter_directory(block, first_offset, first_kind)) return false;

  if (m.focal_plane_x_res != 0) {
    m.sensor_width = to_single(static_cast<double>(largest_dimension_) * m.focal_plane_unit_scale /
                               m.focal_plane_x_res);
  }
  return true;
}

// Guards the recursion: a directory already on the walk path, one nested too deep, or one past
// the block's walk budget is not entered, and counts as a failed walk.
bool ExifReader::enter_directory(BoundedBytes& block, uint32_t offset, int kind) {
  if (walk_depth_ >= kMaxDirectoryDepth || walks_left_ <= 0) return false;
  for (int i = 0; i < walk_depth_; ++i) {
    if (walk_path_[i] == offset) return false;
  }
  --walks_left_;
  // In a TIFF-based file the first directory, the EXIF directory (the capture time) and a GPS
  // directory are read from a window of their own when the current one does not hold them with
  // room for their values. Other directories are read only where they lie in the current window.
  const bool own_window =
      window_input_ != nullptr &&
      (walk_depth_ == 0 || kind == static_cast<int>(kTagGpsPointer) ||
       kind == static_cast<int>(kTagExifPointer)) &&
      !block.contains(offset, offset < window_file_size_
                                  ? std::min<uint64_t>(kDirectorySpan, window_file_size_ - offset)
                                  : kDirectorySpan);
  walk_path_[walk_depth_++] = offset;
  const bool ok = own_window ? walk_in_window(offset, kind) : walk_directory(block, offset, kind);
  --walk_depth_;
  return ok;
}

bool ExifReader::walk_directory(BoundedBytes& block, uint32_t offset, int kind) {
  if (!block.contains(offset, 2)) return false;
  const uint32_t count = read_u16(block, offset);
  const uint64_t entries = uint64_t{offset} + 2;
  const uint8_t* table = block.window(entries, uint64_t{kEntrySize} * count);
  if (table == nullptr) return false;
  const bool big_endian = big_endian_ != 0;

  // A thumbnail belongs to the directory whose own entries name both its offset and length.
  int64_t thumb_offset = 0;
  int64_t thumb_length = 0;

  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = entries + uint64_t{kEntrySize} * i;
    const uint8_t* fields = table + kEntrySize * i;
    const uint32_t tag = decode_u16(fields, big_endian);
    const uint32_t format = decode_u16(fields + 2, big_endian);
    const uint32_t elements = decode_u32(fields + 4, big_endian);
    // An entry that cannot be used is passed over: edited photos often carry one broken entry,
    // and the rest of the directory is still good.
    if (format > kMaxFormat) continue;

    const uint64_t byte_count = uint64_t{elements} * kElementSize[format];
    if (tag == kTagXmp && byte_count > 4 && walk_depth_ == 1 && kind == kKindFirst &&
        window_input_ != nullptr && wants_xmp()) {
      // Read once the walk is done: a packet is often larger than a window.
      xmp_extent_ = {decode_u32(fields + 8, big_endian), byte_count};
    }
    uint64_t value_offset = entry + 8;
    BoundedBytes* values = &block;
    if (byte_count > 4) {
      value_offset = decode_u32(fields + 8, big_endian);
      if (!block.contains(value_offset, byte_count)) {
        // In a TIFF-based file the value may lie outside the directory's window.
        values = window_input_ != nullptr && uses_value(kind, tag)
                     ? far_value(value_offset, byte_count)
                     : nullptr;
        if (values == nullptr) continue;
      }
    }

    if (kind == static_cast<int>(kTagGpsPointer)) {
      apply_gps_tag(*values, tag, format, value_offset, byte_count);
    } else {
      apply_main_tag(*values, tag, format, value_offset, byte_count, thumb_offset, thumb_length);
    }

    if (tag == kTagExifPointer || tag == kTagGpsPointer || tag == kTagInteropPointer) {
      // A sub-directory that fails keeps what it found; this directory goes on.
      enter_directory(block, read_u32(*values, value_offset), static_cast<int>(tag));
    }
  }

  // A link outside the block ends the chain.
  const uint32_t next = read_u32(block, entries + uint64_t{kEntrySize} * count);
  if (next != 0) enter_directory(block, next, kKindFirst);

  if (thumb_offset != 0 && thumb_length != 0) {
    const uint64_t start = static_cast<uint32_t>(thumb_offset);
    const uint64_t length = static_cast<uint32_t>(thumb_length);
    if (block.contains(start, length)) {
      metadata_->thumbnail = block.address_of(start);
      metadata_->thumbnail_length = static_cast<int32_t>(thumb_length);
    }
  }
  return true;
}

void ExifReader::apply_main_tag(BoundedBytes& block, uint32_t tag, uint32_t format,
                                uint64_t value_offset, uint64_t byte_count, int64_t& thumb_offset,
                                int64_t& thumb_length) {
  ImageMetadata& m = *metadata_;
  const auto number = [&] { return convert_value(block, value_offset, format); };
  const auto integer = [&] { return saturate_to_int32(number()); };
  const auto single = [&] { return to_single(number()); };

  switch (tag) {
    case 271:
      block.copy_text(m.camera_make, 0, value_offset, 31);
      break;
    case 272:
      block.copy_text(m.camera_model, 0, value_offset, 39);
      break;
    case 274:
      m.orientation = integer();
      m.orientation_format = static_cast<int32_t>(format);
      break;
    case 282:
      m.x_resolution = single();
      break;
    case 283:
      m.y_resolution = single();
      break;
    case 296:
      unit_scale(integer(), m.resolution_unit_scale);
      break;
    case 513:
      thumb_offset = integer();
      break;
    case 514:
      thumb_length = integer();
      break;
    case 33434:
      m.exposure_time = single();
      break;
    case 33437:
      m.f_number = single();
      break;
    case 34850:
      m.exposure_program = integer();
      break;
    case 34855: {
      const int64_t iso = integer();
      m.iso_speed = iso < 50 ? saturate_to_int32(static_cast<double>(iso * 200)) : int32_t(iso);
      break;
    }
    case 36864:
      block.copy_text(m.exif_version, 0, value_offset, 4);
      break;
    case 36867:
      block.copy_text(m.date_time_original, 0, value_offset, 19);
      break;
    case 36881:
      block.copy_text(m.offset_time_original, 0, value_offset, 6);
      break;
    case 37122:
      m.compressed_bpp = integer();
      break;
    case 37377:
      if (m.exposure_time == 0) m.exposure_time = to_single(1.0 / std::exp(kLn2 * number()));
      break;
    case 37378:
    case 37381:
      if (m.f_number == 0) m.f_number = to_single(std::exp(kLn2 * number() * 0.5));
      break;
    case 37379:
      m.brightness = single();
      break;
    case 37380:
      m.exposure_bias = single();
      break;
    case 37382:
      m.subject_distance = single();
      break;
    case 37383:
      m.metering_mode = integer();
      break;
    case 37384:
      m.light_source = integer();
      break;
    case 37385:
      m.flash_fired = (integer() & 7) != 0 ? 1 : 0;
      break;
    case 37386:
      m.focal_length = single();
      break;
    case 37510:
      apply_user_comment(block, value_offset, byte_count);
      break;
    case 40961:
      m.colour_space = integer();
      break;
    case 40962:
    case 40963: {
      const int32_t dimension = integer();
      if (dimension > largest_dimension_) largest_dimension_ = dimension;
      break;
    }
    case 41486:
      m.focal_plane_x_res = single();
      break;
    case 41487:
      m.focal_plane_y_res = single();
      break;
    case 41488:
      unit_scale(integer(), m.focal_plane_unit_scale);
      break;
    case 41495:
      m.sensing_method = integer();
      break;
    case 41990:
      m.scene_capture_type = integer();
      break;
    default:  // 37500 (MakerNote) and unknown tags are passed over
      break;
  }
}

void ExifReader::apply_gps_tag(const BoundedBytes& block, uint32_t tag, uint32_t format,
                               uint64_t value_offset, uint64_t byte_count) {
  ImageMetadata& m = *metadata_;
  // Degrees, minutes and seconds at value offsets 0, 8 and 16, whatever the format and count.
  const auto read_triple = [&](float(&out)[3], double(&exact)[3]) {
    for (unsigned i = 0; i < 3; ++i) {
      exact[i] = convert_value(block, value_offset + 8 * i, format);
      out[i] = to_single(exact[i]);
    }
  };

  switch (tag) {
    case 0:
      for (unsigned i = 0; i < 4; ++i)
        m.gps_version[i] = static_cast<char>(block.byte_at(value_offset + i));
      break;
    case 1:
      block.copy_text(m.gps_latitude_ref, 0, value_offset, 2);
      break;
    case 2:
      read_triple(m.gps_latitude, m.gps_latitude_exact);
      m.has_gps_latitude = true;
      break;
    case 3:
      block.copy_text(m.gps_longitude_ref, 0, value_offset, 2);
      break;
    case 4:
      read_triple(m.gps_longitude, m.gps_longitude_exact);
      m.has_gps_longitude = true;
      break;
    case 5:
      m.gps_altitude_ref = saturate_to_int32(convert_value(block, value_offset, format));
      break;
    case 6: {
      // -12 m written as 4294967284/1 reads as 4 million kilometres: such a value, or one that is
      // not a number, is no altitude.
      const double altitude = convert_value(block, value_offset, format);
      const bool fits = altitude >= -2147483648.0 && altitude < 2147483648.0;
      m.gps_altitude_state = fits ? AltitudeState::kRecorded : AltitudeState::kUnfit;
      m.gps_altitude = fits ? static_cast<int32_t>(altitude) : 0;
      m.gps_altitude_exact = fits ? altitude : 0;
      break;
    }
    case 7:
      // Kept as fractions: a time must be exact or none, and a zero denominator makes it none.
      m.has_gps_time_stamp = format == 5 && byte_count == 24;
      for (unsigned i = 0; m.has_gps_time_stamp && i < 6; ++i)
        m.gps_time_stamp[i] = read_u32(block, value_offset + 4 * i);
      break;
    case 16:
      block.copy_text(m.gps_img_direction_ref, 0, value_offset, 1);
      break;
    case 17:
    case 31: {
      // One RATIONAL; a zero denominator is no value rather than 0 degrees or metres.
      const bool known = format == 5 && byte_count >= 8 && read_u32(block, value_offset + 4) != 0;
      const float value = known ? to_single(convert_value(block, value_offset, format)) : 0.0f;
      (tag == 17 ? m.has_gps_img_direction : m.has_gps_h_positioning_error) = known;
      (tag == 17 ? m.gps_img_direction : m.gps_h_positioning_error) = value;
      break;
    }
    case 29:
      block.copy_text(m.gps_date_stamp, 0, value_offset, 10);
      break;
    default:
      break;
  }
}

// UserComment: an 8-byte character-code prefix, then the text. Trailing spaces are cleared in
// the stored segment; an "ASCII" prefix is skipped up to the first byte that is neither NUL nor
// a space within positions 5 to 9.
void ExifReader::apply_user_comment(BoundedBytes& block, uint64_t value_offset,
                                    uint64_t byte_count) {
  // The walk has checked that the value lies inside the block (or inside its entry).
  if (uint8_t* value = block.window(value_offset, byte_count)) {
    for (uint64_t i = byte_count; i > 0 && value[i - 1] == ' '; --i) value[i - 1] = 0;
  }
  char prefix[6] = {};
  block.copy_text(prefix, 0, value_offset, 5);
  if (std::memcmp(prefix, "ASCII", 5) != 0) {
    block.copy_text(metadata_->comment, 0, value_offset, 199);
    return;
  }
  for (uint64_t position = 5; position <= 9; ++position) {
    const uint8_t byte = block.byte_at(value_offset + position);
    if (byte != 0 && byte != ' ') {
      block.copy_text(metadata_->comment, 0, value_offset + position, 199);
      return;
    }
  }
}
