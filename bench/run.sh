#!/usr/bin/env bash
# The benchmark in one command: builds pinreel (release) and the benchmark tools, generates the
# folders of photos on first use (under bench/out/, which git ignores), and prints the tables.
#
#   bench/run.sh                 1,000 and 10,000 photos, with ExifTool and Exiv2 if installed
#   bench/run.sh --large         also 100,000 photos (about 5 GB on disk, mostly sparse)
#   bench/run.sh --mixed         1,000 photos in every format, with ExifTool and the bytes read
#   bench/run.sh --videos        1,000 phone videos against 1,000 JPEG photos, and the bytes read
#   bench/run.sh --takeout       10,000 photos of a Google Photos export with and without -s
#   bench/run.sh --map [COUNT]   the HTML map of 100,000 (COUNT) photos in headless Chromium
#   bench/run.sh --help          every option
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPINREEL_BUILD_TESTS=OFF \
  -DPINREEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 >/dev/null

if [ "${1:-}" = --map ]; then
  shift
  exec python3 "$root/bench/map_page.py" --bin "$build" --map "${1:-100000}"
fi
exec python3 "$root/bench/compare.py" --bin "$build" "$@"
