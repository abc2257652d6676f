#!/usr/bin/env python3
"""The camera's direction and accuracy against ExifTool, and the HTML map in a real browser.

usage: map_page.py PINREEL WORKDIR [SCREENSHOT]

ImageMagick makes a JPEG photo and its thumbnail; ExifTool writes positions, directions,
accuracies, times and the thumbnail into copies, some under names and folder names that are
markup or script. pinreel -r -t writes GeoJSON, whose direction and accuracy must be ExifTool's,
and the HTML page, which headless Chromium opens with no network: the page's test harness
(#pinreel-test) reports what the map shows and clicks every photo. The screenshot goes to
SCREENSHOT. Exit status 0 when all is right, 1 on a difference, 77 when a tool is missing.
"""

import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Name, latitude, longitude, altitude, direction and its reference, accuracy, with a thumbnail.
# Placed on a grid far enough apart that none are clustered at the first view, but the two
# photos at one place.
PHOTOS = [
    ("harbour.jpg", 51.5, -10.0, 35, (90.0, "T"), 5, True),
    ("summit.jpg", 51.5, 0.0, 1200, (270.5, "M"), 3.5, True),
    ("<!--<script>.jpg", 51.5, 10.0, None, (359.99, "T"), None, False),
    ("<img src=x onerror=pinreelInjected=1>.jpg", 45.0, -10.0, None, None, 12.25, True),
    ("<img src=x onerror=pinreelInjected=1>/in a folder.jpg", 45.0, 0.0, None, (0.0, None),
     None, False),
    ("</script>x.jpg", 45.0, 10.0, None, None, None, False),
    ("it's \"quoted\" \\ back.jpg", 38.5, -10.0, -12, None, None, True),
    ("line\u2028and\u2029paragraph.jpg", 38.5, 0.0, None, None, None, False),
    ("same place/1.jpg", 38.5, 10.0, None, None, None, False),
    ("same place/2.jpg", 38.5, 10.0, None, None, None, False),
]
TIME = "2021:07:14 09:30:%02d"


def run(*argv, **kwargs):
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if result.returncode != 0:
        sys.exit("%s failed (%d): %s" % (argv[0], result.returncode,
                                         result.stderr.decode(errors="replace")))
    return result


