// Argument parsing and the two run modes.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "output/output.h"
#include "photo/photo.h"

namespace {

constexpr size_t kDocumentBufferSize = 64 * 1024;
constexpr unsigned kMaxThreads = 64;

// Standard output and error are the program's own: one console for the whole run.
Console& console() {
  static Console instance;
  return instance;
}

void report(const char* what, const char* name, int error) {
  console().message("%s '%s': %s", what, name, std::strerror(error));
}

// A pattern's folder as messages name it.
const char* shown_folder(const std::string& directory) {
  return directory.empty() ? "." : directory.c_str();
}

// Says why an existing file is not to be replaced. True when nothing stands in the way.
bool may_replace(const OutputFile::Refusal& refusal) {
  switch (refusal.reason) {
    case OutputFile::Refusal::kNone:
      return true;
    case OutputFile::Refusal::kOtherName:
      console().message(
          "refusing to replace '%s': only a .kml, .kmz, .gpx, .geojson, .json, .csv, .html or "
          ".htm file is overwritten; quote the pattern or name a new output file",
          refusal.name);
      break;
    case OutputFile::Refusal::kNotPinreels:
      console().message(
          "refusing to replace '%s': pinreel did not write it; name a new file or delete it first",
          refusal.name);
      break;
    case OutputFile::Refusal::kUnreadable:
      console().message(
          "refusing to replace '%s': cannot read it to check that pinreel wrote it: %s",
          refusal.name, std::strerror(refusal.error));
      break;
  }
  return false;
}

// -v: why a photo read has no position; with -s, where a listed position came from. A sidecar
// that could not be read is reported whatever the options.
void explain(const RunOptions& options, const PhotoResult& result, const char* shown) {
  if (result.unreadable_sidecar != nullptr) {
    console().message("cannot read the sidecar '%s' of '%s': %s", result.unreadable_sidecar, shown,
                      std::strerror(result.sidecar_error));
  }
  if (!options.verbose) return;
  if (const char* reason = missing_position_reason(result.status)) {
    console().message("%s: %s", shown, reason);
  } else if (options.sidecars && result.status == PhotoStatus::kListed) {
    const char* from = result.sidecar != nullptr                     ? "sidecar "
                       : result.source == PositionSource::kXmp       ? "the photo's XMP"
                       : result.source == PositionSource::kQuickTime ? "the video's location"
                                                                     : "the EXIF block";
    console().message("%s: position from %s%s", shown, from,
                      result.sidecar != nullptr ? result.sidecar : "");
  }
}

// Single-file mode lists no folder: the sidecar names the photo may have are looked for one by
// one.
void find_sidecars(const char* name, SidecarIndex& index) {
  const size_t folder = directory_part_length(name);
  const std::string directory(name, folder);
  for (const SidecarCandidate& candidate : sidecar_candidates(name + folder)) {
    FileInput probe;
    if (probe.open((directory + candidate.name).c_str()) == 0) {
      index.add(candidate.name.c_str(), candidate.name.size());
    }
  }
}

int run_single(const char* name, const RunOptions& options) {
  console().start(options, false);
  CsvWriter csv(console().output(), options.times);
  RunContext run;
  run.options = options;
  run.writer = console().wrap(&csv);
  PhotoEntry entry{name, name, name};
  SidecarIndex sidecars;
  if (options.sidecars) {
    find_sidecars(name, sidecars);
    entry.bare_name = name + directory_part_length(name);
    entry.sidecars = &sidecars;
  }
  const PhotoResult result = process_image(run, entry);
  const char* reason = nullptr;
  switch (result.status) {
    case PhotoStatus::kNotPhotoName:
      reason = "not a photo file name that pinreel reads";
      break;
    case PhotoStatus::kNotRegularFile:
      reason = "not a regular file";
      break;
    case PhotoStatus::kUnreadable:
      reason = std::strerror(result.error);
      break;
    default:
      explain(options, result, name);
      return result.unreadable_sidecar != nullptr ? kExitFailure : kExitOk;
  }
  console().message("cannot read '%s': %s", name, reason);
  return kExitFailure;
}

// Cold disks: once a photo's first read has had to wait for the disk, the first bytes of the next
// photos of the folder are asked for ahead of their turn, so that the disk works on many while
// one is read. The asking is done by a thread of its own: it costs the system as much work as
// the reading, which then runs on another core. A warm run never waits and never starts it;
// after a long run of photos that did not wait, the read-ahead stops again.
class ReadAhead {
 public:
  ReadAhead() = default;
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  ~ReadAhead() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
    for (; taken_ != added_; ++taken_) close_folder(slots_[taken_ % kWindow].folder);
  }

