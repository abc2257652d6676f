// -s: the positions, directions and times of a photo's XMP packet and sidecar files, merged into
// the record read from the photo by their precedence.
#include <algorithm>
#include <iterator>

#include "photo/photo.h"

namespace {

// 0,0 at six decimals is what location stripping leaves: no position from that source.
bool is_position(const DecimalPosition& p) {
  Position scratch;
  return decimal_position(p.latitude, p.longitude, scratch) == PositionKind::kPosition;
}

bool has_own_position(const ImageMetadata& m) {
  Position scratch;
  return position_of(m, scratch) == PositionKind::kPosition;
}

// DJI writes the gimbal's yaw from -180 to 180 degrees; the record's direction runs from 0 to 360.
bool take_gimbal_yaw(ImageMetadata& m, const XmpFields& xmp) {
  if (!xmp.has_gimbal_yaw) return false;
  const double yaw = xmp.gimbal_yaw_degree;
  m.gps_img_direction = static_cast<float>(yaw < 0 ? yaw + 360 : yaw);
  m.has_gps_img_direction = true;
  return true;
}

bool take_date(ImageMetadata& m, const XmpFields& xmp) {
  if (xmp.date_time_original[0] == '\0') return false;
  static_assert(sizeof m.date_time_original == sizeof xmp.date_time_original, "same text");
  static_assert(sizeof m.offset_time_original == sizeof xmp.offset_time_original, "same text");
  std::copy(std::begin(xmp.date_time_original), std::end(xmp.date_time_original),
            m.date_time_original);
  std::copy(std::begin(xmp.offset_time_original), std::end(xmp.offset_time_original),
            m.offset_time_original);
  return true;
}

}  // namespace

PositionOrigin merge_sources(ImageMetadata& m, const XmpFields& embedded,
                             const SidecarFields& sidecars, bool times) {
  PositionOrigin origin{m.position_source, nullptr};
  DecimalPosition p{};
  if (xmp_position(sidecars.xmp, p) && is_position(p)) {
    take_position(m, p, PositionSource::kXmpSidecar);
    origin = {PositionSource::kXmpSidecar, sidecars.xmp_name};
  } else if (sidecars.json.has_position && is_position(sidecars.json.position)) {
    take_position(m, sidecars.json.position, PositionSource::kGoogleJson);
    origin = {PositionSource::kGoogleJson, sidecars.json_name};
  } else if (!has_own_position(m) && xmp_position(embedded, p) && is_position(p)) {
    take_position(m, p, PositionSource::kXmp);
    origin = {PositionSource::kXmp, nullptr};
  }

  if (!m.has_gps_img_direction && !take_gimbal_yaw(m, sidecars.xmp)) take_gimbal_yaw(m, embedded);

  if (times && capture_time(m).stated[0] == '\0' && !take_date(m, embedded) &&
      !take_date(m, sidecars.xmp) && sidecars.json.has_taken_time) {
    m.has_capture_seconds = true;
    m.capture_seconds = sidecars.json.taken_time;
  }
  return origin;
}
