#!/usr/bin/env python3
"""pinreel's positions against ExifTool's, on photos of every format that Debian's tools write.

usage: compare_exiftool.py PINREEL WORKDIR

Encodes a picture in every format, writes positions and capture times into copies with ExifTool,
makes videos with ffmpeg (the movie box before and after the media data) and writes their
locations with ExifTool (Apple's keys, QuickTime's user data) and with ffmpeg itself, and runs tools/compare_exiftool.py over them: every position and time must agree. Exit status 0
when everything agrees, 1 on any difference, 77 when a tool is missing.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import zlib

TOOLS = ("convert", "tiffcp", "heif-enc", "avifenc", "cwebp", "cjxl", "exiftool", "ffmpeg")
COMPARE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools",
                       "compare_exiftool.py")
# Latitude, longitude (decimal degrees), altitude (m, negative below sea level).
PLACES = [(51.507332, -0.127667, 35.0), (-33.8568, 151.2153, 12.7), (31.559, 35.4732, -430.0),
          (-22.9519, -43.2105, 699.9), (64.1466, -21.9426, 0.0), (0.0004, 179.9999, 8848.86)]


def run(*argv, cwd=None):
    result = subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                         result.stderr.decode(errors="replace")))
    return result.stdout


def encode(folder):
    base = os.path.join(folder, "base.png")
    run("convert", "-size", "160x120", "gradient:#c04020-#2040c0", base)
    run("convert", base, os.path.join(folder, "base.tif"))
    files = {}
    for ext, argv in (("jpg", ["convert", base, "-quality", "85"]), ("png", ["convert", base]),
                      ("tif", ["convert", base]),
                      ("tiff", ["tiffcp", "-B", os.path.join(folder, "base.tif")]),
                      ("heic", ["heif-enc", "-q", "60", base, "-o"]),
                      ("avif", ["avifenc", "-s", "10", base]),
                      ("webp", ["cwebp", "-quiet", base, "-o"]), ("jxl", ["cjxl", base])):
        files[ext] = os.path.join(folder, "plain." + ext)
        run(*(argv + [files[ext]]))
    return files


def set_position(paths, place, time):
    latitude, longitude, altitude = place
    # -m: ExifTool wraps a bare JPEG XL codestream in a container to write its Exif box.
    run("exiftool", "-q", "-m", "-overwrite_original",
        "-GPSLatitude=%.7f" % abs(latitude), "-GPSLatitudeRef=" + ("S" if latitude < 0 else "N"),
        "-GPSLongitude=%.7f" % abs(longitude),
        "-GPSLongitudeRef=" + ("W" if longitude < 0 else "E"),
        "-GPSAltitude=%.2f" % abs(altitude), "-GPSAltitudeRef#=%d" % (1 if altitude < 0 else 0),
        "-EXIF:DateTimeOriginal=" + time[0], "-EXIF:OffsetTimeOriginal=" + time[1], *paths)


def make_videos(folder):
    """Videos with positions and times; returns how many have a position."""
    def ffmpeg(path, *options):
        # H.263, 3GPP's codec, takes only a few picture sizes.
        size = "176x144" if path.endswith(".3gp") else "64x64"
        run("ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
            "testsrc=size=%s:duration=0.1" % size, *options, "-y", path)

    def iso6709(place, altitude=True):
        text = "%+08.4f%+09.4f" % place[:2]
        return text + ("%+.3f/" % place[2] if altitude else "/")

    plain = []
    for name in ("last.mov", "last.mp4", "first.mov", "first.mp4", "clip.m4v", "clip.3gp"):
        path = os.path.join(folder, "video_" + name)
        ffmpeg(path, *(["-movflags", "+faststart"] if name.startswith("first") else []),
               "-metadata", "creation_time=2019-06-01T12:03:2%dZ" % len(plain))
        plain.append(path)
    # ExifTool: iPhones' keys with the creation date on even places, QuickTime's user data on odd
    # ones, each into a copy of every video.
    count = 0
    for i, place in enumerate(PLACES):
        copies = [p.replace("video_", "video%d_" % i) for p in plain]
        for source, copy in zip(plain, copies):
            shutil.copyfile(source, copy)
        coordinates = "%.4f, %.4f, %.3f" % place
        tags = (["-Keys:GPSCoordinates=" + coordinates,
                 "-Keys:CreationDate=2020:02:29 23:59:5%d+05:30" % i] if i % 2 == 0 else
                ["-UserData:GPSCoordinates=" + coordinates])
        run("exiftool", "-q", "-overwrite_original", *tags, *copies)
        count += len(copies)
    # ffmpeg's own location: QuickTime's user data in MOV, 3GPP's location box in MP4.
    for i, place in enumerate(PLACES[:2]):
        for name in ("ffmpeg%d.mov" % i, "ffmpeg%d.mp4" % i, "ffmpeg%d_first.mp4" % i):
            ffmpeg(os.path.join(folder, name), "-metadata", "location=" + iso6709(place, False),
                   *(["-movflags", "+faststart"] if "first" in name else []))
            count += 1
    return count


def png_with_profile(jpeg, path):
    """A PNG whose EXIF block is in ImageMagick's zTXt "Raw profile type exif" chunk."""
    block = run("exiftool", "-b", "-EXIF", jpeg)
    text = "\nexif\n%8d\n" % len(block) + "".join(
        block[i:i + 36].hex() + "\n" for i in range(0, len(block), 36))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data))

    data = b"Raw profile type exif\0\0" + zlib.compress(text.encode())
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
                + chunk(b"zTXt", data) + chunk(b"IDAT", zlib.compress(b"\0\0")) +
                chunk(b"IEND", b""))