  // After `count` more entries were taken from the search.
  void advanced(size_t count) { requested_ -= std::min(requested_, count); }

  // While a cold disk is being read ahead.
  bool active() const { return active_; }

  // After each entry; `result` says whether it was read and whether that waited.
  void after(const PhotoResult& result) {
    if (result.waited && kCanReadAhead) {
      active_ = true;
      calm_ = 0;
    } else if (active_ && result.status != PhotoStatus::kNotPhotoName &&
               result.status != PhotoStatus::kNotRegularFile && ++calm_ > kCalmPhotos) {
      active_ = false;
    }
  }

  void request(const DirSearch& search) {
    const char* name;
    EntryType type;
    for (; active_ && requested_ < kWindow && search.peek(requested_, name, type); ++requested_) {
      if (!has_photo_extension(name)) continue;
      if (!add(search.directory().c_str(), name, type, FileInput::kWorkingDirectory)) break;
    }
  }

  void request(const TreeSearch& search) {
    if (search.folder_changes() != folder_changes_) {
      folder_changes_ = search.folder_changes();
      requested_ = 0;
    }
    const char* name;
    int folder;
    EntryType type;
    for (; active_ && requested_ < kWindow && search.peek(requested_, name, folder, type);
         ++requested_) {
      if (has_photo_extension(name) && !add("", name, type, folder)) break;
    }
  }

 private:
  // 32 photos' headers in flight keep a disk busy.
  static constexpr size_t kWindow = 32;
  static constexpr unsigned kCalmPhotos = 256;

  struct Slot {
    std::string path;
    EntryType type;
    int folder;  // a descriptor of its own, or kWorkingDirectory
  };

  // Queues one photo for the thread; false when the queue is full.
  bool add(const char* directory, const char* name, EntryType type, int folder) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (added_ - taken_ == kWindow) return false;
    Slot& slot = slots_[added_ % kWindow];
    lock.unlock();  // only this thread writes slots at added_ and beyond
    slot.path.assign(directory).append(name);
    slot.type = type;
    // The walk may close its folder before the thread gets to the photo.
    slot.folder = folder == FileInput::kWorkingDirectory ? folder : duplicate_folder(folder);
    if (folder != FileInput::kWorkingDirectory && slot.folder < 0) return true;
    lock.lock();
    ++added_;
    if (!thread_.joinable()) thread_ = std::thread([this] { serve(); });
    lock.unlock();
    wake_.notify_one();
    return true;
  }

  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || taken_ != added_; });
      if (stopping_) return;
      Slot& slot = slots_[taken_ % kWindow];
      lock.unlock();
      FileInput::request_ahead(slot.path.c_str(), slot.type, slot.folder);
      close_folder(slot.folder);
      lock.lock();
      ++taken_;
    }
  }

  bool active_ = false;
  size_t requested_ = 0;  // entries after the present one already asked for
  unsigned calm_ = 0;     // photos read since the last that waited
  size_t folder_changes_ = 0;

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  Slot slots_[kWindow];
  size_t added_ = 0;  // slots handed to the thread, and taken by it
  size_t taken_ = 0;
  bool stopping_ = false;
};

// Says what the options ask for of one entry of a batch run. Other names and other kinds of
// entry are passed over without a word. Returns kExitFailure when it could not be read.
int report_entry(RunContext& run, const PhotoEntry& entry, const PhotoResult& result) {
  int status = kExitOk;
  if (result.status == PhotoStatus::kUnreadable) {
    report("cannot read", entry.path, result.error);
    status = kExitFailure;
  } else {
    explain(run.options, result, entry.path);
    if (result.unreadable_sidecar != nullptr) status = kExitFailure;
  }
  console().tick(run.counts);
  return status;
}

int visit(RunContext& run, ReadAhead& ahead, const PhotoEntry& entry) {
  const PhotoResult result = process_image(run, entry);
  ahead.advanced(1);
  ahead.after(result);
  return report_entry(run, entry, result);
}

// The entries of one folder, opened inside it but named bare.
int visit_folder(RunContext& run, DirSearch& search) {
  int status = kExitOk;
  ReadAhead ahead;
  const char* name;
  const char* path;
  EntryType type;
  while (search.next_entry(name, path, type)) {
    PhotoEntry entry{path, name, path, type};
    entry.sidecars = &search.sidecars();
    if (visit(run, ahead, entry) != kExitOk) status = kExitFailure;
    ahead.request(search);
  }
  return status;
}

