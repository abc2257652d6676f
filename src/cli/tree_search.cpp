// The platform-independent half of the search of -r: the walk over the folders, in the order of
// whole relative paths.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "cli/cli.h"

namespace {

// The folders' own order gives the order of whole paths when a folder's name is taken to end in
// '/': "a-b.jpg" < "a/..." < "a0.jpg". Names hold no '/', so the first difference decides.
bool path_order(const char* a, bool a_folder, const char* b, bool b_folder) {
  size_t i = 0;
  while (a[i] != '\0' && a[i] == b[i]) ++i;
  const unsigned char a_next = a[i] != '\0' ? static_cast<unsigned char>(a[i]) : a_folder ? '/' : 0;
  const unsigned char b_next = b[i] != '\0' ? static_cast<unsigned char>(b[i]) : b_folder ? '/' : 0;
  return a_next < b_next;
}

}  // namespace

// '/' on Windows too, like the rest of the paths in messages.
std::string tree_pattern(const char* argument) {
  std::string pattern = argument;
  if (!has_wildcards(argument) && is_folder(argument)) {
    if (directory_part_length(argument) != pattern.size()) pattern += '/';
    pattern += '*';
  }
  return pattern;
}

TreeSearch::~TreeSearch() {
  while (!levels_.empty()) leave();
}

bool TreeSearch::start(const char* pattern) {
  while (!levels_.empty()) leave();
  const size_t split = directory_part_length(pattern);
  directory_.assign(pattern, split);
  name_pattern_ = pattern + split;
  literal_ = !has_wildcards(name_pattern_.c_str());
  relative_.clear();
  levels_.push_back(new_level());
  list_error_ = 0;
  if (!open_root() || (list_error_ = list_top()) != 0) {
    leave();
    return false;
  }
  return true;
}

void TreeSearch::add_name(const char* name, size_t length, char type) {
  names_.push_back(type);
  offsets_.push_back(static_cast<uint32_t>(names_.size()));
  names_.insert(names_.end(), name, name + length + 1);
}

// On failure the caller leaves the level, which drops what was listed.
int TreeSearch::list_top() {
  if (sidecars_.size() < levels_.size()) sidecars_.resize(levels_.size());
  top_sidecars().clear();
  Level& level = levels_.back();
  int error = list_folder(level);
  if (error == 0 && names_.size() > UINT32_MAX) error = ENOMEM;
  if (error != 0) return error;
  const auto first = offsets_.begin() + static_cast<ptrdiff_t>(level.first);
  auto end = offsets_.end();
  const char* names = names_.data();
  const auto is_file = [names](uint32_t offset) { return names[offset - 1] != kFolder; };
  // A name without wildcards means the file spelled exactly so, when there is one.
  if (literal_ && std::any_of(first, end, [&](uint32_t offset) {
        return is_file(offset) && name_pattern_ == names + offset;
      })) {
    end = std::remove_if(first, end, [&](uint32_t offset) {
      return is_file(offset) && name_pattern_ != names + offset;
    });
    offsets_.erase(end, offsets_.end());
  }
  std::sort(first, end, [names, &is_file](uint32_t a, uint32_t b) {
    return path_order(names + a, !is_file(a), names + b, !is_file(b));
  });
  return 0;
}

bool TreeSearch::next(Entry& entry) {
  while (!levels_.empty()) {
    Level& level = levels_.back();
    if (level.next == offsets_.size()) {
      leave();
      continue;
    }
    if (const int error = folder_handle()) {
      // Closed to save descriptors, and not to be opened again: the rest of it is lost.
      return fail(entry, std::strerror(error));
    }
    const uint32_t offset = offsets_[level.next++];
    if (names_[offset - 1] == kFolder) {
      if (enter(offset, entry)) return true;
      continue;
    }
    set_entry(entry, offset);
    return true;
  }
  return false;
}

// Lists the sub-folder at `offset` of the top level's listing, which becomes the top level.
// True, with `entry` saying why, when it cannot be listed.
bool TreeSearch::enter(uint32_t offset, Entry& entry) {
  ++folder_changes_;
  relative_.append(names_.data() + offset).append(1, '/');
  levels_.push_back(new_level());
  const char* problem = nullptr;
  static_assert(kMaxDepth == 256, "the message names the limit");
  if (levels_.size() - 1 > kMaxDepth) {
    problem = "more than 256 folders deep";
  } else {
    int error = open_folder(offset);
    if (error == 0) error = list_top();
    if (error != 0) problem = std::strerror(error);
  }
  return problem != nullptr && fail(entry, problem);
}

bool TreeSearch::fail(Entry& entry, const char* problem) {
  full_.assign(directory_).append(relative_);
  entry = Entry{{"", full_.c_str() + directory_.size(), full_.c_str()}, problem};
  leave();
  return true;
}

bool TreeSearch::peek(size_t ahead, const char*& name, int& folder, EntryType& type) const {
  if (levels_.empty()) return false;
  const Level& level = levels_.back();
  if (ahead >= offsets_.size() - level.next) return false;
  name = names_.data() + offsets_[level.next + ahead];
  folder = level.fd;
  type = name[-1] == kFolder ? EntryType::kOther : static_cast<EntryType>(name[-1]);
  return true;
}

void TreeSearch::leave() {
  ++folder_changes_;
  Level& level = levels_.back();
  close_folder(level);
  names_.resize(level.names_size);
  offsets_.resize(level.first);
  levels_.pop_back();
  relative_.resize(levels_.empty() ? 0 : levels_.back().relative_length);
}

void TreeSearch::set_entry(Entry& entry, uint32_t offset) {
  const char* name = names_.data() + offset;
  full_.assign(directory_).append(relative_).append(name);
  entry.photo.name = full_.c_str() + directory_.size();
  entry.photo.path = full_.c_str();
  entry.photo.type = static_cast<EntryType>(name[-1]);
  entry.photo.bare_name = full_.c_str() + full_.size() - std::strlen(name);
  entry.photo.sidecars = &top_sidecars();
  entry.problem = nullptr;
  set_open_path(entry, name);
}
