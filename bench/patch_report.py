#!/usr/bin/env python3
"""patch_report.py <times-folder> <size-mb> <whole-object-bytes> <runs> <prefix>: the patch benchmark's
table (Markdown) from the files bench/patch wrote."""
import os
import statistics
import sys

times, size_mb, whole, runs, prefix = sys.argv[1:6]
whole = int(whole)


def values(name, column=0):
    path = os.path.join(times, name)
    if not os.path.exists(path):
        return []
    return [float(line.split()[column]) for line in open(path) if line.strip()]


def median(name, column=0):
    found = values(name, column)
    return statistics.median(found) if found else None


def mib(v):
    return "-" if v is None else "%.2f MiB" % (v / 1048576)


def share(v):
    return "-" if v is None else "%.1f%%" % (100.0 * v / whole)


ours = median("bytes-patch")
whole_path = median("bytes-whole")
fixed = median("bytes-fixed")
fixed_whole_chunk = median("bytes-fixed-1mib")
xdelta = median("bytes-xdelta3")
t_patch = median("update-patch")
t_whole = median("update-whole")
patch_line = open(os.path.join(times, "patch-line")).read().strip() if os.path.exists(
    os.path.join(times, "patch-line")) else ""

out = ["# Patch update benchmark\n",
       "Release A: one %s MiB archive that does not compress. Release B: 32 scattered 4 KiB regions "
       "rewritten and 1 MiB + 4097 bytes inserted in the middle. A game folder at A updates to B from nginx on "
       "127.0.0.1, limited to 4 MiB/s per connection. orvanectl runs under Wine (%s prefix); its times "
       "include the check of the folder and the rebuild. Medians of %s runs.\n" % (size_mb, prefix, runs),
       "| way | bytes on the wire | share of the whole object |",
       "|---|---:|---:|",
       "| ours: content-defined chunks the older file lacks | %s | %s |" % (mib(ours), share(ours)),
       "| whole object (launchers without patches) | %s | %s |" % (mib(whole_path), share(whole_path)),
       "| fixed 1 MiB chunks (computed) | %s | %s |" % (mib(fixed), share(fixed)),
       "| fixed 1 MiB chunks, had exactly 1 MiB been inserted (computed) | %s | %s |"
       % (mib(fixed_whole_chunk), share(fixed_whole_chunk)),
       "| `xdelta3 -e -s A B` (a patch per pair of releases) | %s | %s |" % (mib(xdelta), share(xdelta)),
       ""]
if ours and fixed:
    out.append("Ours / fixed 1 MiB chunks: %.2f. Goals: at most 5%% of the whole object, at most a third "
               "of the fixed-chunk bytes.\n" % (ours / fixed))
out += ["| update A to B | wall time |", "|---|---:|",
        "| ours, patch | %s |" % ("-" if t_patch is None else "%.1f s" % t_patch),
        "| whole object | %s |" % ("-" if t_whole is None else "%.1f s" % t_whole), ""]
if t_patch and t_whole:
    out.append("The patch update is %.1f times faster (goal: at least 5).\n" % (t_whole / t_patch))
if patch_line:
    out.append("The launcher's log line: `%s`\n" % patch_line.split(" ", 2)[2])
print("\n".join(out))