// -r: the entries of the tree, named by their paths below the pattern's folder. A folder that
// cannot be listed is reported and the walk goes on.
int visit_tree(RunContext& run, TreeSearch& search) {
  int status = kExitOk;
  ReadAhead ahead;
  TreeSearch::Entry entry;
  while (search.next(entry)) {
    if (entry.problem != nullptr) {
      console().message("cannot list '%s': %s", entry.photo.path, entry.problem);
      status = kExitFailure;
      continue;
    }
    if (visit(run, ahead, entry.photo) != kExitOk) status = kExitFailure;
    ahead.request(search);
  }
  return status;
}

// A folder descriptor of an entry's own: the walk of -r closes its folders as it leaves them,
// while a reader thread may still have to open an entry from one.
struct FolderCopy {
  explicit FolderCopy(int folder) : fd(duplicate_folder(folder)) {}
  ~FolderCopy() { close_folder(fd); }
  FolderCopy(const FolderCopy&) = delete;
  FolderCopy& operator=(const FolderCopy&) = delete;
  const int fd;
};

// An entry of a batch run copied out of its listing, to be read by a reader thread and then
// delivered in its turn. The listing moves on meanwhile, so the entry keeps its own copies: of its
// names, of its folder's descriptor and of the names of its sidecars.
struct PendingEntry {
  std::string open_path;
  std::string name;
  std::string path;
  std::string bare_name;
  std::string problem;  // a folder that cannot be listed: reported in its turn
  EntryType type = EntryType::kUnknown;
  std::shared_ptr<const FolderCopy> folder;  // null: opened from the working directory
  SidecarIndex sidecars;                     // its own sidecars, found in its folder's index
  EntryRead read;

  PhotoEntry entry() const {
    PhotoEntry entry{open_path.c_str(), name.c_str(), path.c_str(), type,
                     folder != nullptr ? folder->fd : FileInput::kWorkingDirectory};
    entry.bare_name = bare_name.empty() ? nullptr : bare_name.c_str();
    entry.sidecars = sidecars.empty() ? nullptr : &sidecars;
    return entry;
  }
  void set(const PhotoEntry& from, const char* failure) {
    open_path.assign(from.open_path);
    name.assign(from.name);
    path.assign(from.path);
    bare_name.assign(from.bare_name != nullptr ? from.bare_name : "");
    problem.assign(failure != nullptr ? failure : "");
    type = from.type;
    sidecars.clear();
    if (from.sidecars == nullptr || from.sidecars->empty()) return;
    const SidecarIndex::Match match =
        from.sidecars->find(from.bare_name != nullptr ? from.bare_name : from.name);
    for (const char* sidecar : {match.xmp, match.json}) {
      if (sidecar != nullptr) {
        sidecars.add(sidecar, std::strlen(sidecar), SidecarIndex::type_of(sidecar));
      }
    }
  }
};

// The entries that `next` hands out (filling a PendingEntry; false after the last), read by
// `threads` reader threads while this thread delivers them in their order. A window of entries
// in flight keeps memory flat; it is refilled by halves, so that the readers are woken once for
// many entries rather than for each. On a cold disk the read-ahead asks for the photos past the
// window (`request` hands it the search).
template <class Next, class Request>
int visit_pooled(RunContext& run, unsigned threads, Next next, Request request) {
  ReadAhead ahead;
  const size_t window = std::max<size_t>(16, size_t{4} * threads);
  std::unique_ptr<PendingEntry[]> slots(new PendingEntry[window]);
  const RunOptions& options = run.options;
  OrderedPool pool(threads, window, [&slots, &options](size_t slot) {
    PendingEntry& pending = slots[slot];
    if (pending.problem.empty()) read_entry(options, pending.entry(), pending.read);
  });
  int status = kExitOk;
  bool more = true;
  for (;;) {
    if (more && pool.free_slots() >= window / 2) {
      size_t batch = 0;
      while (batch < pool.free_slots() &&
             (more = next(slots[(pool.next_slot() + batch) % window]))) {
        ++batch;
      }
      pool.submit(batch);
      ahead.advanced(batch);
      request(ahead);
    }
    if (pool.in_flight() == 0) break;
    PendingEntry& pending = slots[pool.wait_head()];
    const PhotoEntry entry = pending.entry();
    if (!pending.problem.empty()) {
      console().message("cannot list '%s': %s", entry.path, pending.problem.c_str());
      status = kExitFailure;
    } else {
      const PhotoResult result = deliver_entry(run, entry, pending.read);
      ahead.after(result);
      pool.rest_workers(ahead.active());
      if (report_entry(run, entry, result) != kExitOk) status = kExitFailure;
    }
    pending.folder.reset();
    pool.pop();
  }
  return status;
}

