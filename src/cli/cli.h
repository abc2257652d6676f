// The command line: argument parsing, the usage text, single-file and batch runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/output.h"
#include "photo/photo.h"
#include "util/input.h"
#include "util/wide.h"

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // an input or output could not be read or written
constexpr int kExitRefused = 2;  // the output path names a photo or another file not to replace

int pinreel_main(int argc, char** argv);

// An option: the flag it sets (null for --help and --version), its line in the usage text that
// pinreel prints without arguments, and its line in --help.
struct OptionInfo {
  const char* name;
  bool RunOptions::*flag;
  const char* usage;
  const char* help;
  const char* value = nullptr;  // the value an option takes ("N"), shown after its name
};
// Every option, in the order the texts list them; the list ends with nulls.
extern const OptionInfo kOptionList[];

// The short usage text (no arguments), and the whole story (--help): every option, the formats
// written and read, the exit statuses and where to read more.
void print_usage();
void print_help();
// Lists the photos that match `pattern` (CSV, or KML into `output` when given). Returns the
// exit status.
int run_batch(const char* pattern, const char* output, const RunOptions& options);

// True when `name` matches `pattern` as the Windows search matches: '*' stands for any run of
// bytes (a leading dot included), '?' for one byte, ASCII letters match either case, and every
// other byte, '[' and '\' among them, stands for itself.
bool matches_name_pattern(const char* pattern, const char* name);
// True when `text` holds '*' or '?'.
bool has_wildcards(const char* text);

// The length of `pattern`'s directory part, its last separator included.
size_t directory_part_length(const char* pattern);

// The directory search. The entries of the pattern's directory whose names match its last
// component (by matches_name_pattern, and a name without wildcards means the entry spelled
// exactly so where there is one) are collected and handed out in byte order of their names.
// Names are kept in one buffer. The same listing fills the folder's sidecar index, whatever the
// pattern.
class DirSearch {
 public:
  // False when the directory cannot be listed or nothing matches; list_error() tells which.
  bool start(const char* pattern);
  // The errno value of the last start() when the directory could not be listed, else 0.
  int list_error() const { return list_error_; }
  // The next entry other than "." and "..": its bare name, the path to open it by (inside the
  // pattern's directory) and what the listing says of its type. The texts stay valid until the
  // next call. False when there are no more.
  bool next_entry(const char*& name, const char*& path, EntryType& type);
  // For read-ahead: the entry `ahead` places after the one handed out last (0: the next), its
  // bare name and type. False past the end.
  bool peek(size_t ahead, const char*& name, EntryType& type) const;
  // The pattern's directory part, separator included ("" for the working directory).
  const std::string& directory() const { return directory_; }
  // The sidecar files among the folder's names.
  const SidecarIndex& sidecars() const { return sidecars_; }

 private:
  // Platform part: hands every entry of `directory` to add_listed(). Returns 0, or the errno
  // value when the directory cannot be listed.
  int list_entries(const char* directory);
  void add_listed(const char* name, size_t length, EntryType type);
  void add_name(const char* name, size_t length, EntryType type);

  std::string directory_;
  std::string path_;               // directory_ + the current name, its capacity reused
  std::vector<char> names_;        // per entry its type byte, then its NUL-terminated name
  std::vector<uint32_t> offsets_;  // start of each name in names_, sorted by name
  size_t position_ = 0;
  int list_error_ = 0;
  const char* name_pattern_ = "";  // while listing
  bool literal_ = false;           // the name pattern has no wildcards
  bool exact_ = false;             // a name without wildcards was found spelled exactly so
  SidecarIndex sidecars_;
};

