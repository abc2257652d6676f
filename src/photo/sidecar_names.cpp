// Sidecar files found by name: the candidate names of a photo's sidecars, and the index of a
// folder listing's sidecars that a lookup probes with them.
#include <algorithm>
#include <cstring>

#include "photo/photo.h"

namespace {

// Google's limit on a JSON file's whole name, and what a cut name keeps before ".json".
constexpr size_t kJsonNameLimit = 51;
constexpr size_t kJsonKept = kJsonNameLimit - 5;
constexpr char kSupplemental[] = ".supplemental-metadata";
// Candidates are made in a buffer on the stack; a longer photo name (no file system allows one)
// has none.
constexpr size_t kMaxPhotoName = 1024;

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool equal_folded(const char* a, const char* b, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool ends_with_folded(const char* name, size_t length, const char* ending) {
  const size_t size = std::strlen(ending);
  return length >= size && equal_folded(name + length - size, ending, size);
}

// FNV-1a over the folded bytes.
uint32_t hash_folded(const char* name, size_t length) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<unsigned char>(fold(name[i]))) * 16777619u;
  }
  return hash;
}

bool is_sidecar(const char* name, size_t length) {
  return ends_with_folded(name, length, ".xmp") || ends_with_folded(name, length, ".json");
}

// Unicode code points in UTF-8 text: the bytes that do not continue a sequence.
size_t characters(const char* text, size_t size) {
  size_t count = 0;
  for (size_t i = 0; i < size; ++i) count += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
  return count;
}

// The bytes of the first `limit` characters of `text`.
size_t cut_at(const char* text, size_t size, size_t limit) {
  size_t count = 0;
  for (size_t i = 0; i < size; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == limit) return i;
  }
  return size;
}

struct Piece {
  const char* data;
  size_t size;
};

// The length of a duplicate counter "(n)" at the end of `stem`; 0 when there is none.
size_t counter_length(const char* stem, size_t size) {
  if (size < 3 || stem[size - 1] != ')') return 0;
  size_t i = size - 1;
  while (i > 0 && stem[i - 1] >= '0' && stem[i - 1] <= '9') --i;
  return i > 0 && i < size - 1 && stem[i - 1] == '(' ? size - i + 1 : 0;
}

// Calls visit(kind, name, size) with each candidate sidecar name of the photo `photo` in order
// of precedence (see photo.h), until visit returns true. The name lives in a buffer on the stack.
template <class Visit>
void for_each_candidate(const char* photo, size_t length, Visit&& visit) {
  if (length == 0 || length > kMaxPhotoName) return;
  char name[kMaxPhotoName + sizeof kSupplemental + 8];
  size_t size = 0;
  const auto append = [&](Piece piece) {
    std::memcpy(name + size, piece.data, piece.size);
    size += piece.size;
  };
  const auto finish = [&](SidecarKind kind, Piece ending) {
    append(ending);
    name[size] = '\0';
    return visit(kind, static_cast<const char*>(name), size);
  };

  // The extension starts at the last dot; ".hidden" has none.
  size_t stem = length;
  while (stem > 0 && photo[stem - 1] != '.') --stem;
  stem = stem > 1 ? stem - 1 : length;
  size = 0;
  append({photo, length});
  if (finish(SidecarKind::kXmp, {".xmp", 4})) return;
  if (stem < length) {
    size = 0;
    append({photo, stem});
    if (finish(SidecarKind::kXmp, {".xmp", 4})) return;
  }

  // The titles: the name as it is, then without its counter, which moves to the end.
  const size_t counter = counter_length(photo, stem);
  for (int moved = 0; moved < (counter > 0 ? 2 : 1); ++moved) {
    const Piece base{photo, moved ? stem - counter : stem};
    const Piece moved_counter = moved ? Piece{photo + stem - counter, counter} : Piece{"", 0};
    const Piece extension{photo + stem, length - stem};
    const size_t title_characters =
        characters(base.data, base.size) + characters(extension.data, extension.size);
    for (const Piece suffix : {Piece{kSupplemental, sizeof kSupplemental - 1}, Piece{"", 0}}) {
      // A title of 46 characters or more is cut to the same name with either suffix.
      if (suffix.size == 0 && title_characters >= kJsonKept) break;
      size = 0;
      append(base);
      append(extension);
      append(suffix);
      const size_t whole = size;
      size = cut_at(name, whole, kJsonKept);
      const size_t first_cut = size;
      append(moved_counter);
      if (finish(SidecarKind::kGoogleJson, {".json", 5})) return;
      if (moved_counter.size == 0 || moved_counter.size >= kJsonKept) continue;
      // The cut that keeps the whole name, counter included, at 51 characters.
      size = cut_at(name, whole, kJsonKept - moved_counter.size);
      if (size == first_cut) continue;
      append(moved_counter);
      if (finish(SidecarKind::kGoogleJson, {".json", 5})) return;
    }
  }
}

}  // namespace