def make_photos(album):
    base, thumb = os.path.join(album, "base.jpg"), os.path.join(album, "thumb.jpg")
    run("convert", "-size", "320x240", "gradient:#2060c0-#c0d040", "-quality", "80", base)
    run("convert", "-size", "160x120", "gradient:#c04020-#f0e060", "-quality", "70", thumb)
    for second, (name, lat, lon, alt, direction, accuracy, thumbnail) in enumerate(PHOTOS):
        path = os.path.join(album, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(base, path)
        tags = ["-GPSLatitude=%f" % abs(lat), "-GPSLatitudeRef=" + ("N" if lat >= 0 else "S"),
                "-GPSLongitude=%f" % abs(lon), "-GPSLongitudeRef=" + ("E" if lon >= 0 else "W"),
                "-DateTimeOriginal=" + TIME % second]
        if alt is not None:
            tags += ["-GPSAltitude=%d" % abs(alt), "-GPSAltitudeRef=%d" % (alt < 0)]
        if direction:
            tags.append("-GPSImgDirection=%s" % direction[0])
            if direction[1]:
                tags.append("-GPSImgDirectionRef=" + direction[1])
        if accuracy is not None:
            tags.append("-GPSHPositioningError=%s" % accuracy)
        if thumbnail:
            tags.append("-ThumbnailImage<=" + thumb)
        run("exiftool", "-q", "-overwrite_original", *tags, path)
    os.remove(base)
    os.remove(thumb)


def check_geojson(album, document):
    """Direction, its reference and the accuracy as ExifTool reads them."""
    rows = json.loads(run("exiftool", "-n", "-json", "-r", "-q", "-GPSImgDirection",
                          "-GPSImgDirectionRef", "-GPSHPositioningError", album).stdout)
    expected = {os.path.relpath(row["SourceFile"], album): row for row in rows}
    features = json.load(open(document, encoding="utf-8"))["features"]
    failed = 0
    for feature in features:
        have = feature["properties"]
        want = expected[have["name"]]
        pairs = [(have["direction"], want.get("GPSImgDirection")),
                 (have["direction_ref"], want.get("GPSImgDirectionRef")),
                 (have["accuracy"], want.get("GPSHPositioningError"))]
        if any(h != w if isinstance(w, (str, type(None))) else h is None or abs(h - w) > 0.005
               for h, w in pairs):
            failed += 1
            print("FAILED %s: pinreel %s, ExifTool %s" % (have["name"], [p[0] for p in pairs],
                                                           [p[1] for p in pairs]))
    print("GeoJSON: %d features, %d with a direction" % (
        len(features), sum(f["properties"]["direction"] is not None for f in features)))
    return failed + (len(features) != len(PHOTOS))


def chromium(*arguments):
    """Headless Chromium, fresh profile, nothing fetched; its standard output and error."""
    profile = tempfile.mkdtemp(prefix="pinreel-chromium-")
    try:
        result = subprocess.run(
            [shutil.which("chromium"), "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-quic", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
             "--host-resolver-rules=MAP * ~NOTFOUND", "--enable-logging=stderr", "--v=0",
             "--virtual-time-budget=10000", "--window-size=900,600", *arguments],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        return result.stdout.decode(errors="replace"), result.stderr.decode(errors="replace")
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def check_page(page, screenshot):
    url = "file://" + os.path.abspath(page) + "#pinreel-test"
    dom, log = chromium("--dump-dom", url)
    console = [line for line in log.splitlines() if "CONSOLE" in line]
    found = re.search(r'<pre id="pinreel-result">(.*?)</pre>', dom, re.S)
    if not found:
        print("FAILED: the test harness reported nothing\n" + "\n".join(console))
        return 1
    result = json.loads(html.unescape(found.group(1)))
    places = {(name, lat, lon) for name, lat, lon, *_ in PHOTOS}
    problems = []
    if console or result["errors"]:
        problems.append("console: %s %s" % (console, result["errors"]))
    if result["points"] != len(PHOTOS) or result["clustered"] + result["single"] != len(PHOTOS):
        problems.append("%d points, %d in clusters, %d alone" % (
            result["points"], result["clustered"], result["single"]))
    if result["clustered"] != 2:
        problems.append("the photos at one place are not one cluster")
    if result["times"] != ["First 2021-07-14 09:30:00", "Last 2021-07-14 09:30:09"] or \
            result["timeline"] != 1:
        problems.append("times %s, %d time lines" % (result["times"], result["timeline"]))
    if result["injected"]:
        problems.append("a name became markup")
    # The direction of each photo that has one, turned as far.
    turns = sorted(float(re.search(r"[-\d.]+", t).group()) for t in result["directions"])
    if turns != sorted(p[4][0] for p in PHOTOS if p[4]):
        problems.append("directions drawn: %s" % result["directions"])
    for popup in result["popups"]:
        place = (popup["name"], round(popup["at"][0], 6), round(popup["at"][1], 6))
        photo = next((p for p in PHOTOS if p[0] == popup["name"]), None)
        if place not in places or bool(popup["thumbnail"]) != photo[6]:
            problems.append("popup %s" % popup)
        elif photo[4] and ("%g\u00b0" % photo[4][0]) not in popup["text"]:
            problems.append("no direction in popup %s" % popup)
    if len(result["popups"]) != len(PHOTOS) - 2:
        problems.append("%d popups opened" % len(result["popups"]))
    for problem in problems:
        print("FAILED " + problem)
    print("page: %d points, %d alone, %d in clusters, %d popups" % (
        result["points"], result["single"], result["clustered"], len(result["popups"])))
    if screenshot:
        chromium("--screenshot=" + os.path.abspath(screenshot), url)
        print("screenshot: " + screenshot)
    return len(problems)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.strip().splitlines()[2])
    pinreel, folder = os.path.abspath(sys.argv[1]), sys.argv[2]
    missing = [tool for tool in ("convert", "exiftool") if shutil.which(tool) is None]
    if missing:
        print("not installed: %s; skipped" % ", ".join(missing))
        return 77
    shutil.rmtree(folder, ignore_errors=True)
    album, maps = os.path.join(folder, "album"), os.path.join(folder, "maps")
    os.makedirs(album)
    os.makedirs(maps)
    make_photos(album)
    for document in ("photos.geojson", "photos.html"):
        run(pinreel, "-r", "-t", album, os.path.join(maps, document))
    failed = check_geojson(album, os.path.join(maps, "photos.geojson"))
    if shutil.which("chromium") is None:
        print("chromium is not installed; the page is not opened")
    else:
        failed += check_page(os.path.join(maps, "photos.html"),
                             sys.argv[3] if len(sys.argv) > 3 else None)
    print("%d passed, %d failed" % (2 - bool(failed), bool(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
