// HEIF and AVIF files: the meta box's item information, references and locations say where the
// primary image's Exif item and XMP item lie, in the file or in the idat box.
#include <cstdint>
#include <initializer_list>

#include "exif/exif_reader.h"

namespace {

// Pieces of one HEIF item; later ones are left out of the block.
constexpr int kMaxExtents = 64;
// Exif items of a HEIF file that are looked at.
constexpr int kMaxExifItems = 16;

// The IDs of the unprotected items of type 'Exif' in an iinf box, in order (infe versions 2 and
// 3; earlier ones have no item type), and of those that hold XMP: type 'mime' with the content
// type below and no content encoding. A file with several images may have one of each for each.
struct ExifItems {
  uint64_t ids[kMaxExifItems];
  int count = 0;
  uint64_t xmp_ids[kMaxExifItems];
  int xmp_count = 0;
};

constexpr char kXmpContentType[] = "application/rdf+xml";

// Passes over a NUL-terminated string of the cursor's box; with `expected`, true when it equals
// that text.
bool take_string(Cursor& c, const char* expected = nullptr) {
  bool equal = true;
  for (size_t i = 0;; ++i) {
    const uint64_t byte = c.field(1);
    if (!c.ok()) return false;
    if (expected != nullptr) equal = equal && byte == static_cast<uint8_t>(expected[i]);
    if (byte == 0) return equal;
    if (expected != nullptr && !equal) expected = nullptr;
  }
}

void find_exif_items(Input& input, const Box& iinf, bool xmp, ExifItems& items) {
  Cursor c(input, iinf.begin, iinf.end);
  const uint64_t version = c.field(1);
  c.skip(3);
  c.skip(version == 0 ? 2 : 4);  // the entry count: the boxes themselves are walked
  if (!c.ok()) return;
  for_each_box(input, c.position(), iinf.end, [&](const Box& infe) {
    if (infe.type != four_cc("infe")) return true;
    Cursor e(input, infe.begin, infe.end);
    const uint64_t infe_version = e.field(1);
    e.skip(3);
    if (infe_version < 2 || infe_version > 3) return true;
    const uint64_t item = e.field(infe_version == 2 ? 2 : 4);
    const uint64_t protection = e.field(2);
    const uint64_t type = e.field(4);
    if (protection != 0 || !e.ok()) return true;
    if (type == four_cc("Exif") && items.count < kMaxExifItems) {
      items.ids[items.count++] = item;
    } else if (xmp && type == four_cc("mime") && items.xmp_count < kMaxExifItems &&
               take_string(e) && take_string(e, kXmpContentType) &&
               (e.remaining() == 0 || take_string(e, ""))) {
      items.xmp_ids[items.xmp_count++] = item;
    }
    return items.count < kMaxExifItems || (xmp && items.xmp_count < kMaxExifItems);
  });
}

// The ID in a pitm box (a full box): 16 bits in version 0, else 32.
bool read_primary_item(Input& input, const Box& pitm, uint64_t& id) {
  Cursor c(input, pitm.begin, pitm.end);
  const uint64_t version = c.field(1);
  c.skip(3);
  id = c.field(version == 0 ? 2 : 4);
  return c.ok();
}

// The item of `ids` that a cdsc reference of an iref box links to the primary item. iref (a full
// box) holds one box per reference type: from-item ID, a 16-bit count, the to-item IDs; IDs are
// 16 bits in version 0, else 32.
bool find_primary_item(Input& input, const Box& iref, uint64_t primary, const uint64_t* ids,
                       int count, uint64_t& id) {
  Cursor c(input, iref.begin, iref.end);
  const unsigned id_size = c.field(1) == 0 ? 2 : 4;
  c.skip(3);
  if (!c.ok()) return false;
  bool found = false;
  for_each_box(input, c.position(), iref.end, [&](const Box& reference) {
    if (reference.type != four_cc("cdsc")) return true;
    Cursor r(input, reference.begin, reference.end);
    const uint64_t from = r.field(id_size);
    bool listed = false;
    for (int i = 0; i < count; ++i) listed = listed || ids[i] == from;
    for (uint64_t i = 0, n = r.field(2); listed && i < n && r.ok() && !found; ++i) {
      found = r.field(id_size) == primary && r.ok();
    }
    if (found) id = from;
    return !found;
  });
  return found;
}

struct ItemLocation {
  uint64_t method = 0;               // 0: in the file, 1: in the idat box
  Extent extents[kMaxExtents] = {};  // a length of 0: to the end of the data
  int count = 0;
};

// Where item `id` lies, from an iloc box of version 0 to 2. Items stored by reference to another
// item or in another file are not read.
bool locate_item(Input& input, const Box& iloc, uint64_t id, ItemLocation& where) {
  Cursor c(input, iloc.begin, iloc.end);
  const uint64_t version = c.field(1);
  c.skip(3);
  const uint64_t sizes = c.field(2);
  const unsigned offset_size = static_cast<unsigned>(sizes >> 12);
  const unsigned length_size = static_cast<unsigned>(sizes >> 8 & 15);
  const unsigned base_offset_size = static_cast<unsigned>(sizes >> 4 & 15);
  const unsigned index_size = version >= 1 ? static_cast<unsigned>(sizes & 15) : 0;
  for (unsigned size : {offset_size, length_size, base_offset_size, index_size}) {
    if (size != 0 && size != 4 && size != 8) return false;
  }
  if (!c.ok() || version > 2) return false;
  const unsigned id_size = version < 2 ? 2 : 4;
  const uint64_t items = c.field(id_size);
  const uint64_t extent_size = index_size + offset_size + length_size;
  for (uint64_t i = 0; i < items && i < kMaxEntries && c.ok(); ++i) {
    const uint64_t item = c.field(id_size);
    const uint64_t method = version >= 1 ? c.field(2) & 15 : 0;
    const uint64_t data_reference = c.field(2);
    const uint64_t base = c.field(base_offset_size);
    const uint64_t extents = c.field(2);
    if (item != id) {
      c.skip(extents * extent_size);
      continue;
    }
    if (method > 1 || data_reference != 0) return false;
    where.method = method;
    for (uint64_t e = 0; e < extents && c.ok(); ++e) {
      c.skip(index_size);
      const uint64_t offset = c.field(offset_size);
      const uint64_t length = c.field(length_size);
      if (offset > UINT64_MAX - base) return false;
      if (where.count < kMaxExtents) where.extents[where.count++] = {base + offset, length};
    }
    return c.ok() && where.count > 0;
  }
  return false;
}

}  // namespace

