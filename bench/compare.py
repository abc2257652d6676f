#!/usr/bin/env python3
"""Times pinreel against the floor (and ExifTool and Exiv2 when installed) on generated folders.

Every tool runs as one process over the whole folder, warm page cache, the tools taking turns
within each repetition so that the machine's drift hits them alike. For each folder size it
prints the median wall time per photo and its ratio to the floor's (the median of the
per-repetition ratios), the same for the CPU time (user + system, which a busy machine disturbs
less), and the peak resident memory; then how time and memory grow with the folder.

Run through bench/run.sh, which builds the programs first.
"""

import argparse
import hashlib
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

PATTERN = "*.jp*g"


def parse_args():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--bin", required=True, help="build folder holding pinreel and bench/")
    p.add_argument("--out", default=os.path.join(here, "out"),
                   help="where the folders of photos and the KML go (default: bench/out)")
    p.add_argument("--sizes", default="1000,10000",
                   help="comma-separated folder sizes (default: 1000,10000)")
    p.add_argument("--large", action="store_true",
                   help="add a 100,000-photo folder (about 5 GB on disk, mostly sparse)")
    p.add_argument("--reps", type=int, default=15, help="repetitions per tool (default 15)")
    p.add_argument("--peer-reps", type=int, default=3,
                   help="repetitions for ExifTool and Exiv2 (default 3)")
    p.add_argument("--no-peers", action="store_true", help="leave out ExifTool and Exiv2")
    p.add_argument("--exiftool-max", type=int, default=10000,
                   help="largest folder that ExifTool is timed on (default 10000; it takes "
                        "about 5 ms a photo)")
    p.add_argument("--markdown", help="also write the tables to this file (default: "
                   "results.md in the --out folder)")
    p.add_argument("--photos", metavar="DIR",
                   help="instead of the generated folders, time the tools on hard links to the "
                   "JPEG photos in DIR (your own camera's, say), repeated up to each --sizes count")
    p.add_argument("--cold", action="store_true",
                   help="evict the folder's pages from the page cache before every timed run "
                   "(posix_fadvise, no root needed): pinreel and the floors read from the disk")
    p.add_argument("--threads", metavar="LIST",
                   help="time pinreel CSV and KML -d with each of these numbers of reader threads "
                        "(-j), e.g. 1,2,4, instead of CSV, KML and KML -d with the default")
    p.add_argument("--baseline", metavar="PINREEL",
                   help="also time another build of pinreel (CSV and KML -d), e.g. the one before "
                        "a change")
    p.add_argument("--mixed", type=int, nargs="?", const=1000, metavar="COUNT",
                   help="instead of the JPEG folders, time pinreel and ExifTool on a folder of "
                        "COUNT (default 1000) photos in every format pinreel reads, and report "
                        "the bytes read per photo beside the file sizes")
    p.add_argument("--videos", type=int, nargs="?", const=1000, metavar="COUNT",
                   help="instead, time pinreel on a folder of COUNT (default 1000) phone videos "
                        "with the movie box after the media data, against the folder of as many "
                        "JPEG photos, and report the bytes read per video")
    p.add_argument("--takeout", type=int, nargs="?", const=10000, metavar="COUNT",
                   help="instead, time pinreel with and without -s on a Google Photos export of "
                        "COUNT (default 10000) photos, each with its JSON file, and -s on the "
                        "same photos without sidecars")
    return p.parse_args()


def source_digest(here, generator="make_corpus.cpp"):
    h = hashlib.sha1()
    for name in (generator, "../tests/support/exif_builder.cpp",
                 "../tests/support/exif_builder.h"):
        with open(os.path.join(here, name), "rb") as f:
            h.update(f.read())
    return h.hexdigest()


def ensure_corpus(make_corpus, out, count, digest, prefix="photos", extra=()):
    """Generates the folder unless one from the same generator is already there."""
    folder = os.path.join(out, "%s-%d" % (prefix, count))
    stamp = folder + ".stamp"
    want = "%d %s\n" % (count, digest)
    if os.path.isdir(folder) and os.path.exists(stamp) and open(stamp).read() == want:
        return folder
    if os.path.exists(stamp):
        os.remove(stamp)
    shutil.rmtree(folder, ignore_errors=True)
    print("generating %d photos in %s ..." % (count, folder), flush=True)
    subprocess.run([make_corpus, folder, str(count)] + list(extra), check=True)
    with open(stamp, "w") as f:
        f.write(want)
    return folder


