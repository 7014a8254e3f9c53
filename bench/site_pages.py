#!/usr/bin/python3
"""Pages per second through the page host, for 1 client and for 8 clients
at once (each on its own kept-alive connection), for an empty page (the
host's own cost: HTTP, a fresh script engine, the three objects), the group
page and the article page read from its stored copy; beside them, with one
client, the site's page frame alone and the frame with only the news
server's connection, so the share of each part is visible.

Usage: site_pages.py HOST_PORT [SECONDS_PER_RUN]
"""

import http.client
import multiprocessing
import sys
import time

port = int(sys.argv[1])
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
pages = [
    ("empty page", "/bench-empty.asp", True),
    ("page frame only (common.inc)", "/bench-frame.asp", False),
    ("frame + SetServer + SetGroup", "/bench-connect.asp", True),
    ("group page (demo.big, 100 rows)", "/group.asp?g=demo.big", True),
    ("article page (stored copy, thumbnail)", "/article.asp?g=demo.pictures&n=1", True),
]


def fetch(connection, path):
    connection.request("GET", path)
    r = connection.getresponse()
    body = r.read()
    if r.status != 200:
        raise SystemExit("%s answered %d: %s" % (path, r.status, body[-300:]))
    return len(body)


def client(path, until, counts, k):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    n = 0
    while time.time() < until:
        fetch(c, path)
        n += 1
    c.close()
    counts[k] = n


def rate(path, clients):
    """Pages per second of `clients` clients asking `path` for `seconds`;
    each client a process of its own, so they do not queue for one
    interpreter."""
    counts = multiprocessing.Array("l", clients)
    start = time.time()
    until = start + seconds
    procs = [multiprocessing.Process(target=client, args=(path, until, counts, k)) for k in range(clients)]
    for p in procs:
        p.start()
    for p in procs:
        p.join()
    return sum(counts) / (time.time() - start)


print("%-40s %12s %12s %8s" % ("page", "1 client/s", "8 clients/s", "8 vs 1"))
one = {}
for name, path, both in pages:
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    size = fetch(c, path)  # the first view stores the copy and makes the thumbnail
    c.close()
    one[name] = rate(path, 1)
    if both:
        eight = rate(path, 8)
        print("%-40s %12.1f %12.1f %7.2fx   (%.1f ms/page alone, %d bytes)" %
              (name, one[name], eight, eight / one[name], 1000 / one[name], size), flush=True)
    else:
        print("%-40s %12.1f %12s %8s   (%.1f ms/page alone, %d bytes)" %
              (name, one[name], "", "", 1000 / one[name], size), flush=True)
empty = 1000 / one["empty page"]
for name, _, both in pages[3:]:
    own = 1000 / one[name]
    print("%-40s host %.1f ms of %.1f ms; components and page script %.1f ms (%.0f%%)" %
          (name, empty, own, own - empty, 100 * (own - empty) / own))

# The floor of a group page: the same news work done by Python's nntplib
# (connect, GROUP, OVER of the 100 newest) plus writing the same table, as
# one client would, against the same INN.
if len(sys.argv) > 3:
    import html
    import warnings

    warnings.simplefilter("ignore", DeprecationWarning)
    import nntplib

    inn_port = int(sys.argv[3])

    def floor_once():
        s = nntplib.NNTP("127.0.0.1", inn_port, readermode=True)
        _, count, first, last, _ = s.group("demo.big")
        _, overviews = s.over((max(first, last - 99), last))
        rows = []
        for number, fields in overviews:
            rows.append("<tr><td>%d</td><td>%s</td><td>%s</td><td>%s</td><td>%s</td></tr>" % (
                number, html.escape(fields.get("subject", "")), html.escape(fields.get("from", "")),
                html.escape(fields.get("date", "")), fields.get(":bytes", "")))
        s.quit()
        return "<table>" + "".join(rows) + "</table>"

    floor_once()
    times = []
    until = time.time() + seconds
    while time.time() < until or len(times) < 5:
        start = time.perf_counter()
        floor_once()
        times.append(time.perf_counter() - start)
    times.sort()
    floor_ms = 1000 * times[len(times) // 2]
    group_ms = 1000 / one["group page (demo.big, 100 rows)"]
    print("%-40s %.1f ms (nntplib: connect, GROUP, OVER of 100, the table; median of %d)" %
          ("group page floor", floor_ms, len(times)))
    print("%-40s %.2f (target at most 2)" % ("group page / floor", group_ms / floor_ms))
