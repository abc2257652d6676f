#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/cli.h"

namespace {

// Folders held open at once; deeper ones are opened again from their parents when the walk comes
// back to them.
constexpr size_t kMaxOpenFolders = 32;

// O_NOFOLLOW: a sub-folder that has become a link since it was listed is not entered.
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

bool is_folder(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The pattern's own folder is followed when it is a link.
bool TreeSearch::open_root() {
  const int fd =
      open(directory_.empty() ? "." : directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    list_error_ = errno;
    return false;
  }
  levels_.back().fd = fd;
  open_folders_ = 1;
  return true;
}

int TreeSearch::open_folder(uint32_t offset) {
  const size_t top = levels_.size() - 1;
  const int fd = openat(levels_[top - 1].fd, names_.data() + offset, kFolderFlags);
  if (fd < 0) return errno;
  levels_[top].fd = fd;
  ++open_folders_;
  // The shallowest folders are the ones the walk needs again last. The root is never closed.
  for (size_t i = 1; i + 1 < top && open_folders_ > kMaxOpenFolders; ++i) {
    close_folder(levels_[i]);
  }
  return 0;
}

void TreeSearch::close_folder(Level& level) {
  if (level.fd < 0) return;
  close(level.fd);
  level.fd = -1;
  --open_folders_;
}

int TreeSearch::folder_handle() {
  const size_t level = levels_.size() - 1;
  if (levels_[level].fd >= 0) return 0;
  size_t open = level;
  while (levels_[open].fd < 0) --open;
  for (size_t i = open + 1; i <= level; ++i) {
    const Level& parent = levels_[i - 1];
    const int fd = openat(parent.fd, names_.data() + offsets_[parent.next - 1], kFolderFlags);
    if (fd < 0) return errno;
    levels_[i].fd = fd;
    ++open_folders_;
  }
  return 0;
}

// Sub-folders are kept whatever their names; files, and links that may lead to one, only when
// they match. Links are never entered, and what is neither file, folder nor link is passed over.
int TreeSearch::list_folder(Level& level) {
  const int copy = duplicate_folder(level.fd);
  if (copy < 0) return errno;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    const int error = errno;
    close(copy);
    return error;
  }
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;  // 0 at the end of the listing
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    int kind = entry->d_type;
    if (kind == DT_UNKNOWN) {
      struct stat info;
      if (fstatat(level.fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        kind = S_ISDIR(info.st_mode)   ? DT_DIR
               : S_ISREG(info.st_mode) ? DT_REG
               : S_ISLNK(info.st_mode) ? DT_LNK
                                       : DT_FIFO;
      } else {
        kind = DT_LNK;  // looked at again when it is opened
      }
    }
    if (kind == DT_DIR) {
      add_name(name, std::strlen(name), kFolder);
      continue;
    }
    if (kind != DT_REG && kind != DT_LNK) continue;
    const EntryType type = kind == DT_REG ? EntryType::kRegular : EntryType::kUnknown;
    top_sidecars().add(name, std::strlen(name), type);
    if (matches_name_pattern(name_pattern_.c_str(), name)) {
      add_name(name, std::strlen(name), static_cast<char>(type));
    }
  }
  closedir(dir);
  return error;
}

void TreeSearch::set_open_path(Entry& entry, const char* name) {
  entry.photo.open_path = name;
  entry.photo.directory = levels_.back().fd;
}

#endif