def ensure_links(source, out, count):
    """A folder of `count` hard links (copies across file systems) to the JPEG photos in `source`,
    each name made unique by a running number."""
    photos = sorted(n for n in os.listdir(source) if n.lower().endswith((".jpg", ".jpeg")))
    if not photos:
        sys.exit("no .jpg or .jpeg photos in %s" % source)
    folder = os.path.join(out, "links-%d" % count)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for i in range(count):
        name = photos[i % len(photos)]
        target = os.path.join(folder, "P%06d_%s" % (i, name))
        try:
            os.link(os.path.join(source, name), target)
        except OSError:
            shutil.copyfile(os.path.join(source, name), target)
    return folder


def raise_stack_limit():
    # Exiv2 takes the names on its command line; a larger stack limit raises the kernel's limit
    # on the size of the arguments (to 6 MB), enough for 100,000 names. Children inherit it.
    soft, hard = resource.getrlimit(resource.RLIMIT_STACK)
    want = 64 << 20
    if soft != resource.RLIM_INFINITY and soft < want and (
            hard == resource.RLIM_INFINITY or hard >= want):
        resource.setrlimit(resource.RLIMIT_STACK, (want, hard))


def run_once(timed, argv, cwd, stdout_path, ok_status=(0,)):
    """Wall seconds, CPU seconds and peak RSS (KB) of one run, as the timing wrapper saw them."""
    proc = subprocess.run([timed, stdout_path] + argv, cwd=cwd, stdout=subprocess.PIPE,
                          check=True)
    wall_ns, user_us, system_us, rss_kb, status = (int(x) for x in proc.stdout.split())
    if status not in ok_status:
        sys.exit("%s failed with status %d in %s" % (argv[0], status, cwd))
    return wall_ns / 1e9, (user_us + system_us) / 1e6, rss_kb


class Tool:
    def __init__(self, name, argv, stdout=os.devnull, peer=False, ok_status=(0,)):
        self.name, self.argv, self.stdout, self.peer = name, argv, stdout, peer
        self.ok_status = ok_status
        self.walls, self.cpus, self.rss = [], [], []


def tools_for(args, folder, count, names):
    pinreel = os.path.join(args.bin, "pinreel")
    floor = os.path.join(args.bin, "bench", "floor")
    kml = os.path.join(os.path.abspath(args.out), "bench.kml")
    if args.threads:
        tools = []
        for j in args.threads.split(","):
            tools += [Tool("pinreel CSV -j " + j, [pinreel, "-j", j, PATTERN]),
                      Tool("pinreel KML -d -j " + j, [pinreel, "-j", j, "-d", PATTERN, kml])]
    else:
        tools = [
            Tool("pinreel CSV", [pinreel, PATTERN]),
            Tool("pinreel KML", [pinreel, PATTERN, kml]),
            Tool("pinreel KML -d", [pinreel, "-d", PATTERN, kml]),
        ]
    if args.baseline:
        tools += [Tool("baseline CSV", [args.baseline, PATTERN]),
                  Tool("baseline KML -d", [args.baseline, "-d", PATTERN, kml])]
    tools += [
        Tool("floor", [floor, PATTERN]),
        Tool("plain floor", [os.path.join(args.bin, "bench", "plain_floor"), "."]),
    ]
    if not args.no_peers and not args.cold:
        if shutil.which("exiv2"):
            gps = ["GPSLatitudeRef", "GPSLatitude", "GPSLongitudeRef", "GPSLongitude",
                   "GPSAltitudeRef", "GPSAltitude"]
            argv = ["exiv2", "-PEkv"]
            for tag in gps:
                argv += ["-g", "Exif.GPSInfo." + tag]
            # Exiv2 exits with 1 when a file lacks the tags asked for.
            tools.append(Tool("Exiv2", argv + names, peer=True, ok_status=(0, 1)))
        if shutil.which("exiftool") and count <= args.exiftool_max:
            tools.append(Tool("ExifTool", ["exiftool", "-n", "-csv", "-GPSLatitude",
                                           "-GPSLongitude", "-GPSAltitude", "."], peer=True))
    return tools


