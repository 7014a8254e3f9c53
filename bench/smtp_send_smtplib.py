#!/usr/bin/python3
"""Python's smtplib sending COUNT messages over one connection, each built
by the email package with the same fields and body as smtp_send.js.
Usage: smtp_send_smtplib.py HOST PORT COUNT"""
import sys
import time
import smtplib
from email.message import EmailMessage
from email.utils import formatdate, make_msgid

host, port, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
body = "".join("Line %d of the benchmark message, long enough to look like a mail.\n" % i for i in range(16))
start = time.perf_counter()
failed = 0
with smtplib.SMTP(host, port) as smtp:
    for n in range(count):
        msg = EmailMessage()
        msg["Date"] = formatdate(usegmt=True)
        msg["From"] = "Bench Sender <sender@example.test>"
        msg["To"] = "to@example.test"
        msg["Cc"] = "copy@example.test"
        msg["Subject"] = "Benchmark message %d" % n
        msg["Message-ID"] = make_msgid(domain="example.test")
        msg.set_content(body, charset="windows-1252", cte="8bit")
        refused = smtp.send_message(msg)
        if refused:
            failed += 1
ms = (time.perf_counter() - start) * 1000
print("smtplib: messages=%d failed=%d total_ms=%.0f" % (count, failed, ms))
