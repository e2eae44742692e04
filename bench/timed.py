#!/usr/bin/env python3
"""timed.py <result-file> <command...>: runs the command, appends "<seconds> <peak-rss-kib> <exit>"
to the result file and exits with the command's status. The peak resident set size is the largest
of the command's process and every descendant it waited for (wait4's ru_maxrss); for a Wine
program started with wine64 that is the Windows program's own process, as the loader execs into it."""
import os
import subprocess
import sys
import time

start = time.monotonic()
process = subprocess.Popen(sys.argv[2:])
_, status, usage = os.wait4(process.pid, 0)
seconds = time.monotonic() - start
code = os.waitstatus_to_exitcode(status)
with open(sys.argv[1], "a") as f:
    f.write("%.3f %d %d\n" % (seconds, usage.ru_maxrss, code))
sys.exit(code if code >= 0 else 1)