def evict(folder):
    """Drops the folder's files from the page cache, as if they had never been read."""
    for name in os.listdir(folder):
        try:
            fd = os.open(os.path.join(folder, name), os.O_RDONLY)
        except OSError:
            continue
        try:
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def time_tools(args, tools, folder, reps, cold, after_rep=lambda rep: None):
    """Times each tool `reps` times (the peers args.peer_reps times), taking turns."""
    timed = os.path.join(args.bin, "bench", "timed")
    for rep in range(reps):
        # Rotate the order so that no tool always follows the same one.
        order = tools[rep % len(tools):] + tools[:rep % len(tools)]
        for t in order:
            if t.peer and rep >= args.peer_reps:
                continue
            if cold:
                evict(folder)
            wall, cpu, rss = run_once(timed, t.argv, folder, t.stdout, t.ok_status)
            t.walls.append(wall)
            t.cpus.append(cpu)
            t.rss.append(rss)
        after_rep(rep)


def measure(args, folder, count):
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith((".jpg", ".jpeg")))
    tools = tools_for(args, folder, count, names)
    timed = os.path.join(args.bin, "bench", "timed")
    by_name = {t.name: t for t in tools}
    # Warm the page cache and the programs: the floors and pinreel read the same bytes.
    for t in tools:
        if not t.peer:
            run_once(timed, t.argv, folder, t.stdout, t.ok_status)
    # A run over a small folder lasts a few tens of milliseconds, where one hiccup of a busy
    # machine's scheduler weighs heavily: such folders get three times the repetitions.
    reps = args.reps * 3 if count <= 2000 else args.reps
    time_tools(args, tools, folder, reps, args.cold,
               lambda rep: print("  %d photos: repetition %d of %d done" % (count, rep + 1, reps),
                                 file=sys.stderr, flush=True))
    floor, plain = by_name["floor"], by_name["plain floor"]
    rows = []
    for t in tools:
        ratios = [w / floor.walls[i] for i, w in enumerate(t.walls)]
        plain_ratios = [w / plain.walls[i] for i, w in enumerate(t.walls)]
        cpu_ratios = [c / floor.cpus[i] for i, c in enumerate(t.cpus)]
        rows.append({
            "tool": t.name,
            "us": statistics.median(t.walls) / count * 1e6,
            "cpu_us": statistics.median(t.cpus) / count * 1e6,
            "ratio": statistics.median(ratios),
            "plain_ratio": statistics.median(plain_ratios),
            "cpu_ratio": statistics.median(cpu_ratios),
            "rss_kb": max(t.rss),
            "runs": len(t.walls),
        })
    return rows


def table(count, rows, cold, photos=None):
    lines = [
        "%s photos%s%s" % (format(count, ","),
                           " (links to the photos in %s)" % photos if photos else "",
                           ", cold page cache" if cold else ""),
        "",
        "| tool | µs per photo | ratio to floor | ratio to plain floor | CPU µs per photo "
        "| CPU ratio | peak RSS | runs |",
        "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |",
    ]
    for r in rows:
        lines.append("| %s | %.1f | %.2f | %.2f | %.1f | %.2f | %.2f MB | %d |" % (
            r["tool"], r["us"], r["ratio"], r["plain_ratio"], r["cpu_us"], r["cpu_ratio"],
            r["rss_kb"] / 1024, r["runs"]))
    return lines


def growth(results):
    counts = sorted(results)
    lo, hi = counts[0], counts[-1]
    lines = [
        "Growth from %s to %s photos (time is linear when the µs per photo stay level; the "
        "smaller folders carry more of the start-up)" % (format(lo, ","), format(hi, ",")),
        "",
        "| tool | " + " | ".join("µs/photo at %s" % format(c, ",") for c in counts) +
        " | total time %s / %s | peak RSS growth per photo |" % (format(hi, ","), format(lo, ",")),
        "| --- | " + " | ".join("---:" for _ in counts) + " | ---: | ---: |",
    ]
    for row in results[lo]:
        name = row["tool"]
        cells = []
        for c in counts:
            match = [r for r in results[c] if r["tool"] == name]
            cells.append("%.1f" % match[0]["us"] if match else "")
        match = [r for r in results[hi] if r["tool"] == name]
        if match:
            total = "%.0f×" % (match[0]["us"] * hi / (row["us"] * lo))
            grow = "%.1f B" % max(0.0, (match[0]["rss_kb"] - row["rss_kb"]) * 1024 / (hi - lo))
        else:
            total = grow = ""
        lines.append("| %s | %s | %s | %s |" % (name, " | ".join(cells), total, grow))
    return lines


