#!/usr/bin/env python3
"""Compares the positions and capture times that pinreel lists with ExifTool's reading.

usage: compare_exiftool.py FOLDER [PINREEL]

Runs pinreel (default: the one on the PATH) with -r -t over FOLDER into a GeoJSON document, and
ExifTool over the same photos and videos, then prints one table by format and every disagreement
with both readings. A position agrees when latitude and longitude differ by 1e-5 degrees at most
and the altitudes differ by half a centimetre at most (pinreel writes them to the centimetre).
Counted apart: positions that ExifTool takes from XMP or a maker note, which pinreel does not read,
and positions of 0,0, which pinreel leaves out. An altitude beyond the signed 32-bit range counts
as none, as in pinreel. A time agrees when pinreel's equals DateTimeOriginal with
OffsetTimeOriginal, or else the GPS date and time stamps; for a video, the position is ExifTool's
reading of its location (GPSCoordinates, or 3GPP's location box) and the time Apple's CreationDate,
or else the movie header's CreateDate in UTC.

Exit status: 0 when nothing disagrees, 1 when something does, 2 when a tool is missing or fails.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile

# The photo extensions that pinreel reads; other files are passed over by both.
EXTENSIONS = ("jpg", "jpeg", "heic", "heif", "hif", "avif", "cr3", "tif", "tiff", "dng", "cr2",
              "nef", "nrw", "arw", "sr2", "srw", "pef", "orf", "rw2", "raf", "png", "webp", "jxl",
              "mov", "mp4", "m4v", "3gp", "3g2")
VIDEOS = ("MOV", "MP4", "M4V", "3GP", "3G2")
TAGS = ("FileType", "GPSLatitude", "GPSLongitude", "GPSLatitudeRef", "GPSLongitudeRef",
        "GPSAltitude", "GPSAltitudeRef", "DateTimeOriginal", "OffsetTimeOriginal",
        "GPSDateStamp", "GPSTimeStamp", "CreationDate", "CreateDate")
DEGREES = 1e-5
COLUMNS = ("files", "positions", "agree", "missing", "different", "extra", "xmp/makernote",
           "0,0", "times agree", "times differ")


def fail(message):
    print("compare_exiftool: " + message, file=sys.stderr)
    sys.exit(2)


def pinreel_reading(pinreel, folder):
    """{relative path: (latitude, longitude, altitude or None, time or None)} from pinreel."""
    with tempfile.TemporaryDirectory() as scratch:
        document = os.path.join(scratch, "positions.geojson")
        result = subprocess.run([pinreel, "-r", "-t", "-q", folder, document],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode not in (0, 1) or not os.path.exists(document):
            fail("%s failed (%d): %s" % (pinreel, result.returncode,
                                         result.stderr.decode(errors="replace")))
        with open(document, encoding="utf-8") as f:
            features = json.load(f)["features"]
    reading = {}
    for feature in features:
        coordinates = feature["geometry"]["coordinates"]
        properties = feature["properties"]
        reading[properties["name"]] = (coordinates[1], coordinates[0], properties["altitude"],
                                       properties.get("time"))
    return reading


def exiftool_records(folder):
    """ExifTool's tags of every photo below `folder`, by relative path, keys "Group:Tag"."""
    argv = ["exiftool", "-r.", "-j", "-n", "-G1", "-a", "-q", "-q"]
    for extension in EXTENSIONS:
        argv += ["-ext", extension]
    argv += ["-" + tag for tag in TAGS] + [folder]
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    text = result.stdout.decode("utf-8", errors="replace").strip()
    if not text:
        return {}
    records = {}
    for record in json.loads(text):
        name = os.path.relpath(record["SourceFile"], folder).replace(os.sep, "/")
        records[name] = record
    return records


def tag(record, name, groups=None):
    """The value of tag `name` in `record`, from one of `groups` (any group when None)."""
    for key, value in record.items():
        group, _, tag_name = key.rpartition(":")
        if tag_name == name and (groups is None or group in groups):
            return value
    return None


def signed(value, reference, negative):
    if value is None or reference is None or str(reference)[:1] == "":
        return None
    return -float(value) if str(reference)[:1] == negative else float(value)


def is_video(record):
    return tag(record, "FileType") in VIDEOS


def exiftool_position(record):
    """(latitude, longitude, altitude or None) from the EXIF GPS directory, or a video's location;
    None without one."""
    if is_video(record):
        latitude, longitude = (tag(record, name, {"Composite"}) for name in ("GPSLatitude",
                                                                              "GPSLongitude"))
        if latitude is None or longitude is None:
            return None
        altitude = tag(record, "GPSAltitude", {"Composite"})
        if altitude is not None and tag(record, "GPSAltitudeRef", {"Composite"}) in (1, "1"):
            altitude = -float(altitude)
        return float(latitude), float(longitude), None if altitude is None else float(altitude)
    latitude = signed(tag(record, "GPSLatitude", {"GPS"}), tag(record, "GPSLatitudeRef", {"GPS"}),
                      "S")
    longitude = signed(tag(record, "GPSLongitude", {"GPS"}),
                       tag(record, "GPSLongitudeRef", {"GPS"}), "W")
    if latitude is None or longitude is None:
        return None
    altitude = tag(record, "GPSAltitude", {"GPS"})
    if altitude is not None:
        altitude = float(altitude)
        if not -2 ** 31 <= altitude < 2 ** 31:
            altitude = None  # pinreel's rule: such a value is no altitude
        elif tag(record, "GPSAltitudeRef", {"GPS"}) in (1, "1"):
            altitude = -altitude
    return latitude, longitude, altitude