int visit_folder_pooled(RunContext& run, DirSearch& search, unsigned threads) {
  return visit_pooled(
      run, threads,
      [&search](PendingEntry& pending) {
        const char* name;
        const char* path;
        EntryType type;
        if (!search.next_entry(name, path, type)) return false;
        PhotoEntry entry{path, name, path, type};
        entry.sidecars = &search.sidecars();
        pending.set(entry, nullptr);
        pending.folder.reset();
        return true;
      },
      [&search](ReadAhead& ahead) { ahead.request(search); });
}

int visit_tree_pooled(RunContext& run, TreeSearch& search, unsigned threads) {
  std::shared_ptr<const FolderCopy> folder;
  size_t folder_changes = SIZE_MAX;
  return visit_pooled(
      run, threads,
      [&](PendingEntry& pending) {
        TreeSearch::Entry entry;
        if (!search.next(entry)) return false;
        pending.set(entry.photo, entry.problem);
        const int directory = entry.photo.directory;
        if (directory == FileInput::kWorkingDirectory || entry.problem != nullptr) {
          pending.folder.reset();
          return true;
        }
        if (folder == nullptr || search.folder_changes() != folder_changes) {
          folder = std::make_shared<const FolderCopy>(directory);
          folder_changes = search.folder_changes();
        }
        pending.folder = folder;
        return true;
      },
      [&search](ReadAhead& ahead) { ahead.request(search); });
}

// As many reader threads as processors, up to 8: more bring nothing a disk or a cache can feed.
unsigned default_threads() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors == 0 ? 1 : std::min(processors, 8u);
}

// A whole number from 1 to kMaxThreads, digits only.
bool parse_threads(const char* text, unsigned& threads) {
  if (text == nullptr || *text == '\0') return false;
  unsigned value = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
    value = value * 10 + static_cast<unsigned>(*digit - '0');
    if (value > kMaxThreads) return false;
  }
  if (value == 0) return false;
  threads = value;
  return true;
}

// Flushes standard output: a full disk must not pass for success.
int finish_standard_output(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    console().message("cannot write to standard output: %s",
                      std::strerror(errno != 0 ? errno : EIO));
    if (status == kExitOk) status = kExitFailure;
  }
  return status;
}

}  // namespace

int run_batch(const char* pattern, const char* output, const RunOptions& options) {
  console().start(options, true);
  // A shell that expanded the pattern hands us a photo as the output path: never overwrite it.
  if (output != nullptr && has_photo_extension(output)) {
    console().message(
        "refusing to write over the photo '%s'; quote the pattern so that the shell does not "
        "expand it, as in: pinreel '*.jpg' output.kml",
        output);
    return kExitRefused;
  }
  // The same mistake with a raw file, a sidecar, another program's document or any other file
  // named by mistake.
  OutputFile document_file;
  if (output != nullptr && !may_replace(document_file.check(output))) return kExitRefused;

  // The folder is listed before any output is made; with -r, the folders below it as the walk
  // reaches them.
  DirSearch search;
  TreeSearch tree;
  const bool matched =
      options.recursive ? tree.start(tree_pattern(pattern).c_str()) : search.start(pattern);
  const int list_error = options.recursive ? tree.list_error() : search.list_error();
  if (list_error != 0) {
    report("cannot list", shown_folder(options.recursive ? tree.directory() : search.directory()),
           list_error);
    return kExitFailure;
  }

  int status = kExitOk;
  FILE* document = nullptr;
  if (output != nullptr) {
    document = document_file.open(output_format(output) == OutputFormat::kKmz);
    if (document == nullptr) {
      report("cannot open", output, errno);
      console().message("writing CSV to standard output instead");
      status = kExitFailure;
    } else {
      // A placemark is about 250 bytes: the default buffer of one disk block would mean a
      // write call every 16 photographs. (glibc ignores the size unless given the buffer.)
      static char document_buffer[kDocumentBufferSize];
      std::setvbuf(document, document_buffer, _IOFBF, sizeof document_buffer);
    }
  }
  const std::unique_ptr<Writer> writer = make_writer(
      document != nullptr ? output : nullptr, document != nullptr ? document : console().output(),
      options.times, working_folder(), options.sidecars);
  RunContext run;
  run.options = options;
  run.writer = document != nullptr ? writer.get() : console().wrap(writer.get());
  if (options.dedup) run.duplicates = string_table_create(16);
  run.writer->begin(output);

  if (matched) {
    const unsigned threads = options.threads;
    const int visited =
        threads <= 1 ? (options.recursive ? visit_tree(run, tree) : visit_folder(run, search))
        : options.recursive ? visit_tree_pooled(run, tree, threads)
                            : visit_folder_pooled(run, search, threads);
    if (visited != kExitOk) status = visited;
  }

  string_table_destroy(run.duplicates, release_value);
  run.writer->end();
  run.counts.thumbnails_left_out = writer->thumbnails_left_out();

  // No photo matched: most likely a name or a folder mistyped. An existing document stays as it
  // was, and with -r no document is made. (An output that is not a file has been written.)
  const bool unmatched =
      run.counts.matched == 0 && (options.recursive || document_file.replaces_file());
  // Photos that could not be read leave a complete document, which replaces the old one.
  if (document != nullptr && unmatched && !document_file.direct()) {
    document_file.discard();
  } else if (document != nullptr) {
    const char* failure;
    const int error = document_file.finish(failure);
    if (error != 0) {
      report(failure, output, error);
      status = kExitFailure;
    }
  }
  if (unmatched) {
    const std::string kept =
        document_file.replaces_file() ? "; '" + std::string(output) + "' left as it was" : "";
    if (options.recursive) {
      console().message("no photo below '%s' matches '%s'%s", shown_folder(tree.directory()),
                        tree.name_pattern().c_str(), kept.c_str());
    } else {
      console().message("no photo matches '%s'%s", pattern, kept.c_str());
    }
    status = kExitFailure;
  }
  console().finish(run.counts);
  return status;
}

