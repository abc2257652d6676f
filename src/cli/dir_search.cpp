// The platform-independent half of the directory search: the pattern's directory part, and
// the sorted list of names.
#include <algorithm>
#include <cstring>

#include "cli/cli.h"

namespace {

bool is_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

bool has_wildcards(const char* text) {
  return std::strpbrk(text, "*?") != nullptr;
}

// Each '*' need only be retried from the latest one: a later star can absorb whatever an earlier
// one would have.
bool matches_name_pattern(const char* pattern, const char* name) {
  const char* star = nullptr;  // the pattern just after the latest '*'
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = ++pattern;
      resume = name;
    } else if (*pattern != '\0' && (*pattern == '?' || fold(*pattern) == fold(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

size_t directory_part_length(const char* pattern) {
  size_t length = 0;
  for (size_t i = 0; pattern[i] != '\0'; ++i) {
    if (is_separator(pattern[i])) length = i + 1;
  }
  return length;
}

bool DirSearch::start(const char* pattern) {
  names_.clear();
  offsets_.clear();
  position_ = 0;

  const char* name_pattern = pattern + directory_part_length(pattern);
  directory_.assign(pattern, static_cast<size_t>(name_pattern - pattern));

  sidecars_.clear();
  name_pattern_ = name_pattern;
  literal_ = !has_wildcards(name_pattern);
  exact_ = false;
  list_error_ = list_entries(directory_.c_str());
  if (list_error_ != 0) {
    names_.clear();
    offsets_.clear();
    return false;
  }
  const char* names = names_.data();
  std::sort(offsets_.begin(), offsets_.end(),
            [names](uint32_t a, uint32_t b) { return std::strcmp(names + a, names + b) < 0; });
  return !offsets_.empty();
}

bool DirSearch::next_entry(const char*& name, const char*& path, EntryType& type) {
  while (position_ < offsets_.size()) {
    const char* entry = names_.data() + offsets_[position_++];
    if (std::strcmp(entry, ".") == 0 || std::strcmp(entry, "..") == 0) continue;
    name = entry;
    type = static_cast<EntryType>(entry[-1]);
    path = entry;
    if (!directory_.empty()) {
      path_.assign(directory_).append(entry);
      path = path_.c_str();
    }
    return true;
  }
  return false;
}

bool DirSearch::peek(size_t ahead, const char*& name, EntryType& type) const {
  if (ahead >= offsets_.size() - position_) return false;
  name = names_.data() + offsets_[position_ + ahead];
  type = static_cast<EntryType>(name[-1]);
  return true;
}

// A name without wildcards names one entry: the one spelled exactly so, when there is one,
// rather than every entry that differs from it only in case. The listing goes on for the
// sidecars.
void DirSearch::add_listed(const char* name, size_t length, EntryType type) {
  if (type != EntryType::kOther) sidecars_.add(name, length, type);
  if (exact_) return;
  if (literal_ && std::strcmp(name_pattern_, name) == 0) {
    names_.clear();
    offsets_.clear();
    exact_ = true;
    add_name(name, length, type);
  } else if (matches_name_pattern(name_pattern_, name)) {
    add_name(name, length, type);
  }
}

void DirSearch::add_name(const char* name, size_t length, EntryType type) {
  names_.push_back(static_cast<char>(type));
  offsets_.push_back(static_cast<uint32_t>(names_.size()));
  names_.insert(names_.end(), name, name + length + 1);
}