def exiftool_time(record):
    """The capture time as pinreel states it, from ExifTool's fields; None without one."""
    if is_video(record):
        created = tag(record, "CreationDate", {"Keys"})
        if created:
            d = str(created)
            return "%s-%s-%sT%s" % (d[:4], d[5:7], d[8:10], d[11:])
        created = str(tag(record, "CreateDate", {"QuickTime"}) or "")
        if created.strip(" :0"):
            return "%s-%s-%sT%sZ" % (created[:4], created[5:7], created[8:10], created[11:19])
        return None
    original = tag(record, "DateTimeOriginal", {"ExifIFD", "IFD0"}) or ""
    if str(original).strip(" :0"):
        d = str(original)
        offset = tag(record, "OffsetTimeOriginal", {"ExifIFD", "IFD0"}) or ""
        return "%s-%s-%sT%s%s" % (d[:4], d[5:7], d[8:10], d[11:19], offset)
    date, clock = tag(record, "GPSDateStamp", {"GPS"}), tag(record, "GPSTimeStamp", {"GPS"})
    if date and clock is not None:
        hours, minutes, seconds = (str(clock).split(":") + ["0", "0"])[:3]
        return "%sT%02d:%02d:%02dZ" % (str(date).replace(":", "-"), int(float(hours)),
                                       int(float(minutes)), int(float(seconds)))
    return None


def show(position):
    if position is None:
        return "none"
    text = "%.7f, %.7f" % position[:2]
    return text + (", %g m" % position[2] if position[2] is not None else "")


def compare(records, reading):
    """The table's rows by format, and the disagreements."""
    rows, problems = {}, []
    for name in sorted(set(records) | set(reading)):
        record = records.get(name, {})
        row = rows.setdefault(str(tag(record, "FileType") or name.rsplit(".", 1)[-1].upper()),
                              dict.fromkeys(COLUMNS, 0))
        row["files"] += 1
        want, have = exiftool_position(record), reading.get(name)
        if want is not None and round(want[0], 6) == 0 and round(want[1], 6) == 0:
            row["0,0"] += 1
            want = None
        elif want is None and any(key.endswith(":GPSLatitude") and
                                  key.split(":")[0] not in ("GPS", "Composite") for key in record):
            row["xmp/makernote"] += 1
        if want is not None:
            row["positions"] += 1
        if have is None:
            if want is not None:
                row["missing"] += 1
                problems.append("missing    %s: ExifTool %s; pinreel none" % (name, show(want)))
            continue
        if want is None:
            row["extra"] += 1
            problems.append("extra      %s: pinreel %s; ExifTool none" % (name, show(have)))
            continue
        altitudes_agree = (want[2] is None) == (have[2] is None) and (
            want[2] is None or abs(want[2] - have[2]) < 0.0051)
        if abs(want[0] - have[0]) > DEGREES or abs(want[1] - have[1]) > DEGREES or \
                not altitudes_agree:
            row["different"] += 1
            problems.append("different  %s: pinreel %s; ExifTool %s" % (name, show(have),
                                                                         show(want)))
        else:
            row["agree"] += 1
        want_time = exiftool_time(record)
        if want_time == have[3]:
            row["times agree"] += 1
        else:
            row["times differ"] += 1
            problems.append("time       %s: pinreel %s; ExifTool %s" % (name, have[3], want_time))
    return rows, problems


def print_table(rows):
    total = dict.fromkeys(COLUMNS, 0)
    for row in rows.values():
        for column in COLUMNS:
            total[column] += row[column]
    width = max([len("format"), len("all")] + [len(name) for name in rows])
    print("%-*s  %s" % (width, "format", "  ".join(COLUMNS)))
    for name, row in sorted(rows.items()) + [("all", total)]:
        print("%-*s  %s" % (width, name, "  ".join("%*d" % (len(c), row[c]) for c in COLUMNS)))
    return total


def main():
    if len(sys.argv) not in (2, 3):
        fail(__doc__.strip().splitlines()[2])
    folder = sys.argv[1]
    pinreel = sys.argv[2] if len(sys.argv) == 3 else "pinreel"
    if not os.path.isdir(folder):
        fail("no folder %s" % folder)
    for program in (pinreel, "exiftool"):
        if shutil.which(program) is None:
            fail("%s is not installed (ExifTool: the libimage-exiftool-perl package)" % program)
    rows, problems = compare(exiftool_records(folder), pinreel_reading(pinreel, folder))
    total = print_table(rows)
    if problems:
        print()
        print("\n".join(problems))
    return 1 if total["missing"] or total["different"] or total["extra"] or \
        total["times differ"] else 0


if __name__ == "__main__":
    sys.exit(main())