// The search of -r: the entries of the pattern's directory and of every folder below it whose
// names match its last component (by matches_name_pattern on every platform, and a name without
// wildcards means the file spelled exactly so where there is one), handed out in byte order of
// their paths relative to that directory. A folder is listed when the walk reaches it, and only the
// listings of the folders on the current path are kept. Symbolic links to folders (junctions on
// Windows) are never entered, so there are no loops; the pattern's directory itself may be one.
// Folders are opened relative to their parent's descriptor (POSIX) or by "\\?\" paths
// (Windows), so that paths of any length work.
class TreeSearch {
 public:
  // Folders deeper than this below the pattern's directory are reported, not listed.
  static constexpr size_t kMaxDepth = 256;

  TreeSearch() = default;
  TreeSearch(const TreeSearch&) = delete;
  TreeSearch& operator=(const TreeSearch&) = delete;
  ~TreeSearch();

  // Lists the pattern's directory. False when it cannot be listed: list_error() says why.
  bool start(const char* pattern);
  int list_error() const { return list_error_; }
  // The pattern's directory part, separator included ("" for the working directory), and its
  // last component.
  const std::string& directory() const { return directory_; }
  const std::string& name_pattern() const { return name_pattern_; }

  struct Entry {
    // `name` is the path relative to the pattern's directory, with '/' separators; `path` the
    // pattern's directory part and `name`. An entry to read is opened by `open_path`, taken from
    // the folder's descriptor on POSIX and whole on Windows.
    PhotoEntry photo;
    // For a folder that cannot be listed (its path ends in '/'): why; else null.
    const char* problem;
  };
  // The next entry; the texts stay valid until the next call. False when there are no more.
  bool next(Entry& entry);
  // For read-ahead: the entry `ahead` places after the one handed out last (0: the next) in the
  // same folder, its bare name, the folder to open it from and its type (kOther for a
  // sub-folder). False past the folder's end. folder_changes() counts the walk's moves between
  // folders.
  bool peek(size_t ahead, const char*& name, int& folder, EntryType& type) const;
  size_t folder_changes() const { return folder_changes_; }

 private:
  static constexpr char kFolder = 3;  // the type byte of a sub-folder, besides EntryType's

  // The top level's entries are offsets_[first, offsets_.size()).
  struct Level {
    size_t first;
    size_t next;             // the next one to hand out
    size_t names_size;       // names_.size() before its listing
    size_t relative_length;  // relative_.size() for this folder ("" or "2019/06/")
    int fd;                  // POSIX: its descriptor while open, else -1
  };

  // Lists the folder of the top level into names_ and offsets_ and sorts them. Returns 0 or the
  // errno value.
  int list_top();
  void add_name(const char* name, size_t length, char type);
  // The index of the sidecar files of the top level's folder, which its listing fills.
  SidecarIndex& top_sidecars() { return sidecars_[levels_.size() - 1]; }
  bool enter(uint32_t offset, Entry& entry);
  // Hands out the top level's folder as one that cannot be listed, for `problem`, and leaves it.
  bool fail(Entry& entry, const char* problem);
  void leave();
  void set_entry(Entry& entry, uint32_t offset);
  Level new_level() const {
    return Level{offsets_.size(), offsets_.size(), names_.size(), relative_.size(), -1};
  }

  // Platform part. Each int result is 0 or an errno value.
  bool open_root();               // sets list_error_ when it fails
  int list_folder(Level& level);  // lists the top level's folder with add_name
  // Opens the top level's folder, named at `offset` in its parent's listing.
  int open_folder(uint32_t offset);
  void close_folder(Level& level);
  // POSIX: makes sure the top level's folder is open, opening it again if it was closed to save
  // descriptors.
  int folder_handle();
  void set_open_path(Entry& entry, const char* name);

  std::string directory_;
  std::string name_pattern_;
  bool literal_ = false;            // the name pattern has no wildcards
  std::string relative_;            // the current folder's relative path, '/' after each name
  std::string full_;                // directory_ + relative_ + the entry's name
  std::string open_;                // Windows: the path an entry is opened by
  size_t open_folder_ = 0;          // Windows: the length of its folder's part, made for...
  size_t open_changes_ = SIZE_MAX;  // ...this value of folder_changes_
  std::string root_;                // Windows: the "\\?\" path of the pattern's directory
  std::vector<char> names_;         // per entry its type byte, then its NUL-terminated name
  std::vector<uint32_t> offsets_;
  std::vector<Level> levels_;
  std::vector<SidecarIndex> sidecars_;  // one per level, kept for the next folder at its depth
  size_t open_folders_ = 0;             // POSIX: descriptors held in levels_
  size_t folder_changes_ = 0;
  int list_error_ = 0;
};

