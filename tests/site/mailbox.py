#!/usr/bin/python3
"""The news site's local mail server: aiosmtpd on 127.0.0.1 that keeps every
message it accepts in a mailbox folder, one pair of files per message:
NNNNNN.eml (the bytes as received) and NNNNNN.txt (From, To, Subject and
the body as a mail reader shows them, in UTF-16 with a byte order mark, the
Unicode form the page's text files read), which the mailbox page lists.

Usage: mailbox.py --port N --spool DIR [--pidfile FILE]. Runs until SIGTERM.
"""

import email
import email.policy
import os
import sys
import threading


class Mailbox:
    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.lock = threading.Lock()
        names = [n for n in os.listdir(folder) if n.endswith(".txt")]
        self.count = max([int(n[:-4]) for n in names if n[:-4].isdigit()] or [0])

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.original_content or envelope.content
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        try:
            body = msg.get_content().replace("\r\n", "\n")
        except Exception as error:  # a body the email package cannot decode
            body = "<undecodable: %s>" % error
        with self.lock:
            self.count += 1
            path = os.path.join(self.folder, "%06d" % self.count)
        with open(path + ".eml", "wb") as f:
            f.write(raw)
        summary = "".join("%s: %s\n" % (h, str(msg.get(h, ""))) for h in ("From", "To", "Cc", "Subject", "Date"))
        # Written under another name first, so the page never reads half a message.
        with open(path + ".part", "w", encoding="utf-16", newline="\r\n") as f:
            f.write(summary + "\n" + body)
        os.replace(path + ".part", path + ".txt")
        return "250 Message accepted for delivery"


if __name__ == "__main__":
    # The mail tests' sink runs the server (arguments, pid file, SIGTERM);
    # only what happens to a message differs.
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mailweb"))
    import smtp_sink
    smtp_sink.Spool = Mailbox
    smtp_sink.main()
