#!/usr/bin/env python3
"""Writes the golden files of the decoder and attachment tests.

tests/data/decode/: encoded inputs and the bytes they decode to.
tests/data/articles/<case>/: body.txt (an article body as the news client
stores it, every line ended by "\\n"), stored.txt (the text expected after the
attachments are cut out), attachments.txt (the expected attachment list) and
files/ (the expected attachment files).

The encodings come from other programs than ours (Python's base64, quopri
and binascii, sharutils' uuencode, a yEnc encoder written here after the
yEnc 1.3 text with zlib's CRC-32), and every expected text is put together
by hand from its pieces, so the tests compare our decoders with an
independent account of what the input means. Run it from anywhere; it
overwrites the files.
"""
import base64
import binascii
import os
import quopri
import random
import shutil
import subprocess
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DECODE = HERE
ARTICLES = os.path.join(os.path.dirname(HERE), "articles")
GROUP = "news\\test\\group\\"
MARKER = "--Attachment--: "


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def payload(seed, size, zero_run=0):
    rnd = random.Random(seed)
    data = bytearray(rnd.getrandbits(8) for _ in range(size))
    data += bytes(range(256))
    if zero_run:
        data[100:100 + zero_run] = bytes(zero_run)
        data += bytes(zero_run)  # zeros at the very end too
    return bytes(data)


def b64_lines(data, width=76):
    text = base64.b64encode(data).decode()
    return "".join(text[i:i + width] + "\n" for i in range(0, len(text), width))


def uuencode_tool(data, name, mode="644"):
    # sharutils' uuencode: "`" for zero, 45 bytes a line.
    tmp = os.path.join(DECODE, ".uu-input")
    write(tmp, data)
    try:
        out = subprocess.run(["uuencode", tmp, name], check=True, capture_output=True).stdout
    finally:
        os.remove(tmp)
    text = out.decode("latin-1")
    assert text.startswith("begin ")
    # Mode as given: the tool writes the input file's mode.
    first, rest = text.split("\n", 1)
    return "begin %s %s\n" % (mode, name) + rest


def uuencode_blanks(data, name, mode="644"):
    # The old convention: blanks for zero, and trailing blanks stripped in
    # transit.
    lines = ["begin %s %s" % (mode, name)]
    for i in range(0, len(data), 45):
        lines.append(binascii.b2a_uu(data[i:i + 45], backtick=False).decode().rstrip("\n").rstrip(" "))
    lines.append("")  # the length-zero line, its blank stripped
    lines.append("end")
    return "".join(l + "\n" for l in lines)


def yenc_data(data, line=128):
    out = bytearray()
    col = 0
    for b in data:
        v = (b + 42) & 0xFF
        if v in (0, 10, 13, 61) or (v in (9, 32) and (col == 0 or col >= line - 1)) or (v == 46 and col == 0):
            out += b"="
            v = (v + 64) & 0xFF
            col += 1
        out.append(v)
        col += 1
        if col >= line:
            out += b"\n"
            col = 0
    if col:
        out += b"\n"
    return out.decode("latin-1")


def yenc_single(data, name, crc=None, size=None):
    crc = zlib.crc32(data) if crc is None else crc
    size = len(data) if size is None else size
    return ("=ybegin line=128 size=%d name=%s\n" % (size, name) + yenc_data(data) +
            "=yend size=%d crc32=%08x\n" % (len(data), crc))


def yenc_part(data, name, part, total, begin, end):
    chunk = data[begin - 1:end]
    return ("=ybegin part=%d total=%d line=128 size=%d name=%s\n" % (part, total, len(data), name) +
            "=ypart begin=%d end=%d\n" % (begin, end) + yenc_data(chunk) +
            "=yend size=%d part=%d pcrc32=%08x\n" % (len(chunk), part, zlib.crc32(chunk)))


def marker(name):
    return MARKER + "\\" + GROUP + name + "\n"


# ---------------------------------------------------------------- decoders

