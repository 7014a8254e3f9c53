#!/usr/bin/env python3
"""The same posts with Python's nntplib (deprecated since 3.11, still
shipped): one connection, post() of an article with the same headers a
page's PostArticle sends (From, Newsgroups, Subject, Date, Message-ID,
MIME-Version, Content-Type, Content-Transfer-Encoding) and the same body.
Usage: news_post_nntplib.py HOST PORT GROUP COUNT ROUNDS"""
import email.utils
import statistics
import sys
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)
import nntplib  # noqa: E402

host, port, group, count, rounds = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
body = [("Line %d of a benchmark article, long enough to be a real line of text." % l).encode() for l in range(10)]
times = []
for r in range(rounds):
    start = time.perf_counter()
    s = nntplib.NNTP(host, port)
    for i in range(count):
        head = [
            b"From: Bench <bench@example.invalid>",
            b"Newsgroups: " + group.encode(),
            b"Subject: Bench article py%d.%d" % (r, i),
            b"Date: " + email.utils.formatdate(usegmt=True).encode(),
            b"Message-ID: " + email.utils.make_msgid(domain="example.invalid").encode(),
            b"MIME-Version: 1.0",
            b'Content-Type: text/plain; charset="windows-1252"',
            b"Content-Transfer-Encoding: 7bit",
        ]
        s.post(head + [b""] + body)
    s.quit()
    times.append((time.perf_counter() - start) * 1000.0)
print("nntplib rounds=%d posts=%d median_ms=%.2f" % (len(times), count, statistics.median(times)))
