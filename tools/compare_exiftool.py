#!/usr/bin/env python3
"""Compares the positions and capture times that pinreel lists with ExifTool's reading.

usage: compare_exiftool.py [-s] FOLDER [PINREEL]

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

With -s, pinreel runs with -s, and ExifTool reads the XMP sidecars and Google Photos JSON files
beside the photos too, paired with them by the names of pinreel's README: the position expected
is the XMP sidecar's, else the JSON file's, else the EXIF block's, else the photo's XMP packet's
(0,0 counting as none); the time the photo's own (EXIF, then its XMP), else the sidecar's, else
the JSON file's photoTakenTime in UTC.

Exit status: 0 when nothing disagrees, 1 when something does, 2 when a tool is missing or fails.
"""

import datetime
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
# With -s: the drone's XMP fields, and Google's JSON fields.
SIDECAR_TAGS = ("GPSLongtitude", "AbsoluteAltitude",
                "GeoDataLatitude", "GeoDataLongitude", "GeoDataAltitude", "PhotoTakenTimeTimestamp")
DEGREES = 1e-5
COLUMNS = ("files", "positions", "agree", "missing", "different", "extra", "xmp/makernote",
           "0,0", "times agree", "times differ")


def fail(message):
    print("compare_exiftool: " + message, file=sys.stderr)
    sys.exit(2)


def pinreel_reading(pinreel, folder, sidecars=False):
    """{relative path: (latitude, longitude, altitude or None, time or None)} from pinreel."""
    with tempfile.TemporaryDirectory() as scratch:
        document = os.path.join(scratch, "positions.geojson")
        result = subprocess.run([pinreel, "-r", "-t", "-q"] + (["-s"] if sidecars else []) +
                                [folder, document],
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


def exiftool_records(folder, sidecars=False):
    """ExifTool's tags of every photo below `folder` (and with `sidecars`, of every XMP and JSON
    file), by relative path, keys "Group:Tag"."""
    argv = ["exiftool", "-r.", "-j", "-n", "-G1", "-a", "-q", "-q"]
    for extension in EXTENSIONS + (("xmp", "json") if sidecars else ()):
        argv += ["-ext", extension]
    argv += ["-" + tag for tag in TAGS + (SIDECAR_TAGS if sidecars else ())] + [folder]
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


def xmp_position(record):
    """(latitude, longitude, altitude or None) from XMP: the exif pair, else the drone's."""
    latitude, longitude = tag(record, "GPSLatitude", {"XMP-exif"}), tag(record, "GPSLongitude",
                                                                        {"XMP-exif"})
    altitude = tag(record, "GPSAltitude", {"XMP-exif"})
    if altitude is not None and tag(record, "GPSAltitudeRef", {"XMP-exif"}) in (1, "1"):
        altitude = -float(altitude)
    if latitude is None or longitude is None:
        latitude, longitude = tag(record, "GPSLatitude", {"XMP-drone-dji"}), (
            tag(record, "GPSLongitude", {"XMP-drone-dji"}) or
            tag(record, "GPSLongtitude", {"XMP-drone-dji"}))
        altitude = tag(record, "AbsoluteAltitude", {"XMP-drone-dji"})
    if latitude is None or longitude is None:
        return None
    return float(latitude), float(longitude), None if altitude is None else float(altitude)


def json_position(record):
    latitude, longitude = tag(record, "GeoDataLatitude"), tag(record, "GeoDataLongitude")
    altitude = tag(record, "GeoDataAltitude")
    if latitude is None or longitude is None or latitude == longitude == altitude == 0:
        return None
    return float(latitude), float(longitude), float(altitude) if altitude else None


def json_names(photo):
    """The names of a photo's Google JSON file: TITLE(.supplemental-metadata).json cut to 51
    characters, and with a duplicate counter "(n)" moved behind the rest of the name."""
    stem, ext = os.path.splitext(photo)
    titles = [(photo, "")]
    if stem.endswith(")") and "(" in stem:
        base, counter = stem[:stem.rindex("(")], stem[stem.rindex("("):]
        if counter[1:-1].isdigit():
            titles.append((base + ext, counter))
    names = []
    for title, counter in titles:
        for suffix in (".supplemental-metadata", ""):
            whole = title + suffix
            names.append(whole[:46] + counter + ".json")
            names.append(whole[:46 - len(counter)] + counter + ".json")
    return names


def is_zero(position):
    return position is not None and round(position[0], 6) == 0 and round(position[1], 6) == 0


def with_sidecars(records):
    """Each photo's record with what -s expects of it: "position" and "time"."""
    by_folder = {}
    for name, record in records.items():
        folder, _, base = name.rpartition("/")
        by_folder.setdefault(folder, {})[base.lower()] = record
    photos = {}
    for name, record in records.items():
        folder, _, base = name.rpartition("/")
        if base.lower().endswith((".xmp", ".json")):
            continue
        listing = by_folder[folder]
        stem = os.path.splitext(base)[0]
        xmp = listing.get(base.lower() + ".xmp") or listing.get(stem.lower() + ".xmp") or {}
        google = next((listing[n.lower()] for n in json_names(base) if n.lower() in listing), {})
        sources = [xmp_position(xmp), json_position(google), exiftool_position(record),
                   xmp_position(record)]
        position = next((p for p in sources if p is not None and not is_zero(p)), None)
        time = exiftool_time(record) or xmp_time(record) or xmp_time(xmp)
        stamp = tag(google, "PhotoTakenTimeTimestamp")
        if time is None and stamp is not None:
            time = datetime.datetime.fromtimestamp(int(stamp), datetime.timezone.utc).strftime(
                "%Y-%m-%dT%H:%M:%SZ")
        photos[name] = dict(record, position=position, time=time)
    return photos


def xmp_time(record):
    """The XMP date as pinreel states it: seconds' fraction dropped, "Z" as "+00:00"."""
    original = str(tag(record, "DateTimeOriginal", {"XMP-exif"}) or "")
    if len(original) < 19:
        return None
    zone = original[19:].lstrip(".0123456789")
    return "%s-%s-%sT%s%s" % (original[:4], original[5:7], original[8:10], original[11:19],
                              "+00:00" if zone == "Z" else zone)


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
        sidecars = "position" in record
        want = record["position"] if sidecars else exiftool_position(record)
        have = reading.get(name)
        if is_zero(want) or (sidecars and want is None and is_zero(exiftool_position(record))):
            row["0,0"] += 1
            want = None
        elif want is None and not sidecars and any(
                key.endswith(":GPSLatitude") and key.split(":")[0] not in ("GPS", "Composite")
                for key in record):
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
        want_time = record["time"] if sidecars else exiftool_time(record)
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
    argv = sys.argv[1:]
    sidecars = argv[:1] == ["-s"]
    argv = argv[1:] if sidecars else argv
    if len(argv) not in (1, 2):
        fail(__doc__.strip().splitlines()[2])
    folder = argv[0]
    pinreel = argv[1] if len(argv) == 2 else "pinreel"
    if not os.path.isdir(folder):
        fail("no folder %s" % folder)
    for program in (pinreel, "exiftool"):
        if shutil.which(program) is None:
            fail("%s is not installed (ExifTool: the libimage-exiftool-perl package)" % program)
    records = exiftool_records(folder, sidecars)
    if sidecars:
        records = with_sidecars(records)
    rows, problems = compare(records, pinreel_reading(pinreel, folder, sidecars))
    total = print_table(rows)
    if problems:
        print()
        print("\n".join(problems))
    return 1 if total["missing"] or total["different"] or total["extra"] or \
        total["times differ"] else 0


if __name__ == "__main__":
    sys.exit(main())
