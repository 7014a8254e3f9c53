#!/usr/bin/python3
"""The receiving mail server of the tests, the benchmarks and the news
site: aiosmtpd on 127.0.0.1.

With --spool every message it accepts is written to that folder three times
over, named after its first recipient: NAME.eml (the bytes as received, dot-
stuffing undone), NAME.body (the body decoded to UTF-8 by Python's email
package) and NAME.txt, one "key: value" line per field, also decoded by
the email package, so the tests compare what a real mail reader would see.

With --mailbox (the news site's mailbox page) every message is kept as a
pair of numbered files instead: NNNNNN.eml (the bytes as received) and
NNNNNN.txt (From, To, Cc, Subject, Date and the body as a mail reader shows
them, in UTF-16 with a byte order mark, the Unicode form the page's text
files read); numbering goes on from what the folder holds.

Usage: smtp_sink.py --port N [--spool DIR | --mailbox DIR] [--ready FILE]
                    [--cert PEM --key KEY (--starttls | --implicit)] [--login USER:PASSWORD]
Without a folder messages are only counted (for the benchmarks). With a
certificate the server offers STARTTLS and requires it before MAIL
(--starttls), or speaks TLS from the first byte (--implicit, as on port
465). --login requires AUTH with that user and password, which aiosmtpd
accepts only over TLS. Runs until SIGTERM.
"""

import argparse
import email
import email.policy
import os
import re
import signal
import ssl
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Spool:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
        if not self.folder:
            return "250 Message accepted for delivery"
        name = re.sub(r"[^A-Za-z0-9@._-]", "_", envelope.rcpt_tos[0] if envelope.rcpt_tos else "none")
        raw = envelope.original_content or envelope.content
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        fields = [
            ("mail_from", envelope.mail_from),
            ("rcpt_tos", ",".join(envelope.rcpt_tos)),
            ("mail_options", " ".join(envelope.mail_options)),
        ]
        for header in ("From", "To", "Cc", "Subject", "Date", "Message-ID", "MIME-Version",
                       "Content-Transfer-Encoding"):
            value = msg.get(header)
            fields.append((header, "<none>" if value is None else str(value)))
        fields.append(("charset", msg.get_content_charset() or "<none>"))
        fields.append(("defects", str(len(msg.defects))))
        body = decoded_body(msg)
        path = os.path.join(self.folder, name)
        with open(path + ".eml", "wb") as f:
            f.write(raw)
        with open(path + ".body", "wb") as f:
            f.write(body.encode("utf-8", "surrogateescape"))
        # The summary last: a test that sees it finds the other two complete.
        with open(path + ".tmp", "w", encoding="utf-8", newline="\n") as f:
            for key, value in fields:
                f.write("%s: %s\n" % (key, value.replace("\r", "\\r").replace("\n", "\\n")))
        os.replace(path + ".tmp", path + ".txt")
        return "250 Message accepted for delivery"


class Mailbox:
    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        names = [n for n in os.listdir(folder) if n.endswith(".txt")]
        self.count = max([int(n[:-4]) for n in names if n[:-4].isdigit()] or [0])

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.original_content or envelope.content
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        with self.lock:
            self.count += 1
            path = os.path.join(self.folder, "%06d" % self.count)
        with open(path + ".eml", "wb") as f:
            f.write(raw)
        summary = "".join("%s: %s\n" % (h, str(msg.get(h, ""))) for h in ("From", "To", "Cc", "Subject", "Date"))
        # Written under another name first, so the page never reads half a message.
        with open(path + ".part", "w", encoding="utf-16", newline="\r\n") as f:
            f.write(summary + "\n" + decoded_body(msg))
        os.replace(path + ".part", path + ".txt")
        return "250 Message accepted for delivery"


def decoded_body(msg):
    try:
        return msg.get_content().replace("\r\n", "\n")
    except Exception as error:  # a body the email package cannot decode
        return "<undecodable: %s>" % error


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True)
    folder = parser.add_mutually_exclusive_group()
    folder.add_argument("--spool")
    folder.add_argument("--mailbox")
    parser.add_argument("--ready")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--implicit", action="store_true")
    parser.add_argument("--login")
    args = parser.parse_args()
    for path in (args.spool, args.mailbox):
        if path:
            os.makedirs(path, exist_ok=True)
    handler = Mailbox(args.mailbox) if args.mailbox else Spool(args.spool)
    options = {}
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        if args.implicit:
            options["ssl_context"] = context
        else:
            options["tls_context"] = context
            options["require_starttls"] = args.starttls
    if args.login:
        user, _, password = args.login.partition(":")

        def check(server, session, envelope, mechanism, data):
            ok = data.login == user.encode() and data.password == password.encode()
            return AuthResult(success=ok)

        options["authenticator"] = check
        options["auth_required"] = True
        # aiosmtpd counts only STARTTLS as TLS; on an implicit TLS port
        # every byte is encrypted already.
        options["auth_require_tls"] = not args.implicit
    controller = Controller(handler, hostname="127.0.0.1", port=args.port,
                            server_hostname="localhost", **options)
    controller.start()
    if args.ready:
        with open(args.ready, "w") as f:
            f.write("%d\n" % args.port)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    while not stop.wait(1):
        pass
    controller.stop()


if __name__ == "__main__":
    main()
