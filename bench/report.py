#!/usr/bin/env python3
"""report.py <times-folder> <size-mb> <files> <small-files> <runs> [<rtt-ms> <rate-mbit>]: the results
tables (Markdown) from the "<seconds> <peak-rss-kib> <exit>" lines bench/timed.py wrote, one file per
measurement, with the link rows' "<name>.requests" (nginx's requests per run) and "<name>.bytes" (the
bytes the floor's GET fetches). Tables without measurements are left out."""
import os
import statistics
import sys

times, size_mb, files, small_files, runs = sys.argv[1:6]
rtt_ms = sys.argv[6] if len(sys.argv) > 6 else "50"
rate_mbit = sys.argv[7] if len(sys.argv) > 7 else "100"


def load(name):
    path = os.path.join(times, name)
    if not os.path.exists(path):
        return None
    rows = [line.split() for line in open(path) if line.strip()]
    return [(float(r[0]), int(r[1])) for r in rows]


def median(name, column=0):
    rows = load(name)
    return statistics.median(r[column] for r in rows) if rows else None


def number(name):
    path = os.path.join(times, name)
    if not os.path.exists(path):
        return None
    values = [float(line) for line in open(path) if line.strip()]
    return statistics.median(values) if values else None


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
main_rows = any(r[2] is not None or r[4] is not None for r in rows)
out.append("Medians of %s runs. orvanectl runs under Wine (%s, %s prefix); its times include Wine's "
           "start-up (`orvanectl --help`: %s). \"minus Wine\" subtracts that median.\n"
           % (runs, os.environ.get("ORV_WINE", "wine"),
              "32-bit" if os.environ.get("WINEARCH") == "win32" else "64-bit", seconds(wine)))
if main_rows:
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

# A player's link: ours through bench/link_proxy.py, ours straight from nginx, and the floor: one GET
# over the link of as many bytes as the objects that update fetches.
link_rows = [
    ("small-install", "Fresh install, %s small files" % small_files, "link adds / (2 × floor + 1 s)",
     "at most 1", lambda over, straight, floor: (over - straight) / (2 * floor + 1)),
    ("large-install", "Fresh install, mixed release, %s MiB in %s files" % (size_mb, files),
     "over link / floor", "target at most 1.15", lambda over, straight, floor: over / floor),
    ("small-update", "Update of 1%% of the %s small files (every 100th changed)" % small_files,
     "link adds", "", None),
]
link_table = []
for name, what, check, bound, compute in link_rows:
    over = median("link-%s-over" % name)
    straight = median("link-%s-straight" % name)
    floor = median("link-%s-floor" % name)
    if over is None and straight is None:
        continue
    adds = None if over is None or straight is None else over - straight
    if compute is None:
        value = seconds(adds)
    elif None in (over, straight, floor):
        value = "-"
    else:
        value = "%.2f" % compute(over, straight, floor)
    size = number("link-%s.bytes" % name)
    requests = [number("link-%s-%s.requests" % (name, way)) for way in ("over", "straight")]
    shown = ["-" if r is None else "%.0f" % r for r in requests]
    link_table.append("| %s | %s | %s | %s%s | %s | %s | %s | %s |" % (
        what, seconds(over), seconds(straight), seconds(floor),
        "" if size is None else " (%.2f MiB)" % (size / 1048576), seconds(adds),
        "%s%s" % (check, " (%s)" % bound if bound else ""), value,
        shown[0] if shown[0] == shown[1] else "%s / %s" % tuple(shown)))
if link_table:
    if not out[-1].endswith("\n"):
        out.append("")
    out.append("## Over a player's link: %s ms round trip, %s Mbit/s\n" % (rtt_ms, rate_mbit))
    out.append("bench/link_proxy.py between orvanectl and nginx: every connection waits one round trip before "
               "its first byte, every byte takes half a round trip each way, and the download direction of all "
               "connections shares one line of the rate. \"Straight\" is the same update from nginx directly; "
               "\"floor\" is one GET (curl) over the link of a file as large as the objects that update "
               "fetches (their sizes on the mirror; the manifest not counted). \"Link adds\" is over link "
               "minus straight. Requests are the lines nginx logged during one update (median; over the link / "
               "straight when they differ).\n")
    out.append("| measurement | ours over link | ours straight | floor (bytes) | link adds | check | value | "
               "requests |")
    out.append("|---|---:|---:|---:|---:|---|---:|---:|")
    out.extend(link_table)
print("\n".join(out))
