# Writes the C++ source that holds the pieces of the HTML page (see page_assets() in
# src/output/output.h). Run at build time:
#   cmake -DOUTPUT=... -DLEAFLET_DIR=... -DLEAFLET_COPYRIGHT=... -DCLUSTER_COPYRIGHT=...
#         -DPAGE_DIR=... -P embed_assets.cmake

function(read_asset path out)
  file(READ "${path}" text)
  # Developer tools would fetch a source map; the page fetches nothing.
  string(REGEX REPLACE "\n?(//|/\\*)# sourceMappingURL=[^\n]*" "" text "${text}")
  set(${out} "${text}\n" PARENT_SCOPE)
endfunction()

# The library's copyright file, which holds its licence, as a comment that minifiers keep.
function(licence_notice name path out)
  file(READ "${path}" text)
  if(text MATCHES "\\*/")
    message(FATAL_ERROR "${path} holds '*/' and cannot go into a comment")
  endif()
  set(${out} "/*! ${name}, from Debian's package; its copyright file follows.\n\n${text}*/\n"
      PARENT_SCOPE)
endfunction()

function(append_array out name text)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" hex "${hex}")
  set(${out} "${${out}}const unsigned char ${name}[] = {\n${hex}0};\n" PARENT_SCOPE)
endfunction()

read_asset("${LEAFLET_DIR}/leaflet.css" leaflet_css)
read_asset("${LEAFLET_DIR}/MarkerCluster.css" cluster_css)
read_asset("${LEAFLET_DIR}/MarkerCluster.Default.css" cluster_default_css)
read_asset("${PAGE_DIR}/page.css" page_css)
read_asset("${LEAFLET_DIR}/leaflet.min.js" leaflet_js)
read_asset("${LEAFLET_DIR}/leaflet.markercluster.min.js" cluster_js)
read_asset("${PAGE_DIR}/page.js" page_js)
licence_notice("Leaflet" "${LEAFLET_COPYRIGHT}" leaflet_notice)
licence_notice("Leaflet.markercluster" "${CLUSTER_COPYRIGHT}" cluster_notice)

set(style "/* Leaflet's and Leaflet.markercluster's style sheets (their licences are in the scripts \
below), then the page's own. */\n${leaflet_css}${cluster_css}${cluster_default_css}${page_css}")
set(scripts "${leaflet_notice}${leaflet_js}${cluster_notice}${cluster_js}")

set(source "// Made by cmake/embed_assets.cmake at build time; not to be edited.\n")
string(APPEND source "#include \"output/output.h\"\n\nnamespace {\n\n")
append_array(source kStyle "${style}")
append_array(source kScripts "${scripts}")
append_array(source kPage "${page_js}")
string(APPEND source "
}  // namespace

const PageAssets& page_assets() {
  static const PageAssets assets{reinterpret_cast<const char*>(kStyle),
                                 reinterpret_cast<const char*>(kScripts),
                                 reinterpret_cast<const char*>(kPage)};
  return assets;
}
")
# Written only when it changed, so that an unchanged page does not rebuild the library.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${source}" @ONLY)
