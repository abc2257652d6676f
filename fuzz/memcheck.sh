#!/bin/sh
# memcheck.sh PINREEL PHOTOS WORKDIR: runs pinreel under valgrind over the photo set in every
# mode and fails on any memory error or leak, or an unexpected exit status. Exit 77: no valgrind.
set -u
pinreel=$1 photos=$2 work=$3
command -v valgrind >/dev/null 2>&1 || { echo "valgrind not found: skipped"; exit 77; }

rm -rf "$work" && mkdir -p "$work/in/dir.jpg" || exit 1
cp "$photos"/* "$work/in/" || exit 1
failures=0 runs=0

# check STATUS ARGS...: pinreel ARGS must exit with STATUS and valgrind must report nothing.
check() {
  expected=$1
  shift
  runs=$((runs + 1))
  valgrind -q --leak-check=full --error-exitcode=1 --log-file="$work/valgrind.log" \
    "$pinreel" "$@" >"$work/out" 2>"$work/err"
  status=$?
  if [ "$status" -ne "$expected" ] || [ -s "$work/valgrind.log" ]; then
    echo "FAILED: pinreel $* (exit $status, expected $expected)"
    cat "$work/valgrind.log" "$work/err"
    failures=$((failures + 1))
  fi
}

# Batch runs read every photo; single-file runs take a few, the damaged ones first, and one photo
# of each other container.
for photo in cut_in_exif cut_in_comment cyclic many_segments latitude_only good_motorola; do
  check 0 "$work/in/$photo.jpg"
done
for photo in "$work"/in/photo.*; do
  check 0 "$photo"
done
check 1 "$work/in/dir.jpg"
check 1 "$work/in/missing.jpg"
check 0
check 0 "$work/in/*.jpg"
check 0 -d "$work/in/*.JPG"
check 0 "$work/in/*.jpg" "$work/all.kml"
check 0 -d "$work/in/*.jp*g" "$work/unique.kml"
for format in kmz gpx geojson csv; do
  check 0 -t "$work/in/*.jpg" "$work/all.$format"
done
check 0 -t "$work/in/good_motorola.jpg"
check 0 "$work/in/*"
check 0 -d "$work/in/photo.*" "$work/containers.kml"
check 0 -t "$work/in/photo.m*" "$work/videos.gpx"
# Sidecars: an XMP file and a Google Photos JSON file beside photos, read with -s.
printf '%s' "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:GPSLatitude='10,30N' exif:GPSLongitude='20,15.5W'/></rdf:RDF></x:xmpmeta>" >"$work/in/no_exif.xmp"
printf '%s' '{"geoData":{"latitude":1.5,"longitude":2.5,"altitude":3.0},"photoTakenTime":{"timestamp":"1559397802"}}' >"$work/in/latitude_only.jpg.json"
check 0 -s -v -t "$work/in/*" "$work/sidecars.geojson"
check 0 -v "$work/in/*.jpg"
check 0 -s -t "$work/in/no_exif.jpg"
check 0 -s "$work/in/latitude_only.jpg"
check 1 "$work/in/*.jpg" "$work/no/such/dir.kml"
check 2 "$work/in/*.jpg" "$work/in/photo.jpg"
check 1 "$work/nowhere/*.jpg"

echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