def run_mixed(args, here):
    """pinreel against ExifTool on the mixed-format folder, and the bytes read per format."""
    count = args.mixed
    folder = ensure_corpus(os.path.join(args.bin, "bench", "make_mixed"), args.out, count,
                           source_digest(here, "make_mixed.cpp"), "mixed")
    timed = os.path.join(args.bin, "bench", "timed")
    tools = [Tool("pinreel CSV", [os.path.join(args.bin, "pinreel"), "*"])]
    if not args.no_peers and shutil.which("exiftool"):
        tools.append(Tool("ExifTool", ["exiftool", "-n", "-csv", "-GPSLatitude", "-GPSLongitude",
                                       "-GPSAltitude", "."], peer=True))
    for t in tools:  # warm the page cache
        run_once(timed, t.argv, folder, t.stdout, t.ok_status)
    time_tools(args, tools, folder, args.reps, False)
    lines = ["%s photos in every format" % format(count, ","), "",
             "| tool | µs per photo | CPU µs per photo | peak RSS | runs |",
             "| --- | ---: | ---: | ---: | ---: |"]
    for t in tools:
        lines.append("| %s | %.1f | %.1f | %.2f MB | %d |" % (
            t.name, statistics.median(t.walls) / count * 1e6,
            statistics.median(t.cpus) / count * 1e6, max(t.rss) / 1024, len(t.walls)))
    lines += ["", "Bytes read per photo (pinreel's reader, as bench/bytes_read counts them):", ""]
    lines += subprocess.run([os.path.join(args.bin, "bench", "bytes_read"), folder],
                            stdout=subprocess.PIPE, check=True).stdout.decode().splitlines()
    print("\n".join(lines))
    with open(args.markdown or os.path.join(args.out, "results-mixed.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


def run_videos(args, here):
    """pinreel on phone videos against pinreel on as many JPEG photos, taking turns."""
    count = args.videos
    videos = ensure_corpus(os.path.join(args.bin, "bench", "make_mixed"), args.out, count,
                           source_digest(here, "make_mixed.cpp"), "videos", ["1", "videos"])
    photos = ensure_corpus(os.path.join(args.bin, "bench", "make_corpus"), args.out, count,
                           source_digest(here))
    timed = os.path.join(args.bin, "bench", "timed")
    pinreel = os.path.join(args.bin, "pinreel")
    runs = [(videos, Tool("pinreel CSV, videos", [pinreel, "*"])),
            (photos, Tool("pinreel CSV, JPEG photos", [pinreel, PATTERN]))]
    for folder, t in runs:  # warm the page cache
        run_once(timed, t.argv, folder, t.stdout)
    reps = args.reps * 3 if count <= 2000 else args.reps
    for rep in range(reps):
        for folder, t in runs if rep % 2 == 0 else runs[::-1]:
            wall, cpu, rss = run_once(timed, t.argv, folder, t.stdout)
            t.walls.append(wall)
            t.cpus.append(cpu)
            t.rss.append(rss)
    video, jpeg = runs[0][1], runs[1][1]
    lines = ["%s phone videos (the movie box last) against %s JPEG photos" % (
                 format(count, ","), format(count, ",")), "",
             "| folder | µs per file | ratio to JPEG | CPU µs per file | CPU ratio | peak RSS | runs |",
             "| --- | ---: | ---: | ---: | ---: | ---: | ---: |"]
    for t in (video, jpeg):
        lines.append("| %s | %.1f | %.2f | %.1f | %.2f | %.2f MB | %d |" % (
            t.name, statistics.median(t.walls) / count * 1e6,
            statistics.median([w / jpeg.walls[i] for i, w in enumerate(t.walls)]),
            statistics.median(t.cpus) / count * 1e6,
            statistics.median([c / jpeg.cpus[i] for i, c in enumerate(t.cpus)]),
            max(t.rss) / 1024, len(t.walls)))
    lines += ["", "Bytes read per video (pinreel's reader, as bench/bytes_read counts them):", ""]
    lines += subprocess.run([os.path.join(args.bin, "bench", "bytes_read"), videos],
                            stdout=subprocess.PIPE, check=True).stdout.decode().splitlines()
    print("\n".join(lines))
    with open(args.markdown or os.path.join(args.out, "results-videos.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


def ensure_takeout(photos, out, count):
    """A Takeout folder: hard links to the generated photos, every other one under a name with a
    duplicate counter, each with its JSON file as Google names it, half in the newer form."""
    folder = os.path.join(out, "takeout-%d" % count)
    stamp = folder + ".stamp"
    want = "%d %s\n" % (count, photos)
    if os.path.isdir(folder) and os.path.exists(stamp) and open(stamp).read() == want:
        return folder
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    names = sorted(n for n in os.listdir(photos) if n.lower().endswith((".jpg", ".jpeg")))
    for i, name in enumerate(names[:count]):
        stem, ext = os.path.splitext(name)
        counted = "%s(1)%s" % (stem, ext) if i % 2 else name
        try:
            os.link(os.path.join(photos, name), os.path.join(folder, counted))
        except OSError:
            shutil.copyfile(os.path.join(photos, name), os.path.join(folder, counted))
        supplemental = ".supplemental-metadata" if i % 4 < 2 else ""
        json_name = (name + supplemental)[:46] + ("(1)" if i % 2 else "") + ".json"
        with open(os.path.join(folder, json_name), "w") as f:
            f.write('{"title": "%s", "photoTakenTime": {"timestamp": "%d", "formatted": ""}, '
                    '"geoData": {"latitude": %.6f, "longitude": %.6f, "altitude": 12.5, '
                    '"latitudeSpan": 0.0, "longitudeSpan": 0.0}, "url": "https://photos.google.'
                    'com/photo/%d"}\n' % (name, 1500000000 + i, 40 + i % 1000 / 100.0,
                                           -3 - i % 700 / 100.0, i))
    with open(stamp, "w") as f:
        f.write(want)
    return folder


def run_takeout(args, here):
    """pinreel with -s against pinreel without it, on a Takeout folder and on plain photos."""
    count = args.takeout
    photos = ensure_corpus(os.path.join(args.bin, "bench", "make_corpus"), args.out, count,
                           source_digest(here))
    folder = ensure_takeout(photos, args.out, count)
    pinreel = os.path.join(args.bin, "pinreel")
    timed = os.path.join(args.bin, "bench", "timed")
    runs = [("Takeout folder", folder, Tool("pinreel", [pinreel, "*"]),
             Tool("pinreel -s", [pinreel, "-s", "*"])),
            ("photos without sidecars", photos, Tool("pinreel", [pinreel, "*"]),
             Tool("pinreel -s", [pinreel, "-s", "*"]))]
    lines = ["%s photos: -s against no -s (median of the per-repetition ratios)" %
             format(count, ","), "",
             "| folder | µs per photo | with -s | ratio | CPU ratio | runs |",
             "| --- | ---: | ---: | ---: | ---: | ---: |"]
    for name, where, plain, sidecars in runs:
        for t in (plain, sidecars):  # warm the page cache
            run_once(timed, t.argv, where, t.stdout, t.ok_status)
        time_tools(args, [plain, sidecars], where, args.reps, False)
        ratio = statistics.median(w / plain.walls[i] for i, w in enumerate(sidecars.walls))
        cpu = statistics.median(c / plain.cpus[i] for i, c in enumerate(sidecars.cpus))
        lines.append("| %s | %.1f | %.1f | %.2f | %.2f | %d |" % (
            name, statistics.median(plain.walls) / count * 1e6,
            statistics.median(sidecars.walls) / count * 1e6, ratio, cpu, len(plain.walls)))
    print("\n".join(lines))
    with open(args.markdown or os.path.join(args.out, "results-takeout.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    args = parse_args()
    raise_stack_limit()
    here = os.path.dirname(os.path.abspath(__file__))
    os.makedirs(args.out, exist_ok=True)
    if args.mixed:
        run_mixed(args, here)
        return
    if args.videos:
        run_videos(args, here)
        return
    if args.takeout:
        run_takeout(args, here)
        return
    sizes = [int(s) for s in args.sizes.split(",") if s]
    if args.large and 100000 not in sizes:
        sizes.append(100000)
    digest = source_digest(here)
    make_corpus = os.path.join(args.bin, "bench", "make_corpus")
    if args.photos:
        folders = {n: ensure_links(args.photos, args.out, n) for n in sizes}
    else:
        folders = {n: ensure_corpus(make_corpus, args.out, n, digest) for n in sizes}

    results = {}
    report = []
    for n in sizes:
        results[n] = measure(args, folders[n], n)
        lines = table(n, results[n], args.cold, args.photos)
        print("\n".join(lines) + "\n", flush=True)
        report += lines + [""]
    if len(sizes) > 1:
        lines = growth(results)
        print("\n".join(lines))
        report += lines
    with open(args.markdown or os.path.join(args.out, "results.md"), "w") as f:
        f.write("\n".join(report) + "\n")


if __name__ == "__main__":
    main()
