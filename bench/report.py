#!/usr/bin/env python3
"""report.py <times-folder> <size-mb> <files> <small-files> <runs>: the results table (Markdown)
from the "<seconds> <peak-rss-kib> <exit>" lines bench/timed.py wrote, one file per measurement."""
import os
import statistics
import sys

times, size_mb, files, small_files, runs = sys.argv[1:6]


def load(name):
    path = os.path.join(times, name)
    if not os.path.exists(path):
        return None
    rows = [line.split() for line in open(path) if line.strip()]
    return [(float(r[0]), int(r[1])) for r in rows]


def median(name, column=0):
    rows = load(name)
    return statistics.median(r[column] for r in rows) if rows else None


def seconds(v):
    return "-" if v is None else "%.2f s" % v


def mib(v):
    return "-" if v is None else "%.0f MiB" % (v / 1024)


def ratio(a, b):
    return "-" if a is None or b is None or b == 0 else "%.2f" % (a / b)


wine = median("wine-start")
rows = [
    ("Fresh install, %s MiB in %s files" % (size_mb, files), "orvanectl update",
     median("install-ours"), "aria2c -j12 -x1 + zlib inflate + sha256sum -c + rename",
     median("install-theirs")),
    ("Repair (verify every file, page cache warm)", "orvanectl update --repair",
     median("repair-ours"), "sha256sum -c over the same files", median("repair-theirs")),
    ("Up-to-date check, %s small files, file cache warm" % small_files, "orvanectl update",
     median("check-ours"), "find -printf '%s %T@\\n'", median("check-theirs")),
    ("Fresh install, %s small files: ours / floor" % small_files, "orvanectl update",
     median("small-install"), "bench/floor: 12 threads, one kept-alive GET, .part write + flush + move per file",
     median("small-floor")),
]
out = []
out.append("# Orvane update engine benchmark\n")
out.append("Medians of %s runs. orvanectl runs under Wine (%s, %s prefix); its times include Wine's "
           "start-up, shown on its own in the last time row. \"minus Wine\" subtracts that median.\n"
           % (runs, os.environ.get("ORV_WINE", "wine"),
              "32-bit" if os.environ.get("WINEARCH") == "win32" else "64-bit"))
out.append("| measurement | ours | time | minus Wine | theirs | time | ours / theirs | minus Wine / theirs |")
out.append("|---|---|---:|---:|---|---:|---:|---:|")
for what, ours_cmd, ours, theirs_cmd, theirs in rows:
    net = None if ours is None or wine is None else max(0.0, ours - wine)
    out.append("| %s | `%s` | %s | %s | %s | %s | %s | %s |" % (
        what, ours_cmd, seconds(ours), seconds(net), "`%s`" % theirs_cmd if theirs_cmd else "", seconds(theirs),
        ratio(ours, theirs), ratio(net, theirs)))
out.append("| Wine start-up | `orvanectl --help` | %s | | | | | |" % seconds(wine))
out.append("")
out.append("| peak memory (max resident set, wait4 ru_maxrss) | ours | theirs | ours / theirs |")
out.append("|---|---:|---:|---:|")
ours_rss = median("install-ours", 1)
aria_rss = median("aria2-only", 1)
pipe_rss = median("install-theirs", 1)
out.append("| 12-worker download: orvanectl.exe process vs aria2c alone | %s | %s | %s |"
           % (mib(ours_rss), mib(aria_rss), ratio(ours_rss, aria_rss)))
out.append("| 12-worker download: orvanectl.exe vs largest process of the whole reference pipeline | %s | %s | %s |"
           % (mib(ours_rss), mib(pipe_rss), ratio(ours_rss, pipe_rss)))
out.append("| Wine start-up alone (`orvanectl --help`) | %s | | |" % mib(median("wine-start", 1)))
out.append("")
out.append("Peak memory is the largest resident set of the measured process and of every descendant it "
           "waited for (wait4's ru_maxrss). For orvanectl that is the Windows program's own process "
           "(the wine64 loader execs into it), Wine's own mappings included; the wineserver runs "
           "detached and is not counted. Single runs are in the times folder.")
print("\n".join(out))
