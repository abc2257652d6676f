// The per-photograph step: open a photograph, read its header, and hand its position to the
// run's writer; and the run context that the step shares with the run modes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exif/exif_reader.h"
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
  bool sidecars = false;   // -s: positions from XMP and sidecar files too
  unsigned threads = 1;    // -j: reader threads; 1 reads each photo in turn on the run's thread
};

// What became of the photographs of a run.
struct RunCounts {
  uint64_t matched = 0;              // entries with a photo's name; the others are not opened
  uint64_t read = 0;                 // opened and read
  uint64_t listed = 0;               // with a position, written
  uint64_t duplicates = 0;           // with a position already written
  uint64_t without_position = 0;     // read, but no position
  uint64_t unreadable = 0;           // could not be opened or read
  uint64_t thumbnails_left_out = 0;  // the HTML page's thumbnails past its budget
  uint64_t unread_sidecars = 0;      // without -s: photos without a position, a sidecar beside
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
  kNoPosition,  // a video without a position: it has no EXIF block to lack
  kZeroPosition,
  kNotPhotoName,    // the name has no photo extension (has_photo_extension): not opened
  kNotRegularFile,  // a directory, FIFO, device or socket: not opened
  kUnreadable,      // could not be opened or read
};

struct PhotoResult {
  PhotoStatus status;
  int error;            // the errno value, for kUnreadable
  bool waited = false;  // its first read had to wait for the disk
  // With -s: where a listed position came from, and the sidecar's name when from one (valid
  // until the folder's next listing).
  PositionSource source = PositionSource::kExif;
  const char* sidecar = nullptr;
  // A sidecar that could not be read (the photo is read without it): its name and errno value.
  const char* unreadable_sidecar = nullptr;
  int sidecar_error = 0;
};

// Why a photograph read has no position ("no GPS position"); null for the other statuses.
const char* missing_position_reason(PhotoStatus status);

class SidecarIndex;

// One entry to read: where to open it, and how the output and the messages name it.
struct PhotoEntry {
  const char* open_path;  // relative to `directory`; it ends in the bare name
  const char* name;       // in the output: the bare name, or the path below the pattern's folder
  const char* path;       // from the working directory: for messages and links to the photo
  EntryType type = EntryType::kUnknown;  // what a directory listing said of it
  int directory = FileInput::kWorkingDirectory;
  const char* bare_name = nullptr;         // its name in its folder; null: `name` is
  const SidecarIndex* sidecars = nullptr;  // the sidecars of its folder; null: none
};

// Reads the photograph of `entry` and hands its position to the run's writer. Counts it in the
// run's counts. With -s, its XMP packet and its sidecars (by the folder's index) are read too,
// and the position taken by precedence: an XMP sidecar's, Google's JSON's, the photo's own, its
// XMP packet's.
PhotoResult process_image(RunContext& run, const PhotoEntry& entry);

// process_image in two steps, so that reader threads can read ahead of the writer: what reading
// an entry found, kept until its turn comes.
struct EntryRead {
  ImageMetadata metadata;
  XmpFields xmp;
  std::optional<ExifReader> reader;  // holds the buffer that metadata.thumbnail points into
  PhotoFormat format = PhotoFormat::kNone;
  PhotoResult result{PhotoStatus::kNotPhotoName, 0};  // kListed: read, to be delivered
  bool unread_sidecar = false;                        // without -s: a sidecar's name is beside it
};
// Reads the photograph of `entry` into `read`, with its sidecars as `options` ask. Touches
// nothing else, so any thread may call it; the sidecar names in the result point into the
// entry's index, which must live until the entry is delivered.
void read_entry(const RunOptions& options, const PhotoEntry& entry, EntryRead& read);
// Counts what read_entry found in the run's counts and hands the position to the run's writer;
// then frees what `read` holds.
PhotoResult deliver_entry(RunContext& run, const PhotoEntry& entry, EntryRead& read);

// The second half of process_image: applies the duplicate filter to a record already read and
// hands it to the writer.
PhotoStatus deliver_photo(RunContext& run, const ImageMetadata& metadata, const char* name,
                          const char* path);

// What a photo's sidecar files say, zeroed by its owner: the fields of a file not read stay zero.
struct SidecarFields {
  const char* xmp_name;   // the XMP sidecar read, or null
  const char* json_name;  // the Google JSON file read, or null
  XmpFields xmp;
  TakeoutFields json;
};

