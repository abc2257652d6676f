#!/usr/bin/env python3
"""pinreel's positions against ExifTool's, on real photos of every format that Debian's tools write.

usage: compare_exiftool.py PINREEL WORKDIR

Makes a small picture with ImageMagick and encodes it as JPEG, PNG and TIFF (convert), HEIC
(heif-enc), AVIF (avifenc) and WebP (cwebp); writes a GPS position into copies of each with
ExifTool, north and south, east and west, above and below sea level; lets the encoders carry a
JPEG's EXIF block into HEIC, AVIF, WebP, PNG and TIFF themselves; and keeps copies without a
position. Then
runs pinreel over the folder and compares its CSV lines with `exiftool -n -csv`: every position
ExifTool reads must be listed with the same latitude and longitude (within single-precision
rounding) and the same whole metres of altitude, and no other file may be listed. Single precision, in
which pinreel computes a coordinate, carries 51 degrees to 3.8e-6 and 179 degrees to 1.5e-5:
the tolerance is two such steps and the rounding to six decimals.

Exit status 0 when everything agrees, 1 on any difference, 77 when a tool is missing.
"""

import csv
import io
import math
import os
import shutil
import subprocess
import sys

TOOLS = ("convert", "heif-enc", "avifenc", "cwebp", "exiftool")

# Latitude, longitude (decimal degrees), altitude (m, negative below sea level).
PLACES = [
    (51.507332, -0.127667, 35.0),
    (-33.8568, 151.2153, 12.7),
    (31.559, 35.4732, -430.0),
    (-22.9519, -43.2105, 699.9),
    (64.1466, -21.9426, 0.0),
    (0.0004, 179.9999, 8848.86),
]



def tolerance(value):
    """Two steps of single precision at `value` (3.8e-6 degrees at 51, 1.5e-5 at 179), in which
    pinreel computes a coordinate, and half a millionth, to which it prints it."""
    step = 2.0 ** (math.frexp(max(abs(value), 1e-30))[1] - 24)
    return 2 * step + 5e-7


def run(*argv):
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                         result.stderr.decode(errors="replace")))
    return result.stdout.decode()


def encode(folder):
    """The plain encodings of one picture, by extension."""
    base = os.path.join(folder, "base.png")
    run("convert", "-size", "160x120", "gradient:#c04020-#2040c0", base)
    files = {}
    for ext, argv in (
            ("jpg", ["convert", base, "-quality", "85"]),
            ("png", ["convert", base]),
            ("tif", ["convert", base]),
            ("heic", ["heif-enc", "-q", "60", base, "-o"]),
            ("avif", ["avifenc", "-s", "10", base]),
            ("webp", ["cwebp", "-quiet", base, "-o"])):
        path = os.path.join(folder, "plain." + ext)
        run(*(argv + [path]))
        files[ext] = path
    return files


def set_position(paths, place):
    latitude, longitude, altitude = place
    run("exiftool", "-q", "-overwrite_original",
        "-GPSLatitude=%.7f" % abs(latitude), "-GPSLatitudeRef=" + ("S" if latitude < 0 else "N"),
        "-GPSLongitude=%.7f" % abs(longitude),
        "-GPSLongitudeRef=" + ("W" if longitude < 0 else "E"),
        "-GPSAltitude=%.2f" % abs(altitude), "-GPSAltitudeRef=%d" % (1 if altitude < 0 else 0),
        *paths)


def exiftool_positions(folder):
    text = run("exiftool", "-n", "-csv", "-q", "-GPSLatitude", "-GPSLongitude", "-GPSAltitude",
               "-ext", "*", folder)
    positions = {}
    for row in csv.DictReader(io.StringIO(text)):
        if row.get("GPSLatitude", "") == "":
            continue
        altitude = row.get("GPSAltitude", "")
        positions[os.path.basename(row["SourceFile"])] = (
            float(row["GPSLatitude"]),
            float(row["GPSLongitude"]) if row.get("GPSLongitude", "") != "" else None,
            float(altitude) if altitude != "" else None)
    return positions


def pinreel_positions(pinreel, folder):
    result = subprocess.run([pinreel, "*"], cwd=folder, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    if result.returncode != 0 or result.stderr:
        sys.exit("pinreel failed (%d): %s" % (result.returncode, result.stderr.decode()))
    positions = {}
    for fields in csv.reader(io.StringIO(result.stdout.decode())):
        positions[fields[0]] = [float(f) for f in fields[1:3]] + [
            int(fields[3]) if len(fields) > 3 else None]
    return positions


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    pinreel, folder = os.path.abspath(sys.argv[1]), sys.argv[2]
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("not installed: %s; skipped" % ", ".join(missing))
        return 77
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    plain = encode(folder)

    # ExifTool writes each place into a copy of every format.
    for i, place in enumerate(PLACES):
        copies = []
        for ext, path in sorted(plain.items()):
            copy = os.path.join(folder, "place%d.%s" % (i, ext))
            shutil.copyfile(path, copy)
            copies.append(copy)
        set_position(copies, place)
    # The encoders carry a JPEG's EXIF block over themselves.
    source = os.path.join(folder, "place0.jpg")
    run("heif-enc", "-q", "60", source, "-o", os.path.join(folder, "from_jpeg.heic"))
    run("avifenc", "-s", "10", source, os.path.join(folder, "from_jpeg.avif"))
    run("cwebp", "-quiet", "-metadata", "exif", source, "-o",
        os.path.join(folder, "from_jpeg.webp"))
    # ImageMagick keeps it in PNG; in TIFF it drops the GPS directory and writes the first
    # directory after the image data.
    for ext in ("png", "tif"):
        run("convert", source, os.path.join(folder, "from_jpeg." + ext))
    os.remove(os.path.join(folder, "base.png"))

    expected = exiftool_positions(folder)
    got = pinreel_positions(pinreel, folder)
    names = sorted(os.listdir(folder))
    passed = failed = 0
    for name in names:
        want, have = expected.get(name), got.get(name)
        problem = None
        if want is None and have is not None:
            problem = "pinreel lists %s, ExifTool reads no position" % have
        elif want is not None and have is None:
            problem = "missed: ExifTool reads %s" % (want,)
        elif want is not None:
            latitude, longitude, altitude = want
            if (abs(have[0] - latitude) > tolerance(latitude) or
                    abs(have[1] - longitude) > tolerance(longitude)):
                problem = "pinreel %s, ExifTool %s" % (have[:2], (latitude, longitude))
            want_altitude = None if not altitude else math.trunc(altitude)
            if have[2] != want_altitude:
                problem = "altitude: pinreel %s, ExifTool %s" % (have[2], altitude)
        if problem:
            failed += 1
            print("FAILED %s: %s" % (name, problem))
        else:
            passed += 1
    formats = sorted({name.rsplit(".", 1)[1] for name in names})
    print("%d files (%s), %d with a position in ExifTool's reading" % (
        len(names), ", ".join(formats), len(expected)))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or len(expected) < len(PLACES) * len(plain) else 0


if __name__ == "__main__":
    sys.exit(main())