def takeout_json(path, title, latitude, longitude, altitude, taken):
    with open(path, "w") as f:
        json.dump({"title": title, "photoTakenTime": {"timestamp": str(taken), "formatted": ""},
                   "geoData": {"latitude": latitude, "longitude": longitude, "altitude": altitude,
                               "latitudeSpan": 0.0, "longitudeSpan": 0.0}}, f)


def write_sources(folder, plain):
    """Positions outside the EXIF block, as ExifTool writes them and Google exports them: the XMP
    packet of every format, a drone's XMP, sidecars of both naming conventions, Takeout layouts.
    Returns how many photos must have a position with -s."""
    os.makedirs(folder)
    latitude, longitude, altitude = PLACES[1]
    for ext in sorted(plain):
        shutil.copyfile(plain[ext], os.path.join(folder, "xmp." + ext))
    run("exiftool", "-q", "-m", "-overwrite_original", "-XMP-exif:GPSLatitude=%.7f" % latitude,
        "-XMP-exif:GPSLongitude=%.7f" % longitude, "-XMP-exif:GPSAltitude=%.2f" % altitude,
        "-XMP-exif:DateTimeOriginal=2019:06:01 14:03:22+02:00",
        *[os.path.join(folder, "xmp." + ext) for ext in sorted(plain)])
    drone = os.path.join(folder, "DJI_0001.jpg")
    shutil.copyfile(plain["jpg"], drone)
    run("exiftool", "-q", "-overwrite_original", "-XMP-drone-dji:GpsLatitude=22.5432101",
        "-XMP-drone-dji:GpsLongtitude=113.9512345", "-XMP-drone-dji:AbsoluteAltitude=120.5",
        "-XMP-drone-dji:GimbalYawDegree=-90.5", drone)
    # Sidecars beside photos with an EXIF position of their own, which they correct.
    for name, sidecar in (("IMG_0001.jpg", "IMG_0001.xmp"), ("IMG_0002.jpg", "IMG_0002.jpg.xmp")):
        shutil.copyfile(plain["jpg"], os.path.join(folder, name))
        set_position([os.path.join(folder, name)], PLACES[0], ("2019:06:01 14:03:20", ""))
        run("exiftool", "-q", "-o", os.path.join(folder, sidecar),
            "-XMP-exif:GPSLatitude=%.7f" % PLACES[3][0],
            "-XMP-exif:GPSLongitude=%.7f" % PLACES[3][1], "-XMP-exif:GPSAltitude=25")
    # Takeout: the counter moved, a name clipped, a photo stripped of its EXIF position, and
    # Google's zeros beside a photo that has a position of its own and one that has none.
    layouts = (("IMG_4081(1).jpg", "IMG_4081.jpg(1).json", True, PLACES[4]),
               ("IMG_4082(2).jpg", "IMG_4082.jpg.supplemental-metadata(2).json", False, PLACES[5]),
               ("a_rather_long_name_from_a_phone_camera_roll_2019.jpg",
                "a_rather_long_name_from_a_phone_camera_roll_20.json", True, PLACES[2]),
               ("PXL_20230615_101112345.MP.jpg",
                "PXL_20230615_101112345.MP.jpg.supplemental-met.json", True, PLACES[1]),
               ("zero.jpg", "zero.jpg.json", False, (0.0, 0.0, 0.0)),
               ("none.jpg", "none.jpg.supplemental-metadata.json", True, (0.0, 0.0, 0.0)))
    for name, json_name, stripped, place in layouts:
        path = os.path.join(folder, name)
        shutil.copyfile(plain["jpg"], path)
        set_position([path], PLACES[0], ("2019:06:01 14:03:21", ""))
        if stripped:
            run("exiftool", "-q", "-overwrite_original", "-gps:all=", "-DateTimeOriginal=", path)
        takeout_json(os.path.join(folder, json_name), name, *place, 1559397802)
    return len(plain) + 1 + 2 + len(layouts) - 1


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
    # ExifTool writes each place into a copy of every format, with a time on every other place.
    for i, place in enumerate(PLACES):
        copies = [os.path.join(folder, "place%d.%s" % (i, ext)) for ext in sorted(plain)]
        for ext, copy in zip(sorted(plain), copies):
            shutil.copyfile(plain[ext], copy)
        set_position(copies, place, ("2019:06:01 14:03:2%d" % i, "+02:00" if i % 2 else ""))
    # The encoders carry a JPEG's EXIF block over themselves; ImageMagick keeps it in PNG, and in
    # TIFF drops the GPS directory and writes the first directory after the image data.
    source, into = os.path.join(folder, "place0.jpg"), os.path.join(folder, "from_jpeg.")
    run("heif-enc", "-q", "60", source, "-o", into + "heic")
    run("avifenc", "-s", "10", source, into + "avif")
    run("cwebp", "-quiet", "-metadata", "exif", source, "-o", into + "webp")
    for ext in ("png", "tif"):
        run("convert", source, into + ext)
    png_with_profile(os.path.join(folder, "place1.jpg"), into.replace("jpeg", "profile") + "png")
    for name in ("base.png", "base.tif"):
        os.remove(os.path.join(folder, name))
    videos = make_videos(folder)

    result = subprocess.run([sys.executable, COMPARE, folder, pinreel], stdout=subprocess.PIPE,
                            universal_newlines=True)
    print(result.stdout, end="")
    rows = [line.split() for line in result.stdout.splitlines()]
    total = next(row for row in rows if row and row[0] == "all")
    # Every place in every format, the copies of the JPEG file but TIFF's, and the videos.
    positions = len(PLACES) * len(plain) + 5 + videos
    if result.returncode != 0 or int(total[2]) != positions:
        print("%s positions expected" % positions)
        return 1
    # With -s: what lies outside the EXIF block.
    sources = os.path.join(folder, "sources")
    expected = write_sources(sources, plain)
    result = subprocess.run([sys.executable, COMPARE, "-s", sources, pinreel],
                            stdout=subprocess.PIPE, universal_newlines=True)
    print(result.stdout, end="")
    rows = [line.split() for line in result.stdout.splitlines()]
    sidecar_total = next(row for row in rows if row and row[0] == "all")
    if result.returncode != 0 or int(sidecar_total[2]) != expected:
        print("%s positions expected with -s" % expected)
        return 1
    print("%d passed, 0 failed" % (int(total[1]) + int(sidecar_total[1])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