bool is_sidecar_name(const char* name) {
  return is_sidecar(name, std::strlen(name));
}

std::vector<SidecarCandidate> sidecar_candidates(const char* photo_name) {
  std::vector<SidecarCandidate> candidates;
  for_each_candidate(photo_name, std::strlen(photo_name),
                     [&](SidecarKind kind, const char* name, size_t size) {
                       std::string text(name, size);
                       for (const SidecarCandidate& known : candidates) {
                         if (known.name == text) return false;
                       }
                       candidates.push_back({text, kind});
                       if (kind == SidecarKind::kXmp) {
                         text.replace(size - 4, 4, ".XMP");
                         candidates.push_back({text, kind});
                       }
                       return false;
                     });
  return candidates;
}

void SidecarIndex::clear() {
  names_.clear();
  std::fill(slots_.begin(), slots_.end(), 0u);
  count_ = 0;
}

void SidecarIndex::add(const char* name, size_t length, EntryType type) {
  if (!is_sidecar(name, length)) return;
  names_.push_back(static_cast<char>(type));
  const auto offset = static_cast<uint32_t>(names_.size());
  names_.insert(names_.end(), name, name + length);
  names_.push_back('\0');
  // At most half full: probe runs stay short.
  if (2 * (count_ + 1) > slots_.size()) {
    std::vector<uint32_t> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), 0u);
    for (const uint32_t slot : old) {
      if (slot != 0) insert(slot - 1, std::strlen(names_.data() + slot - 1));
    }
  }
  insert(offset, length);
  ++count_;
}

void SidecarIndex::insert(uint32_t offset, size_t length) {
  const size_t mask = slots_.size() - 1;
  size_t i = hash_folded(names_.data() + offset, length) & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  slots_[i] = offset + 1;
}

const char* SidecarIndex::lookup(const char* name, size_t length) const {
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash_folded(name, length) & mask; slots_[i] != 0; i = (i + 1) & mask) {
    const char* listed = names_.data() + slots_[i] - 1;
    if (std::strlen(listed) == length && equal_folded(listed, name, length)) {
      return listed;
    }
  }
  return nullptr;
}

SidecarIndex::Match SidecarIndex::find(const char* photo_name) const {
  Match match{nullptr, nullptr};
  if (count_ == 0) return match;
  for_each_candidate(photo_name, std::strlen(photo_name),
                     [&](SidecarKind kind, const char* name, size_t size) {
                       const char*& found = kind == SidecarKind::kXmp ? match.xmp : match.json;
                       if (found == nullptr) found = lookup(name, size);
                       return false;
                     });
  return match;
}

bool SidecarIndex::has_sidecar(const char* photo_name) const {
  if (count_ == 0) return false;
  bool found = false;
  for_each_candidate(photo_name, std::strlen(photo_name),
                     [&](SidecarKind, const char* name, size_t size) {
                       found = lookup(name, size) != nullptr;
                       return found;
                     });
  return found;
}
