// The per-photograph step: open a photograph, read its header, and hand its position to the
// run's writer; and the run context that the step shares with the run modes.
#pragma once

#include <cstdint>

#include "exif/image_metadata.h"
#include "output/output.h"
#include "util/input.h"
#include "util/string_table.h"

// What the command line asked for.
struct RunOptions {
  bool dedup = false;      // -d: leave out repeated positions
  bool recursive = false;  // -r: sub-folders too
  bool times = false;      // -t: the capture time
  bool verbose = false;    // -v: a summary, and why photos have no position
  bool quiet = false;      // -q: no progress line and no summary
};

// What became of the photographs of a run.
struct RunCounts {
  uint64_t matched = 0;           // entries with a photo's name; the others are not opened
  uint64_t read = 0;              // opened and read
  uint64_t listed = 0;            // with a position, written
  uint64_t duplicates = 0;        // with a position already written
  uint64_t without_position = 0;  // read, but no position
  uint64_t unreadable = 0;        // could not be opened or read
};

// One run: its options, its writer, the duplicate table behind -d, and the counts.
struct RunContext {
  RunOptions options;
  Writer* writer = nullptr;
  StringTable* duplicates = nullptr;  // owned by the run modes; null without -d
  RunCounts counts;
};

// What became of one photograph.
enum class PhotoStatus : uint8_t {
  kListed,
  kDuplicate,
  kNotPhoto,  // read, but in no format pinreel reads
  kNoExif,
  kNoGps,
  kZeroPosition,
  kNotPhotoName,    // the name has no .jpg or .jpeg extension: not opened
  kNotRegularFile,  // a directory, FIFO, device or socket: not opened
  kUnreadable,      // could not be opened or read
};

struct PhotoResult {
  PhotoStatus status;
  int error;            // the errno value, for kUnreadable
  bool waited = false;  // its first read had to wait for the disk
};

// Why a photograph read has no position ("no GPS position"); null for the other statuses.
const char* missing_position_reason(PhotoStatus status);

// One entry to read: where to open it, and how the output and the messages name it.
struct PhotoEntry {
  const char* open_path;  // relative to `directory`
  const char* name;       // in the output: the bare name, or the path below the pattern's folder
  const char* path;       // from the working directory: for messages and links to the photo
  EntryType type = EntryType::kUnknown;  // what a directory listing said of it
  int directory = FileInput::kWorkingDirectory;
};

// Reads the photograph of `entry` and hands its position to the run's writer. Counts it in the
// run's counts.
PhotoResult process_image(RunContext& run, const PhotoEntry& entry);

// The second half of process_image: applies the duplicate filter to a record already read and
// hands it to the writer.
PhotoStatus deliver_photo(RunContext& run, const ImageMetadata& metadata, const char* name,
                          const char* path);
