// The KML document: a shared map-pin style map, one placemark per photograph.
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

const char kPlacemarkStart[] =
    "    <Placemark>\n"
    "      <name>";

const char kPlacemarkMiddle[] =
    "</name>\n"
    "      <description></description>\n"
    "      <styleUrl>#icon-1899-0288D1</styleUrl>\n"
    "      <Point>\n"
    "        <coordinates>\n"
    "          ";

const char kPlacemarkEnd[] =
    ",0\n"
    "        </coordinates>\n"
    "      </Point>\n"
    "    </Placemark>\n";

const char kFooter[] =
    "  </Document>\n"
    "</kml>\n";

#undef PINREEL_ICON_STYLE
#undef PINREEL_ICON_HREF

// Names are UTF-8 on Windows too, like the document.
void write_name(FILE* out, const char* name) {
  write_xml_text(out, name);
}

}  // namespace

void write_kml_header(FILE* out, const char* document_name) {
  std::fputs(kHeaderStart, out);
  write_name(out, document_name);
  std::fputs(kHeaderEnd, out);
}

void write_placemark(FILE* out, const char* name, const char* coordinate_key) {
  std::fputs(kPlacemarkStart, out);
  write_name(out, name);
  std::fputs(kPlacemarkMiddle, out);
  std::fputs(coordinate_key, out);
  std::fputs(kPlacemarkEnd, out);
}

void write_kml_footer(FILE* out) {
  std::fputs(kFooter, out);
}

void KmlWriter::photo(const Photo& photo) {
  if (photo.position.key[0] != '\0') write_placemark(out_, photo.name, photo.position.key);
}