def decoder_data():
    data = payload(1, 4000, zero_run=150)
    write(os.path.join(DECODE, "payload.bin"), data)
    write(os.path.join(DECODE, "payload.b64"), b64_lines(data).encode())
    # CRLF line ends, blanks and characters outside the alphabet in transit.
    noisy = b64_lines(data).replace("\n", "\r\n")
    noisy = "".join(c + ("!" if i % 97 == 5 else "") + (" \t" if i % 251 == 7 else "") for i, c in enumerate(noisy))
    write(os.path.join(DECODE, "payload_noisy.b64"), noisy.encode())
    write(os.path.join(DECODE, "payload.uue"), uuencode_tool(data, "payload.bin").encode("latin-1"))
    write(os.path.join(DECODE, "payload_blanks.uue"), uuencode_blanks(data, "payload.bin", "600").encode("latin-1"))
    write(os.path.join(DECODE, "payload.yenc"), yenc_single(data, "payload.bin").encode("latin-1"))
    write(os.path.join(DECODE, "payload_badcrc.yenc"),
          yenc_single(data, "payload.bin", crc=zlib.crc32(data) ^ 1).encode("latin-1"))
    write(os.path.join(DECODE, "payload_badsize.yenc"),
          yenc_single(data, "payload.bin", size=len(data) + 1).encode("latin-1"))
    write(os.path.join(DECODE, "payload_second_piece.yenc"),
          yenc_part(data, "payload.bin", 2, 3, 1501, 3000).encode("latin-1"))
    write(os.path.join(DECODE, "payload_second_piece.bin"), data[1500:3000])
    write(os.path.join(DECODE, "payload.qp"), quopri.encodestring(data))

    # Quoted-printable by hand: soft breaks (with padding after the "="),
    # trailing blanks, escapes in both cases of hex, an "=" that escapes
    # nothing, CRLF line ends.
    qp = (b"Caf=E9 na=efve=\n"
          b"soft break=  \n"
          b"kept trailing blanks go   \n"
          b"tab\there=09\n"
          b"a=3Db and a=3db\r\n"
          b"lone = stays, =ZZ too\n"
          b"last line=")
    out = (b"Caf\xe9 na\xefvesoft break"
           b"kept trailing blanks go\n"
           b"tab\there\t\n"
           b"a=b and a=b\r\n"
           b"lone = stays, =ZZ too\n"
           b"last line")
    write(os.path.join(DECODE, "sample.qp"), qp)
    write(os.path.join(DECODE, "sample.qp.out"), out)
    return data


# ---------------------------------------------------------------- articles

CASES = {}


def case(name, body, stored, files):
    """files: list of (name, bytes) in the order their markers appear."""
    CASES[name] = (body, stored, files)


