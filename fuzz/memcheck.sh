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
check 1 "$work/in/*.jpg" "$work/no/such/dir.kml"
check 2 "$work/in/*.jpg" "$work/in/photo.jpg"
check 1 "$work/nowhere/*.jpg"

echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
