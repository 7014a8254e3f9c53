#!/usr/bin/python3
"""Pages per second through the page host, one request at a time, for an
empty page (the host's own cost: HTTP, a fresh script engine, the three
objects), the group page and the article page read from its stored copy;
beside them the site's page frame alone and the frame with only the news
server's connection, so the share of each part is visible.

Usage: site_pages.py HOST_PORT [SECONDS_PER_PAGE]
"""

import http.client
import sys
import time

port = int(sys.argv[1])
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
pages = [
    ("empty page", "/bench-empty.asp"),
    ("page frame only (common.inc)", "/bench-frame.asp"),
    ("frame + SetServer + SetGroup", "/bench-connect.asp"),
    ("group page (demo.big, 100 rows)", "/group.asp?g=demo.big"),
    ("article page (stored copy, thumbnail)", "/article.asp?g=demo.pictures&n=1"),
]


def fetch(path):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    c.request("GET", path)
    r = c.getresponse()
    body = r.read()
    c.close()
    if r.status != 200:
        raise SystemExit("%s answered %d: %s" % (path, r.status, body[-300:]))
    return len(body)


rates = {}
for name, path in pages:
    fetch(path)  # the first view stores the copy and makes the thumbnail
    n, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        size = fetch(path)
        n += 1
    elapsed = time.perf_counter() - start
    rates[name] = n / elapsed
    print("%-40s %7.1f pages/s  %6.1f ms/page  (%d pages, %d bytes each)" %
          (name, n / elapsed, 1000 * elapsed / n, n, size))
empty = 1000 / rates["empty page"]
for name, _ in pages[3:]:
    own = 1000 / rates[name]
    print("%-40s host %.1f ms of %.1f ms; components and page script %.1f ms (%.0f%%)" %
          (name, empty, own, own - empty, 100 * (own - empty) / own))
