// The GPX 1.1 document: one waypoint per photograph, linked to the photograph by a path
// relative to the document's folder; and those links, which the HTML page shares.
#include <string>
#include <vector>

#include "output/output.h"

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The declaration and the root element, which names pinreel as the creator: the mark of every
// GPX document pinreel has written, never to change.
const char kRoot[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\" creator=\"pinreel\">\n";
const char kMetadataStart[] =
    "  <metadata>\n"
    "    <name>";
const char kHeaderEnd[] =
    "</name>\n"
    "  </metadata>\n";

bool is_separator(char c) {
  return c == '/' || (kWindows && c == '\\');
}

char fold(char c) {
  return kWindows && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Windows compares names without regard to letter case (ASCII letters, which is all that a
// drive letter or the usual folder name needs).
bool same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// Appends the names of `path` from `start` on to `split`.
void add_names(SplitPath& split, const std::string& path, size_t start) {
  while (start < path.size()) {
    size_t end = start;
    while (end < path.size() && !is_separator(path[end])) ++end;
    const std::string name = path.substr(start, end - start);
    if (name == "..") {
      if (!split.names.empty()) split.names.pop_back();
    } else if (!name.empty() && name != ".") {
      split.names.push_back(name);
    }
    start = end + 1;
  }
}

// Length of the root at the start of `path` ("/", "C:/", "//server/share/"), 0 when it is
// relative; `drive_only` for "C:name", which is relative to that drive's folder.
size_t root_length(const std::string& path, bool& drive_only) {
  drive_only = false;
  if (kWindows && path.size() >= 2 && path[1] == ':') {
    if (path.size() >= 3 && is_separator(path[2])) return 3;
    drive_only = true;
    return 2;
  }
  if (kWindows && path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    size_t end = 2;
    for (int names = 0; names < 2 && end < path.size(); ++names) {
      while (end < path.size() && !is_separator(path[end])) ++end;
      if (end < path.size()) ++end;
    }
    return end;
  }
  return !path.empty() && is_separator(path[0]) ? 1 : 0;
}

// `path` made absolute against `working` (itself split already).
SplitPath split_absolute(const std::string& path, const SplitPath& working) {
  bool drive_only = false;
  const size_t root = root_length(path, drive_only);
  SplitPath split;
  if (root == 0 || (drive_only && same_name(path.substr(0, 2) + "/", working.root))) {
    split = working;
  } else if (root == 1) {  // the root of the working folder's drive
    split.root = working.root.empty() ? "/" : working.root;
  } else {
    split.root = path.substr(0, root);
    if (drive_only) split.root += '/';
  }
  for (char& c : split.root) {
    if (c == '\\') c = '/';
  }
  add_names(split, path, root);
  return split;
}

void append_percent_encoded(std::string& out, const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
}

// The link to `path` from the folder `from`, both resolved against the working folder `here`;
// with `here` null (not known), the path itself.
std::string link_from(const SplitPath& from, const SplitPath* here, const std::string& path) {
  std::string link;
  SplitPath to;
  size_t common = 0;
  if (here == nullptr) {
    add_names(to, path, 0);  // nothing to go by: the path as it was opened
  } else {
    to = split_absolute(path, *here);
    if (same_name(from.root, to.root)) {
      while (common < from.names.size() && common < to.names.size() &&
             same_name(from.names[common], to.names[common])) {
        ++common;
      }
      for (size_t i = common; i < from.names.size(); ++i) link += "../";
    } else {  // another drive or server
      link = to.root.compare(0, 2, "//") == 0 ? "file:" : to.root == "/" ? "file://" : "file:///";
      link += to.root;
    }
  }
  for (size_t i = common; i < to.names.size(); ++i) {
    append_percent_encoded(link, to.names[i]);
    if (i + 1 < to.names.size()) link += '/';
  }
  return link;
}

}  // namespace

std::string relative_link(const std::string& folder, const std::string& working,
                          const std::string& path) {
  if (working.empty()) return link_from(SplitPath{}, nullptr, path);
  const SplitPath here = split_absolute(working, SplitPath{});
  return link_from(split_absolute(folder, here), &here, path);
}

// The folders are worked out once, at the start of the run.
PhotoLinks::PhotoLinks(const char* output_path, const std::string& working) {
  std::string folder = output_path != nullptr ? output_path : "";
  // The document's folder: its path up to the last separator, or the working folder.
  size_t end = folder.size();
  while (end > 0 && !is_separator(folder[end - 1])) --end;
  folder.erase(end);
  if (folder.empty() || (kWindows && folder.size() == 2 && folder[1] == ':')) folder += '.';
  linked_ = !working.empty();
  if (linked_) {
    working_ = split_absolute(working, SplitPath{});
    folder_ = split_absolute(folder, working_);
  }
}

std::string PhotoLinks::link(const char* path) const {
  return link_from(folder_, linked_ ? &working_ : nullptr, path);
}

void GpxWriter::begin(const char* document_name) {
  std::fputs(kRoot, out_);
  std::fputs(kMetadataStart, out_);
  write_xml_text(out_, document_name != nullptr ? document_name : "");
  std::fputs(kHeaderEnd, out_);
}

void GpxWriter::photo(const Photo& photo) {
  const Position& p = photo.position;
  if (!is_map_position(p)) return;
  char number[kDegreesTextSize];
  text_.assign("  <wpt lat=\"");
  text_.append(number, format_coordinate(number, p.latitude_degrees));
  text_ += "\" lon=\"";
  text_.append(number, format_coordinate(number, p.longitude_degrees));
  text_ += "\">\n";
  if (p.has_altitude_metres) {
    char altitude[kMetresTextSize];
    text_ += "    <ele>";
    text_.append(altitude, format_metres(altitude, p.altitude_metres));
    text_ += "</ele>\n";
  }
  if (times_) {
    const CaptureTime time = capture_time(*photo.metadata);
    if (time.utc[0] != '\0') {
      text_ += "    <time>";
      text_ += time.utc;
      text_ += "</time>\n";
    }
  }
  text_ += "    <name>";
  append_xml_text(text_, photo.name);
  // Only unreserved characters, '%' and '/' make up the link: it needs no escaping.
  text_ += "</name>\n    <link href=\"";
  text_ += links_.link(photo.path);
  text_ += "\"/>\n  </wpt>\n";
  std::fwrite(text_.data(), 1, text_.size(), out_);
}

void GpxWriter::end() {
  std::fputs("</gpx>\n", out_);
}

bool is_pinreel_gpx(Input& input) {
  MarkReader reader(input);
  return reader.take(kRoot);
}