int pinreel_main(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  RunOptions options;
  bool help = false;
  bool version = false;
  // The options pinreel knows, each matched whole: never bundled.
  const auto find_option = [&](const char* name) -> bool* {
    for (const OptionInfo* option = kOptionList; option->name != nullptr; ++option) {
      if (std::strcmp(name, option->name) != 0) continue;
      if (option->flag != nullptr) return &(options.*option->flag);
      if (std::strcmp(name, "--help") == 0) return &help;
      if (std::strcmp(name, "--version") == 0) return &version;
    }
    return nullptr;
  };
  std::vector<const char*> unknown;
  options.threads = default_threads();
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strncmp(argument, "-j", 2) == 0) {
      // The one option with a value: "-j 4" or "-j4".
      const char* value = argument[2] != '\0' ? argument + 2 : i + 1 < argc ? argv[++i] : nullptr;
      if (!parse_threads(value, options.threads)) {
        console().start(options, false);
        console().message("-j needs a number of reader threads from 1 to %u, as in -j 4%s%s%s",
                          kMaxThreads, value != nullptr ? "; not '" : "",
                          value != nullptr ? value : "", value != nullptr ? "'" : "");
        return kExitRefused;
      }
    } else if (argument[0] == '-') {
      if (bool* flag = find_option(argument)) {
        *flag = true;
      } else {
        unknown.push_back(argument);
      }
    } else if (input == nullptr) {
      input = argument;
    } else if (output == nullptr) {
      output = argument;
    }
  }
  // Ignored, as ever, but never silently: "-dq" would otherwise pass for "-d -q".
  if (!unknown.empty()) console().start(options, false);
  for (const char* argument : unknown) {
    std::string split;
    for (const char* letter = argument + 1; *letter != '\0'; ++letter) {
      const char option[] = {'-', *letter, '\0'};
      if (find_option(option) == nullptr) {
        split.clear();
        break;
      }
      split.append(split.empty() ? "" : " ").append(option);
    }
    if (split.empty()) {
      console().message("ignoring unknown option '%s'", argument);
    } else {
      console().message("ignoring unknown option '%s' (options are not combined: use %s)", argument,
                        split.c_str());
    }
  }

  int status = kExitOk;
  if (help) {
    print_help();
  } else if (version) {
    std::fputs("pinreel " PINREEL_VERSION "\n", stdout);
  } else if (input == nullptr) {
    print_usage();
  } else if (options.recursive || output != nullptr || std::strchr(input, '*') != nullptr) {
    status = run_batch(input, output, options);
  } else {
    status = run_single(input, options);
  }
  return finish_standard_output(status);
}