def articles():
    gif = b"GIF89a" + payload(2, 1500)
    pdf = b"%PDF-1.4\n" + payload(3, 900)
    notes = b"Notes line one\r\nline two = \xe9t\xe9\r\n"
    blob = payload(4, 700)
    small = payload(5, 60)
    tiny = b"tiny"

    # MIME: an unnamed text part stays, parts named by filename, by name
    # only, by RFC 2231 and by RFC 2047 are cut out, the closing delimiter
    # stays. A uuencoded block in the preamble is not looked at; one after
    # the closing delimiter is.
    d = "------=_NextPart_000_0042_01C2"
    pre = ("This is a multi-part message in MIME format.\n"
           "\n" + uuencode_tool(tiny, "early.bin") + "\n")
    text_part = (d + "\n"
                 "Content-Type: text/plain;\n"
                 "\tcharset=\"iso-8859-1\"\n"
                 "Content-Transfer-Encoding: 7bit\n"
                 "\n"
                 "Here are the files.\n"
                 "\n")
    gif_part = (d + "\n"
                "Content-Type: image/gif;\n"
                "\tname=\"a.gif\"\n"
                "Content-Transfer-Encoding: base64\n"
                "Content-Disposition: attachment;\n"
                "\tfilename=\"a.gif\"\n"
                "\n" + b64_lines(gif) + "\n")
    name_only = (d + "\n"
                 "Content-Type: application/octet-stream; name=name-only.bin\n"
                 "Content-Transfer-Encoding: base64\n"
                 "\n" + b64_lines(blob))
    rfc2231 = (d + "\n"
               "Content-Type: text/plain; charset=iso-8859-1\n"
               "Content-Transfer-Encoding: quoted-printable\n"
               "Content-Disposition: attachment; filename*0*=us-ascii'en'my%20notes;\n"
               " filename*1=\".txt\"\n"
               "\n" + quopri.encodestring(notes).decode("latin-1") + "\n")
    rfc2047 = (d + "\n"
               "Content-Type: application/pdf; name=\"=?UTF-8?B?c3VtbWFyeQ==?= =?UTF-8?Q?=2Epdf?=\"\n"
               "Content-Transfer-Encoding: base64\n"
               "\n" + b64_lines(pdf) + "\n")
    closing = d + "--\n"
    epilogue = "\nepilogue\n" + uuencode_tool(small, "late.bin") + "after\nthe end\n"
    body = pre + text_part + gif_part + name_only + rfc2231 + rfc2047 + closing + epilogue
    stored = (pre + text_part + marker("a.gif") + marker("name-only.bin") + marker("my notes.txt") +
              marker("summary.pdf") + closing + "\nepilogue\n" + marker("late.bin") + "after\nthe end\n")
    case("mime_parts", body, stored, [("a.gif", gif), ("name-only.bin", blob), ("my notes.txt", notes),
                                      ("summary.pdf", pdf), ("late.bin", small)])

    # The words that make a body MIME stand after its 80th character: only
    # uuencoded blocks are looked for, from the start.
    head = "Hello all, below is a message that a friend forwarded; it said: this is a multi-part message in MIME format.\n"
    assert head.upper().find("MIME") >= 80
    mimeish = ("--b1\n"
               "Content-Type: application/octet-stream; name=\"skipped.bin\"\n"
               "Content-Transfer-Encoding: base64\n"
               "\n" + b64_lines(blob) + "--b1--\n")
    body = head + mimeish + "\n" + uuencode_tool(small, "found.bin") + "bye\nnow\n"
    stored = head + mimeish + "\n" + marker("found.bin") + "bye\nnow\n"
    case("mime_words_after_80", body, stored, [("found.bin", small)])

    # MIME by its first line, but no line begins with "--": stored as it
    # is, and not scanned for uuencoded blocks either.
    body = ("This is a multi-part message in MIME format.\n"
            "- not a delimiter\n" + uuencode_tool(small, "never.bin") + "end of text\n")
    assert not any(line.startswith("--") for line in body.split("\n"))
    case("mime_no_delimiter", body, body, [])

    # A delimiter that never comes back: nothing to cut, and the block pass
    # starts at the delimiter line.
    body = ("This is a multi-part message in MIME format.\n"
            "--never-closed\n"
            "Content-Type: application/octet-stream; name=\"open.bin\"\n"
            "Content-Transfer-Encoding: base64\n"
            "\n" + b64_lines(blob) + "\n" + uuencode_tool(small, "inside.bin") + "end of text\n")
    stored = body.replace(uuencode_tool(small, "inside.bin"), marker("inside.bin"))
    case("mime_never_closed", body, stored, [("inside.bin", small)])

    # Truncated parts: base64 cut in the middle of a quantum stays; a named
    # part whose next delimiter lies inside a line (so the part is never
    # closed) stays; the good part is cut out.
    d = "--=_trunc"
    cut = b64_lines(gif)[:-4] + "\n"
    body = ("this is a MIME multipart message\n"
            + d + "\n"
            "Content-Type: image/gif; name=\"cut.gif\"\n"
            "Content-Transfer-Encoding: base64\n"
            "\n" + cut + d + "\n"
            "Content-Type: application/octet-stream; name=\"whole.bin\"\n"
            "Content-Transfer-Encoding: base64\n"
            "\n" + b64_lines(blob) + d + "\n"
            "Content-Type: application/octet-stream; name=\"inline.bin\"\n"
            "Content-Transfer-Encoding: base64\n"
            "\n" + b64_lines(small) + "text " + d + "--\n")
    first = body.index(d + "\n", 0)
    second = body.index(d + "\n", first + 1)
    third = body.index(d + "\n", second + 1)
    stored = body[:second] + marker("whole.bin") + body[third:]
    case("mime_truncated", body, stored, [("whole.bin", blob)])

    # uuencode: "BEGIN" in capitals starts a block, "begin" and a tab does
    # not, nor does "begin" alone; blanks for zeros with trailing blanks
    # stripped decode all the same.
    caps = uuencode_tool(small, "caps.bin").replace("begin ", "BEGIN ", 1)
    tab = uuencode_tool(tiny, "tab.bin").replace("begin ", "begin\t", 1)
    alone = "begin\nnothing here\n"
    blanks = uuencode_blanks(payload(6, 300, zero_run=90), "blanks.bin")
    body = "start\n" + caps + "one\ntwo\n" + tab + "three\n" + alone + "four\n" + blanks + "five\nsix\n"
    stored = "start\n" + marker("caps.bin") + "one\ntwo\n" + tab + "three\n" + alone + "four\n" + marker(
        "blanks.bin") + "five\nsix\n"
    case("uu_begin_forms", body, stored, [("caps.bin", small), ("blanks.bin", payload(6, 300, zero_run=90))])

    # No end line: the block runs to the end of the text, which then ends
    # with its marker line.
    no_end = uuencode_tool(blob, "no-end.bin")
    assert no_end.endswith("`\nend\n")
    body = "before\n" + no_end[:-len("end\n")]
    case("uu_no_end", body, "before\n" + marker("no-end.bin"), [("no-end.bin", blob)])

    # No end line, and text after the data (a signature below a post whose
    # end line was lost): the zero-length line closes the data, the block
    # still takes in the rest of the text, and the text ends with its marker.
    body = "before\n" + no_end[:-len("end\n")].replace("no-end.bin", "lost-end.bin") + "\n-- \nA signature\n"
    case("uu_no_end_signature", body, "before\n" + marker("lost-end.bin"), [("lost-end.bin", blob)])

    # "\nend" wins over an earlier "\nEND": the first block would run from
    # its begin line through "endless summer", past the END line that ends
    # its data, so it is left as it stands rather than losing the line
    # between; the second block, one line further, is cut out.
    first = uuencode_tool(small, "first.bin").replace("`\nend\n", "`\nEND\n")
    second = uuencode_tool(tiny, "second.bin")
    body = "hi\n" + first + "This line stays.\nendless summer\nbetween\n" + second + "after\nlast\n"
    stored = "hi\n" + first + "This line stays.\nendless summer\nbetween\n" + marker("second.bin") + "after\nlast\n"
    case("uu_end_order", body, stored, [("second.bin", tiny)])

    # With no "\nend" anywhere, "\nEND" ends the block.
    upper = uuencode_tool(small, "upper.bin").replace("`\nend\n", "`\nEND\n")
    body = "hi\n" + upper + "bye\nEnd of message\n"
    case("uu_END_only", body, "hi\n" + marker("upper.bin") + "bye\nEnd of message\n", [("upper.bin", small)])

    # Two blocks without a line between: the line after a marker is passed
    # over, so only the first is decoded. With one line between: both.
    one = uuencode_tool(small, "one.bin")
    two = uuencode_tool(tiny, "two.bin")
    case("uu_two_adjacent", "x\n" + one + two + "y\n", "x\n" + marker("one.bin") + two + "y\n",
         [("one.bin", small)])
    case("uu_two_apart", "x\n" + one + "-\n" + two + "y\n",
         "x\n" + marker("one.bin") + "-\n" + marker("two.bin") + "y\n", [("one.bin", small), ("two.bin", tiny)])

    # A block cut short (no end, and a new begin line inside it) stays; the
    # next block is cut out.
    short = uuencode_tool(blob, "short.bin")
    short = short[:short.index("\n", len(short) // 2) + 1]
    body = "a\n" + short + uuencode_tool(small, "after-short.bin") + "b\nc\n"
    stored = "a\n" + short + marker("after-short.bin") + "b\nc\n"
    case("uu_truncated", body, stored, [("after-short.bin", small)])

    # yEnc: a good single-part block is cut out; a bad CRC, a wrong size and
    # a part of a multi-part post stay.
    ydata = payload(7, 2000)
    good = yenc_single(ydata, "good.dat")
    badcrc = yenc_single(ydata, "badcrc.dat", crc=zlib.crc32(ydata) ^ 0x80)
    badsize = yenc_single(ydata, "badsize.dat", size=len(ydata) - 1)
    part = yenc_part(ydata, "multi.dat", 1, 2, 1, 1000)
    for block in (good, badcrc, badsize, part):
        assert "\nbegin " not in block.lower() and "\n=ybegin " not in block[1:]
    body = "y0\n" + good + "y1\ny2\n" + badcrc + "y3\n" + badsize + "y4\n" + part + "y5\n"
    stored = "y0\n" + marker("good.dat") + "y1\ny2\n" + badcrc + "y3\n" + badsize + "y4\n" + part + "y5\n"
    case("yenc_blocks", body, stored, [("good.dat", ydata)])

    # Hostile names. Path elements, drives, ":" and control characters go;
    # names that would be devices, stored articles or the group list get a
    # "_"; ".." is no name at all and its block stays.
    names = [("../../x.exe", "x.exe"), ("C:\\x", "x"), ("1234", "_1234"), ("-7", "_-7"), ("CON.txt", "_CON.txt"),
             ("lpt1", "_lpt1"), ("NewsList.txt", "_NewsList.txt"), ("ab:c\x01d*?.txt", "abcd.txt"),
             ("sub\\..\\..\\up.bin", "up.bin"), ("trail. . ", "trail")]
    body = "names\n"
    stored = "names\n"
    files = []
    for i, (given, safe) in enumerate(names):
        data = payload(20 + i, 50 + i)
        body += uuencode_tool(data, given) + "line %d\n" % i
        stored += marker(safe) + "line %d\n" % i
        files.append((safe, data))
    dots = uuencode_tool(tiny, "..")
    body += dots + "tail\n"
    stored += dots + "tail\n"
    # A MIME part named with a path is cut to its last element too.
    case("hostile_names", body, stored, files)

    d = "--hostile"
    mime_body = ("This is a multi-part message in MIME format.\n" + d + "\n"
                 "Content-Type: application/octet-stream; name=\"..\\\\..\\\\evil.dll\"\n"
                 "Content-Transfer-Encoding: base64\n"
                 "\n" + b64_lines(small) + d + "\n"
                 "Content-Type: application/octet-stream\n"
                 "Content-Disposition: attachment; filename=\"..\"\n"
                 "Content-Transfer-Encoding: base64\n"
                 "\n" + b64_lines(tiny) + d + "--\n")
    second = mime_body.index(d + "\n", mime_body.index(d + "\n") + 1)
    stored = mime_body[:mime_body.index(d + "\n")] + marker("evil.dll") + mime_body[second:]
    case("hostile_mime_names", mime_body, stored, [("evil.dll", small)])

    # Zero bytes inside the text survive, and so does everything after them.
    body = "zero \x00 byte\n\x00\x00\n" + uuencode_tool(small, "z.bin") + "after \x00 zero\nend\x00\n"
    stored = "zero \x00 byte\n\x00\x00\n" + marker("z.bin") + "after \x00 zero\nend\x00\n"
    case("zero_bytes", body, stored, [("z.bin", small)])

    for name, (body, stored, files) in CASES.items():
        folder = os.path.join(ARTICLES, name)
        if os.path.isdir(folder):
            shutil.rmtree(folder)
        write(os.path.join(folder, "body.txt"), body.encode("latin-1"))
        write(os.path.join(folder, "stored.txt"), stored.encode("latin-1"))
        write(os.path.join(folder, "attachments.txt"),
              "".join("\\" + GROUP + f + "\n" for f, _ in files).encode("latin-1"))
        os.makedirs(os.path.join(folder, "files"), exist_ok=True)
        for f, data in files:
            write(os.path.join(folder, "files", f), data)


if __name__ == "__main__":
    decoder_data()
    articles()
