#!/usr/bin/env python3
"""The HTML map of many photos: its size, and how soon headless Chromium shows the first clusters.

make_page writes the page of COUNT made-up photos (with times and directions, no thumbnails)
through pinreel's writer, and the page of none: the difference is what the photos cost. Chromium
then opens the page REPS times, with the page's #pinreel-bench harness, which reports when its
script starts (the page and its data have been read) and when the first markers and clusters are
in the document. The medians are printed, with the whole run of the browser for comparison.

Run through bench/run.sh --map, which builds the programs first.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--bin", required=True, help="build folder holding bench/make_page")
    p.add_argument("--out", default=os.path.join(here, "out"), help="where the pages go")
    p.add_argument("--map", type=int, default=100000, metavar="COUNT", help="photos on the page")
    p.add_argument("--reps", type=int, default=5, help="times the browser opens the page")
    args = p.parse_args()
    browser = shutil.which("chromium")
    if browser is None:
        sys.exit("chromium is not installed")
    os.makedirs(args.out, exist_ok=True)
    make_page = os.path.join(args.bin, "bench", "make_page")
    page, empty = os.path.join(args.out, "map.html"), os.path.join(args.out, "map_empty.html")
    subprocess.run([make_page, "0", empty], check=True)
    started = time.perf_counter()
    subprocess.run([make_page, str(args.map), page], check=True)
    written = time.perf_counter() - started
    size, base = os.path.getsize(page), os.path.getsize(empty)
    print("page of %d photos: %.2f MB, %.1f bytes a photo beyond the %.0f KB of the libraries and "
          "the script (written in %.2f s)" % (args.map, size / 1e6, (size - base) / max(args.map, 1),
                                              base / 1e3, written))
    starts, shown, walls = [], [], []
    for _ in range(args.reps):
        profile = tempfile.mkdtemp(prefix="pinreel-bench-")
        try:
            started = time.perf_counter()
            dom = subprocess.run(
                [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--user-data-dir=" + profile, "--window-size=1200,800",
                 "--dump-dom", "file://" + os.path.abspath(page) + "#pinreel-bench"],
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout.decode()
            walls.append(time.perf_counter() - started)
        finally:
            shutil.rmtree(profile, ignore_errors=True)
        found = re.search(r'<pre id="pinreel-result">(.*?)</pre>', dom)
        if not found:
            sys.exit("the page reported nothing")
        result = json.loads(found.group(1))
        starts.append(result["start"] / 1000)
        shown.append(result["firstClusters"] / 1000)
    print("headless Chromium, median of %d: page read %.2f s, first clusters shown %.2f s after "
          "the navigation began; the browser's whole run %.2f s" % (
              args.reps, statistics.median(starts), statistics.median(shown),
              statistics.median(walls)))


if __name__ == "__main__":
    main()