// Turns the argument of -r into a pattern: a name without wildcards that names a folder (a link to
// one included) means every entry below it.
std::string tree_pattern(const char* argument);
bool is_folder(const char* path);

// Standard output and standard error as a run uses them: the messages, and on a terminal the
// progress line and the summary; on a Windows console, wide text. Nothing of this costs a run
// whose standard error is not a terminal more than a test per photo.
class Console {
 public:
  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console();

  // Looks at what standard output and standard error are. The progress line and the summary are
  // for batch runs.
  void start(const RunOptions& options, bool batch);
  // The stream for what goes to standard output: stdout, or on a Windows console a scratch
  // stream whose text the writer from wrap() passes on.
  FILE* output();
  // `writer`, which writes to output(), as a run must call it: the progress line erased before
  // each line that goes to the same terminal, and on a Windows console the text passed on.
  // `writer` itself when neither is needed.
  Writer* wrap(Writer* writer);
  // A message on standard error: "pinreel: ", the text, a newline. The progress line is erased
  // first.
  void message(const char* format, ...)
#ifdef __GNUC__
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // Called after each entry of a batch run: redraws the progress line when it is due.
  void tick(const RunCounts& counts) {
    if (progress_) tick_progress(counts);
  }
  // At the end of a batch run: erases the progress line and writes the summary when asked for.
  void finish(const RunCounts& counts);

 private:
  class Wrapper final : public Writer {
   public:
    void begin(const char* document_name) override;
    void photo(const Photo& photo) override;
    void end() override;
    Console* console = nullptr;
    Writer* inner = nullptr;

   private:
    template <class Call>
    void around(Call call);
  };

  void tick_progress(const RunCounts& counts);
  void draw();  // the progress line, line_
  // Erases the progress line if it shows; before a line of standard output only when that is
  // the same terminal. True when it did.
  bool erase(bool before_output);
  void write_error(const std::string& text);

  // Platform part.
  void detect();                  // sets the terminal fields below
  uint64_t now_ms() const;        // a monotonic clock, in milliseconds
  size_t terminal_width() const;  // columns of standard error's terminal; 0 when unknown
  void write_console(const std::string& text, bool to_stdout);  // Windows: as wide text
  void pass_on_output();  // Windows: the scratch stream's text to the console

  bool stderr_terminal_ = false;
  bool stdout_same_terminal_ = false;
  bool stderr_console_ = false;  // Windows: messages go out as wide text
  bool stdout_console_ = false;  // Windows: so do the lines of standard output
  bool progress_ = false;        // the progress line may be drawn
  bool summary_ = false;
  uint64_t start_ms_ = 0;
  uint64_t last_draw_ms_ = 0;
  std::string line_;         // the progress line last drawn
  size_t shown_length_ = 0;  // of the progress line on the terminal; 0 when none shows
  size_t width_ = 0;
  FILE* scratch_ = nullptr;  // Windows: output() on a console
  Wrapper wrapper_;
};

