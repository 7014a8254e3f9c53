#!/usr/bin/env python3
"""The same listing with Python's nntplib: connect, GROUP, the overview
range MyNntp asks for GetListing(-1, 0) (last-300 to last-100), the newest
100 lines kept, and their subject, sender, date and size read.
Usage: news_listing_nntplib.py HOST PORT GROUP ROUNDS"""
import statistics
import sys
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)
import nntplib  # noqa: E402

host, port, group, rounds = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
times = []
checksum = 0
for _ in range(rounds):
    start = time.perf_counter()
    s = nntplib.NNTP(host, port)
    _, count, first, last, _ = s.group(group)
    begin = last - 100
    _, lines = s.over((begin - 200, begin))
    kept = lines[-100:]
    for number, over in kept:
        checksum += len(over["subject"]) + len(over["from"]) + len(over["date"]) + int(over[":bytes"])
    times.append((time.perf_counter() - start) * 1000.0)
    s.quit()
print("nntplib rounds=%d entries=%d median_ms=%.2f mean_ms=%.2f checksum=%d"
      % (len(times), len(kept), statistics.median(times), statistics.mean(times), checksum))
