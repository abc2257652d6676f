// The KML document: a shared map-pin style map, one placemark per photograph.
#include <string>

#include "output/output.h"

namespace {

#define PINREEL_ICON_HREF \
  "          <href>http://www.gstatic.com/mapspro/images/stock/503-wht-blank_maps.png</href>\n"

// The normal and highlight styles differ only in their ids and label scale.
#define PINREEL_ICON_STYLE(id, label_scale)                                         \
  "    <Style id=\"" id                                                             \
  "\">\n"                                                                           \
  "      <IconStyle>\n"                                                             \
  "        <color>ffd18802</color>\n"                                               \
  "        <scale>1</scale>\n"                                                      \
  "        <Icon>\n" PINREEL_ICON_HREF                                              \
  "        </Icon>\n"                                                               \
  "        <hotSpot x=\"32\" xunits=\"pixels\" y=\"64\" yunits=\"insetPixels\"/>\n" \
  "      </IconStyle>\n"                                                            \
  "      <LabelStyle>\n"                                                            \
  "        <scale>" label_scale                                                     \
  "</scale>\n"                                                                      \
  "      </LabelStyle>\n"                                                           \
  "    </Style>\n"

const char kHeaderStart[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
    "  <Document>\n"
    "    <name>";

const char kHeaderEnd[] =
    "</name>\n" PINREEL_ICON_STYLE("icon-1899-0288D1-normal", "0")
        PINREEL_ICON_STYLE("icon-1899-0288D1-highlight", "1")
    "    <StyleMap id=\"icon-1899-0288D1\">\n"
    "      <Pair>\n"
    "        <key>normal</key>\n"
    "        <styleUrl>#icon-1899-0288D1-normal</styleUrl>\n"
    "      </Pair>\n"
    "      <Pair>\n"
    "        <key>highlight</key>\n"
    "        <styleUrl>#icon-1899-0288D1-highlight</styleUrl>\n"
    "      </Pair>\n"
    "    </StyleMap>\n";

#define PINREEL_PLACEMARK_LINE "    <Placemark>\n"
const char kPlacemarkStart[] = PINREEL_PLACEMARK_LINE "      <name>";

#define PINREEL_PLACEMARK_DESCRIPTION "      <description>"
#define PINREEL_PLACEMARK_STYLE                    \
  "      <styleUrl>#icon-1899-0288D1</styleUrl>\n" \
  "      <Point>\n"                                \
  "        <coordinates>\n"                        \
  "          "

const char kPlacemarkMiddle[] =
    "</name>\n" PINREEL_PLACEMARK_DESCRIPTION "</description>\n" PINREEL_PLACEMARK_STYLE;

// A placemark with a picture or a time: its description, then the time stamp, which the schema
// puts before the style.
const char kDescriptionStart[] = "</name>\n" PINREEL_PLACEMARK_DESCRIPTION;
const char kImageStart[] = "&lt;img src=\"";
const char kImageEnd[] = "\" width=\"160\"/&gt;";
const char kDescriptionEnd[] = "</description>\n";
const char kTimeStampStart[] = "      <TimeStamp><when>";
const char kTimeStampEnd[] = "</when></TimeStamp>\n";
const char kStyle[] = PINREEL_PLACEMARK_STYLE;

const char kPlacemarkEnd[] =
    ",0\n"
    "        </coordinates>\n"
    "      </Point>\n"
    "    </Placemark>\n";

const char kPlacemarkLine[] = PINREEL_PLACEMARK_LINE;

const char kFooter[] =
    "  </Document>\n"
    "</kml>\n";

#undef PINREEL_ICON_STYLE
#undef PINREEL_ICON_HREF
#undef PINREEL_PLACEMARK_DESCRIPTION
#undef PINREEL_PLACEMARK_LINE
#undef PINREEL_PLACEMARK_STYLE

// The document goes to a stream (KML) or into a string that is compressed (KMZ). Names are
// UTF-8 on every platform, like the document.
struct StreamSink {
  FILE* out;
  void put(const char* text) { std::fputs(text, out); }
  void put_name(const char* name) { write_xml_text(out, name); }
};

struct StringSink {
  std::string& out;
  void put(const char* text) { out += text; }
  void put_name(const char* name) { append_xml_text(out, name); }
};

template <class Sink>
void put_header(Sink sink, const char* document_name) {
  sink.put(kHeaderStart);
  sink.put_name(document_name);
  sink.put(kHeaderEnd);
}

template <class Sink>
void put_placemark(Sink sink, const char* name, const char* coordinate_key, const char* when,
                   const char* image) {
  sink.put(kPlacemarkStart);
  sink.put_name(name);
  if (when == nullptr && image == nullptr) {
    sink.put(kPlacemarkMiddle);
  } else {
    sink.put(kDescriptionStart);
    if (image != nullptr) {
      sink.put(kImageStart);
      sink.put(image);
      sink.put(kImageEnd);
    }
    sink.put(kDescriptionEnd);
    if (when != nullptr) {
      sink.put(kTimeStampStart);
      sink.put(when);
      sink.put(kTimeStampEnd);
    }
    sink.put(kStyle);
  }
  sink.put(coordinate_key);
  sink.put(kPlacemarkEnd);
}

}  // namespace

void write_kml_header(FILE* out, const char* document_name) {
  put_header(StreamSink{out}, document_name);
}

void write_kml_footer(FILE* out) {
  std::fputs(kFooter, out);
}

void append_kml_header(std::string& out, const char* document_name) {
  put_header(StringSink{out}, document_name);
}

void append_placemark(std::string& out, const char* name, const char* coordinate_key,
                      const char* when, const char* image) {
  put_placemark(StringSink{out}, name, coordinate_key, when, image);
}

void append_kml_footer(std::string& out) {
  out += kFooter;
}

void KmlWriter::photo(const Photo& photo) {
  if (photo.position.key[0] == '\0') return;
  CaptureTime time{};
  if (times_) time = capture_time(*photo.metadata);
  put_placemark(StreamSink{out_}, photo.name, photo.position.key,
                time.stated[0] != '\0' ? time.stated : nullptr, nullptr);
}

// Every version of pinreel has begun its KML documents with these lines, whatever their name, and
// followed them with a placemark or the footer: changing them would lock users out of their
// earlier maps. Google's own exports share the style ids but not the lines (an https icon, a
// description, folders).
bool is_pinreel_kml(Input& input) {
  MarkReader reader(input);
  if (!reader.take(kHeaderStart) || !reader.skip_to('<', kDocumentNameLimit) ||
      !reader.take(kHeaderEnd)) {
    return false;
  }
  const int next = reader.take_either(kPlacemarkLine, kFooter);
  return next == 1 || (next == 2 && reader.at_end());
}
