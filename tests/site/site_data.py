#!/usr/bin/python3
"""Sample content of the news site, all made here (no downloads).

  site_data.py images WWWROOT      the emoticon GIFs Smilies points at (/images)
  site_data.py post PORT           fills the demo groups of the INN on PORT
  site_data.py uploads FOLDER      pictures and bad files for upload tests

Groups posted:
  demo.talk          plain text with emoticons, one UTF-8 subject
  demo.pictures      MIME posts with PNG and BMP attachments, one picture
                     declaring 30,000 x 30,000 pixels
  demo.binaries      uuencoded and yEnc pictures
  demo.big           150 articles, for paging
  demo.intl          subjects, senders and bodies beyond ASCII (INTL_ARTICLES)

  site_data.py intl PORT GROUP     posts only INTL_ARTICLES to GROUP
"""

import binascii
import email.utils
import struct
import sys
import warnings
import os
import zlib

warnings.simplefilter("ignore", DeprecationWarning)


# --- pictures -------------------------------------------------------------

def png(width, height, pixel):
    """A truecolour PNG; pixel(x, y) gives (r, g, b)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def png_header_only(width, height):
    """A PNG that declares a size and carries one tiny, wrong data chunk."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(b"\0" * 64)) + chunk(b"IEND", b""))


def bmp(width, height, pixel):
    """A 24-bit bottom-up BMP."""
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row.extend((b, g, r))
        row.extend(b"\0" * (stride - len(row)))
        data.extend(row)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def gif(width, height, palette, index):
    """A GIF with up to 128 colours; index(x, y) gives the palette index.
    LZW codes stay 8 bits wide: a clear code every 100 pixels keeps the
    table from growing, which every decoder accepts."""
    palette = list(palette) + [(0, 0, 0)] * (128 - len(palette))
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF6, 0, 0))
    for r, g, b in palette:
        out.extend((r, g, b))
    out.extend(b"!\xf9\x04\x01\x00\x00\x00\x00")  # index 0 transparent
    out.extend(b"," + struct.pack("<HHHHB", 0, 0, width, height, 0))
    clear, end = 128, 129
    codes = [clear]
    pixels = [index(x, y) for y in range(height) for x in range(width)]
    for n, p in enumerate(pixels):
        if n and n % 100 == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(end)
    data = bytes(codes)  # 8-bit codes pack one per byte
    out.append(7)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out.extend(block)
    out.extend(b"\x00;")
    return bytes(out)


def smiley(mood):
    """16 x 16 face: 0 transparent, 1 yellow, 2 dark, 3 red."""
    def index(x, y):
        dx, dy = x - 7.5, y - 7.5
        d = dx * dx + dy * dy
        if d > 56:
            return 0
        if y in (5, 6) and x in (5, 10):
            return 2
        if mood == "wink" and y in (5, 6) and x == 10:
            return 1
        mouth = {"smile": 0.5, "sad": -0.5, "grin": 0.9, "flat": 0.0, "angry": -0.8}.get(mood, 0.5)
        if 4 <= x <= 11:
            my = 11 + int(round(mouth * (1 - ((x - 7.5) / 4) ** 2) * 2.5)) - (1 if mood == "sad" else 0)
            if y == my:
                return 3 if mood in ("grin", "angry") else 2
        return 1
    return gif(16, 16, [(255, 255, 255), (255, 214, 0), (60, 40, 0), (200, 30, 30)], index)


def sunset(x, y, w=320, h=200):
    sky = (255, max(0, 160 - y), min(255, 60 + y))
    sun = (x - w * 0.6) ** 2 + (y - h * 0.55) ** 2 < (h * 0.18) ** 2
    sea = y > h * 0.65
    if sun and not sea:
        return (255, 230, 90)
    if sea:
        return (20, 60 + (x * 7 + y * 3) % 40, 120)
    return sky