// Where the position that -s chose came from: the source, and the sidecar's name when it is one.
struct PositionOrigin {
  PositionSource source;
  const char* sidecar;
};

// Merges the photo's XMP packet (`embedded`) and its sidecars into the record read from the
// photo: the position by the precedence of process_image (a source whose position is 0,0 counts
// as none); the direction, when the photo records none, from a drone's gimbal yaw (sidecar
// first); with `times`, when the photo states no time, its XMP date, the sidecar's, then
// Google's photoTakenTime.
PositionOrigin merge_sources(ImageMetadata& metadata, const XmpFields& embedded,
                             const SidecarFields& sidecars, bool times);

// Sidecar files: an XMP sidecar or a Google Photos Takeout JSON file beside a photo, found by
// name among the names of a folder listing. ASCII letter case is ignored throughout.
//
// For the photo NAME.EXT the names accepted are, in order of precedence:
//   XMP   NAME.EXT.xmp (darktable, digiKam), then NAME.xmp (Adobe's tools).
//   JSON  TITLE.supplemental-metadata.json (newer exports), then TITLE.json, where TITLE is
//         NAME.EXT; then the same with the duplicate counter moved: when NAME ends in a counter
//         "(n)", Google titles the photo BASE.EXT without it and puts the counter after the rest
//         of the JSON name, so IMG_4081(1).jpg has IMG_4081.jpg(1).json or
//         IMG_4081.jpg.supplemental-metadata(1).json.
// Google limits a JSON file's whole name to 51 characters: a longer name keeps the first 46
// characters of TITLE.supplemental-metadata (or of TITLE) and then ".json", so that it ends in
// ".supplemental-metad.json", ".suppl.json", ".s.json", "..json" or ".json" right after a cut
// TITLE. Only cuts at 46 characters are accepted; a name cut shorter is no export's. Characters
// are Unicode code points of the UTF-8 name. With a counter, both the cut at 46 characters before
// the counter and the cut that keeps the whole name, counter included, at 51 are accepted: the
// exports known do not settle which one Google makes.

enum class SidecarKind : uint8_t { kXmp, kGoogleJson };

// True when `name` (a bare name) ends in ".xmp" or ".json": a sidecar, never a photo.
bool is_sidecar_name(const char* name);

struct SidecarCandidate {
  std::string name;
  SidecarKind kind;
};
// For single-file mode, where no folder listing is made: the names a sidecar of `photo_name` (a
// bare name) may have, XMP first, each kind in its order of precedence, as Google and the XMP
// writers spell them (".xmp" and ".XMP" each; the JSON names in lower case, TITLE as the photo's).
std::vector<SidecarCandidate> sidecar_candidates(const char* photo_name);

// The sidecar files of one folder listing, looked up by photo name. Filled once per listing;
// a lookup allocates nothing, and one in a listing without sidecars costs a test.
class SidecarIndex {
 public:
  struct Match {
    const char* xmp;   // the XMP sidecar's name as listed, or null
    const char* json;  // the Google JSON file's name as listed, or null
  };

  // Forgets every name; the memory is kept for the next listing.
  void clear();
  // Keeps a copy of `name` (`length` bytes, a bare name of the listing) when it is a sidecar's,
  // with what the listing said of its type.
  void add(const char* name, size_t length, EntryType type = EntryType::kUnknown);
  // The type given with a name that find() returned.
  static EntryType type_of(const char* listed) { return static_cast<EntryType>(listed[-1]); }
  bool empty() const { return count_ == 0; }
  // The sidecars of the photo `photo_name` (a bare name), per kind the first by precedence. The
  // names stay valid until the next clear() or add().
  Match find(const char* photo_name) const;
  // Whether the photo has a sidecar of either kind beside it.
  bool has_sidecar(const char* photo_name) const;

 private:
  // The listed name equal to `name` but for letter case, or null.
  const char* lookup(const char* name, size_t length) const;
  void insert(uint32_t offset, size_t length);

  std::vector<char> names_;      // per name its type byte, then the name, NUL-terminated
  std::vector<uint32_t> slots_;  // open addressing: 1 + a name's offset, 0 for a free slot
  size_t count_ = 0;
};