// Reader threads working ahead of one writer. The writer fills slot next_slot() of a ring of
// `window` slots and submits it; a thread runs `work` on it; the writer takes the slots back with
// wait_head() and pop() in the order it submitted them, so that the output keeps the visit order
// whatever order the reads end in. `threads` threads read: threads - 1 workers, and the writer
// itself, which reads the next slots while the oldest is not done. A slot belongs to the writer
// from pop() to submit(), then to the one thread that claims it until wait_head() returns it.
class OrderedPool {
 public:
  OrderedPool(unsigned threads, size_t window, std::function<void(size_t slot)> work);
  ~OrderedPool();  // joins the workers; every slot submitted must have been taken back
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  size_t in_flight() const { return submitted_.load(std::memory_order_relaxed) - taken_; }
  size_t free_slots() const { return window_ - in_flight(); }
  // The slot the next submission hands over; valid while free_slots() > 0.
  size_t next_slot() const { return submitted_.load(std::memory_order_relaxed) % window_; }
  // Hands the next `count` slots, filled in order, to the readers.
  void submit(size_t count = 1);
  // Returns the oldest slot submitted and not popped once it is done, reading others meanwhile.
  size_t wait_head();
  void pop();
  // While resting, the workers claim nothing and the writer reads each slot in its turn.
  void rest_workers(bool rest);

 private:
  bool claim(size_t& index);
  void run(size_t index);
  void serve();

  const size_t window_;
  std::function<void(size_t)> work_;
  std::unique_ptr<std::atomic<bool>[]> done_;
  std::vector<std::thread> workers_;
  // Counts of slots ever submitted (by the writer), claimed (by any reader) and taken back.
  std::atomic<size_t> submitted_{0};
  std::atomic<size_t> claimed_{0};
  size_t taken_ = 0;  // the writer's own
  // Sleeping: workers without a slot to claim, and the writer waiting for the head (its index + 1;
  // 0 while it does not wait). The mutex orders each sleep against the wake-up that ends it.
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable head_ready_;
  std::atomic<unsigned> sleepers_{0};
  std::atomic<size_t> waiting_for_{0};
  std::atomic<bool> resting_{false};
  bool stopping_ = false;  // under mutex_
};

// The working folder as an absolute path (UTF-8 on Windows); "" when it cannot be had.
std::string working_folder();

// The output file. An existing regular file is replaced only when pinreel wrote it, and only once
// the document is complete: it is written to a temporary file beside it (beside a symbolic link's
// target), which is then renamed over it. Outputs that are not regular files (a FIFO, a device,
// the standard output under another name) are written directly.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Why a run must not replace an existing file.
  struct Refusal {
    enum Reason : uint8_t {
      kNone,
      kOtherName,    // its name is not one of a document
      kNotPinreels,  // pinreel did not write it
      kUnreadable,   // it cannot be read to tell
    } reason;
    const char* name;  // `path`, or for kOtherName the file a link at `path` points to
    int error;         // kUnreadable: the errno value
  };
  // Looks at what `path` names and, for an existing regular file, at what it holds: an empty file
  // or a document that pinreel wrote in the format that `path` asks for may be replaced.
  Refusal check(const char* path);
  // True when check() found an existing regular file, which the run would replace.
  bool replaces_file() const { return error_ == 0 && kind_ == Kind::kRegular; }
  // True when the output is not a regular file and is written directly.
  bool direct() const { return error_ == 0 && kind_ == Kind::kOther; }
  // The stream to write the document into, a binary one for an archive (Windows makes others
  // text streams). Null, with errno set, when it cannot be created.
  FILE* open(bool binary);
  // Flushes and closes the stream and puts the document in place. Returns 0, or the errno value
  // with `failure` saying what failed; the temporary file is then removed.
  int finish(const char*& failure);
  // Closes the stream and removes the temporary file, if any.
  void discard();

 private:
  enum class Kind { kNew, kRegular, kOther };
  // Platform part. inspect() sets target_ (links followed) and returns 0, or the errno value of a
  // path that cannot be looked at; the others work on temporary_.
  int inspect(Kind& kind);
  FILE* open_directly(bool binary);
  FILE* create_temporary(bool binary);
  int rename_temporary();
  void remove_temporary();

  std::string path_;       // as given
  std::string target_;     // the file replaced
  std::string temporary_;  // "" while none exists
  Kind kind_ = Kind::kNew;
  int error_ = 0;  // from inspect(), reported when the output is opened
  FILE* stream_ = nullptr;
};
