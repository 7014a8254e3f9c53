#!/usr/bin/python3
"""The news site's local mail server: aiosmtpd on 127.0.0.1 that keeps every
message it accepts in a mailbox folder, one pair of files per message:
NNNNNN.eml (the bytes as received) and NNNNNN.txt (From, To, Subject and
the body as a mail reader shows them, UTF-8), which the mailbox page lists.

Usage: mailbox.py --port N --folder DIR [--pidfile FILE]. Runs until SIGTERM.
"""

import argparse
import email
import email.policy
import os
import signal
import threading

from aiosmtpd.controller import Controller


class Mailbox:
    def __init__(self, folder):
        self.folder = folder
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
        with open(path + ".part", "w", encoding="utf-8", newline="\r\n") as f:
            f.write(summary + "\n" + body)
        os.replace(path + ".part", path + ".txt")
        return "250 Message accepted for delivery"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--pidfile")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    controller = Controller(Mailbox(args.folder), hostname="127.0.0.1", port=args.port)
    controller.start()
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write("%d\n" % os.getpid())
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    while not stop.wait(1):
        pass
    controller.stop()


if __name__ == "__main__":
    main()
