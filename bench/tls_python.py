#!/usr/bin/env python3
"""The TLS benchmarks with Python's clients, as bench/tls/tls_bench.cpp does
them with ours:
  tls_python.py news HOST PORT USER PASSWORD ROUNDS CAFILE   nntplib.NNTP_SSL:
      the newest 100 overview entries of test.big, then article 1 of test.huge
  tls_python.py mail HOST PORT USER PASSWORD COUNT CAFILE    smtplib with
      starttls(): COUNT mails over one session (USER "-": without login)
  tls_python.py noop HOST PORT USER PASSWORD COUNT CAFILE    COUNT NOOP round
      trips over one STARTTLS session, the session's set-up not timed
  tls_python.py bdat HOST PORT - - COUNT CAFILE   COUNT mails as smtplib's
      session sends them, but each as MAIL, RCPT and "BDAT n LAST" in one
      write (PIPELINING and CHUNKING): the floor of one round trip a mail
      on the server, for a client that waits for each mail's verdict"""
import smtplib
import ssl
import statistics
import sys
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)
import nntplib  # noqa: E402

mode, host, port, user, password, n, cafile = sys.argv[1:8]
port, n = int(port), int(n)
context = ssl.create_default_context(cafile=cafile)
if mode == "news":
    listing, article = [], []
    for _ in range(n):
        start = time.perf_counter()
        s = nntplib.NNTP_SSL(host, port, user=user, password=password, ssl_context=context, readermode=True)
        _, count, first, last, _ = s.group("test.big")
        _, lines = s.over((last - 99, last))
        checksum = sum(len(o["subject"]) + len(o["from"]) + len(o["date"]) + int(o[":bytes"]) for _, o in lines)
        listing.append((time.perf_counter() - start) * 1000.0)
        start = time.perf_counter()
        s.group("test.huge")
        _, info = s.body("1")
        size = sum(len(line) + 2 for line in info.lines)
        article.append((time.perf_counter() - start) * 1000.0)
        s.quit()
    print("python listing rounds=%d entries=%d median_ms=%.2f" % (n, len(lines), statistics.median(listing)))
    print("python article rounds=%d bytes=%d median_ms=%.2f" % (n, size, statistics.median(article)))
elif mode == "noop":
    s = smtplib.SMTP(host, port)
    s.starttls(context=context)
    s.ehlo()
    start = time.perf_counter()
    for _ in range(n):
        s.noop()
    print("python noops=%d total_ms=%.2f" % (n, (time.perf_counter() - start) * 1000.0))
    s.quit()
elif mode == "bdat":
    start = time.perf_counter()
    s = smtplib.SMTP(host, port)
    s.starttls(context=context)
    s.ehlo()
    message = ("From: Bench <bench@example.test>\r\nTo: sink@example.test\r\nSubject: Benchmark message\r\n\r\n"
               "A short message body.\r\nSecond line.\r\n").encode()
    batch = (b"MAIL FROM:<bench@example.test>\r\nRCPT TO:<sink@example.test>\r\nBDAT %d LAST\r\n" % len(message)
             + message)
    for _ in range(n):
        s.sock.sendall(batch)
        codes = [s.getreply()[0] for _ in range(3)]
        if codes != [250, 250, 250]:
            sys.exit("refused: %r" % codes)
    s.quit()
    print("python mails=%d total_ms=%.2f" % (n, (time.perf_counter() - start) * 1000.0))
else:
    start = time.perf_counter()
    s = smtplib.SMTP(host, port)
    s.starttls(context=context)
    if user != "-":
        s.login(user, password)
    message = ("From: Bench <bench@example.test>\r\nTo: sink@example.test\r\nSubject: Benchmark message\r\n\r\n"
               "A short message body.\r\nSecond line.\r\n")
    for _ in range(n):
        s.sendmail("bench@example.test", ["sink@example.test"], message)
    s.quit()
    print("python mails=%d total_ms=%.2f" % (n, (time.perf_counter() - start) * 1000.0))