bool read_heif(Input& input, ExifReader& reader) {
  const uint64_t file_end = input.size();
  Box ftyp;
  if (!read_box(input, 0, file_end, ftyp)) return false;
  // meta (a full box): iinf names the Exif items, iref links one to the primary item that pitm
  // names, iloc says where it lies, perhaps in idat.
  Box meta, iinf, iloc, idat, pitm, iref;
  bool has_iinf = false, has_iloc = false, has_idat = false, has_pitm = false, has_iref = false;
  if (!find_box(input, ftyp.end, file_end, four_cc("meta"), meta) || meta.end - meta.begin < 4) {
    return false;
  }
  const struct {
    uint32_t type;
    Box* box;
    bool* seen;
  } wanted[] = {{four_cc("iinf"), &iinf, &has_iinf},
                {four_cc("iloc"), &iloc, &has_iloc},
                {four_cc("idat"), &idat, &has_idat},
                {four_cc("pitm"), &pitm, &has_pitm},
                {four_cc("iref"), &iref, &has_iref}};
  for_each_box(input, meta.begin + 4, meta.end, [&](const Box& box) {
    for (const auto& w : wanted) {
      if (box.type == w.type && !*w.seen) {
        *w.box = box;
        *w.seen = true;
      }
    }
    return true;
  });
  ExifItems items;
  if (has_iinf) find_exif_items(input, iinf, reader.wants_xmp(), items);
  if (!has_iloc) return false;
  uint64_t primary = 0;
  const bool has_primary = has_pitm && has_iref && read_primary_item(input, pitm, primary);
  // The primary image's item of each kind; the first one when no reference names the primary.
  const auto locate = [&](const uint64_t* ids, int count, ItemLocation& where) {
    uint64_t id = ids[0];
    if (has_primary) find_primary_item(input, iref, primary, ids, count, id);
    if (!locate_item(input, iloc, id, where) || (where.method == 1 && !has_idat)) return false;
    // The extents, each inside the file or the idat box.
    const uint64_t data_begin = where.method == 1 ? idat.begin : 0;
    const uint64_t data_size = where.method == 1 ? idat.end - idat.begin : file_end;
    for (int i = 0; i < where.count; ++i) {
      Extent& e = where.extents[i];
      if (e.offset > data_size) return false;
      if (e.length == 0) e.length = data_size - e.offset;
      if (e.length > data_size - e.offset) return false;
      e.offset += data_begin;
    }
    return true;
  };
  ItemLocation where;
  if (items.xmp_count > 0 && locate(items.xmp_ids, items.xmp_count, where)) {
    reader.xmp_pieces(input, where.extents, where.count);
  }
  where = ItemLocation{};
  return items.count > 0 && locate(items.ids, items.count, where) &&
         reader.exif_pieces(input, where.extents, where.count, TiffKind::kExif, true);
}