def checker(x, y):
    return (230, 40, 40) if (x // 16 + y // 16) % 2 else (250, 250, 250)


def rings(x, y):
    d = int(((x - 100) ** 2 + (y - 75) ** 2) ** 0.5)
    return ((d * 9) % 256, (d * 5) % 256, 255 - (d * 3) % 256)


def write_images(root):
    folder = os.path.join(root, "images")
    os.makedirs(folder, exist_ok=True)
    moods = {1: "smile", 2: "sad", 3: "wink", 4: "grin", 5: "flat", 6: "angry", 7: "grin", 8: "sad"}
    for n, mood in moods.items():
        with open(os.path.join(folder, "smile%d.gif" % n), "wb") as f:
            f.write(smiley(mood))
    with open(os.path.join(folder, "logo.png"), "wb") as f:
        f.write(png(96, 32, lambda x, y: (30, 60 + x, 120 + y * 3)))


def write_uploads(folder):
    os.makedirs(folder, exist_ok=True)
    files = {
        "photo.png": png(400, 200, sunset),
        # The picture demo.pictures article 1 carries, to compare downloads with.
        "sunset.png": png(320, 200, sunset),
        "tall.bmp": bmp(60, 180, checker),
        "notapicture.jpg": b"This is plain text wearing a picture's name.\r\n" * 20,
        "huge.png": png_header_only(30000, 30000),
        "empty.png": b"",
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


# --- articles ---------------------------------------------------------------

def b64_lines(data):
    text = binascii.b2a_base64(data, newline=False).decode()
    return [text[i:i + 76] for i in range(0, len(text), 76)]


def uu_lines(name, data):
    lines = ["begin 644 " + name]
    for i in range(0, len(data), 45):
        lines.append(binascii.b2a_uu(data[i:i + 45]).decode().rstrip("\n"))
    lines += ["`", "end"]
    return lines


def yenc_lines(name, data):
    out, line = [], bytearray()
    for i, byte in enumerate(data):
        c = (byte + 42) % 256
        if c in (0, 10, 13, 61) or (c in (9, 32) and (not line or i == len(data) - 1)) or (c == 46 and not line):
            line.extend((61, (c + 64) % 256))
        else:
            line.append(c)
        if len(line) >= 128:
            out.append(bytes(line))
            line = bytearray()
    if line:
        out.append(bytes(line))
    head = ("=ybegin line=128 size=%d name=%s" % (len(data), name)).encode()
    tail = ("=yend size=%d crc32=%08x" % (len(data), zlib.crc32(data) & 0xFFFFFFFF)).encode()
    return [head] + out + [tail]


# A page whose script writes PROBE-RAN-42; its text holds no such string.
PROBE_ASP = b'<%@ Language="VBScript" %>\r\n<% Response.Write "PROBE" & "-RAN-" & (6 * 7) %>\r\n'
PROBE_HTML = b"<!DOCTYPE html><title>probe</title><script>document.title = 'PROBE' + '-RAN-' + 6 * 7;</script>\r\n"


class Poster:
    def __init__(self, port):
        import nntplib
        self.server = nntplib.NNTP("127.0.0.1", port, readermode=True)
        self.n = 0

    def post(self, group, subject, body, sender="Demo Poster <poster@example.invalid>", extra=()):
        self.n += 1
        head = [
            "From: " + sender,
            "Newsgroups: " + group,
            "Subject: " + subject,
            "Message-ID: <demo-%d@quillnet.demo>" % self.n,
            "Date: " + email.utils.formatdate(1704110400 + self.n * 3600, usegmt=True),
        ] + list(extra)
        lines = [l.encode("utf-8") for l in head] + [b""]
        lines += [l if isinstance(l, bytes) else l.encode("utf-8") for l in body]
        self.server.post([l + b"\r\n" for l in lines])

    def mime(self, group, subject, text, attachments):
        boundary = "=_demo_boundary_%d" % (self.n + 1)
        body = ["This is a multi-part message in MIME format.", "", "--" + boundary,
                "Content-Type: text/plain; charset=us-ascii", "", text, ""]
        for name, kind, data in attachments:
            body += ["--" + boundary, "Content-Type: %s; name=\"%s\"" % (kind, name),
                     "Content-Transfer-Encoding: base64",
                     "Content-Disposition: attachment; filename=\"%s\"" % name, ""]
            body += b64_lines(data) + [""]
        body.append("--" + boundary + "--")
        self.post(group, subject, body,
                  extra=["MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=\"%s\"" % boundary])

    def close(self):
        self.server.quit()


def post_all(port):
    p = Poster(port)
    talk = [
        ("Welcome to the demo groups :)", ["Hello everybody :)", "", "This server runs on this machine only ;)"]),
        ("Re: Welcome to the demo groups :)", ["> Hello everybody :)", "", "It works :D"]),
        ("Is the listing sorted? :-/", ["I sorted it by subject, then by size :))"]),
        ("Grüße aus Köln — café ☕", ["A subject in UTF-8, with umlauts and a cup of coffee.", "Schöne Grüße!"]),
        ("Tags <b>stay</b> text & so do ampersands", ["<script>alert('no')</script> is shown, not run."]),
        ("Long article", ["Line %d of a long article with some words in it to make it longer." % i
                          for i in range(1, 400)]),
        ("Sad news :(", ["The coffee machine is broken :(("]),
        ("Angry about the coffee :x", ["Still broken."]),
    ]
    for subject, body in talk:
        p.post("demo.talk", subject, body)

    sunset_png = png(320, 200, sunset)
    rings_png = png(200, 150, rings)
    p.mime("demo.pictures", "Sunset over the sea (MIME PNG)", "A picture I made this evening.",
           [("sunset.png", "image/png", sunset_png)])
    p.mime("demo.pictures", "Two pictures in one post", "Rings and a tall checkerboard.",
           [("rings.png", "image/png", rings_png), ("checker.bmp", "image/bmp", bmp(60, 180, checker))])
    p.mime("demo.pictures", "A picture that claims to be huge", "It declares 30,000 x 30,000 pixels.",
           [("huge.png", "image/png", png_header_only(30000, 30000))])
    p.mime("demo.pictures", "Notes as a text attachment", "The attachment is not a picture.",
           [("notes.txt", "text/plain", b"Shopping list:\r\n- coffee\r\n- more coffee\r\n")])

    p.post("demo.binaries", "Checkerboard (uuencoded PNG)",
           ["Here is the picture:", ""] + uu_lines("board.png", png(128, 96, checker)) + ["", "Enjoy."])
    p.post("demo.binaries", "Rings (yEnc BMP)",
           ["yEnc encoded:", ""] + yenc_lines("rings.bmp", bmp(100, 75, rings)) + [""])
    p.post("demo.binaries", "Sunset again (uuencoded)",
           uu_lines("sunset2.png", sunset_png))

    for n in range(1, 151):
        words = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel"]
        subject = "%s %s number %d%s" % (words[n % 8].capitalize(), words[(n * 3) % 8], n, " :)" if n % 10 == 0 else "")
        p.post("demo.big", subject, ["Article %d of the big group." % n] + ["filler line %d" % i for i in range(n % 23)])

    # Attachments that would run if the store folder ran them
    # (tests/browser/security.test.js): what they write never comes back.
    p.mime("demo.talk", "A page as an attachment", "Nothing in this post may run on the server.",
           [("probe2.asp", "text/plain", PROBE_ASP), ("probe2.html", "text/html", PROBE_HTML)])
    p.close()
    post_intl(port, "demo.intl")


# --- international articles -----------------------------------------------
# Each as (subject, sender, extra headers, body lines), all bytes exactly as
# they go out, and the subject, sender and first body line as a reader must
# see them. Article n of the group is entry n-1.

INTL_ARTICLES = [
    # A raw UTF-8 subject and body, declared.
    ("Gr\u00fc\u00dfe aus K\u00f6ln \u2014 caf\u00e9 \u2615".encode(), b"Demo Poster <poster@example.invalid>",
     [b"MIME-Version: 1.0", b"Content-Type: text/plain; charset=UTF-8", b"Content-Transfer-Encoding: 8bit"],
     ["Sch\u00f6ne Gr\u00fc\u00dfe \u2615 aus K\u00f6ln".encode()]),
    # UTF-8 encoded words, B and Q, and an encoded display name.
    (b"=?UTF-8?B?zpXOu867zrfOvc65zrrOrA==?= und =?UTF-8?Q?=D1=80=D1=83=D1=81=D1=81=D0=BA=D0=B8=D0=B9?=",
     b"=?UTF-8?B?Wm/DqyBLcsO8Z2Vy?= <zoe@example.invalid>", [],
     [b"Greek and Russian in encoded words."]),
    # ISO-8859-1 Q words, a Latin-1 display name and a Latin-1 body, declared.
    (b"=?ISO-8859-1?Q?Caf=E9_cr=E8me?=", b"=?ISO-8859-1?Q?Andr=E9_M=FCller?= <andre@example.invalid>",
     [b"MIME-Version: 1.0", b"Content-Type: text/plain; charset=ISO-8859-1", b"Content-Transfer-Encoding: 8bit"],
     ["Voil\u00e0, \u00e7a marche tr\u00e8s bien.".encode("latin-1")]),
    # A charset nobody knows: its words are shown as written.
    (b"=?x-klingon?Q?tlhIngan_Hol?= test", b"Demo Poster <poster@example.invalid>",
     [b"MIME-Version: 1.0", b"Content-Type: text/plain; charset=x-klingon"],
     [b"Plain ASCII text in a charset we do not know."]),
    # A Latin-1 body with no charset said anywhere: read in the ANSI code
    # page. (The server refuses header bytes that are not UTF-8.)
    (b"Undeclared Latin-1", b"Demo Poster <poster@example.invalid>", [],
     ["\u00c0 bient\u00f4t.".encode("latin-1")]),
]
INTL_SHOWN = [
    ("Gr\u00fc\u00dfe aus K\u00f6ln \u2014 caf\u00e9 \u2615", "Demo Poster <poster@example.invalid>",
     "Sch\u00f6ne Gr\u00fc\u00dfe \u2615 aus K\u00f6ln"),
    ("\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac und \u0440\u0443\u0441\u0441\u043a\u0438\u0439",
     "Zo\u00eb Kr\u00fcger <zoe@example.invalid>", "Greek and Russian in encoded words."),
    ("Caf\u00e9 cr\u00e8me", "Andr\u00e9 M\u00fcller <andre@example.invalid>", "Voil\u00e0, \u00e7a marche tr\u00e8s bien."),
    ("=?x-klingon?Q?tlhIngan_Hol?= test", "Demo Poster <poster@example.invalid>",
     "Plain ASCII text in a charset we do not know."),
    ("Undeclared Latin-1", "Demo Poster <poster@example.invalid>", "\u00c0 bient\u00f4t."),
]


def post_intl(port, group):
    import nntplib
    server = nntplib.NNTP("127.0.0.1", port, readermode=True)
    for n, (subject, sender, extra, body) in enumerate(INTL_ARTICLES, 1):
        head = [b"From: " + sender, b"Newsgroups: " + group.encode(), b"Subject: " + subject,
                b"Message-ID: <intl-%d@quillnet.demo>" % n,
                ("Date: " + email.utils.formatdate(1704110400 + n * 60, usegmt=True)).encode()]
        server.post([l + b"\r\n" for l in head + extra + [b""] + body])
    server.quit()


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "intl":
        post_intl(int(sys.argv[2]), sys.argv[3])
        return
    if len(sys.argv) != 3 or sys.argv[1] not in ("images", "post", "uploads"):
        sys.exit(__doc__)
    if sys.argv[1] == "images":
        write_images(sys.argv[2])
    elif sys.argv[1] == "uploads":
        write_uploads(sys.argv[2])
    else:
        post_all(int(sys.argv[2]))


if __name__ == "__main__":
    main()
