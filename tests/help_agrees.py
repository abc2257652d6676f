#!/usr/bin/env python3
"""--help, the man page and the bash completion name the same options and formats.

usage: help_agrees.py PINREEL MAN_PAGE COMPLETION

The options are those --help lists at the start of a line, the man page's .B and .BI items and the
words the completion offers; every extension that --help names must be in the man page too.
"""

import re
import subprocess
import sys


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[2])
    pinreel, man_page, completion = sys.argv[1:]
    help_text = subprocess.run([pinreel, "--help"], stdout=subprocess.PIPE, check=True,
                               text=True).stdout
    man = open(man_page, encoding="utf-8").read().replace("\\-", "-").replace("\\fB", "")
    sources = {
        "--help": set(re.findall(r"^  (-[-a-z]+) ", help_text, re.M)),
        "man page": set(re.findall(r"^\.BI? (-[-a-z]+)(?: |$)", man, re.M)),
        "completion": set(re.search(r'-W "([^"]*)"', open(completion).read()).group(1).split()),
    }
    failed = 0
    for name, options in sources.items():
        if options != sources["--help"] or not options:
            failed += 1
            print("FAILED %s names %s; --help %s" % (name, sorted(options),
                                                      sorted(sources["--help"])))
    extensions = set(re.findall(r"(?<![\w.])\.[a-z][a-z0-9]+\b", help_text))
    missing = sorted(e for e in extensions if not re.search(re.escape(e) + r"\b", man))
    if missing:
        failed += 1
        print("FAILED the man page lacks " + " ".join(missing))
    print("%d options, %d extensions" % (len(sources["--help"]), len(extensions)))
    print("%d passed, %d failed" % (4 - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
