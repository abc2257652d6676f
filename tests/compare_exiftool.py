#!/usr/bin/env python3
"""pinreel's positions against ExifTool's, on real photos of every format that Debian's tools write.

usage: compare_exiftool.py PINREEL WORKDIR

Every position ExifTool reads must be listed with the same latitude and longitude, within
single-precision rounding, and the same whole metres; no other file may be. Exit status 0 when
everything agrees, 1 on any difference, 77 when a tool is missing.
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
PLACES = [(51.507332, -0.127667, 35.0), (-33.8568, 151.2153, 12.7), (31.559, 35.4732, -430.0),
          (-22.9519, -43.2105, 699.9), (64.1466, -21.9426, 0.0), (0.0004, 179.9999, 8848.86)]


def tolerance(value):
    """Two steps of single precision at `value`, in which pinreel computes, and half a millionth."""
    return 2 * 2.0 ** (math.frexp(max(abs(value), 1e-30))[1] - 24) + 5e-7


def run(*argv, cwd=None):
    result = subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0 or (cwd and result.stderr):
        sys.exit("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                         result.stderr.decode(errors="replace")))
    return result.stdout.decode()


def encode(folder):
    base = os.path.join(folder, "base.png")
    run("convert", "-size", "160x120", "gradient:#c04020-#2040c0", base)
    files = {}
    for ext, argv in (("jpg", ["convert", base, "-quality", "85"]), ("png", ["convert", base]),
                      ("tif", ["convert", base]), ("heic", ["heif-enc", "-q", "60", base, "-o"]),
                      ("avif", ["avifenc", "-s", "10", base]),
                      ("webp", ["cwebp", "-quiet", base, "-o"])):
        files[ext] = os.path.join(folder, "plain." + ext)
        run(*(argv + [files[ext]]))
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
    number = lambda row, key: float(row[key]) if row.get(key, "") != "" else None
    return {os.path.basename(row["SourceFile"]): (number(row, "GPSLatitude"),
                                                  number(row, "GPSLongitude"),
                                                  number(row, "GPSAltitude"))
            for row in csv.DictReader(io.StringIO(text)) if row.get("GPSLatitude", "") != ""}


def pinreel_positions(pinreel, folder):
    return {fields[0]: [float(f) for f in fields[1:3]] + [
        int(fields[3]) if len(fields) > 3 else None]
            for fields in csv.reader(io.StringIO(run(pinreel, "*", cwd=folder)))}


def problem(want, have):
    if want is None or have is None:
        return None if want == have else "pinreel %s, ExifTool %s" % (have, want)
    latitude, longitude, altitude = want
    if (abs(have[0] - latitude) > tolerance(latitude) or
            abs(have[1] - longitude) > tolerance(longitude)):
        return "pinreel %s, ExifTool %s" % (have[:2], (latitude, longitude))
    if have[2] != (math.trunc(altitude) if altitude else None):
        return "altitude: pinreel %s, ExifTool %s" % (have[2], altitude)
    return None


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
        copies = [os.path.join(folder, "place%d.%s" % (i, ext)) for ext in sorted(plain)]
        for ext, copy in zip(sorted(plain), copies):
            shutil.copyfile(plain[ext], copy)
        set_position(copies, place)
    # The encoders carry a JPEG's EXIF block over themselves; ImageMagick keeps it in PNG, and in
    # TIFF drops the GPS directory and writes the first directory after the image data.
    source, into = os.path.join(folder, "place0.jpg"), os.path.join(folder, "from_jpeg.")
    run("heif-enc", "-q", "60", source, "-o", into + "heic")
    run("avifenc", "-s", "10", source, into + "avif")
    run("cwebp", "-quiet", "-metadata", "exif", source, "-o", into + "webp")
    for ext in ("png", "tif"):
        run("convert", source, into + ext)
    os.remove(os.path.join(folder, "base.png"))

    expected, got = exiftool_positions(folder), pinreel_positions(pinreel, folder)
    names = sorted(os.listdir(folder))
    failed = 0
    for name in names:
        why = problem(expected.get(name), got.get(name))
        if why:
            failed += 1
            print("FAILED %s: %s" % (name, why))
    print("%d files (%s), %d with a position in ExifTool's reading" % (
        len(names), ", ".join(sorted({name.rsplit(".", 1)[1] for name in names})), len(expected)))
    print("%d passed, %d failed" % (len(names) - failed, failed))
    return 1 if failed or len(expected) < len(PLACES) * len(plain) else 0


if __name__ == "__main__":
    sys.exit(main())
